// Corvane in the tray with a tap every minute, bubbles on, the monitor
// passing every six seconds, all in virtual time. Benchmarks, not tests:
// they report how long a simulated day and a simulated year take; the year
// also reports what is left over once the program has quit (all 0 when
// nothing leaks).
//
//   build/dev/bench/corvane_tray_day_bench
#include <benchmark/benchmark.h>

#include "resources/resource.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

constexpr int kMinutesPerDay = 24 * 60;

// Runs `days` days of a tap a minute on a device whose program is in the
// tray with bubbles on.
void tray_days(sim::Driver& device, int days) {
    device.start();
    input(device, "notify");
    input(device, "ok");
    for (int minute = 0; minute < days * kMinutesPerDay; ++minute) {
        device.wait(60000);
        input(device, "tap");
    }
}

void TrayDay(benchmark::State& state) {
    std::uint64_t passes = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        tray_days(device, 1);
        passes = device.locked([](sim::Device& d) { return d.clocks().events_recorded(); });
        benchmark::DoNotOptimize(passes);
    }
    state.counters["clock_events"] = static_cast<double>(passes);
}
// CPU time is the whole process's, whatever threads the program runs on.
BENCHMARK(TrayDay)->Unit(benchmark::kMillisecond)->MinTime(3.0)->MeasureProcessCPUTime();

void TrayYear(benchmark::State& state) {
    std::size_t handles = 0;
    std::size_t mappings = 0;
    std::size_t icons = 0;
    std::uint64_t clock_events = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        tray_days(device, 365);
        // Back to the dialog and Quit: what the program held must be gone.
        input(device, "doubletap");
        input(device, "quit");
        while (device.program_state() == sim::ProgramState::Running) {
            device.wait(1000);
        }
        device.locked([&](sim::Device& d) {
            handles = d.handles().size();
            mappings = d.memory().outstanding();
            icons = d.shell().tray.size();
            clock_events = d.clocks().events_recorded();
        });
    }
    state.counters["leaked_handles"] = static_cast<double>(handles);
    state.counters["leaked_mappings"] = static_cast<double>(mappings);
    state.counters["leaked_tray_icons"] = static_cast<double>(icons);
    state.counters["clock_events"] = static_cast<double>(clock_events);
}
BENCHMARK(TrayYear)->Unit(benchmark::kSecond)->Iterations(1)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
