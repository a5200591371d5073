// Handlers raised inside a direct call (not from the loop) that free the socket and let
// messages run: the socket must stay alive until the call has returned, then go.
#include <gtest/gtest.h>

#include <functional>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Application.h"

using namespace nettest;
using testsupport::LoopbackServer;

namespace {

using TFreeAndPump = std::function<void()>;

struct TEntryCase {
    const char* Name;
    bool Connected;
    // Points the event that the call raises at freeAndPump.
    std::function<void(TWSocket&, TFreeAndPump)> Arm;
    std::function<void(TWSocket&)> Call;
};

void OnClosed(TWSocket& s, TFreeAndPump f) {
    s.OnSessionClosed = [f](sys::TObject*, sys::Word) { f(); };
}

void OnState(TWSocket& s, TFreeAndPump f) {
    s.OnChangeState = [f](sys::TObject*, TSocketState, TSocketState) { f(); };
}

void OnLookup(TWSocket& s, TFreeAndPump f) {
    s.OnDnsLookupDone = [f](sys::TObject*, sys::Word) { f(); };
}

const TEntryCase kEntryCases[] = {
    {"Close", true, OnClosed, [](TWSocket& s) { s.Close(); }},
    {"Abort", true, OnClosed, [](TWSocket& s) { s.Abort(); }},
    {"Send", true,
     [](TWSocket& s, TFreeAndPump f) { s.OnSendData = [f](sys::TObject*, int) { f(); }; },
     [](TWSocket& s) { s.SendString("hello"); }},
    {"Connect", false, OnState,
     [](TWSocket& s) {
         s.SetAddr("127.0.0.1");
         s.SetPort(std::to_string(testsupport::UnusedPort()));
         s.Connect();
     }},
    {"Listen", false, OnState,
     [](TWSocket& s) {
         s.SetAddr("127.0.0.1");
         s.SetPort("0");
         s.Listen();
     }},
    {"DnsLookup", false, OnLookup, [](TWSocket& s) { s.DnsLookup("127.0.0.1"); }},
    {"CancelDnsLookup", false, OnLookup,
     [](TWSocket& s) {
         auto handler = s.OnDnsLookupDone.Take();
         s.DnsLookup("localhost");
         s.OnDnsLookupDone = std::move(handler);
         s.CancelDnsLookup();
     }},
    {"SetLocalAddr", false,
     [](TWSocket& s, TFreeAndPump f) { s.OnError = [f](sys::TObject*) { f(); }; },
     [](TWSocket& s) { s.SetLocalAddr("not an address"); }},
};

}  // namespace

TEST(Reentry, HandlerThatFreesAndPumpsInsideADirectCallDestroysTheSocketAfterIt) {
    for (const auto& c : kEntryCases) {
        SCOPED_TRACE(c.Name);
        LoopbackServer server([](int fd) { testsupport::ReadAll(fd); });
        bool gone = false;
        auto* s = new TWatchedSocket(gone);
        if (c.Connected)
            ConnectTo(*s, server);
        bool freed = false;
        c.Arm(*s, [s, &freed] {
            if (freed)
                return;
            freed = true;
            s->FreeDeferred();
            sys::Application::Instance().ProcessMessages();
        });
        c.Call(*s);
        EXPECT_TRUE(freed);
        EXPECT_TRUE(gone);  // gone once the call returned, not inside it (ASan would tell)
        if (!gone)
            delete s;
    }
}
