#include "QtHost.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

#include "sys/Poller.h"

QtHost::QtHost() : notifier_(sys::QueueWaitFd(), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { QueueReady(); });
    // Posts from this thread do not wake the notifier; whatever they queued is picked up here,
    // before Qt sleeps, so that no message waits for an unrelated event.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { ScheduleDrain(); });
}

// The notifier only collects readiness and schedules the dispatch as a posted event, so that a
// handler that waits in a nested loop never runs inside the notifier's own activation.
void QtHost::QueueReady() {
    sys::CollectReadiness();
    ScheduleDrain();
}

void QtHost::ScheduleDrain() {
    if (drainScheduled_ || sys::PendingMessageCount() == 0)
        return;
    drainScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drainScheduled_ = false;
            auto& app = sys::Application::Instance();
            while (app.ProcessMessage()) {
            }
        },
        Qt::QueuedConnection);
}

// The scan calls this for every directory entry and the check run for every row: a full pass of
// Qt's loop each time would cost more than the work between the calls.
void QtHost::ProcessMessages(sys::Application& app) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastQtPass_ >= kQtPace) {
        lastQtPass_ = now;
        // Qt polls the queue's descriptor too, and the notifier collects whatever is ready.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        sys::CollectReadiness();
    }
    // Only the queued messages are left; PeekMessage on the empty queue would poll epoll once
    // more for nothing.
    while (sys::PendingMessageCount() > 0 && app.ProcessMessage()) {
    }
}

void QtHost::HandleMessage(sys::Application& app) {
    if (app.ProcessMessage())
        return;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtHost::Run(sys::Application& app) {
    if (!app.Terminated())
        QCoreApplication::exec();
}

void QtHost::Terminating(sys::Application&) {
    QCoreApplication::exit(0);
}
