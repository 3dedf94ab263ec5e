// corvane-sim --explore: every schedule of a scenario up to a bound.
#include <cstdlib>
#include <iostream>

#include "simulator/cli/cli.h"
#include "simulator/corvane/corvane_invariants.h"

namespace sim::cli {

namespace {

// Prints the trace of a violation's schedule, up to the violation.
void print_violation_trace(const std::vector<Command>& commands, const DeviceFactory& make,
                           const Violation& v) {
    std::vector<json> lines;
    RunHooks hooks;
    hooks.attach = [&](Driver& device) {
        device.trace().add_json_sink([&](const json& j) { lines.push_back(j); });
    };
    ReplayChooser replay(v.schedule);
    const CheckedRun run = run_checked(commands, make, corvane_invariants(), replay, hooks);
    const std::size_t upto = std::min(lines.size(), run.violation_trace_events);
    for (std::size_t i = 0; i < upto; ++i) {
        std::cout << lines[i].dump() << "\n";
    }
}

}  // namespace

int explore(const Arguments& given) {
    const auto commands = read_script(*given.explore);
    const auto with_processor =
        commands ? with_script_processor(given, *commands) : std::optional<Arguments>();
    if (!with_processor) {
        return 2;
    }
    const Arguments& args = *with_processor;
    const DeviceFactory make = device_factory(args);
    if (!make || !device_options(args, {})) {
        return 2;
    }
    ExploreOptions options;
    options.preemptions = args.preemptions.value_or(2);
    options.reduce = args.reduce;
    options.on_fault = [&](const Violation& v) {
        std::cout << json{{"scenario", *args.explore},
                          {"violation", v.what},
                          {"schedule", v.schedule.to_string()},
                          {"preemptions", v.preemptions},
                          {"replay", "corvane-sim --script " + *args.explore + " --schedule '" +
                                         v.schedule.to_string() + "'"}}
                         .dump()
                  << std::endl;
        std::_Exit(1);
    };
    const ExploreReport report = explore(*commands, make, corvane_invariants(), options);
    json out = to_json(report);
    out["scenario"] = *args.explore;
    if (report.violation) {
        out["violation"]["replay"] = "corvane-sim --script " + *args.explore + " --schedule '" +
                                     report.violation->schedule.to_string() + "'";
        std::cout << out.dump() << "\n# the trace up to the violation:\n";
        print_violation_trace(*commands, make, *report.violation);
        std::cout.flush();
        return 1;
    }
    std::cout << out.dump() << std::endl;
    return 0;
}

}  // namespace sim::cli
