#include <gtest/gtest.h>

#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::RunLoopUntil;

TEST(DnsLookup, LocalhostArrivesThroughTheLoop) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(log.Events.empty());  // not inside the call
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Dns") > 0; }));
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(0)"});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
}

TEST(DnsLookup, DottedAddressCompletesInsideTheCall) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.DnsLookup("127.000.000.001");
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(0)"});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");  // normalised
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(DnsLookup, UnknownNameFailsWithHostNotFound) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Dns") > 0; }));
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(11001)"});
    EXPECT_EQ(s.DnsResult(), "");
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
}

TEST(DnsLookup, CancelReportsInterruptedAndNothingElse) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(10004)"});
    s.CancelDnsLookup();  // nothing pending: nothing happens
    // A later lookup completes normally, and the cancelled one never shows up.
    s.DnsLookup("127.0.0.2");
    RunLoopUntil([] { return false; }, std::chrono::milliseconds(300));  // room for strays
    EXPECT_EQ(log.Events, (std::vector<std::string>{"Dns(10004)", "Dns(0)"}));
}

TEST(DnsLookup, SecondLookupReplacesTheFirstWithoutAnEvent) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.DnsLookup("no-such-host.invalid");
    s.DnsLookup("localhost");
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Dns") > 0; }));
    // Give a stray completion of the first lookup the chance to arrive: it must not.
    RunLoopUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(0)"});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(DnsLookup, EmptyNameIsReported) {
    TWSocket s;
    EXPECT_THROW(
        {
            try {
                s.DnsLookup("");
            } catch (const ESocketException& e) {
                EXPECT_STREQ(e.what(), "DNS lookup: invalid host name.");
                throw;
            }
        },
        ESocketException);
    // With OnError the call goes on to announce the failure.
    TEventLog log;
    log.Attach(s);
    int errors = 0;
    s.OnError = [&](sys::TObject*) { ++errors; };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(10022)"});
}

TEST(ReverseDnsLookup, LoopbackAddressGivesAName) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Dns") > 0; }));
    ASSERT_EQ(log.Events, std::vector<std::string>{"Dns(0)"});
    EXPECT_FALSE(s.DnsResult().empty());
    EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{s.DnsResult()});
}

TEST(ReverseDnsLookup, OverlongAddressTextIsRefusedAsAnInvalidName) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.OnError = [](sys::TObject*) {};
    s.ReverseDnsLookup(std::string(257, '1'));
    EXPECT_EQ(log.Events, std::vector<std::string>{"Dns(10022)"});
}
