#include <gtest/gtest.h>

#include <string>

#include "net/WSockbuf.h"

namespace {

std::string Unread(const TBuffer& b) {
    int len;
    const char* p = b.Peek(len);
    return p ? std::string(p, static_cast<std::size_t>(len)) : std::string();
}

}  // namespace

TEST(TBuffer, WritesUpToItsSizeAndHandsOutWhatIsUnread) {
    TBuffer b(8);
    EXPECT_EQ(b.Write("abcdef", 6), 6);
    EXPECT_EQ(b.Write("ghijk", 5), 2);  // only the room that is left
    EXPECT_EQ(b.Write("z", 1), 0);
    EXPECT_EQ(Unread(b), "abcdefgh");
    EXPECT_EQ(b.Remove(3), 3);
    EXPECT_EQ(Unread(b), "defgh");
    EXPECT_EQ(b.Write("z", 1), 0);  // consumed bytes are not reused while others wait
    EXPECT_EQ(b.Remove(100), 5);
    EXPECT_EQ(b.ReadCount(), 0);  // drained: both counts start again
    EXPECT_EQ(b.WriteCount(), 0);
    int len = -1;
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.Remove(1), 0);
    EXPECT_EQ(b.Write("12345678", 8), 8);
    EXPECT_EQ(Unread(b), "12345678");
}

TEST(TBuffer, SizeChangesKeepUnreadBytes) {
    const std::pair<int, int> sizes[] = {{0, 1514}, {-5, 1514}, {100, 100}};
    for (auto [asked, got] : sizes)
        EXPECT_EQ(TBuffer(asked).Size(), got) << "asked for " << asked;
    TBuffer b(4);
    b.Write("abcd", 4);
    b.Remove(1);
    b.SetSize(16);
    EXPECT_EQ(b.Size(), 16);
    EXPECT_EQ(Unread(b), "bcd");
    EXPECT_EQ(b.Write("efgh", 4), 4);
    EXPECT_EQ(Unread(b), "bcdefgh");
    EXPECT_EQ(b.Remove(-1), 0);  // a negative count consumes nothing
}
