// TDirMon watches one folder (and, when Nested, every folder below it) on a worker thread and
// raises OnDirChange on the thread that made it, through its message loop, whenever the
// system reports a change of a kind in NotifyFilter. A wake-up of the worker gives at most one
// call, however many changes it brings, and no call is queued while one is still waiting:
// a burst of changes gives a few calls, and none is lost.
//
// The worker ends on its own when the folder cannot be watched (ExitCode then tells why) or
// when the folder is removed or moved away (after one last call, also when it was gone before
// the worker came to watch it). It gives back its inotify descriptor and watches at once, and
// the monitor stops running (without OnStop) when its loop handles the worker's last message;
// a Stop before that completes as usual. Messages queued before Stop may still raise
// OnDirChange afterwards.
//
// Start returns at once: the worker opens the watches, folder after folder, and Stop cuts that
// walk short between two folders. A change made after Start but before the worker watched its
// folder raises one OnDirChange once the walk is done; the worker judges that by the change
// times of the folders (and, for the kinds other than names, of their entries), so a change of
// another kind or one made within a clock tick before Start may raise it too. After the walk,
// each change raises calls as above.
//
// Threads: everything but the worker and the walk hook belongs to the thread that made the
// monitor.
// Re-entrancy: any handler may destroy the monitor or pump messages; a call that raises an
// event touches nothing of a monitor that its handler destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "sys/Classes.h"
#include "sys/Messages.h"

enum TDirMonValue { dmcFileName, dmcDirName, dmcAttributes, dmcSize, dmcLastWrite, dmcSecurity };
using TDirMonType = std::set<TDirMonValue>;

// The message the worker posts to the monitor's window, with both parameters 0.
constexpr sys::UINT WM_DIRCHANGE = sys::WM_USER + 1;

class TDirMon : public sys::TComponent {
  public:
    using TNotifyEvent = std::function<void(sys::TObject* Sender)>;

    explicit TDirMon(sys::TComponent* AOwner = nullptr);
    // Ends a running worker without OnStop.
    ~TDirMon() override;

    const std::string& Directory() const { return directory_; }
    // One trailing "/" goes (not from "/" itself). A different folder stops a running monitor
    // (with OnStop) and starts on the new one unless it is empty; the same one does nothing.
    void SetDirectory(std::string directory);
    TDirMonType NotifyFilter() const;
    // Throws sys::Exception while running.
    void SetNotifyFilter(const TDirMonType& filter);
    // The filter as the shell's flag word (sys::FILE_NOTIFY_CHANGE_...).
    std::uint32_t NotifyFlags() const { return flags_; }
    bool Nested() const { return nested_; }
    // Takes effect at the next Start.
    void SetNested(bool nested) { nested_ = nested; }

    // Does nothing while running or without a Directory; raises OnStart.
    void Start();
    // Throws sys::Exception "DirMon not started" unless running; raises OnStop.
    void Stop();
    // From Start until Stop, or until the loop learns that the worker ended on its own.
    bool Running() const { return worker_ != nullptr; }
    // The exit code of the last worker that ended: 0 when it was told to stop, otherwise the
    // errno that ended it (EMFILE: no inotify instance left; ENOSPC: no watch left; ENOENT:
    // the folder is gone). 0 before any worker ended.
    int ExitCode() const { return exitCode_; }

    TNotifyEvent OnDirChange;
    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

  protected:
    // Called on the worker before each folder of a walk (while opening the watches, or when a
    // new tree comes in), for tests that hold the walk at a folder; the walk goes on unless
    // Stop has been called. Takes effect at the next Start; a subclass whose hook uses its
    // own members stops a running monitor in its destructor, since the worker calls the hook
    // until it ends.
    void SetWalkHook(std::function<void()> hook) { walkHook_ = std::move(hook); }
    // On the worker, from the walk hook: blocks until Stop has been called.
    void AwaitStopSignal();
    // Exceptions of the handler are swallowed here.
    virtual void DoDirChange();
    virtual void DoStart();
    virtual void DoStop();

  private:
    struct TWorker;

    void WndProc(sys::TMessage& message);
    void EndWorker();

    std::string directory_;
    std::uint32_t flags_;
    sys::HWND window_ = 0;
    bool nested_ = false;
    std::unique_ptr<TWorker> worker_;
    std::function<void()> walkHook_;
    int exitCode_ = 0;
    // Set by the worker when it posts, cleared when the message arrives: while one waits,
    // further changes need no message of their own.
    std::atomic<bool> changePosted_{false};
    // Turns false when the monitor is destroyed, for calls whose handlers may destroy it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
