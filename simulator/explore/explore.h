// The schedule explorer: runs a scenario once per schedule, each time on a
// fresh device, and checks at every step of every schedule what must hold.
//
// A schedule is the list of choices the deterministic scheduler made
// (chooser.h). The explorer enumerates them depth first, with iterative
// context bounding: first every schedule with no preemption, then every
// one with exactly one, and so on up to a bound. A preemption is a choice
// that takes the processor from a thread that could go on: a thread giving
// way at a platform call, or the world's input arriving while threads are
// ready. The other choices (which thread runs after one blocked) are free.
// Each schedule runs once: the schedules with one preemption more are the
// work of the next round, and start from the choices that made them.
//
// The reduction leaves out choices that cannot lead anywhere new:
//   - after a thread gave way, picking that same thread next is the
//     schedule in which it did not give way, which is run anyway;
//   - a thread does not give way just before Sleep: the call only puts it
//     to sleep until a time fixed when it is made, and device time does
//     not move while a thread is ready, so the sleep is the same whoever
//     runs first, and no other thread sees it before the sleeper wakes.
#ifndef CORVANE_SIMULATOR_EXPLORE_EXPLORE_H
#define CORVANE_SIMULATOR_EXPLORE_EXPLORE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulator/device/snapshot.h"
#include "simulator/kernel/schedule.h"
#include "simulator/script/scenario.h"

namespace sim {

// What must hold of the program, from snapshots: at every scheduling
// point, whenever the device is idle, and once the program has ended (by
// the input, as a scenario names it, that ended it). Each returns the rule
// broken, or "".
struct Invariants {
    std::function<std::string(const Snapshot&)> at_every_step;
    std::function<std::string(const Snapshot&)> when_idle;
    std::function<std::string(const Snapshot& after, const std::string& input,
                              const Snapshot& before)>
        at_end;
};

using DeviceFactory = std::function<DeviceOptions(Kernel::Options)>;

struct Violation {
    Schedule schedule;
    int preemptions = 0;
    std::string what;         // the rule broken, or the expectation that failed
    std::string where;        // the step, or the scenario line
    std::vector<json> trace;  // the trace up to it
};

// What a checked run tells its caller, each optional: `attach` gets the
// device before it starts (to listen to its trace), `report` the
// scenario's lines as run_scenario reports them, `finish` the device once
// the scenario has run.
struct RunHooks {
    std::function<void(Driver&)> attach;
    std::function<void(const json&)> report;
    std::function<void(Driver&)> finish;
};

// One run of the scenario under a chooser, checked as the explorer checks
// every schedule: what must hold at every step, when idle and at the end,
// and the scenario's own expectations.
struct CheckedRun {
    std::optional<Violation> violation;  // without its schedule
    int expectations = 0;
    int failed = 0;
    std::size_t violation_trace_events = 0;  // the trace's length when it broke
};
CheckedRun run_checked(const std::vector<Command>& commands, const DeviceFactory& make,
                       const Invariants& invariants, Chooser& chooser, const RunHooks& hooks = {});

struct ExploreOptions {
    int preemptions = 2;
    bool reduce = true;
    std::uint64_t max_schedules = 2000000;  // stops a search that would not end
    // A program fault the device would not survive ends the process; this
    // is told first, with the schedule that led there (what: the fault).
    std::function<void(const Violation&)> on_fault;
};

struct ExploreReport {
    std::vector<std::uint64_t> schedules;  // run, by their number of preemptions
    std::uint64_t pruned = 0;              // choices the reduction left out
    bool stopped = false;                  // max_schedules reached
    double seconds = 0;
    std::optional<Violation> violation;  // the first one found
    std::uint64_t total() const;
};

ExploreReport explore(const std::vector<Command>& commands, const DeviceFactory& make,
                      const Invariants& invariants, const ExploreOptions& options);

// The report as the explorer prints it: one JSON object.
json to_json(const ExploreReport& report);

}  // namespace sim

#endif
