#include "Application.h"

#include "Poller.h"

namespace sys {

Application& Application::Instance() {
    static Application app;
    return app;
}

Application::Application() : host_(std::make_shared<EpollHost>()) {}

void Application::SetHost(std::shared_ptr<IMessageHost> host) {
    host_ = host ? std::move(host) : std::make_shared<EpollHost>();
}

void Application::Terminate() {
    PostQuitMessage(0);
}

bool Application::ProcessMessage() {
    MSG msg;
    if (!PeekMessage(msg, 0, 0, 0, PM_REMOVE))
        return false;
    if (msg.message == WM_QUIT) {
        if (!terminated_) {
            terminated_ = true;
            host_->Terminating(*this);
        }
        return true;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
    return true;
}

void EpollHost::ProcessMessages(Application& app) {
    while (app.ProcessMessage()) {
    }
}

void Application::ProcessQueuedMessages() {
    // PeekMessage on the empty queue would poll epoll; the count spares that.
    while (PendingMessageCount() > 0 && ProcessMessage()) {
    }
}

void EpollHost::ProcessMessagesPaced(Application& app) {
    if (ReadinessLookDue())
        return ProcessMessages(app);
    app.ProcessQueuedMessages();
}

void EpollHost::HandleMessage(Application& app) {
    // With an empty queue the blocking wait collects readiness itself; looking without
    // blocking first (what PeekMessage does) would cost a second epoll_wait per wake-up.
    if (PendingMessageCount() == 0)
        WaitMessage();
    app.ProcessMessage();
}

void EpollHost::Run(Application& app) {
    while (!app.Terminated())
        HandleMessage(app);
}

}  // namespace sys
