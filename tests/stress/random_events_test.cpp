// Random event sequences against the program's invariants, one seed per
// sequence. The seed drives both the events and the scheduler's
// interleaving, so a failing seed replays exactly:
//
//   CORVANE_RANDOM_SEED=<seed> build/dev/tests/corvane_random_tests
//
// CORVANE_RANDOM_SEEDS sets how many seeds run (default 15000; 4000 under a sanitizer).
// CORVANE_EXE runs the seeds on that exe instead of the program built in
// (the ARM lane).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "app/app_state.h"
#include "clock/speed_table.h"
#include "resources/resource.h"
#include "tests/support/test_device.h"

namespace {

// A seed costs several times as much under a sanitizer: those runs take
// fewer, so that they last about as long as before.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_SANITIZED 1
#endif
#ifdef CORVANE_SANITIZED
constexpr std::uint64_t kDefaultSeeds = 4000;
#else
constexpr std::uint64_t kDefaultSeeds = 15000;
#endif

struct World {
    bool dialog_visible = false;
    LONG mode = 0;
    DWORD target = 0;
    LONG pending = 0;
    std::uint64_t bubbles_accepted = 0;
    std::uint64_t bubble_remove_calls = 0;
    std::size_t tray_icons = 0;
    int tray_icon_resource = 0;
    std::size_t monitors = 0;
    std::size_t reservations = 0;
    int failing_mappings = 0;
    int failing_reservations = 0;
    std::uint32_t cccr = 0;
    double mhz = 0;
    sim::Device::Reclaimed reclaimed;  // what the end of the process freed
};

World observe(sim::Driver& device) {
    const std::size_t monitors = device.program_threads();
    return device.locked([&](sim::Device& d) {
        World w;
        for (sim::Window* win : d.windows().top_level()) {
            w.dialog_visible = w.dialog_visible || win->visible;
        }
        // The state record as a debugger reads it: the built-in program's,
        // or a loaded exe's.
        const sim::json app = d.program().inspect();
        w.mode = app["speedMode"].get<LONG>();
        w.target = app["targetClockConfig"].get<DWORD>();
        w.pending = app["pendingNotifications"].get<LONG>();
        w.bubbles_accepted = d.shell().bubbles_accepted;
        w.bubble_remove_calls = d.shell().bubble_remove_calls;
        w.tray_icons = d.shell().tray.size();
        if (!d.shell().tray.empty()) {
            const sim::LoadedIcon* icon = d.icons().find(d.shell().tray[0].icon);
            w.tray_icon_resource = icon != nullptr ? icon->resource : -1;
        }
        w.monitors = monitors;
        w.reservations = d.memory().outstanding();
        w.failing_mappings = d.memory().failing_mappings();
        w.failing_reservations = d.memory().failing_reservations();
        w.cccr = d.clocks().cccr();
        w.mhz = d.clocks().core_mhz();
        w.reclaimed = d.reclaimed_at_end();
        return w;
    });
}

double setting_mhz(LONG mode) {
    return CoreClockKhz(SPEED_SETTINGS[mode].cccrWord) / 1000.0;
}

// Checks the invariants that hold whenever the device is idle; returns the
// first one broken, or "".
std::string broken_invariant(const World& w, sim::ProgramState state) {
    std::ostringstream why;
    const bool running = state == sim::ProgramState::Running;
    const bool in_tray = running && !w.dialog_visible;
    if ((w.tray_icons == 1) != in_tray || w.tray_icons > 1) {
        why << "tray icons: " << w.tray_icons << " while " << (running ? "running" : "ended")
            << " with the dialog " << (w.dialog_visible ? "visible" : "hidden");
    } else if (in_tray &&
               (!IsSpeedMode(w.mode) ||
                w.tray_icon_resource != static_cast<int>(SPEED_SETTINGS[w.mode].trayIconId))) {
        why << "tray icon " << w.tray_icon_resource << " does not show mode " << w.mode;
    } else if (in_tray && w.target != SPEED_SETTINGS[w.mode].cccrWord) {
        why << "target " << std::hex << w.target << " is not the word of mode " << std::dec
            << w.mode;
    } else if (w.monitors > 1) {
        why << w.monitors << " monitors";
    } else if (in_tray && w.monitors != 1) {
        why << "no monitor while in the tray";
    } else if (w.pending < 0) {
        why << "pending count " << w.pending;
    } else if (running && static_cast<std::uint64_t>(w.pending) !=
                              w.bubbles_accepted - w.bubble_remove_calls) {
        why << "pending count " << w.pending << " but " << w.bubbles_accepted << " posted and "
            << w.bubble_remove_calls << " removed";
    } else if (w.reservations != 0) {
        why << w.reservations << " reservations outstanding";
    }
    return why.str();
}

// What must hold once the program has ended, by the input that ended it:
// no monitor is left, nothing leaked was left for the process's end to
// free, and Quit leaves the processor at 400 MHz in turbo mode
// (when the clock could be mapped), whatever a monitor was doing meanwhile.
std::string broken_after_end(const World& w, const std::string& input, const World& before) {
    std::ostringstream why;
    if (w.monitors != 0) {
        why << w.monitors << " monitors after the program ended";
    } else if (w.reclaimed.handles != 0 || w.reclaimed.icons > 1) {
        // The program closes every handle and keeps only the bubble's icon;
        // a reservation may be left by a monitor ended mid-access.
        why << "the end of the process freed " << w.reclaimed.handles << " handles and "
            << w.reclaimed.icons << " icons";
    } else if (input == "quit" && before.failing_mappings == 0 &&
               before.failing_reservations == 0 &&
               (w.cccr != SPEED_SETTINGS[SPEED_MODE_400].cccrWord ||
                std::fabs(w.mhz - setting_mhz(SPEED_MODE_400)) > 0.01)) {
        why << "after Quit the clock is " << std::hex << w.cccr << std::dec << " at " << w.mhz
            << " MHz";
    }
    return why.str();
}

struct Outcome {
    std::string failure;  // empty when every invariant held
    std::string log;      // the events, for replay
};

// The device for one seed: the program built in, or the exe that
// CORVANE_EXE names (the ARM lane), opened once.
sim::DeviceOptions device_options(sim::Kernel::Options kernel) {
    static const std::optional<sim::DeviceOptions> exe = []() -> std::optional<sim::DeviceOptions> {
        const char* path = std::getenv("CORVANE_EXE");
        if (path == nullptr) {
            return std::nullopt;
        }
        auto opened = sim::open_corvane({path, std::nullopt});
        if (!opened.ok()) {
            sim::fatal(opened.error().message);
        }
        return std::move(opened.value());
    }();
    if (!exe) {
        return sim::corvane_device_options(kernel);
    }
    sim::DeviceOptions options = *exe;
    options.kernel = kernel;
    return options;
}

Outcome run_seed(std::uint64_t seed) {
    sim::Kernel::Options kernel;
    kernel.seed = seed;
    sim::Driver device(device_options(kernel));
    std::mt19937_64 rng(seed ^ 0x9E3779B97F4A7C15ULL);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
    Outcome out;
    std::ostringstream log;
    device.start();

    for (int step = 0; step < 40; ++step) {
        const World before = observe(device);
        // Now and then the input comes exactly when the monitor wakes, so that
        // the two run interleaved under the seeded scheduler.
        if (pick(4) == 0) {
            if (auto due = device.next_deadline()) {
                device.advance_to(*due, false);
                log << "@" << *due << " ";
            }
        }
        bool full_period_check = false;
        const bool mapping_works = before.failing_mappings == 0 && before.failing_reservations == 0;
        const int action = pick(100);
        // The input, by share of the steps, as a scenario line.
        auto choose = [&]() -> std::string {
            static const std::pair<int, const char*> kPlain[] = {
                {24, "tap"}, {30, "doubletap"}, {38, "ok"}, {43, "allow100"}, {48, "notify"}};
            for (const auto& [below, name] : kPlain) {
                if (action < below) {
                    return name;
                }
            }
            if (action < 72) {
                const int ms = pick(4) == 0 ? 6000 + pick(7000) : pick(6500);
                full_period_check = ms >= 6000 && mapping_works;
                return "wait " + std::to_string(ms) + "ms";
            }
            if (action < 84 && action >= 78) {
                static const std::uint32_t kWords[] = {0x141, 0x121, 0x241, 0x2C1, 0x1A1, 0x3C1, 0};
                const std::uint32_t word =
                    pick(5) == 0 ? static_cast<std::uint32_t>(rng()) : kWords[pick(7)];
                return "foreign " + std::to_string(word);
            }
            if (action >= 90 && action < 95) {
                return "map-fail " + std::to_string(1 + pick(4));
            }
            static const std::pair<int, const char*> kRest[] = {{78, "resume"},
                                                                {90, "turbo-off"},
                                                                {96, "reserve-fail 1"},
                                                                {97, "close"},
                                                                {99, "quit"}};
            for (const auto& [below, name] : kRest) {
                if (action < below) {
                    return name;
                }
            }
            full_period_check = mapping_works;
            return "wait 60s";
        };
        // While a monitor is still running beside the dialog (after a double
        // tap), Quit comes often, so that it races the monitor's last passes;
        // a power cycle just before the double tap makes that pass reprogram
        // the clock.
        std::string line;
        if (before.dialog_visible && before.monitors > 0 && pick(10) < 3) {
            line = "quit";
        } else if (!before.dialog_visible && before.monitors > 0 && pick(20) == 0) {
            log << "resume; ";
            corvane_test::input(device, "resume");
            line = "doubletap";
        } else {
            line = choose();
        }
        if (line == "quit" && pick(2) == 0) {
            // Quit exactly when a monitor wakes: the two race for the clock.
            if (auto due = device.next_deadline()) {
                device.advance_to(*due, false);
                log << "@" << *due << " ";
            }
        }
        log << line << "; ";
        corvane_test::input(device, line);

        const World after = observe(device);
        const sim::ProgramState state = device.program_state();
        std::string why = broken_invariant(after, state);
        const bool in_tray = state == sim::ProgramState::Running && !after.dialog_visible;
        if (why.empty() && full_period_check && in_tray && !before.dialog_visible) {
            // A whole period in the tray with mapping working: the clock runs
            // the requested setting.
            if (after.cccr != SPEED_SETTINGS[after.mode].cccrWord ||
                std::fabs(after.mhz - setting_mhz(after.mode)) > 0.01) {
                std::ostringstream s;
                s << "after a full period the clock is " << std::hex << after.cccr << std::dec
                  << " at " << after.mhz << " MHz, mode " << after.mode;
                why = s.str();
            }
        }
        if (why.empty() && state != sim::ProgramState::Running) {
            why = broken_after_end(after, line, before);
        }
        if (!why.empty()) {
            out.failure = "step " + std::to_string(step) + ": " + why;
            break;
        }
        if (state != sim::ProgramState::Running) {
            break;
        }
    }
    out.log = log.str();
    return out;
}

TEST(RandomEvents, InvariantsHoldForEverySeed) {
    std::uint64_t first = 1;
    std::uint64_t count = kDefaultSeeds;
    if (const char* one = std::getenv("CORVANE_RANDOM_SEED")) {
        first = std::strtoull(one, nullptr, 10);
        count = 1;
    } else if (const char* n = std::getenv("CORVANE_RANDOM_SEEDS")) {
        count = std::strtoull(n, nullptr, 10);
    }
    // Every seed runs, so that the count says how easily a fault shows; the
    // first few failures are printed whole.
    constexpr int kShown = 3;
    std::uint64_t failed = 0;
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        const Outcome outcome = run_seed(seed);
        if (!outcome.failure.empty() && ++failed <= kShown) {
            ADD_FAILURE() << "seed " << seed << " failed at " << outcome.failure
                          << "\n  events: " << outcome.log
                          << "\n  replay: CORVANE_RANDOM_SEED=" << seed
                          << " build/dev/tests/corvane_random_tests";
        }
    }
    EXPECT_EQ(failed, 0u) << failed << " of " << count << " seeds failed";
}

}  // namespace
