#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <thread>
#include <vector>

#include "RunLoop.h"
#include "sys/Application.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

using namespace sys;

TEST(QtHost, WorkerPostIsDispatchedInsideExec) {
    auto& app = Application::Instance();
    app.ResetTerminated();
    WPARAM got = 0;
    HWND h = AllocateHWnd([&](TMessage& m) {
        got = m.WParam;
        QCoreApplication::exit(0);
    });
    std::thread worker;
    // Start the worker only once exec() runs, so the post must wake Qt's own wait.
    QTimer::singleShot(0, [&] { worker = std::thread([h] { PostMessage(h, WM_USER, 77, 0); }); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    int rc = QApplication::exec();
    worker.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(got, 77u);
    DeallocateHWnd(h);
}

// Posts made on the GUI thread itself wake nothing; Qt's loop must still find them before it
// sleeps, or they would wait for an unrelated event (here the guard, which fails the test).
TEST(QtHost, OwnThreadPostFromQtHandlerIsDispatchedInsideExec) {
    auto& app = Application::Instance();
    app.ResetTerminated();
    std::vector<WPARAM> got;
    HWND h = AllocateHWnd([&](TMessage& m) {
        got.push_back(m.WParam);
        if (m.WParam == 1)  // a post from a message handler, too
            PostMessage(h, WM_USER, 2, 0);
        if (m.WParam == 2)
            QCoreApplication::exit(0);
    });
    QTimer::singleShot(0, [h] { PostMessage(h, WM_USER, 1, 0); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    int rc = QApplication::exec();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(got, (std::vector<WPARAM>{1, 2}));
    DeallocateHWnd(h);
}

// ProcessMessages leaves the polling to Qt: a descriptor that is ready when it is called must
// still have its message dispatched before it returns, and one that is not yet ready must not
// block it.
TEST(QtHost, ProcessMessagesDispatchesReadyDescriptorsInOneCall) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    int got = 0;
    HWND h = AllocateHWnd([&](TMessage&) { ++got; });
    FdWatchId watch = WatchFdPost(fds[0], EPOLLIN, h, WM_USER);
    Application::Instance().ProcessMessages();
    EXPECT_EQ(got, 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    Application::Instance().ProcessMessages();
    EXPECT_EQ(got, 1);
    UnwatchFd(watch);
    DeallocateHWnd(h);
    close(fds[0]);
    close(fds[1]);
}

TEST(QtHost, HandleMessageServesQtEventsAndQueueInNestedWaits) {
    // A message handler waits for a worker's post while Qt timers keep firing: the shape of a
    // blocking HTTP request started from a button.
    bool qtFired = false;
    bool workerDone = false;
    bool outerDone = false;
    std::thread worker;
    HWND inner = AllocateHWnd([&](TMessage&) { workerDone = true; });
    HWND outer = AllocateHWnd([&](TMessage&) {
        QTimer::singleShot(1, [&] { qtFired = true; });
        worker = std::thread([inner] { PostMessage(inner, WM_USER, 0, 0); });
        EXPECT_TRUE(testsupport::RunLoopUntil([&] { return workerDone && qtFired; }));
        outerDone = true;
    });
    PostMessage(outer, WM_USER, 0, 0);
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return outerDone; }));
    worker.join();
    DeallocateHWnd(inner);
    DeallocateHWnd(outer);
}

TEST(QtHost, TerminateEndsRun) {
    auto& app = Application::Instance();
    app.ResetTerminated();
    QTimer::singleShot(0, [&] { app.Terminate(); });
    app.Run();
    EXPECT_TRUE(app.Terminated());
    app.ResetTerminated();
}
