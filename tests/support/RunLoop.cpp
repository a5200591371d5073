#include "RunLoop.h"

#include "sys/Application.h"
#include "sys/Poller.h"

namespace testsupport {

bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    bool timedOut = false;
    sys::HWND guard = sys::AllocateHWnd([&](sys::TMessage& m) {
        if (m.Msg == sys::WM_TIMER)
            timedOut = true;
    });
    sys::SetTimer(guard, 1, static_cast<unsigned>(bound.count()));
    auto& app = sys::Application::Instance();
    while (!done() && !timedOut)
        app.HandleMessage();
    sys::DeallocateHWnd(guard);
    return done();
}

}  // namespace testsupport
