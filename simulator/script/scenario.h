// Scenarios: a line-by-line script of input (input.h), snapshots ("state")
// and expectations (expect.h), run against the simulated device in virtual
// time. The whole script is parsed before anything runs; a bad line is an
// error naming the file and line. A "schedule <choices>" line, before the
// first command, runs the scenario under that schedule (schedule.h), as the
// explorer found it. A "cpu <name>" line there gives the device's processor
// (hardware/processor.h).
#ifndef CORVANE_SIMULATOR_SCRIPT_SCENARIO_H
#define CORVANE_SIMULATOR_SCRIPT_SCENARIO_H

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "simulator/hardware/processor.h"
#include "simulator/kernel/schedule.h"
#include "simulator/script/expect.h"
#include "simulator/script/input.h"

namespace sim {

struct Command {
    enum class Kind { Input, State, Expect, Schedule, Processor };
    int line = 0;
    std::string text;  // the line as written, trailing white space dropped
    Kind kind = Kind::State;
    Input input;
    Expectation expectation;
    Schedule schedule;
    const Processor* processor = nullptr;
};

// The schedule a scenario's "schedule" line gives, if it has one.
const Schedule* scenario_schedule(const std::vector<Command>& commands);
// The processor a scenario's "cpu" line gives, if it has one.
const Processor* scenario_processor(const std::vector<Command>& commands);

// The commands of a script, or the first bad line's error (its file and
// line, and the column of the command word when that word is at fault).
Result<std::vector<Command>> parse_scenario(std::istream& in, const std::string& file,
                                            const ProgramNames& names);

struct ScenarioResult {
    int expectations = 0;
    int failed = 0;
};

// Runs the commands one by one, each until the device is idle again, and
// reports every command and expectation as a JSON line.
ScenarioResult run_scenario(Driver& driver, const std::vector<Command>& commands,
                            const std::function<void(const json&)>& out);

}  // namespace sim

#endif
