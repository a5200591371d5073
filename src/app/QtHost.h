// The GUI host of the message loop: Qt's event loop and the thread's message queue are one
// loop. The queue's wait descriptor sits under a QSocketNotifier, so waiting happens inside
// Qt's loop and both kinds of event are served in the same wait.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <chrono>

#include "sys/Application.h"

class QtHost : public QObject, public sys::IMessageHost {
  public:
    // Create on the GUI thread after the QApplication.
    QtHost();

    // While the queue keeps busy, Qt's own events get a full pass every kQtPace, far below
    // what a user notices; in between only the queue's messages are served.
    static constexpr std::chrono::milliseconds kQtPace{5};

    void ProcessMessages(sys::Application& app) override;
    void ProcessMessagesPaced(sys::Application& app) override;
    void HandleMessage(sys::Application& app) override;
    void Run(sys::Application& app) override;
    void Terminating(sys::Application& app) override;

  private:
    void QueueReady();
    void ScheduleDrain();
    bool QtPassDue() const;
    void QtPass(QEventLoop::ProcessEventsFlags flags);
    void ServeQueue(sys::Application& app, bool lookForReadiness);

    QSocketNotifier notifier_;
    bool drainScheduled_ = false;
    std::chrono::steady_clock::time_point lastQtPass_{};
};
