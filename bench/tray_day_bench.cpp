// 24 hours of device time with Corvane in the tray: a tap every minute,
// bubbles on, the monitor passing every six seconds, all in virtual time.
// A benchmark, not a test: it reports how long a simulated day takes.
//
//   build/dev/bench/corvane_tray_day_bench
#include <benchmark/benchmark.h>

#include "resources/resource.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

void TrayDay(benchmark::State& state) {
    std::uint64_t passes = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        device.start();
        input(device, "notify");
        input(device, "ok");
        for (int minute = 0; minute < 24 * 60; ++minute) {
            device.wait(60000);
            input(device, "tap");
        }
        passes = device.locked([](sim::Device& d) { return d.clocks().events_recorded(); });
        benchmark::DoNotOptimize(passes);
    }
    state.counters["clock_events"] = static_cast<double>(passes);
}
BENCHMARK(TrayDay)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
