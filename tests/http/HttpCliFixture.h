// A client with a recorder of its events, for the loopback tests of THttpCli.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunLoop.h"
#include "ScriptedServer.h"
#include "http/HttpProt.h"

class HttpCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Bounds every request of these tests; the time-out tests set their own.
        cli.SetTimeoutMs(8000);
        cli.OnRequestDone = [this](sys::TObject* Sender, THttpRequest Rq, sys::Word Error) {
            EXPECT_EQ(Sender, &cli);
            EXPECT_EQ(cli.State(), hcReady);
            ++doneCount;
            doneKind = Rq;
            doneError = Error;
            if (afterDone)
                afterDone();
        };
    }

    // Starts a request and runs the loop until OnRequestDone has come.
    bool Run(THttpRequest Rq) {
        const int before = doneCount;
        cli.StartRequest(Rq);
        return testsupport::RunLoopUntil([&] { return doneCount > before; });
    }

    // Head, telling what it raised: the error code (0 when it returned normally).
    int HeadCode(std::string* message = nullptr) {
        try {
            cli.Head();
        } catch (const EHttpException& e) {
            if (message)
                *message = e.what();
            return e.ErrorCode();
        }
        return 0;
    }

    // Runs the loop until every message that is already due has been handled.
    static void Drain() {
        bool flushed = false;
        const sys::HWND h = sys::AllocateHWnd([&](sys::TMessage&) { flushed = true; });
        sys::PostMessage(h, sys::WM_USER, 0, 0);
        testsupport::RunLoopUntil([&] { return flushed; });
        sys::DeallocateHWnd(h);
    }

    static std::string Answer(const std::string& statusAndHeaders, const std::string& body = "") {
        return statusAndHeaders + "\r\n\r\n" + body;
    }

    THttpCli cli;
    int doneCount = 0;
    THttpRequest doneKind = hrNone;
    sys::Word doneError = 0;
    std::function<void()> afterDone;
};
