// Line mode with a slow owner: while a line waits untaken, the layer holds a bounded amount behind
// it and leaves the rest in the network, so that TCP flow control slows the peer; once the owner
// takes lines again, every byte follows in order.
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Application.h"
#include "sys/Messages.h"

using namespace nettest;
using testsupport::RunLoopUntil;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kLineSize = 80;
constexpr std::size_t kTotal = 64 * 1024 * 1024;
constexpr std::size_t kLines = kTotal / kLineSize + 1;

// Line i: its number, a filler that changes from line to line, CR LF.
std::string NumberedLine(std::size_t i) {
    char number[16];
    const int n = std::snprintf(number, sizeof number, "%09zu ", i);
    std::string line(number, static_cast<std::size_t>(n));
    line.append(kLineSize - 2 - line.size(), static_cast<char>('a' + i % 26));
    return line + "\r\n";
}

// Writes kLines lines as fast as the connection takes them. It tells when the connection takes
// no more (both sides' buffers full), with a message that wakes the client's loop, and gives up
// when that lasts beyond its bound.
struct TLineWriter {
    std::atomic<sys::HWND> Wake{};
    std::atomic<std::size_t> Written{0};
    std::atomic<bool> Waiting{false};
    std::atomic<bool> Done{false};

    void Run(int fd) {
        std::string chunk;
        for (std::size_t i = 0; i < kLines;) {
            chunk.clear();
            while (i < kLines && chunk.size() < 64 * 1024)
                chunk += NumberedLine(i++);
            if (!WriteChunk(fd, chunk))
                return;
        }
        Done = true;
    }

    bool WriteChunk(int fd, const std::string& chunk) {
        std::size_t off = 0;
        while (off < chunk.size()) {
            const ssize_t n =
                ::send(fd, chunk.data() + off, chunk.size() - off, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                Written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            Waiting = true;
            sys::PostMessage(Wake, sys::WM_NULL, 0, 0);
            pollfd out{fd, POLLOUT, 0};
            const int ready = ::poll(&out, 1, 20000);
            Waiting = false;
            if (ready <= 0)
                return false;
        }
        return true;
    }
};

// Checks a stream of numbered lines however it is cut into reads.
struct TStreamCheck {
    std::size_t Taken = 0;
    std::size_t Wrong = 0;
    std::size_t LineNumber = kLines;
    std::string Line;

    void Feed(std::string_view bytes) {
        for (char c : bytes) {
            if (Taken / kLineSize != LineNumber) {
                LineNumber = Taken / kLineSize;
                Line = NumberedLine(LineNumber);
            }
            Wrong += c != Line[Taken % kLineSize];
            ++Taken;
        }
    }
};

}  // namespace

// The handler leaves the first line; then the owner takes it by hand, or switches line mode
// off, and the handler reads the rest.
TEST(LineBackPressure, AnOwnerThatDoesNotReadSlowsThePeerAndThenGetsEveryByte) {
    struct TCase {
        const char* Name;
        bool LineModeOff;  // else the waiting line is taken by hand
    };
    for (const TCase& c : {TCase{"line taken", false}, TCase{"line mode off", true}}) {
        SCOPED_TRACE(c.Name);
        TWSocket s;
        TLineWriter writer;
        writer.Wake = s.Handle();
        testsupport::LoopbackServer server([&](int fd) { writer.Run(fd); });
        s.SetLineMode(true);
        bool reading = false, closed = false;
        std::size_t mostHeld = 0;
        TStreamCheck check;
        auto held = [&] { return static_cast<std::size_t>(s.ReadCount()) - check.Taken; };
        auto take = [&] {
            char buf[4096];
            const int n = s.Receive(buf, sizeof buf);
            check.Feed(std::string_view(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
        };
        s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            mostHeld = std::max(mostHeld, held());
            if (reading)
                take();
        };
        s.OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
        ConnectTo(s, server);

        // The first line is offered and left; the layer holds HoldAhead behind it and reads no
        // more, however long the loop runs, while the writer waits with most of its lines unsent.
        const std::size_t limit = kLineSize + TWSocket::HoldAhead;
        ASSERT_TRUE(
            RunLoopUntil([&] { return (writer.Waiting && held() >= limit) || writer.Done; }, 30s))
            << "held " << held() << ", written " << writer.Written;
        const int readBefore = s.ReadCount();
        for (int i = 0; i < 3; ++i)
            sys::Application::Instance().ProcessMessages();
        EXPECT_EQ(s.ReadCount(), readBefore);
        EXPECT_LE(held(), limit + 256 * 1024);  // one read past the limit at most
        EXPECT_LT(writer.Written.load(), kTotal / 2);
        EXPECT_EQ(s.RcvdCount(), static_cast<int>(kLineSize));  // the first line, still waiting

        reading = true;
        if (c.LineModeOff)
            s.SetLineMode(false);
        else
            take();
        EXPECT_TRUE(
            RunLoopUntil([&] { return check.Taken == kLines * kLineSize || closed; }, 120s));
        EXPECT_TRUE(writer.Done);
        EXPECT_EQ(check.Taken, kLines * kLineSize);
        EXPECT_EQ(check.Wrong, 0u);
        EXPECT_LE(mostHeld, limit + 256 * 1024);
    }
}
