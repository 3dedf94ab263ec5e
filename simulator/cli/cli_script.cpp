// corvane-sim --script: a scenario under the device's own scheduling, or
// under a schedule, checked as the explorer checks each of its schedules.
#include <iostream>

#include "simulator/cli/cli.h"
#include "simulator/corvane/corvane_invariants.h"

namespace sim::cli {

namespace {

int run_scheduled(const Arguments& args, const std::vector<Command>& commands,
                  const Schedule& schedule) {
    const DeviceFactory make = device_factory(args);
    std::ofstream trace_file;
    if (!make || !device_options(args, {}) || !open_trace_file(args, trace_file)) {
        return 2;
    }
    // A schedule that does not fit the scenario is bad input: found by a
    // quiet run first, so that nothing is printed for it.
    ReplayChooser trial(schedule);
    (void)run_checked(commands, make, corvane_invariants(), trial);
    if (const std::string misfit = trial.misfit(); !misfit.empty()) {
        std::cerr << "corvane-sim: the schedule does not fit the scenario: " << misfit << "\n";
        return 2;
    }
    auto print = [](const json& j) { std::cout << j.dump() << "\n"; };
    std::optional<ChromeTrace> chrome;
    bool written = true;
    RunHooks hooks;
    hooks.attach = [&](Driver& device) {
        if (!args.quiet) {
            device.trace().add_json_sink(print);
        }
        if (args.trace_out) {
            chrome.emplace(device);
        }
    };
    hooks.report = [&](const json& j) {
        if (!args.quiet || !j.contains("command")) {
            print(j);
        }
    };
    hooks.finish = [&](Driver& device) {
        if (chrome) {
            written = write_chrome_trace(trace_file, *args.trace_out, device, *chrome);
        }
    };
    ReplayChooser replay(schedule);
    const CheckedRun run = run_checked(commands, make, corvane_invariants(), replay, hooks);
    std::cout.flush();
    if (!written) {
        return 2;
    }
    return run.violation ? 1 : 0;
}

}  // namespace

int run_script(const Arguments& given) {
    const auto commands = read_script(*given.script);
    if (!commands) {
        return 2;
    }
    const auto with_processor = with_script_processor(given, *commands);
    if (!with_processor) {
        return 2;
    }
    const Arguments& args = *with_processor;
    if (args.schedule || scenario_schedule(*commands) != nullptr) {
        if (args.seed) {
            std::cerr << "corvane-sim: a schedule makes every choice; --seed goes without it\n";
            return 2;
        }
        if (!args.schedule) {
            return run_scheduled(args, *commands, *scenario_schedule(*commands));
        }
        auto schedule = parse_schedule(*args.schedule);
        if (!schedule.ok()) {
            std::cerr << "corvane-sim: --schedule: " << schedule.error().message << "\n";
            return 2;
        }
        return run_scheduled(args, *commands, schedule.value());
    }
    Kernel::Options kernel;
    kernel.seed = args.seed;
    auto options = device_options(args, kernel);
    if (!options) {
        return 2;
    }

    // The trace file is opened first: one that cannot be written runs nothing.
    std::ofstream trace_file;
    if (args.trace_out) {
        trace_file.open(*args.trace_out, std::ios::trunc);
        if (!trace_file) {
            std::cerr << "corvane-sim: cannot write " << *args.trace_out << "\n";
            return 2;
        }
    }
    auto print = [](const json& j) { std::cout << j.dump() << "\n"; };
    Driver device(std::move(*options));
    if (!args.quiet) {
        device.trace().add_json_sink(print);
    }
    std::optional<ChromeTrace> chrome;
    if (args.trace_out) {
        chrome.emplace(device);
    }
    auto report = [&](const json& j) {
        if (!args.quiet || j.contains("expect") || j.contains("result") || j.contains("state")) {
            print(j);
        }
    };
    const auto result = run_scenario(device, *commands, report);
    std::cout.flush();
    if (chrome && !write_chrome_trace(trace_file, *args.trace_out, device, *chrome)) {
        return 2;
    }
    return result.failed == 0 ? 0 : 1;
}

}  // namespace sim::cli
