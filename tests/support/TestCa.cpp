#include "TestCa.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCert = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kHour = 3600;
constexpr long kDay = 24 * kHour;
// The names a local test server answers to.
const char* const kLocalNames = "DNS:localhost,IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3";

void Require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("TestCa: ") + what);
}

// P-256 keys are made in a blink, unlike RSA keys of the same strength, and pass the default
// security level of OpenSSL 3.
TKey NewKey() {
    TKey key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Require(key != nullptr, "cannot make a key");
    return key;
}

// What sets one certificate apart from the others.
struct TCertTraits {
    const char* CommonName;
    const char* AltNames;  // nullptr for none
    long NotBefore;        // seconds from now
    long NotAfter;
    bool IsCa;
};

// Who signs: no certificate and no key means the certificate signs itself.
struct TIssuer {
    X509* Cert = nullptr;
    EVP_PKEY* Key = nullptr;
};

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    const bool added = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    Require(added, "cannot add an extension");
}

// The extensions a modern verifier looks for. The subject key identifier has to come before
// the authority key identifier, which a self-signed certificate takes from itself.
void AddExtensions(X509* cert, X509* issuer, const TCertTraits& traits) {
    AddExtension(cert, issuer, NID_basic_constraints,
                 traits.IsCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert, issuer, NID_key_usage,
                 traits.IsCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    if (!traits.IsCa)
        AddExtension(cert, issuer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert, issuer, NID_subject_key_identifier, "hash");
    AddExtension(cert, issuer, NID_authority_key_identifier, "keyid:always");
    if (traits.AltNames)
        AddExtension(cert, issuer, NID_subject_alt_name, traits.AltNames);
}

TCert Issue(const TCertTraits& traits, EVP_PKEY* key, TIssuer issuer, std::int64_t serial) {
    TCert cert(X509_new(), X509_free);
    Require(cert != nullptr, "cannot make a certificate");
    X509* x = cert.get();
    X509_NAME* subject = X509_get_subject_name(x);
    const auto* commonName = reinterpret_cast<const unsigned char*>(traits.CommonName);
    bool ok = X509_set_version(x, X509_VERSION_3) == 1 &&
              ASN1_INTEGER_set_int64(X509_get_serialNumber(x), serial) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), traits.NotBefore) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x), traits.NotAfter) != nullptr &&
              X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1;
    Require(ok, "cannot fill in a certificate");
    X509* signer = issuer.Cert ? issuer.Cert : x;
    ok =
        X509_set_issuer_name(x, X509_get_subject_name(signer)) == 1 && X509_set_pubkey(x, key) == 1;
    Require(ok, "cannot name the issuer");
    AddExtensions(x, signer, traits);
    Require(X509_sign(x, issuer.Key ? issuer.Key : key, EVP_sha256()) > 0, "cannot sign");
    return cert;
}

template <class TWrite>
std::string ToPem(TWrite write) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    Require(bio != nullptr && write(bio.get()) == 1, "cannot write PEM");
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(len));
}

std::string CertPem(X509* cert) {
    return ToPem([cert](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
}

std::string KeyPem(EVP_PKEY* key) {
    return ToPem([key](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

// Serial numbers start at a random point so that two authorities of one run hardly ever share
// one, and count up from there so that the certificates of one authority never do.
std::int64_t FirstSerial() {
    std::uint32_t random = 0;
    Require(RAND_bytes(reinterpret_cast<unsigned char*>(&random), sizeof random) == 1,
            "no random bytes");
    return (static_cast<std::int64_t>(random) << 8) + 1;
}

TCertFiles WriteServerCert(const TempDir& dir, const std::string& name, const TCertTraits& traits,
                           TIssuer issuer, std::int64_t serial) {
    const TKey key = NewKey();
    const TCert cert = Issue(traits, key.get(), issuer, serial);
    return {dir.Write(name + ".pem", CertPem(cert.get())).string(),
            dir.Write(name + ".key", KeyPem(key.get())).string()};
}

}  // namespace

TestCa::TestCa() {
    std::int64_t serial = FirstSerial();
    const TKey caKey = NewKey();
    const TCert ca = Issue({"Quorvane Test CA", nullptr, -kHour, 30 * kDay, true}, caKey.get(),
                           TIssuer{}, serial++);
    caFile_ = dir_.Write("ca.pem", CertPem(ca.get())).string();
    const TIssuer byCa{ca.get(), caKey.get()};
    valid_ = WriteServerCert(dir_, "valid", {"localhost", kLocalNames, -kHour, 30 * kDay, false},
                             byCa, serial++);
    otherHost_ =
        WriteServerCert(dir_, "other-host",
                        {"other.test", "DNS:other.test", -kHour, 30 * kDay, false}, byCa, serial++);
    expired_ = WriteServerCert(
        dir_, "expired", {"localhost", kLocalNames, -30 * kDay, -kDay, false}, byCa, serial++);
    selfSigned_ =
        WriteServerCert(dir_, "self-signed", {"localhost", kLocalNames, -kHour, 30 * kDay, false},
                        TIssuer{}, serial++);
}

const TestCa& TestCa::Shared() {
    static const TestCa shared;
    return shared;
}

}  // namespace testsupport
