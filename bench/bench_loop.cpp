// The message loop: CPU time of an idle one-second wait on both hosts (should be close to
// zero), and the cost of posting and dispatching a million messages.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <ctime>
#include <memory>

#include "app/QtHost.h"
#include "sys/Application.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

namespace {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Waits one second in HandleMessage until a timer message arrives; reports the CPU used.
void IdleWait(benchmark::State& state, bool qtHost) {
    auto& app = sys::Application::Instance();
    if (qtHost)
        app.SetHost(std::make_shared<QtHost>());
    for (auto _ : state) {
        bool fired = false;
        sys::HWND h = sys::AllocateHWnd([&](sys::TMessage&) { fired = true; });
        sys::SetTimer(h, 1, 1000);
        double cpu0 = CpuSeconds();
        while (!fired)
            app.HandleMessage();
        state.counters["cpu_ms_per_idle_second"] = (CpuSeconds() - cpu0) * 1000;
        sys::DeallocateHWnd(h);
    }
    app.SetHost(nullptr);
}

void BM_IdleWaitEpollHost(benchmark::State& state) {
    IdleWait(state, false);
}
void BM_IdleWaitQtHost(benchmark::State& state) {
    IdleWait(state, true);
}

void BM_PostDispatchMillion(benchmark::State& state) {
    long count = 0;
    sys::HWND h = sys::AllocateHWnd([&](sys::TMessage&) { ++count; });
    auto& app = sys::Application::Instance();
    for (auto _ : state) {
        for (int i = 0; i < 1000000; ++i)
            sys::PostMessage(h, sys::WM_USER, i, 0);
        app.ProcessMessages();
    }
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(state.iterations() * 1000000);
    sys::DeallocateHWnd(h);
}

void BM_PostDispatchAlternating(benchmark::State& state) {
    long count = 0;
    sys::HWND h = sys::AllocateHWnd([&](sys::TMessage&) { ++count; });
    auto& app = sys::Application::Instance();
    for (auto _ : state) {
        for (int i = 0; i < 1000000; ++i) {
            sys::PostMessage(h, sys::WM_USER, i, 0);
            app.ProcessMessage();
        }
    }
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(state.iterations() * 1000000);
    sys::DeallocateHWnd(h);
}

}  // namespace

BENCHMARK(BM_IdleWaitEpollHost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdleWaitQtHost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PostDispatchMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostDispatchAlternating)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
