// A soak: 100,000 times the dialog goes to the tray (OK), which starts the
// clock monitor, comes back (a double tap), and the monitor sees it and
// ends. Every monitor is a thread that starts and ends; what it held must
// go with it. The benchmark reports the process's resident memory (RSS)
// and address space (VmSize) after a warm-up and after the 100,000 cycles:
// both stay flat when nothing a thread held outlives it.
//
//   build/dev/bench/corvane_soak_bench
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <utility>

#include "resources/resource.h"
#include "simulator/corvane/corvane_image.h"
#include "tests/support/test_device.h"

namespace {

// A field of /proc/self/status, in kB.
double status_kb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stod(line.substr(field.size() + 1));
        }
    }
    return -1;
}

void hide_and_show(sim::Driver& device) {
    corvane_test::input(device, "ok");
    corvane_test::input(device, "doubletap");
    // The monitor's next pass sees the dialog and ends.
    device.wait(6000);
}

void HideShowSoak(benchmark::State& state) {
    const int cycles = static_cast<int>(state.range(0));
    double rss_before = 0;
    double vm_before = 0;
    double rss_after = 0;
    double vm_after = 0;
    std::size_t monitors = 0;
    int warmup = 0;
    for (auto _ : state) {
        sim::Driver device(sim::corvane_device_options());
        device.start();
        // Warm-up: the first cycles fill what is kept on purpose and bounded
        // (the icons loaded, the clock's history of the last 100,000
        // changes, which the web page plots), until a new clock event pushes
        // the oldest one out.
        auto history = [&] {
            return device.locked([](sim::Device& d) {
                return std::pair(d.clocks().history().size(), d.clocks().events_recorded());
            });
        };
        for (;;) {
            const auto before = history();
            hide_and_show(device);
            ++warmup;
            const auto after = history();
            if (after.second > before.second && after.first == before.first) {
                break;
            }
        }
        rss_before = status_kb("VmRSS");
        vm_before = status_kb("VmSize");
        for (int i = 0; i < cycles; ++i) {
            hide_and_show(device);
        }
        rss_after = status_kb("VmRSS");
        vm_after = status_kb("VmSize");
        monitors = device.program_threads();
    }
    state.counters["cycles"] = cycles;
    state.counters["warmup_cycles"] = warmup;
    state.counters["rss_before_kB"] = rss_before;
    state.counters["rss_after_kB"] = rss_after;
    state.counters["vmsize_before_kB"] = vm_before;
    state.counters["vmsize_after_kB"] = vm_after;
    state.counters["monitors_left"] = static_cast<double>(monitors);
}
BENCHMARK(HideShowSoak)->Arg(100000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
