// Line mode: lines however the bytes are split, long streams of lines, editing and echo, a line
// longer than any buffer, switching the mode with bytes held, owners that read little or
// nothing, and handlers that change the delivery, free the socket, pump messages or begin TLS
// while lines are still held.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "ScopedEnv.h"
#include "ScriptedServer.h"
#include "SocketTestSupport.h"
#include "TestCa.h"
#include "sys/Application.h"

using namespace nettest;
using testsupport::RunLoopUntil;
using testsupport::ScriptedServer;
using testsupport::TScript;
using namespace std::chrono_literals;

namespace {

// A line-mode socket that collects what each OnDataAvailable read, and the close.
struct TLineClient {
    TWSocket s;
    std::vector<std::string> Lines;
    bool Closed = false;

    TLineClient() {
        s.SetLineMode(true);
        s.OnDataAvailable = [this](sys::TObject*, sys::Word) {
            Lines.push_back(s.ReceiveString());
        };
        s.OnSessionClosed = [this](sys::TObject*, sys::Word) { Closed = true; };
    }
    void ConnectTo(const ScriptedServer& server) {
        s.SetAddr("127.0.0.1");
        s.SetPort(server.PortText());
        s.Connect();
    }
};

// The pieces are sent apart, so that each arrives in a read of its own.
TScript Pieces(const std::vector<std::string>& pieces) {
    TScript script;
    for (const auto& piece : pieces)
        script.Send(piece).Delay(30ms);
    return script.Close();
}

}  // namespace

TEST(LineMode, LinesAreDeliveredOneByOneHoweverTheBytesAreSplit) {
    const std::string longLine = std::string(200 * 1024, 'x') + "\r\n";
    struct TCase {
        const char* Name;
        std::vector<std::string> Pieces;
        std::string LineEnd;
        bool Edit;
        std::vector<std::string> Lines;
    };
    const TCase cases[] = {
        {"two lines in one piece", {"ab\r\ncd\r\n"}, "\r\n", false, {"ab\r\n", "cd\r\n"}},
        {"line end split across reads", {"ab\r", "\ncd\r\n"}, "\r\n", false, {"ab\r\n", "cd\r\n"}},
        {"line in many pieces", {"a", "b", "c\r", "\n"}, "\r\n", false, {"abc\r\n"}},
        {"rest before the close", {"ab\r\nrest"}, "\r\n", false, {"ab\r\n", "rest"}},
        {"own line end", {"one|two|"}, "|", false, {"one|", "two|"}},
        {"CR alone is no line end", {"a\rb\r\n"}, "\r\n", false, {"a\rb\r\n"}},
        {"backspace", {"ab\bc\r\n"}, "\r\n", true, {"ac\r\n"}},
        {"backspace in a later piece", {"ab", "\b\bxy\r\n"}, "\r\n", true, {"xy\r\n"}},
        {"tab to the next multiple of 8", {"abc\tX\r\n"}, "\r\n", true, {"abc     X\r\n"}},
        {"line longer than any buffer", {longLine}, "\r\n", false, {longLine}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(Pieces(c.Pieces));
        TLineClient client;
        client.s.SetLineEnd(c.LineEnd);
        client.s.SetLineEdit(c.Edit);
        client.ConnectTo(server);
        EXPECT_TRUE(RunLoopUntil([&] { return client.Closed; }));
        EXPECT_EQ(client.Lines, c.Lines);
    }
}

// Numbered lines of 0 to 200 bytes: far more than one read holds, so that lines and line ends
// straddle reads and the buffer moves its bytes to the front many times over.
std::vector<std::string> NumberedLines(std::size_t count, const std::string& lineEnd, char filler) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i)
        lines.push_back(std::to_string(i) + std::string(i * 7919 % 201, filler) + lineEnd);
    return lines;
}

TEST(LineMode, StreamsOfManyLinesComeWholeAndInOrder) {
    struct TCase {
        const char* Name;
        std::string LineEnd;
        char Filler;            // line ends whose bytes repeat in the lines test the search
        std::size_t PieceSize;  // 0: all at once
        bool ReadInHalves;      // the owner reads every line in two Receive calls
    };
    const TCase cases[] = {
        {"CR LF, all at once", "\r\n", 'x', 0, false},
        {"CR LF, odd pieces", "\r\n", '\r', 7919, false},
        {"line end of repeating bytes", "aab", 'a', 4099, false},
        {"owner reads in halves", "\r\n", 'x', 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::vector<std::string> lines = NumberedLines(8000, c.LineEnd, c.Filler);
        std::string payload;
        for (const auto& line : lines)
            payload += line;
        ScriptedServer server(TScript().Send(payload, c.PieceSize, 1ms).Close());
        TLineClient client;
        client.s.SetLineEnd(c.LineEnd);
        std::string line;
        client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buf[512];
            const int pending = client.s.RcvdCount();
            const int want = c.ReadInHalves && line.empty() && pending > 1 ? pending / 2 : pending;
            const int n = client.s.Receive(buf, std::min<int>(want, sizeof buf));
            line.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (client.s.RcvdCount() == 0) {
                client.Lines.push_back(line);
                line.clear();
            }
        };
        client.ConnectTo(server);
        EXPECT_TRUE(RunLoopUntil([&] { return client.Closed; }, 20s));
        EXPECT_EQ(client.Lines.size(), lines.size());
        EXPECT_TRUE(client.Lines == lines);  // not printed: megabytes
    }
}

TEST(LineMode, LeavingLineModeInsideALineServesTheRestAndWhatFollowsFirst) {
    ScriptedServer server(TScript().Send("abcdef\r\nxyz\r\n").Hang());
    TLineClient client;
    std::vector<std::string> reads;
    client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        char buf[64];
        const int n = client.s.Receive(buf, reads.empty() ? 3 : sizeof buf);
        reads.emplace_back(buf, n > 0 ? n : 0);
        if (reads.size() == 1)
            client.s.SetLineMode(false);
    };
    client.ConnectTo(server);
    std::string all;
    ASSERT_TRUE(RunLoopUntil([&] {
        all.clear();
        for (const auto& r : reads)
            all += r;
        return all.size() >= 13;
    }));
    EXPECT_EQ(reads.front(), "abc");
    EXPECT_EQ(all, "abcdef\r\nxyz\r\n");
}

// Ending the lines inside a read, by switching LineMode off or by clearing LineEnd, leaves bytes
// held behind the line: they come first, before anything the peer sends later, however the
// owner reads.
TEST(LineMode, EndingTheLinesServesTheHeldBytesBeforeLaterOnes) {
    struct TCase {
        const char* Name;
        std::function<void(TWSocket&)> EndLines;
        bool ReadString;  // ReceiveString, else Receive into a buffer
    };
    const TCase cases[] = {
        {"line mode off, buffer", [](TWSocket& s) { s.SetLineMode(false); }, false},
        {"line mode off, string", [](TWSocket& s) { s.SetLineMode(false); }, true},
        {"line end cleared, buffer", [](TWSocket& s) { s.SetLineEnd(""); }, false},
        {"line end cleared, string", [](TWSocket& s) { s.SetLineEnd(""); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        // "LATER" goes only once the client has ended the lines and said so.
        testsupport::LoopbackServer server([](int fd) {
            testsupport::WriteAll(fd, "one\r\ntwo\r\nthree");
            char go[2];
            if (::recv(fd, go, sizeof go, MSG_WAITALL) == sizeof go)
                testsupport::WriteAll(fd, "LATER");
            testsupport::ReadAll(fd);
        });
        TLineClient client;
        std::string all;
        client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buf[64];
            const int n = c.ReadString ? 0 : client.s.Receive(buf, sizeof buf);
            const std::string got =
                c.ReadString ? client.s.ReceiveString() : std::string(buf, n > 0 ? n : 0);
            all += got;
            if (got == "one\r\n") {
                c.EndLines(client.s);
                client.s.SendString("go");
            }
        };
        client.s.SetAddr("127.0.0.1");
        client.s.SetPort(server.PortText());
        client.s.Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return all.size() >= 20; }));
        EXPECT_EQ(all, "one\r\ntwo\r\nthreeLATER");
        client.s.Close();
    }
}

TEST(LineMode, EditingEchoesWhatTheUserSees) {
    struct TCase {
        const char* Name;
        bool Edit;
        std::string Sent;
        std::string Echo;
    };
    const TCase cases[] = {
        {"plain echo", false, "ab\bc\r\n", "ab\bc\r\n"},
        {"edited echo", true, "ab\bc\td\r\n", "ab\b \bc      d\r\n"},
        {"backspace at the start echoes nothing", true, "\bz\r\n", "z\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(TScript().Send(c.Sent).Hang());
        TLineClient client;
        client.s.SetLineEcho(true);
        client.s.SetLineEdit(c.Edit);
        client.ConnectTo(server);
        EXPECT_TRUE(RunLoopUntil([&] { return !client.Lines.empty(); }));
        client.s.Close();
        EXPECT_TRUE(server.WaitFinished(1));
        EXPECT_THAT(server.Received(), testing::ElementsAre(c.Echo));
    }
}

TEST(LineMode, OwnerReadingInHalvesGetsTheLineAndNothingBeyond) {
    ScriptedServer server(TScript().Send("abcdef\r\nxy\r\n").Close());
    TLineClient client;
    std::vector<std::string> reads;
    client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        char buf[64];
        const int n = client.s.Receive(buf, reads.size() == 0 ? 4 : sizeof buf);
        reads.emplace_back(buf, n > 0 ? n : 0);
    };
    client.ConnectTo(server);
    ASSERT_TRUE(RunLoopUntil([&] { return client.Closed; }));
    EXPECT_EQ(reads, (std::vector<std::string>{"abcd", "ef\r\n", "xy\r\n"}));
}

TEST(LineMode, SwitchingTheModeDeliversWhatIsHeld) {
    // The first line switches line mode off: the next line comes as it is. That read switches
    // it on again with "c\r\nd" held, and the held line comes without any new bytes.
    ScriptedServer server(TScript().Send("a\r\nb\r\nc\r\nd").Hang());
    TLineClient client;
    std::vector<std::string> reads;
    client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        char buf[3];
        const int n = client.s.Receive(buf, sizeof buf);
        reads.emplace_back(buf, n > 0 ? n : 0);
        if (reads.size() <= 2)
            client.s.SetLineMode(reads.size() == 2);
    };
    client.ConnectTo(server);
    ASSERT_TRUE(RunLoopUntil([&] { return reads.size() >= 3; }));
    Settle();
    EXPECT_EQ(reads, (std::vector<std::string>{"a\r\n", "b\r\n", "c\r\n"}));
    EXPECT_EQ(client.s.RcvdCount(), 0);  // "d" waits for its line end
}

TEST(LineMode, OwnersThatReadNothingAreNotCalledInALoop) {
    struct TCase {
        const char* Name;
        bool Handler;  // with a handler that never reads, or none at all
    };
    for (const TCase& c : {TCase{"handler reads nothing", true}, TCase{"no handler", false}}) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(TScript().Send("a\r\nb\r\n").Close());
        TLineClient client;
        int calls = 0;
        if (c.Handler)
            client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) { ++calls; };
        else
            client.s.OnDataAvailable = nullptr;
        client.ConnectTo(server);
        EXPECT_TRUE(RunLoopUntil([&] { return client.Closed; }));
        // Offered once when it came and once more as the rest at the close; never spinning.
        EXPECT_LE(calls, 2);
        EXPECT_EQ(client.s.State(), wsClosed);
    }
}

TEST(LineMode, BytesWithoutALineEndBeyondTheLimitComeAsOneLine) {
    ScriptedServer server(TScript().Send(std::string(25, 'z')).Delay(30ms).Send("\r\n").Close());
    TLineClient client;
    client.s.SetLineLimit(10);
    int tooLong = 0;
    client.s.OnLineTooLong = [&](sys::TObject*) { ++tooLong; };
    client.ConnectTo(server);
    ASSERT_TRUE(RunLoopUntil([&] { return client.Closed; }));
    EXPECT_EQ(tooLong, 1);
    std::string all;
    for (const auto& line : client.Lines)
        all += line;
    EXPECT_EQ(all, std::string(25, 'z') + "\r\n");  // nothing lost
    EXPECT_EQ(client.Lines.front(), std::string(25, 'z'));
}

namespace {

struct TReplaceContext {
    TLineClient Client;
    std::vector<std::string> Log;
    int Replacements = 0;  // 0: the first handler clears the event
};

// Logs each line it reads as "<name> <line>". Handler 'A' then replaces or clears the event and
// logs once more, reading its name from its own captures, which must still hold. Bulk makes the
// captures too large for the function's own storage, so that they live on the heap, where a
// freed one shows.
template <std::size_t Bulk>
TDataAvailable Recorder(TReplaceContext* ctx, char name) {
    std::array<char, Bulk + 1> tag{};
    tag[0] = name;
    return [ctx, tag](sys::TObject*, sys::Word) {
        const std::string line = ctx->Client.s.ReceiveString();
        ctx->Log.push_back(std::string(1, tag[0]) + " " + line.substr(0, line.find('\r')));
        if (tag[0] != 'A')
            return;
        if (ctx->Replacements == 0)
            ctx->Client.s.OnDataAvailable = nullptr;
        for (int i = 0; i < ctx->Replacements; ++i)
            ctx->Client.s.OnDataAvailable = Recorder<Bulk>(ctx, i == 0 ? 'B' : 'C');
        ctx->Log.push_back(std::string(1, tag[0]) + " after");
    };
}

}  // namespace

// The event is called in place, not copied per line: a handler that replaces or clears it
// while it runs keeps its own captures until it returns, and the lines behind go to whatever it
// left in place (none: they are dropped).
TEST(LineMode, HandlerMayReplaceOrClearTheEventWhileItRuns) {
    struct TCase {
        const char* Name;
        bool LargeCaptures;
        int Replacements;
        std::vector<std::string> Log;
    };
    const TCase cases[] = {
        {"replaced", false, 1, {"A a", "A after", "B b", "B c"}},
        {"replaced, captures on the heap", true, 1, {"A a", "A after", "B b", "B c"}},
        {"replaced twice in one call", false, 2, {"A a", "A after", "C b", "C c"}},
        {"cleared", true, 0, {"A a", "A after"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(TScript().Send("a\r\nb\r\nc\r\n").Close());
        TReplaceContext ctx;
        ctx.Replacements = c.Replacements;
        ctx.Client.s.OnDataAvailable =
            c.LargeCaptures ? Recorder<64>(&ctx, 'A') : Recorder<0>(&ctx, 'A');
        ctx.Client.ConnectTo(server);
        EXPECT_TRUE(RunLoopUntil([&] { return ctx.Client.Closed; }));
        EXPECT_EQ(ctx.Log, c.Log);
    }
}

namespace {

// What a handler does after each read, given the reads so far (the last one is its own).
using TMidStreamAction = std::function<void(TWSocket&, const std::vector<std::string>&)>;

}  // namespace

// Several lines arrive in one read, and the handler of the first changes what their delivery
// depends on, closes or frees the socket, or pumps messages until more has come. The lines held
// behind it follow the change at once, each exactly once.
TEST(LineMode, HandlerMayChangeOrEndTheDeliveryWhileLinesAreHeld) {
    struct TCase {
        const char* Name;
        TScript Script;
        TMidStreamAction Act;
        std::vector<std::string> Reads;
        bool Gone;  // the socket is destroyed in the end
    };
    const TCase cases[] = {
        {"line mode off, then on again",
         TScript().Send("a\r\nb\r\nc\r\n").Delay(30ms).Send("d\r\ne\r\n").Close(),
         [](TWSocket& s, const std::vector<std::string>& reads) {
             if (reads.size() <= 2)
                 s.SetLineMode(reads.size() == 2);
         },
         {"a\r\n", "b\r\nc\r\n", "d\r\n", "e\r\n"},
         false},
        {"line end changed",
         TScript().Send("a\r\nb|c\r\n|").Close(),
         [](TWSocket& s, const std::vector<std::string>& reads) {
             if (reads.size() == 1)
                 s.SetLineEnd("|");
         },
         {"a\r\n", "b|", "c\r\n|"},
         false},
        {"closed: the rest comes as the last line",
         TScript().Send("a\r\nb\r\nc\r\n").Hang(),
         [](TWSocket& s, const std::vector<std::string>& reads) {
             if (reads.size() == 1)
                 s.Close();
         },
         {"a\r\n", "b\r\nc\r\n"},
         false},
        {"freed with messages pumped: the running pass ends first",
         TScript().Send("a\r\nb\r\n").Hang(),
         [](TWSocket& s, const std::vector<std::string>& reads) {
             if (reads.size() != 1)
                 return;
             s.FreeDeferred();
             sys::Application::Instance().ProcessMessages();
         },
         {"a\r\n", "b\r\n"},
         true},
        {"messages pumped until later lines came",
         TScript().Send("a\r\nb\r\n").Delay(30ms).Send("c\r\nd\r\n").Close(),
         [](TWSocket&, const std::vector<std::string>& reads) {
             if (reads.size() == 1) {
                 EXPECT_TRUE(RunLoopUntil([&reads] { return reads.size() >= 4; }));
             }
         },
         {"a\r\n", "b\r\n", "c\r\n", "d\r\n"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(c.Script);
        bool gone = false;
        bool closed = false;
        auto* s = new TWatchedSocket(gone);
        std::vector<std::string> reads;
        s->SetLineMode(true);
        s->OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buf[64];
            const int n = s->Receive(buf, sizeof buf);
            if (n <= 0)
                return;
            reads.emplace_back(buf, static_cast<std::size_t>(n));
            c.Act(*s, reads);
        };
        s->OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
        s->SetAddr("127.0.0.1");
        s->SetPort(server.PortText());
        s->Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return c.Gone ? gone : closed; }));
        EXPECT_EQ(reads, c.Reads);
        EXPECT_EQ(gone, c.Gone);
        if (!gone)
            delete s;
    }
}

namespace {

// Takes the bytes of the read notification that the test asks for straight from the descriptor,
// past the socket layer, before the socket sees the notification: as if an earlier read had
// taken them, which asks for no further notification.
class TNotificationThief : public TWSocket {
  public:
    bool StealNext = false;
    std::string Stolen;

  protected:
    void WndProc(sys::TMessage& M) override {
        if (StealNext && M.Msg == WM_SOCKET_SELECT && (M.LParam & sys::winsock::FD_READ)) {
            StealNext = false;
            char buf[64];
            const ssize_t n = ::recv(sys::winsock::DescriptorOf(HSocket()), buf, sizeof buf, 0);
            Stolen.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        TWSocket::WndProc(M);
    }
};

}  // namespace

// A read notification that finds nothing to read still asks for the next one: the peer's close
// that follows is told, and the line held before it comes as the last line.
TEST(LineMode, ANotificationWithNothingToReadStillLetsTheCloseThrough) {
    ScriptedServer server(
        TScript().Send("a\r\nrest").Delay(30ms).Send("b\r\n").Delay(30ms).Close());
    TNotificationThief s;
    std::vector<std::string> lines;
    bool closed = false;
    s.SetLineMode(true);
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        lines.push_back(s.ReceiveString());
        s.StealNext = lines.size() == 1;
    };
    s.OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    EXPECT_TRUE(RunLoopUntil([&] { return closed; }));
    EXPECT_EQ(s.Stolen, "b\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"a\r\n", "rest"}));
}

namespace {

// Sends plain lines, then takes a TLS handshake on the same connection and sends one more line
// inside it: a server that upgrades a connection when its client asks.
void UpgradingServer(int fd, const std::string& plain, const std::string& secret) {
    if (!testsupport::WriteAll(fd, plain))
        return;
    const testsupport::TCertFiles& cert = testsupport::TestCa::Shared().Valid();
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                              &SSL_CTX_free);
    if (!context || SSL_CTX_use_certificate_chain_file(context.get(), cert.CertFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), cert.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1)
        return;
    SSL_write(ssl.get(), secret.data(), static_cast<int>(secret.size()));
    SSL_shutdown(ssl.get());
}

}  // namespace

// The handler of one line begins TLS while the next line is held already: that line belongs to
// the connection after the handshake, so it comes only once the handshake is done.
TEST(LineMode, HandlerMayBeginTlsWhileALineIsHeld) {
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", testsupport::TestCa::Shared().CaFile()};
    testsupport::LoopbackServer server(
        [](int fd) { UpgradingServer(fd, "one\r\nSTARTTLS\r\nheld\r\n", "secret\r\n"); });
    TLineClient client;
    std::vector<std::string> log;
    client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        const std::string line = client.s.ReceiveString();
        if (line.empty())
            return;
        log.push_back(line);
        if (line == "STARTTLS\r\n")
            client.s.StartSslHandshake();
    };
    client.s.OnSslHandshakeDone = [&](sys::TObject*, sys::Word e) {
        log.push_back("handshake " + std::to_string(e));
    };
    client.s.SetAddr("127.0.0.1");
    client.s.SetPort(server.PortText());
    client.s.Connect();
    EXPECT_TRUE(RunLoopUntil([&] { return log.size() >= 5 || client.Closed; }));
    EXPECT_EQ(log, (std::vector<std::string>{"one\r\n", "STARTTLS\r\n", "handshake 0", "held\r\n",
                                             "secret\r\n"}));
}
