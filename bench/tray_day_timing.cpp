// The tray day timed with nothing but the clock: the same simulated day as
// corvane_tray_day_bench's TrayDay, run RUNS times (3 by default), printed
// as JSON with each run's wall-clock time in milliseconds. It needs no
// benchmark library, so the ARM lane builds it as it is and bench-arm
// compares one program under emulation with the same program native.
//
//   corvane_tray_day_timing [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/tray_day.h"
#include "simulator/corvane/corvane_image.h"

int main(int argc, char** argv) {
    int runs = 3;
    if (argc > 2 || (argc == 2 && (runs = std::atoi(argv[1])) < 1)) {
        std::fprintf(stderr, "usage: %s [RUNS]   (RUNS a whole number, at least 1)\n", argv[0]);
        return 2;
    }
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        sim::Driver device(sim::corvane_device_options());
        corvane_bench::tray_days(device, 1);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        ms.push_back(took.count());
    }
    std::printf("{\"name\": \"tray_day\", \"unit\": \"ms\", \"runs\": [");
    for (std::size_t i = 0; i < ms.size(); ++i) {
        std::printf("%s%.3f", i == 0 ? "" : ", ", ms[i]);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("], \"min\": %.3f, \"median\": %.3f}\n", ms.front(), ms[ms.size() / 2]);
    return 0;
}
