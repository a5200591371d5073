// The clean-loop check in a program with the socket layer: a socket left open after a test is
// named with its count, and a freed one is not.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CleanLoopListener.h"
#include "net/WSocket.h"

TEST(CleanLoopListenerSocket, CatchesASocketLeftListening) {
    testsupport::CleanLoopListener probe;
    probe.TakeBaseline();
    const int before = WSocketInstanceCount();
    auto socket = std::make_unique<TWSocket>();
    socket->SetAddr("127.0.0.1");
    socket->SetPort("0");
    socket->Listen();
    ASSERT_EQ(socket->State(), wsListening);
    const std::string expected = "1 socket(s) (before " + std::to_string(before) + ", after " +
                                 std::to_string(before + 1) + ")";
    EXPECT_NONFATAL_FAILURE(probe.CheckClean("Fake.LeavesSocketOpen"), expected);
    socket.reset();
    probe.CheckClean("Fake.FreesSocket");  // a failure here fails this test
}
