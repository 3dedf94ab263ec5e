// Random event sequences against the program's invariants, one seed per
// sequence. The seed drives both the events and the scheduler's
// interleaving, so a failing seed replays exactly:
//
//   CORVANE_RANDOM_SEED=<seed> build/dev/tests/corvane_random_tests
//
// CORVANE_RANDOM_SEEDS sets how many seeds run (default 15000; 4000 under a sanitizer).
// The interleaving is PCT's (pct_chooser.h: random thread priorities and
// CORVANE_PCT_DEPTH - 1 priority change points, default 3 - 1, among the
// first CORVANE_PCT_STEPS choices, default 20: a run makes about 14), or with
// CORVANE_RANDOM_SCHEDULER=seeded the seeded scheduler's (a thread gives
// way one time in four).
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
#include "simulator/corvane/corvane_invariants.h"
#include "simulator/kernel/pct_chooser.h"
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

std::uint64_t env_number(const char* name, std::uint64_t otherwise) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::strtoull(v, nullptr, 10) : otherwise;
}

bool seeded_scheduler() {
    const char* v = std::getenv("CORVANE_RANDOM_SCHEDULER");
    return v != nullptr && std::string(v) == "seeded";
}

Outcome run_seed(std::uint64_t seed) {
    sim::Kernel::Options kernel;
    std::optional<sim::PctChooser> pct;
    if (seeded_scheduler()) {
        kernel.seed = seed;
    } else {
        pct.emplace(seed, static_cast<int>(env_number("CORVANE_PCT_DEPTH", 3)),
                    env_number("CORVANE_PCT_STEPS", 20));
        kernel.chooser = &*pct;
    }
    sim::Driver device(device_options(kernel));
    std::mt19937_64 rng(seed ^ 0x9E3779B97F4A7C15ULL);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
    Outcome out;
    std::ostringstream log;
    device.start();

    for (int step = 0; step < 40; ++step) {
        const sim::Snapshot before = device.snapshot();
        // Now and then the input comes exactly when the monitor wakes, so that
        // the two run interleaved under the seeded scheduler.
        if (pick(4) == 0) {
            if (auto due = device.next_deadline()) {
                device.advance_to(*due, false);
                log << "@" << *due << " ";
            }
        }
        bool full_period_check = false;
        const bool mapping_works =
            before.memory.failing_mappings == 0 && before.memory.failing_reservations == 0;
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
        const bool dialog_visible = before.screen.dialog_visible();
        const std::size_t monitors = before.program.monitors();
        if (dialog_visible && monitors > 0 && pick(10) < 3) {
            line = "quit";
        } else if (!dialog_visible && monitors > 0 && pick(20) == 0) {
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

        const sim::Snapshot after = device.snapshot();
        const sim::ProgramState state = after.program.state;
        std::string why = sim::broken_invariant(after);
        const bool in_tray = state == sim::ProgramState::Running && !after.screen.dialog_visible();
        if (why.empty() && full_period_check && in_tray && !dialog_visible) {
            // A whole period in the tray with mapping working.
            why = sim::broken_after_period(after);
        }
        if (why.empty() && state != sim::ProgramState::Running) {
            why = sim::broken_after_end(after, line, before);
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
