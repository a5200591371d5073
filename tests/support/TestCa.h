// A throw-away certificate authority for the TLS tests. It is made when the tests run, so no
// key ever lives in the repository, and it writes its certificates and keys as PEM files into
// a temporary folder that goes away with the object. Besides its own certificate it issues
// four server certificates, one for each way a client has to judge a server.
#pragma once

#include <string>

#include "TempDir.h"

namespace testsupport {

// A certificate and its private key, both as PEM files.
struct TCertFiles {
    std::string CertFile;
    std::string KeyFile;
};

class TestCa {
  public:
    // Makes the authority and the four server certificates.
    TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    // The authority's certificate (PEM): what a client trusts, for SSL_CERT_FILE say.
    const std::string& CaFile() const { return caFile_; }
    // Issued by the authority, valid now, for localhost and 127.0.0.1 to 127.0.0.3.
    const TCertFiles& Valid() const { return valid_; }
    // Issued by the authority and valid now, but only for other.test.
    const TCertFiles& OtherHost() const { return otherHost_; }
    // Like Valid, but its time ran out before the tests began.
    const TCertFiles& Expired() const { return expired_; }
    // Names like Valid, but signed by its own key instead of the authority.
    const TCertFiles& SelfSigned() const { return selfSigned_; }

    // One authority per test process, made on first use (safe from any thread).
    static const TestCa& Shared();

  private:
    TempDir dir_;
    std::string caFile_;
    TCertFiles valid_;
    TCertFiles otherHost_;
    TCertFiles expired_;
    TCertFiles selfSigned_;
};

}  // namespace testsupport
