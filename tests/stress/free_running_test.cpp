// Corvane with its threads running truly in parallel (the free-running
// scheduler): thousands of taps against a monitor that passes every few
// hundred microseconds, with resumes and other programs' writes thrown in.
// Built with ThreadSanitizer (the tsan preset) this is the race check; in
// every build it checks that the program still ends in a consistent state.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "clock/speed_table.h"
#include "resources/resource.h"
#include "simulator/corvane_image.h"

namespace {

TEST(FreeRunning, ThousandsOfTapsAgainstARunningMonitor) {
    sim::Kernel::Options kernel;
    kernel.scheduling = sim::Scheduling::FreeRunning;
    kernel.free_running_speed = 20000;  // a 6 s monitor period is 0.3 ms of wall time
    sim::Device device(sim::corvane_device_options(kernel));
    device.start();
    device.click_control(IDC_ALLOW_100);
    device.click_control(IDC_SHOW_NOTIFICATION);

    device.press_ok();
    constexpr int kTaps = 3000;
    for (int i = 1; i <= kTaps; ++i) {
        device.tap_tray();
        if (i % 97 == 0) {
            device.power_cycle();
        }
        if (i % 101 == 0) {
            device.foreign_cccr(0x141);
        }
        if (i % 500 == 0) {
            // Back to the dialog and straight into the tray again, while the
            // monitor is still running.
            device.double_tap_tray();
            device.press_ok();
        }
    }
    // Back in the tray, let the monitor settle the clock, then quit.
    device.press_ok();
    device.wait(2 * 6000);
    device.double_tap_tray();
    device.click_control(IDCANCEL);
    while (device.program_state() == sim::ProgramState::Running) {
        device.wait(100);
    }

    EXPECT_EQ(device.exit_code(), 0);
    EXPECT_EQ(device.program_threads(), 0u);
    // Every thread has ended; the state record is quiet now.
    EXPECT_EQ(AppState.targetClockConfig, CLOCK_CCCR_400);
    EXPECT_GE(AppState.pendingNotifications, 0);
    device.inspect([](sim::Device& d) {
        EXPECT_EQ(d.clocks().cccr(), 0x241u);
        EXPECT_EQ(d.clocks().cclkcfg(), 3u);
        EXPECT_TRUE(d.shell().tray.empty());
        EXPECT_EQ(d.memory().outstanding(), 0u);
        // Each tap stored a word and triggered a change: at least two events.
        EXPECT_GT(d.clocks().events_recorded(), static_cast<std::uint64_t>(2 * kTaps));
    });
}

}  // namespace
