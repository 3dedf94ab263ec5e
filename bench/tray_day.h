// The simulated day both tray-day benchmarks time: Corvane in the tray with
// bubbles on and a tap every minute, the monitor passing every six seconds,
// all in virtual time.
#ifndef CORVANE_BENCH_TRAY_DAY_H
#define CORVANE_BENCH_TRAY_DAY_H

#include "tests/support/test_device.h"

namespace corvane_bench {

constexpr int kMinutesPerDay = 24 * 60;

// Runs `days` days of a tap a minute on a device whose program is in the
// tray with bubbles on.
inline void tray_days(sim::Driver& device, int days) {
    device.start();
    corvane_test::input(device, "notify");
    corvane_test::input(device, "ok");
    for (int minute = 0; minute < days * kMinutesPerDay; ++minute) {
        device.wait(60000);
        corvane_test::input(device, "tap");
    }
}

}  // namespace corvane_bench

#endif
