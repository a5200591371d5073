// The directory change monitor: the time from a file made in a watched folder to OnDirChange
// on the main thread, over a thousand changes one after the other (median and worst, for a
// folder alone and for a file deep in a nested tree); the calls a burst of a thousand files
// brings; the processor time of a running monitor while nothing changes (close to zero); and,
// on a tree of ten thousand folders, the time Start takes on the calling thread and the time
// a Stop right after it takes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "shell/DirMon.h"
#include "sys/Application.h"
#include "sys/Poller.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChanges = 1000;

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A folder below the temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

// A numbered name, put together without operator+ (which GCC 12 warns about wrongly here).
std::string Numbered(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

void MakeFile(const fs::path& file) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        close(fd);
}

// Runs the loop until the condition holds or ten seconds have gone by; false then.
bool RunUntil(const std::function<bool()>& done, unsigned boundMs = 10000) {
    bool timedOut = false;
    sys::HWND guard = sys::AllocateHWnd([&](sys::TMessage&) { timedOut = true; });
    sys::SetTimer(guard, 1, boundMs);
    auto& app = sys::Application::Instance();
    while (!done() && !timedOut)
        app.HandleMessage();
    sys::DeallocateHWnd(guard);
    return done();
}

// Makes kChanges files one after the other in `where`, each once the call for the one before
// has come, and reports the median and the worst time from a file made to its call.
void CreateToCall(benchmark::State& state, bool nested) {
    for (auto _ : state) {
        ScratchFolder scratch;
        fs::path where = scratch.Path();
        if (nested) {
            for (int level = 0; level < 8; ++level)
                where /= Numbered("level", level);
            fs::create_directories(where);
        }
        TDirMon mon;
        int calls = 0;
        Clock::time_point made;
        std::vector<double> latencies;
        mon.OnDirChange = [&](sys::TObject*) {
            ++calls;
            latencies.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - made).count());
        };
        mon.SetNested(nested);
        mon.SetDirectory(scratch.Path().string());
        for (int i = 0; i < kChanges; ++i) {
            int before = calls;
            made = Clock::now();
            MakeFile(where / Numbered("f", i));
            if (!RunUntil([&] { return calls > before; })) {
                state.SkipWithError("a change was not reported");
                return;
            }
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_us"] = latencies[latencies.size() / 2];
        state.counters["worst_us"] = latencies.back();
    }
}

void BM_CreateToCallFolder(benchmark::State& state) {
    CreateToCall(state, false);
}
void BM_CreateToCallNested(benchmark::State& state) {
    CreateToCall(state, true);
}

// A thousand files made at once, the loop run only afterwards: the calls they bring.
void BM_BurstCalls(benchmark::State& state) {
    for (auto _ : state) {
        ScratchFolder scratch;
        TDirMon mon;
        int calls = 0;
        mon.OnDirChange = [&](sys::TObject*) { ++calls; };
        mon.SetDirectory(scratch.Path().string());
        for (int i = 0; i < kChanges; ++i)
            MakeFile(scratch.Path() / Numbered("f", i));
        RunUntil([&] { return calls > 0; });
        RunUntil([] { return false; }, 500);  // room for late calls
        state.counters["calls"] = calls;
    }
}

// A nested monitor over a tree of a few hundred folders, idle for three seconds.
void BM_IdleMonitor(benchmark::State& state) {
    for (auto _ : state) {
        ScratchFolder scratch;
        for (int a = 0; a < 20; ++a)
            for (int b = 0; b < 20; ++b)
                fs::create_directories(scratch.Path() / std::to_string(a) / std::to_string(b));
        TDirMon mon;
        mon.SetNested(true);
        mon.SetNotifyFilter(
            {dmcFileName, dmcDirName, dmcAttributes, dmcSize, dmcLastWrite, dmcSecurity});
        mon.SetDirectory(scratch.Path().string());
        RunUntil([] { return false; }, 500);  // the worker opens the watches meanwhile
        double cpu0 = CpuSeconds();
        RunUntil([] { return false; }, 3000);
        state.counters["cpu_ms_in_3s"] = (CpuSeconds() - cpu0) * 1000;
        auto stop0 = Clock::now();
        mon.Stop();
        state.counters["stop_ms"] =
            std::chrono::duration<double, std::milli>(Clock::now() - stop0).count();
    }
}

// Start on a nested tree of 100 x 100 folders: the time on the calling thread, and the time
// of a Stop that follows at once, while the watches are still being opened.
void BM_StartLargeTree(benchmark::State& state) {
    ScratchFolder scratch;
    for (int a = 0; a < 100; ++a)
        for (int b = 0; b < 100; ++b)
            fs::create_directories(scratch.Path() / Numbered("a", a) / Numbered("b", b));
    for (auto _ : state) {
        TDirMon mon;
        mon.SetNested(true);
        mon.SetNotifyFilter({dmcFileName, dmcDirName});
        auto start0 = Clock::now();
        mon.SetDirectory(scratch.Path().string());
        auto stop0 = Clock::now();
        mon.Stop();
        auto stopped = Clock::now();
        state.counters["start_ms"] =
            std::chrono::duration<double, std::milli>(stop0 - start0).count();
        state.counters["stop_ms"] =
            std::chrono::duration<double, std::milli>(stopped - stop0).count();
    }
}

}  // namespace

BENCHMARK(BM_StartLargeTree)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CreateToCallFolder)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CreateToCallNested)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BurstCalls)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdleMonitor)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
