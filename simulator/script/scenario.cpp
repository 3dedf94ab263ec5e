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
        if (c.kind == Command::Kind::Schedule && !commands.empty()) {
            return on_line(Error{.message = "the schedule line comes before every command",
                                 .column = command_column},
                           file, line_no);
        }
        commands.push_back(std::move(c));
    }
    return commands;
}

const Schedule* scenario_schedule(const std::vector<Command>& commands) {
    if (!commands.empty() && commands.front().kind == Command::Kind::Schedule) {
        return &commands.front().schedule;
    }
    return nullptr;
}

ScenarioResult run_scenario(Driver& driver, const std::vector<Command>& commands,
                            const std::function<void(const json&)>& out) {
    ScenarioResult result;
    driver.start();
    for (const Command& c : commands) {
        if (c.kind == Command::Kind::Schedule) {
            continue;  // the explorer's (run_checked); here the device schedules
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
