// Signals reach a program through its loop: the reaction runs from a message, never inside the
// signal handler, and the handler's object may go away in its own reaction.
#include "app/core/Interrupt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "RunLoop.h"
#include "sys/Application.h"

namespace {

void (*Disposition(int signal))(int) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

}  // namespace

TEST(Interrupt, TheReactionRunsFromTheLoopWithTheSignalTaken) {
    int reacted = 0;
    TInterrupt interrupt({SIGUSR1, SIGUSR2}, [&](int signal) { reacted = signal; });
    ASSERT_EQ(::kill(::getpid(), SIGUSR2), 0);
    EXPECT_EQ(reacted, 0) << "nothing happens inside the signal handler";
    EXPECT_FALSE(interrupt.Happened());
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return reacted != 0; }));
    EXPECT_EQ(reacted, SIGUSR2);
    EXPECT_EQ(interrupt.Signal(), SIGUSR2);
    // The signal taken is back at its default action: a second one ends the program at once.
    EXPECT_EQ(Disposition(SIGUSR2), SIG_DFL);
    EXPECT_NE(Disposition(SIGUSR1), SIG_DFL);
}

TEST(Interrupt, AReactionThatFreesTheWatchAndPumpsIsSafeAndRestoresTheOldActions) {
    auto* before = Disposition(SIGUSR1);
    std::unique_ptr<TInterrupt> interrupt;
    interrupt = std::make_unique<TInterrupt>(std::initializer_list<int>{SIGUSR1}, [&](int) {
        interrupt.reset();
        sys::Application::Instance().ProcessMessages();
    });
    ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return interrupt == nullptr; }));
    EXPECT_EQ(Disposition(SIGUSR1), before);
    sys::Application::Instance().ProcessMessages();  // nothing stale is left to deliver
}
