// The input model: everything the world can do to the device. An input is
// read from a scenario line or from the page's JSON, and applied to the
// device by one function, which then lets the program run until every
// thread is blocked again. The inputs themselves are declared once, in the
// table in input.cpp.
#ifndef CORVANE_SIMULATOR_SCRIPT_INPUT_H
#define CORVANE_SIMULATOR_SCRIPT_INPUT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/device/driver.h"
#include "simulator/support/result.h"

namespace sim {

struct InputKind;  // a row of the input table

struct Input {
    const InputKind* kind = nullptr;
    // The argument: a control id, a duration in ms, a CCCR word, a count,
    // or a message with its wParam and lParam.
    std::int64_t value = 0;
    std::int64_t wparam = 0;
    std::int64_t lparam = 0;
};

// Where an input comes from: each source accepts the inputs that make sense
// there (a page cannot wait; only a test posts raw messages).
enum class InputSource { Script, Page, Test };

// The words of a scenario line, the first naming the input; nullopt when it
// names none (the line may be another command).
std::optional<Result<Input>> parse_input(const std::vector<std::string>& words,
                                         const ProgramNames& names,
                                         InputSource source = InputSource::Script);
// A line such as "foreign 0x141", for tests: every input is accepted.
Result<Input> parse_input_line(std::string_view line, const ProgramNames& names);
// The page's request: {"action": "foreign", "cccr": "0x141"}.
Result<Input> parse_input_json(std::string_view body);

// The input as a scenario line would say it.
std::string describe(const Input& input);

// Applies the input, and no more: a wait moves device time to its end and
// leaves the threads woken then ready. Returns false when what it would
// touch is not there.
bool deliver(Driver& driver, const Input& input);

// Applies the input, then lets the program run until every thread is
// blocked. Returns false when what it would touch is not there.
bool apply(Driver& driver, const Input& input);

}  // namespace sim

#endif
