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

// The scan calls the paced form for every directory entry and the check run for every row: a
// full pass of Qt's loop each time would cost more than the work between the calls.
void QtHost::ProcessMessages(sys::Application& app) {
    ServeQueue(app, true);
}

void QtHost::ProcessMessagesPaced(sys::Application& app) {
    ServeQueue(app, sys::ReadinessLookDue());
}

void QtHost::ServeQueue(sys::Application& app, bool lookForReadiness) {
    if (QtPassDue())
        QtPass(QEventLoop::AllEvents);  // its poll covers the queue's descriptor too
    else if (lookForReadiness)
        sys::CollectReadiness();
    app.ProcessQueuedMessages();  // readiness is collected: only the queued messages are left
}

// A queue that never runs dry (rows in flight that are refused at once) must not starve Qt's
// events: the user's clicks, the paints and the window's timers. The caller looks at its
// condition again after the pass, since the pass may have dispatched what it waits for.
void QtHost::HandleMessage(sys::Application& app) {
    if (QtPassDue())
        return QtPass(QEventLoop::AllEvents);
    if (app.ProcessMessage())
        return;
    QtPass(QEventLoop::WaitForMoreEvents);
}

bool QtHost::QtPassDue() const {
    return std::chrono::steady_clock::now() - lastQtPass_ >= kQtPace;
}

void QtHost::QtPass(QEventLoop::ProcessEventsFlags flags) {
    lastQtPass_ = std::chrono::steady_clock::now();  // nested calls take the short way
    QCoreApplication::processEvents(flags);
}

void QtHost::Run(sys::Application& app) {
    if (!app.Terminated())
        QCoreApplication::exec();
}

void QtHost::Terminating(sys::Application&) {
    QCoreApplication::exit(0);
}
