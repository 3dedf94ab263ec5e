// Scenarios: a line-by-line script of input, events and expectations, run
// against the simulated device in virtual time.
//
//   ok | quit | close              caption OK, the Quit button, a close request
//   allow100 | notify              click a check box
//   tap | doubletap                touch the tray icon once / twice quickly
//   wait 6s | wait 250ms           let device time pass
//   resume                         power down and resume
//   foreign 0x141                  another program programs this CCCR word
//   turbo-off                      another program clears TURBO
//   map-fail 3 | reserve-fail 3    the next 3 mappings / reservations fail
//   state                          print a snapshot of the device
//   expect <what> <value>          check what the device shows
//
// The whole script is parsed before anything runs; a bad line is an error
// naming the file and line.
#ifndef CORVANE_SIMULATOR_SCENARIO_H
#define CORVANE_SIMULATOR_SCENARIO_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "simulator/device.h"

namespace sim {

struct Command {
    enum class Verb {
        Ok,
        Quit,
        Close,
        Allow100,
        Notify,
        Tap,
        DoubleTap,
        Wait,
        Resume,
        Foreign,
        TurboOff,
        MapFail,
        ReserveFail,
        State,
        Expect,
    };
    int line = 0;
    std::string text;  // the line as written, without its comment
    Verb verb = Verb::State;
    std::int64_t number = 0;  // wait (ms), foreign (word), map-fail/reserve-fail (count)

    // expect: what is checked, and the value expected.
    std::string what;
    std::string expected;  // on/off, visible/hidden, a field name, ...
    std::optional<std::int64_t> expected_number;
    std::optional<double> expected_mhz;
    std::string expected_text;  // tray tip, bubble text
};

struct ScenarioError {
    std::string file;
    int line = 0;
    std::string message;
    std::string describe() const;
};

std::variant<std::vector<Command>, ScenarioError> parse_scenario(std::istream& in,
                                                                 const std::string& file);

struct ScenarioResult {
    int expectations = 0;
    int failed = 0;
};

// Runs the commands one by one, each until the device is idle again, and
// reports every command, expectation and device event as a JSON line.
ScenarioResult run_scenario(Device& device, const std::vector<Command>& commands,
                            const std::function<void(const json&)>& out);

}  // namespace sim

#endif
