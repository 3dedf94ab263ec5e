#include "simulator/script/scenario.h"

#include <istream>

#include "simulator/device/view.h"
#include "simulator/support/text.h"

namespace sim {

namespace {

// `column` is where the command word begins on its line.
Result<void> parse_command(const std::vector<std::string>& words, int column,
                           const ProgramNames& names, Command& c) {
    if (words[0] == "state") {
        if (words.size() != 1) {
            return Error{"'state' takes no arguments"};
        }
        c.kind = Command::Kind::State;
        return {};
    }
    if (words[0] == "schedule") {
        auto schedule = words.size() == 2 ? parse_schedule(words[1])
                                          : Result<Schedule>(Error{"expected: schedule <choices>"});
        if (!schedule.ok()) {
            return schedule.error();
        }
        c.kind = Command::Kind::Schedule;
        c.schedule = std::move(schedule.value());
        return {};
    }
    if (words[0] == "cpu") {
        const Processor* processor = words.size() == 2 ? find_processor(words[1]) : nullptr;
        if (processor == nullptr) {
            return Error{"expected: cpu <name>, the name one of " + processor_names()};
        }
        c.kind = Command::Kind::Processor;
        c.processor = processor;
        return {};
    }
    if (words[0] == "expect") {
        auto expectation = parse_expectation(words, names);
        if (!expectation.ok()) {
            return expectation.error();
        }
        c.kind = Command::Kind::Expect;
        c.expectation = std::move(expectation.value());
        return {};
    }
    auto input = parse_input(words, names);
    if (!input) {
        return Error{.message = "unknown command '" + words[0] + "'", .column = column};
    }
    if (!input->ok()) {
        return input->error();
    }
    c.kind = Command::Kind::Input;
    c.input = input->value();
    return {};
}

std::string trim_trailing_space(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
        s.pop_back();
    }
    return s;
}

// The lines that set up a run rather than act in it: they come first.
bool is_preamble(const Command& c) {
    return c.kind == Command::Kind::Schedule || c.kind == Command::Kind::Processor;
}

// The preamble's line of that kind, if there is one.
const Command* preamble_line(const std::vector<Command>& commands, Command::Kind kind) {
    for (const Command& c : commands) {
        if (!is_preamble(c)) {
            break;
        }
        if (c.kind == kind) {
            return &c;
        }
    }
    return nullptr;
}

// The error placed on its line of the script.
Error on_line(Error error, const std::string& file, int line) {
    error.file = file;
    error.line = line;
    return error;
}

}  // namespace

Result<std::vector<Command>> parse_scenario(std::istream& in, const std::string& file,
                                            const ProgramNames& names) {
    std::vector<Command> commands;
    std::string line;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        auto words = split_words(line);
        if (!words.ok()) {
            return on_line(words.error(), file, line_no);
        }
        if (words.value().empty()) {
            continue;
        }
        // The first word begins at the first character that is not blank.
        const int command_column = static_cast<int>(line.find_first_not_of(" \t\r")) + 1;
        if (is_quoted(words.value()[0])) {
            return on_line(
                Error{.message = "a line must start with a command", .column = command_column},
                file, line_no);
        }
        Command c;
        c.line = line_no;
        // The line as written, comment included, for the report.
        c.text = trim_trailing_space(line);
        if (auto parsed = parse_command(words.value(), command_column, names, c); !parsed.ok()) {
            return on_line(parsed.error(), file, line_no);
        }
        const bool preamble =
            c.kind == Command::Kind::Schedule || c.kind == Command::Kind::Processor;
        if (preamble && !commands.empty() && !is_preamble(commands.back())) {
            return on_line(
                Error{.message = std::string("the ") +
                                 (c.kind == Command::Kind::Schedule ? "schedule" : "cpu") +
                                 " line comes before every command",
                      .column = command_column},
                file, line_no);
        }
        if (preamble && preamble_line(commands, c.kind) != nullptr) {
            return on_line(
                Error{
                    .message = "a second " +
                               std::string(c.kind == Command::Kind::Schedule ? "schedule" : "cpu") +
                               " line",
                    .column = command_column},
                file, line_no);
        }
        commands.push_back(std::move(c));
    }
    return commands;
}

const Schedule* scenario_schedule(const std::vector<Command>& commands) {
    const Command* c = preamble_line(commands, Command::Kind::Schedule);
    return c == nullptr ? nullptr : &c->schedule;
}

const Processor* scenario_processor(const std::vector<Command>& commands) {
    const Command* c = preamble_line(commands, Command::Kind::Processor);
    return c == nullptr ? nullptr : c->processor;
}

ScenarioResult run_scenario(Driver& driver, const std::vector<Command>& commands,
                            const std::function<void(const json&)>& out) {
    ScenarioResult result;
    driver.start();
    for (const Command& c : commands) {
        if (c.kind == Command::Kind::Schedule || c.kind == Command::Kind::Processor) {
            // The schedule is the explorer's (run_checked); here the device
            // schedules. The processor is the device's, made before the run.
            continue;
        }
        if (c.kind == Command::Kind::Expect) {
            const Checked checked = check(c.expectation, driver.snapshot());
            ++result.expectations;
            result.failed += checked.ok ? 0 : 1;
            out({{"line", c.line},
                 {"expect", c.text},
                 {"ok", checked.ok},
                 {"actual", checked.actual}});
            continue;
        }
        out({{"line", c.line}, {"command", c.text}, {"t", driver.now()}});
        if (c.kind == Command::Kind::State) {
            out({{"line", c.line}, {"state", view::snapshot(driver.snapshot())}});
            driver.settle();
        } else {
            apply(driver, c.input);
        }
    }
    out({{"result", result.failed == 0 ? "pass" : "fail"},
         {"expectations", result.expectations},
         {"failed", result.failed}});
    return result;
}

}  // namespace sim
