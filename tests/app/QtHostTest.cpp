#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <thread>

#include "RunLoop.h"
#include "sys/Application.h"
#include "sys/Messages.h"

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
