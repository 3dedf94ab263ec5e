// Corvane with its threads running truly in parallel (the free-running
// scheduler): thousands of taps against a monitor that passes every few
// hundred microseconds, with resumes and other programs' writes thrown in.
// Built with ThreadSanitizer (the tsan preset) this is the race check; in
// every build it checks that the program still ends in a consistent state.
#include <gtest/gtest.h>

#include <chrono>

#include "app/app_state.h"
#include "clock/speed_table.h"
#include "resources/resource.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

TEST(FreeRunning, ThousandsOfTapsAgainstARunningMonitor) {
    sim::Kernel::Options kernel;
    kernel.scheduling = sim::Scheduling::FreeRunning;
    kernel.free_running_speed = 20000;  // a 6 s monitor period is 0.3 ms of wall time
    sim::Driver device(sim::corvane_device_options(kernel));
    device.start();
    input(device, "allow100");
    input(device, "notify");

    input(device, "ok");
    constexpr int kTaps = 3000;
    for (int i = 1; i <= kTaps; ++i) {
        input(device, "tap");
        if (i % 97 == 0) {
            input(device, "resume");
        }
        if (i % 101 == 0) {
            input(device, "foreign 0x141");
        }
        if (i % 500 == 0) {
            // Back to the dialog and straight into the tray again, while the
            // monitor is still running.
            input(device, "doubletap");
            input(device, "ok");
        }
    }
    // Back in the tray, let the monitor settle the clock, then quit.
    input(device, "ok");
    device.wait(2 * 6000);
    input(device, "doubletap");
    input(device, "quit");
    // Quit ends the program at once; a program that does not end fails here
    // rather than holding the run until the test's timeout.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (device.program_state() == sim::ProgramState::Running &&
           std::chrono::steady_clock::now() < give_up) {
        device.wait(100);
    }
    ASSERT_NE(device.program_state(), sim::ProgramState::Running)
        << "the program still runs 30 s after Quit";

    EXPECT_EQ(device.exit_code(), 0);
    EXPECT_EQ(device.program_threads(), 0u);
    // Every thread has ended; the state record is quiet now.
    EXPECT_EQ(AppState.targetClockConfig, CLOCK_CCCR_400);
    EXPECT_GE(AppState.pendingNotifications, 0);
    device.locked([](sim::Device& d) {
        EXPECT_EQ(d.clocks().cccr(), 0x241u);
        EXPECT_EQ(d.clocks().cclkcfg(), 3u);
        EXPECT_TRUE(d.shell().tray.empty());
        EXPECT_EQ(d.memory().outstanding(), 0u);
        // Each tap stored a word and triggered a change: at least two events.
        EXPECT_GT(d.clocks().events_recorded(), static_cast<std::uint64_t>(2 * kTaps));
    });
}

}  // namespace
