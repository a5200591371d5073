// The application object: message processing for the main thread, through a host that is
// either the plain epoll loop (headless programs, tests) or the GUI toolkit's loop.
#pragma once

#include <memory>
#include <string>

#include "Messages.h"

namespace sys {

class Application;

// How the application waits and which other events it serves besides the message queue.
class IMessageHost {
  public:
    virtual ~IMessageHost() = default;
    // Handle everything pending, then return.
    virtual void ProcessMessages(Application& app) = 0;
    // The same for a caller between many short steps: the kernel is asked for readiness at
    // most once per kLookPace (or at once after RequestPromptLook); posted messages always run.
    virtual void ProcessMessagesPaced(Application& app) { ProcessMessages(app); }
    // Handle one message, waiting for one when there is none.
    virtual void HandleMessage(Application& app) = 0;
    // Serve messages until the application is terminated.
    virtual void Run(Application& app) = 0;
    // Called once when the application takes its quit message.
    virtual void Terminating(Application&) {}
};

// The host of headless programs: the calling thread's queue and its epoll set, nothing else.
class EpollHost : public IMessageHost {
  public:
    void ProcessMessages(Application& app) override;
    void ProcessMessagesPaced(Application& app) override;
    void HandleMessage(Application& app) override;
    void Run(Application& app) override;
};

class Application {
  public:
    // The one application object of the process; its host starts as an EpollHost.
    static Application& Instance();

    void SetHost(std::shared_ptr<IMessageHost> host);
    IMessageHost& Host() { return *host_; }

    void ProcessMessages() { host_->ProcessMessages(*this); }
    // For the scan's files and the check's rows: a stop already waiting is served without a
    // system call per step (see IMessageHost::ProcessMessagesPaced).
    void ProcessMessagesPaced() { host_->ProcessMessagesPaced(*this); }
    void HandleMessage() { host_->HandleMessage(*this); }
    void Run() { host_->Run(*this); }
    // Posts the quit message; Terminated() turns true when it is taken.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Clears the flag, for a program (or a test) that runs the loop again.
    void ResetTerminated() { terminated_ = false; }

    // Takes one message of the calling thread's queue and dispatches it; a quit message sets
    // Terminated instead. False when the queue was empty.
    bool ProcessMessage();
    // Dispatches the messages queued already, without asking the kernel for readiness.
    void ProcessQueuedMessages();

    std::string Title;

  private:
    Application();
    std::shared_ptr<IMessageHost> host_;
    bool terminated_ = false;
};

}  // namespace sys
