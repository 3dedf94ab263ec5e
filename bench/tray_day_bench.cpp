// Corvane in the tray with a tap every minute, bubbles on, the monitor
// passing every six seconds, all in virtual time. Benchmarks, not tests:
// they report how long a simulated day and a simulated year take. The year
// also reports what the program holds at its end (open handles and mappings
// 0; live icons 1, the bubble's icon it keeps for its life) and what it
// left for the end of the process to free after Quit (all 0 when nothing
// leaks but that icon: left_icons 1).
//
//   build/dev/bench/corvane_tray_day_bench
#include <benchmark/benchmark.h>

#include "bench/tray_day.h"
#include "resources/resource.h"
#include "simulator/hardware/pxa25x_clocks.h"
#include "simulator/wince/memory.h"
#include "tests/support/test_device.h"

namespace {

using corvane_bench::tray_days;
using corvane_test::input;

void TrayDay(benchmark::State& state) {
    std::uint64_t passes = 0;
    std::uint64_t mappings = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        tray_days(device, 1);
        passes = device.locked([](sim::Device& d) { return d.clocks().events_recorded(); });
        mappings = device.locked([](sim::Device& d) { return d.memory().reservations_made(); });
        benchmark::DoNotOptimize(passes);
    }
    state.counters["clock_events"] = static_cast<double>(passes);
    // Each register access reserves, maps and releases a range.
    state.counters["register_accesses"] = static_cast<double>(mappings);
}
// CPU time is the whole process's, whatever threads the program runs on.
BENCHMARK(TrayDay)->Unit(benchmark::kMillisecond)->MinTime(3.0)->MeasureProcessCPUTime();

// The floor under the day: one register access's work in the memory model
// (reserve a range, map the register into it, find the register through it,
// release the range), without the platform calls around it. The day costs
// at least register_accesses times this.
void RegisterMapAndRelease(benchmark::State& state) {
    sim::Pxa25xClocks clocks;
    sim::VirtualMemory memory;
    memory.add_physical_page(
        sim::PhysicalPage{sim::kClocksManagerBase, sim::Pxa25xClocks::kPageSize, clocks.page()});
    for (auto _ : state) {
        void* range = memory.reserve(4).value();
        if (!memory.map_physical(range, sim::kClocksManagerBase, 4, 0x02).ok()) {
            state.SkipWithError("mapping failed");
            break;
        }
        benchmark::DoNotOptimize(*memory.register_at(range, false).value().word);
        memory.release(range);
    }
}
BENCHMARK(RegisterMapAndRelease)->MeasureProcessCPUTime();

void TrayYear(benchmark::State& state) {
    std::size_t handles = 0;
    std::size_t mappings = 0;
    std::size_t icons = 0;
    sim::Device::Reclaimed reclaimed;
    std::size_t tray_icons = 0;
    std::uint64_t clock_events = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        tray_days(device, 365);
        // What the program holds after a year in the tray, between two
        // passes of its monitor: only the bubble's icon, which it keeps.
        device.locked([&](sim::Device& d) {
            handles = d.handles().size();
            mappings = d.memory().outstanding();
            icons = d.icons().owned();
        });
        // Back to the dialog and Quit: the program must give everything back
        // itself; what the end of the process had to free is counted.
        input(device, "doubletap");
        input(device, "quit");
        while (device.program_state() == sim::ProgramState::Running) {
            device.wait(1000);
        }
        device.locked([&](sim::Device& d) {
            reclaimed = d.reclaimed_at_end();
            tray_icons = d.shell().tray.size();
            clock_events = d.clocks().events_recorded();
        });
    }
    state.counters["open_handles"] = static_cast<double>(handles);
    state.counters["open_mappings"] = static_cast<double>(mappings);
    state.counters["live_icons"] = static_cast<double>(icons);
    state.counters["left_handles"] = static_cast<double>(reclaimed.handles);
    state.counters["left_mappings"] = static_cast<double>(reclaimed.reservations);
    state.counters["left_icons"] = static_cast<double>(reclaimed.icons);
    state.counters["left_tray_icons"] = static_cast<double>(tray_icons);
    state.counters["clock_events"] = static_cast<double>(clock_events);
}
BENCHMARK(TrayYear)->Unit(benchmark::kSecond)->Iterations(1)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
