#include "shell/DirMon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AsNobody.h"
#include "RunLoop.h"
#include "TempDir.h"
#include "sys/Application.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const sys::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

double ProcessorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

class DirMonTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path watched = dir.Path() / "watched";
    std::unique_ptr<TDirMon> mon = std::make_unique<TDirMon>();
    std::vector<std::string> events;
    int changes = 0;

    void SetUp() override {
        fs::create_directory(watched);
        mon->OnDirChange = [this](sys::TObject* sender) {
            EXPECT_EQ(sender, mon.get());
            ++changes;
        };
        mon->OnStart = [this](sys::TObject*) { events.push_back("start"); };
        mon->OnStop = [this](sys::TObject*) { events.push_back("stop"); };
    }

    void Watch(const TDirMonType& filter, bool nested = false) {
        mon->SetNotifyFilter(filter);
        mon->SetNested(nested);
        mon->SetDirectory(watched.string());
        ASSERT_TRUE(mon->Running());
        // The walk's end may report what was made within a clock tick before the start.
        RunIdle(100ms);
        changes = 0;
    }
    bool AwaitChanges(int count) {
        return testsupport::RunLoopUntil([&] { return changes >= count; });
    }
    // Runs the loop for a while in which nothing is expected to happen.
    void RunIdle(std::chrono::milliseconds span) {
        testsupport::RunLoopUntil([] { return false; }, span);
    }
};

TEST_F(DirMonTest, NewMonitorAndItsFilter) {
    EXPECT_EQ(mon->Directory(), "");
    EXPECT_EQ(mon->NotifyFilter(), TDirMonType{dmcFileName});
    EXPECT_EQ(mon->NotifyFlags(), 0x1u);
    EXPECT_FALSE(mon->Nested());
    EXPECT_FALSE(mon->Running());
    struct Case {
        TDirMonType filter;
        std::uint32_t flags;
    } cases[] = {
        {{dmcSecurity}, 0x100},
        {{dmcDirName, dmcSize}, 0xA},
        {{dmcFileName, dmcDirName, dmcAttributes, dmcSize, dmcLastWrite, dmcSecurity}, 0x11F},
        {{}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        mon->SetNotifyFilter(c.filter);
        EXPECT_EQ(mon->NotifyFlags(), c.flags);
        EXPECT_EQ(mon->NotifyFilter(), c.filter);
    }
}

TEST_F(DirMonTest, DirectoryLosesOneTrailingSeparator) {
    const std::string longName(5000, 'x');  // far beyond any fixed buffer
    struct Case {
        std::string written, stored;
    } cases[] = {
        {"/tmp/a/", "/tmp/a"},
        {"/tmp/b", "/tmp/b"},
        {"/tmp/c//", "/tmp/c/"},
        {"/", "/"},
        {"/" + longName + "/", "/" + longName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written.substr(0, 20));
        mon->SetDirectory(c.written);
        EXPECT_EQ(mon->Directory(), c.stored);
        EXPECT_TRUE(mon->Running());
    }
    mon->Stop();
    EXPECT_EQ(mon->ExitCode(), ENAMETOOLONG);  // a single name of 5000 bytes: refused whole
}

TEST_F(DirMonTest, StartAndStopFollowTheDirectory) {
    fs::create_directory(dir.Path() / "other");
    // Never started: a new folder starts it.
    mon->SetDirectory(watched.string());
    EXPECT_EQ(events, std::vector<std::string>{"start"});
    EXPECT_TRUE(mon->Running());
    // The same folder again, with or without separator: nothing.
    mon->SetDirectory(watched.string() + "/");
    mon->Start();
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(ErrorOf([&] { mon->SetNotifyFilter({dmcSize}); }),
              "Unable to change NotifyFilter when DirMon is running");
    EXPECT_EQ(mon->NotifyFilter(), TDirMonType{dmcFileName});
    // Another folder: stopped and started again.
    events.clear();
    mon->SetDirectory((dir.Path() / "other").string());
    EXPECT_EQ(events, (std::vector<std::string>{"stop", "start"}));
    events.clear();
    mon->Stop();
    EXPECT_EQ(events, std::vector<std::string>{"stop"});
    EXPECT_EQ(mon->ExitCode(), 0);
    EXPECT_EQ(ErrorOf([&] { mon->Stop(); }), "DirMon not started");
    // No folder: never running.
    events.clear();
    mon->SetDirectory(watched.string());
    mon->SetDirectory("");
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    mon->Start();
    EXPECT_FALSE(mon->Running());
    EXPECT_EQ(ErrorOf([&] { mon->Stop(); }), "DirMon not started");
}

TEST_F(DirMonTest, EachKindOfChangeWakesItsMonitor) {
    WriteFile(watched / "f", "abc");
    fs::create_directory(watched / "d");
    struct Case {
        const char* what;
        TDirMonValue kind;
        std::function<void(const fs::path&)> change;
    } cases[] = {
        {"file name", dmcFileName, [](auto& d) { WriteFile(d / "new", ""); }},
        {"folder name", dmcDirName, [](auto& d) { fs::create_directory(d / "e"); }},
        {"attributes", dmcAttributes, [](auto& d) { chmod((d / "f").c_str(), 0400); }},
        {"size", dmcSize, [](auto& d) { truncate((d / "f").c_str(), 1); }},
        {"last write", dmcLastWrite,
         [](auto& d) {
             timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
             utimensat(AT_FDCWD, (d / "f").c_str(), times, 0);
         }},
        {"security", dmcSecurity, [](auto& d) { chmod((d / "d").c_str(), 0700); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mon->SetDirectory("");
        Watch({c.kind});
        changes = 0;
        c.change(watched);
        EXPECT_TRUE(AwaitChanges(1));
    }
}

TEST_F(DirMonTest, NestedWatchesASubfolderMadeAfterTheStart) {
    Watch({dmcFileName}, true);
    fs::create_directories(watched / "new" / "deeper");
    WriteFile(watched / "new" / "deeper" / "file.url", "x");
    EXPECT_TRUE(AwaitChanges(1));
    int seen = changes;
    WriteFile(watched / "new" / "deeper" / "second.url", "x");
    EXPECT_TRUE(AwaitChanges(seen + 1));
}

TEST_F(DirMonTest, TheWatchedFolderRemovedIsOneLastChange) {
    Watch({dmcFileName});
    fs::remove(watched);
    ASSERT_TRUE(AwaitChanges(1));
    // The worker has ended and waits for nothing: no spin.
    double before = ProcessorSeconds();
    RunIdle(300ms);
    EXPECT_LT(ProcessorSeconds() - before, 0.05);
    EXPECT_EQ(changes, 1);
    // The monitor stopped by itself, without OnStop.
    EXPECT_FALSE(mon->Running());
    EXPECT_EQ(mon->ExitCode(), ENOENT);
    events.clear();
    EXPECT_EQ(ErrorOf([&] { mon->Stop(); }), "DirMon not started");
    EXPECT_TRUE(events.empty());
    // The folder back again: it is watched again.
    fs::create_directory(watched);
    mon->Start();
    WriteFile(watched / "again", "x");
    EXPECT_TRUE(AwaitChanges(2));
}

// A worker that ends on its own gives back its descriptors (and with the inotify one, every
// watch) once the loop has learnt of it; nobody needs to Stop the monitor for that.
TEST_F(DirMonTest, AWorkerThatEndsOnItsOwnLetsGoOfItsDescriptors) {
    struct Case {
        const char* what;
        std::function<void()> end;  // null: the folder is not there at the start
        int exitCode;
    } cases[] = {
        {"folder removed", [&] { fs::remove_all(watched); }, ENOENT},
        {"folder renamed", [&] { fs::rename(watched, dir.Path() / "moved"); }, ENOENT},
        {"folder missing", nullptr, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir.Path() / "moved");
        fs::remove_all(watched);
        if (c.end)
            fs::create_directories(watched / "a" / "b");
        const int before = OpenDescriptors();
        mon->SetNested(true);
        mon->SetDirectory(watched.string());
        ASSERT_TRUE(mon->Running());
        if (c.end)
            c.end();
        ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !mon->Running(); }));
        EXPECT_EQ(OpenDescriptors(), before);
        EXPECT_EQ(mon->ExitCode(), c.exitCode);
        mon->SetDirectory("");
    }
}

TEST_F(DirMonTest, ABurstOfAThousandChangesGivesAFewCalls) {
    Watch({dmcFileName});
    for (int i = 0; i < 1000; ++i)
        WriteFile(watched / ("f" + std::to_string(i)), "");
    ASSERT_TRUE(AwaitChanges(1));
    RunIdle(300ms);  // room for the calls that a call per change would bring
    EXPECT_LE(changes, 5);
}

// A monitor that holds its worker at one folder of the walk until the test lets it go on.
class THeldMonitor : public TDirMon {
  public:
    int holdAt = 5;
    std::atomic<int> asked{0};
    std::atomic<bool> onCallingThread{false};
    std::promise<void> reached;
    std::shared_future<void> release;
    bool untilStop = false;  // hold until Stop rather than until release

    THeldMonitor() {
        SetWalkHook([this] {
            if (std::this_thread::get_id() == creator_)
                onCallingThread = true;
            if (++asked == holdAt) {
                reached.set_value();
                if (untilStop)
                    AwaitStopSignal();
                else
                    release.wait();
            }
        });
    }
    // The worker calls the hook, which uses this class: it must end before this part goes.
    ~THeldMonitor() override {
        OnStop = nullptr;
        if (Running())
            Stop();
    }

  private:
    std::thread::id creator_ = std::this_thread::get_id();
};

class DirMonWalkTest : public DirMonTest {
  protected:
    static constexpr int kFolders = 400;
    std::promise<void> releaser;
    std::unique_ptr<THeldMonitor> held = std::make_unique<THeldMonitor>();

    void SetUp() override {
        DirMonTest::SetUp();
        for (int i = 0; i < kFolders; ++i)
            fs::create_directories(watched / ("d" + std::to_string(i)) / "below");
        held->release = releaser.get_future().share();
        held->SetNested(true);
        held->OnDirChange = [this](sys::TObject*) { ++changes; };
    }
    void TearDown() override {
        try {
            releaser.set_value();
        } catch (const std::future_error&) {
        }
    }
    bool AwaitHold() {
        return held->reached.get_future().wait_for(10s) == std::future_status::ready;
    }
};

// Start leaves the whole walk to the worker: it returns while the worker is held at its first
// folder, and no folder is asked about on the calling thread.
TEST_F(DirMonWalkTest, StartReturnsBeforeTheWalk) {
    held->holdAt = 1;
    held->SetDirectory(watched.string());
    EXPECT_TRUE(held->Running());
    ASSERT_TRUE(AwaitHold());
    EXPECT_EQ(held->asked, 1);
    releaser.set_value();
    // Made while the worker is busy with the walk, in a folder it may not have reached.
    WriteFile(watched / ("d" + std::to_string(kFolders - 1)) / "below" / "new.url", "x");
    EXPECT_TRUE(AwaitChanges(1));
    EXPECT_FALSE(held->onCallingThread);
    EXPECT_GT(held->asked, kFolders);  // the walk went through the whole tree
    int seen = changes;
    WriteFile(watched / "d0" / "below" / "after.url", "x");
    EXPECT_TRUE(AwaitChanges(seen + 1));
}

// Stop in the middle of the walk ends it at the next folder, with the usual exit code, and a
// new Start walks the whole tree again.
TEST_F(DirMonWalkTest, StopDuringTheWalkEndsItAtTheNextFolder) {
    held->holdAt = 5;
    held->untilStop = true;
    held->SetDirectory(watched.string());
    ASSERT_TRUE(AwaitHold());
    held->Stop();
    EXPECT_EQ(held->asked, 5);
    EXPECT_EQ(held->ExitCode(), 0);
    EXPECT_EQ(changes, 0);
    held->holdAt = 0;
    held->Start();
    WriteFile(watched / "d7" / "below" / "again.url", "x");
    EXPECT_TRUE(AwaitChanges(1));
    held->Stop();
    EXPECT_GT(held->asked, kFolders);
}

TEST_F(DirMonTest, IdleCostsNothingAndStopIsPrompt) {
    fs::create_directories(watched / "a" / "b");
    WriteFile(watched / "f", "abc");
    Watch({dmcSize}, true);
    chmod((watched / "f").c_str(), 0600);  // of another kind: no call
    double before = ProcessorSeconds();
    RunIdle(500ms);
    EXPECT_LT(ProcessorSeconds() - before, 0.05);
    EXPECT_EQ(changes, 0);
    // The stop signal wakes the worker at once; a worker not woken would never end.
    auto start = std::chrono::steady_clock::now();
    mon->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(mon->ExitCode(), 0);
}

TEST_F(DirMonTest, AHandlerThatThrowsDoesNotEndTheLoop) {
    mon->OnDirChange = [this](sys::TObject*) {
        ++changes;
        throw std::runtime_error("handler failed");
    };
    Watch({dmcFileName});
    WriteFile(watched / "one", "");
    EXPECT_TRUE(AwaitChanges(1));
    WriteFile(watched / "two", "");
    EXPECT_TRUE(AwaitChanges(2));
}

TEST_F(DirMonTest, DestroyingARunningMonitorEndsItsWorkerWithoutOnStop) {
    Watch({dmcFileName});
    events.clear();
    mon.reset();
    EXPECT_TRUE(events.empty());
    WriteFile(watched / "after", "");
    RunIdle(100ms);
    EXPECT_EQ(changes, 0);
}

// Handlers that pump messages and then destroy the monitor, from every call that raises them.
TEST_F(DirMonTest, HandlersMayPumpAndDestroyTheMonitor) {
    fs::create_directory(dir.Path() / "other");
    auto& app = sys::Application::Instance();
    auto destroy = [&](sys::TObject*) {
        app.ProcessMessages();
        mon.reset();
    };
    struct Case {
        const char* what;
        std::function<void()> arm, act;
    } cases[] = {
        {"OnStart of a new folder", [&] { mon->OnStart = destroy; },
         [&] { mon->SetDirectory(watched.string()); }},
        {"OnStop of a change of folder",
         [&] {
             mon->SetDirectory(watched.string());
             mon->OnStop = destroy;
         },
         [&] { mon->SetDirectory((dir.Path() / "other").string()); }},
        {"OnStop of Stop",
         [&] {
             mon->SetDirectory(watched.string());
             mon->OnStop = destroy;
         },
         [&] { mon->Stop(); }},
        {"OnDirChange",
         [&] {
             mon->SetDirectory(watched.string());
             mon->OnDirChange = destroy;
         },
         [&] {
             WriteFile(watched / "x", "");
             EXPECT_TRUE(testsupport::RunLoopUntil([&] { return !mon; }));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mon = std::make_unique<TDirMon>();
        int starts = 0;
        mon->OnStart = [&](sys::TObject*) { ++starts; };
        c.arm();
        starts = 0;
        c.act();
        EXPECT_EQ(mon, nullptr);
        // A monitor destroyed by OnStop is not started again afterwards.
        if (std::string(c.what).find("OnStop") == 0) {
            EXPECT_EQ(starts, 0);
        }
    }
}

TEST_F(DirMonTest, RunningOutOfInotifyInstancesEndsTheWorkerWithThatCode) {
    std::string code = testsupport::RunAsNobody([&]() -> std::string {
        TDirMon child;
        // A first round while descriptors are plenty, so that the sanitizers have checked
        // the worker's types before the limit leaves them none for their own checks.
        child.SetDirectory("/");
        child.Stop();
        child.SetDirectory("");
        // One descriptor is left: the stop signal takes it, the notification finds none. The
        // limit goes again before anything else runs.
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        int lowestFree = dup(0);
        close(lowestFree);
        rlimit limit{static_cast<rlim_t>(lowestFree + 1), saved.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return "no limit";
        child.SetDirectory("/");
        bool running = child.Running();
        if (running)
            child.Stop();
        setrlimit(RLIMIT_NOFILE, &saved);
        return running ? std::to_string(child.ExitCode()) : "not running";
    });
    EXPECT_EQ(code, std::to_string(EMFILE));
}

}  // namespace
