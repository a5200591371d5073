#include "DirMon.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <thread>
#include <utility>

#include "sys/ChangeNotify.h"

namespace {

struct TFlagOf {
    TDirMonValue value;
    std::uint32_t flag;
};

constexpr std::array<TFlagOf, 6> kFlags = {{
    {dmcFileName, sys::FILE_NOTIFY_CHANGE_FILE_NAME},
    {dmcDirName, sys::FILE_NOTIFY_CHANGE_DIR_NAME},
    {dmcAttributes, sys::FILE_NOTIFY_CHANGE_ATTRIBUTES},
    {dmcSize, sys::FILE_NOTIFY_CHANGE_SIZE},
    {dmcLastWrite, sys::FILE_NOTIFY_CHANGE_LAST_WRITE},
    {dmcSecurity, sys::FILE_NOTIFY_CHANGE_SECURITY},
}};

// The worker posts it when it ended on its own, so that the monitor's thread reaps it.
constexpr sys::UINT WM_DIRMON_ENDED = sys::WM_USER + 2;

}  // namespace

// What the worker thread works with. Made before the thread starts and freed after it has
// ended; the worker only reads it, apart from its exit code.
struct TDirMon::TWorker {
    std::function<void()> walkHook;  // the monitor's, copied at Start
    sys::HWND window = 0;
    std::atomic<bool>* posted = nullptr;
    int stopFd = -1;  // an eventfd: readable once the worker is to end
    std::string folder;
    bool nested = false;
    std::uint32_t flags = 0;
    timespec started{};  // the coarse clock at Start, which file times never fall behind
    sys::TChangeNotification notification;
    int exitCode = 0;
    std::atomic<bool> endedAlone{false};  // ended without the stop signal
    std::thread thread;

    ~TWorker() {
        if (stopFd >= 0)
            close(stopFd);
    }

    // A worker that ends on its own gives back the notification and its watches at once: a
    // monitor nobody stops would otherwise hold them, and starve every other user of inotify.
    void Run() {
        exitCode = Open();
        if (exitCode == 0)
            exitCode = Watch();
        if (exitCode == ECANCELED && StopSignalled())
            exitCode = 0;  // a walk cut short by Stop
        notification.Close();
        if (exitCode == 0)
            return;  // told to stop: the thread that stops it reaps it
        endedAlone.store(true);
        sys::PostMessage(window, WM_DIRMON_ENDED, 0, 0);
    }

    // Watches the tree here rather than in Start, which a large tree would hold up. What
    // changed between Start and the watch of its folder is reported as one change.
    int Open() {
        notification.SetKeepGoing([this] {
            if (walkHook)
                walkHook();
            return !StopSignalled();
        });
        notification.SetReportChangesSince(started);
        int error = notification.Open(folder, nested, flags);
        // A folder gone before its watch came is reported as if it went afterwards.
        if ((error == 0 && notification.ChangedSince()) || error == ENOENT)
            Post();
        return error;
    }

    bool StopSignalled() const {
        pollfd stop{stopFd, POLLIN, 0};
        return poll(&stop, 1, 0) > 0;
    }

    // Waits for a change or the stop signal, never with a time limit and never in a spin: a
    // wait that fails for another reason than a signal ends the worker.
    int Watch() {
        std::array<pollfd, 2> fds = {{{stopFd, POLLIN, 0}, {notification.Fd(), POLLIN, 0}}};
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (fds[0].revents)
                return 0;
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
                return EIO;
            bool changed = false;
            int error = notification.Collect(changed);
            if (changed)
                Post();
            if (error)
                return error;
        }
    }

    void Post() {
        if (!posted->exchange(true) && !sys::PostMessage(window, WM_DIRCHANGE, 0, 0))
            posted->store(false);
    }
};

TDirMon::TDirMon(sys::TComponent* AOwner)
    : sys::TComponent(AOwner), flags_(sys::FILE_NOTIFY_CHANGE_FILE_NAME) {
    window_ = sys::AllocateHWnd([this](sys::TMessage& message) { WndProc(message); });
}

TDirMon::~TDirMon() {
    MarkDestroying();
    *alive_ = false;
    if (worker_)
        EndWorker();
    sys::DeallocateHWnd(window_);
}

void TDirMon::SetDirectory(std::string directory) {
    if (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    if (directory == directory_)
        return;
    if (Running()) {
        std::shared_ptr<bool> alive = alive_;
        Stop();
        if (!*alive)
            return;  // an OnStop handler destroyed the monitor
    }
    directory_ = std::move(directory);
    Start();
}

TDirMonType TDirMon::NotifyFilter() const {
    TDirMonType filter;
    for (const auto& each : kFlags)
        if (flags_ & each.flag)
            filter.insert(each.value);
    return filter;
}

void TDirMon::SetNotifyFilter(const TDirMonType& filter) {
    if (Running())
        throw sys::Exception("Unable to change NotifyFilter when DirMon is running");
    std::uint32_t flags = 0;
    for (const auto& each : kFlags)
        if (filter.count(each.value))
            flags |= each.flag;
    flags_ = flags;
}

void TDirMon::Start() {
    if (Running() || directory_.empty())
        return;
    auto worker = std::make_unique<TWorker>();
    worker->window = window_;
    worker->posted = &changePosted_;
    worker->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (worker->stopFd < 0)
        throw sys::Exception("CreateMutex failed");
    worker->folder = directory_;
    worker->nested = nested_;
    worker->flags = flags_;
    clock_gettime(CLOCK_REALTIME_COARSE, &worker->started);
    worker->walkHook = walkHook_;
    // In place before the thread starts, since AwaitStopSignal reads it there.
    worker_ = std::move(worker);
    try {
        worker_->thread = std::thread([w = worker_.get()] { w->Run(); });
    } catch (const std::system_error&) {
        worker_.reset();
        throw sys::Exception("CreateThread failed");
    }
    DoStart();
}

void TDirMon::Stop() {
    if (!Running())
        throw sys::Exception("DirMon not started");
    EndWorker();
    DoStop();
}

void TDirMon::AwaitStopSignal() {
    pollfd stop{worker_->stopFd, POLLIN, 0};
    while (poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
}

void TDirMon::EndWorker() {
    const std::uint64_t one = 1;
    // A fresh eventfd takes one write without fail.
    ssize_t written = write(worker_->stopFd, &one, sizeof one);
    (void)written;
    worker_->thread.join();
    exitCode_ = worker_->exitCode;
    worker_.reset();
}

void TDirMon::WndProc(sys::TMessage& message) {
    if (message.Msg == WM_DIRMON_ENDED) {
        // Late for a worker that Stop reaped already; then the current one is running.
        if (worker_ && worker_->endedAlone.load())
            EndWorker();
        return;
    }
    if (message.Msg != WM_DIRCHANGE) {
        message.Result = sys::DefWindowProc(window_, message.Msg, message.WParam, message.LParam);
        return;
    }
    changePosted_.store(false);  // changes from now on need a message of their own
    DoDirChange();
}

void TDirMon::DoDirChange() {
    // A copy, since the handler may destroy the monitor and its events with it.
    TNotifyEvent handler = OnDirChange;
    if (!handler)
        return;
    try {
        handler(this);
    } catch (...) {
        // The message loop goes on: a failing handler must not end it.
    }
}

void TDirMon::DoStart() {
    TNotifyEvent handler = OnStart;
    if (handler)
        handler(this);
}

void TDirMon::DoStop() {
    TNotifyEvent handler = OnStop;
    if (handler)
        handler(this);
}
