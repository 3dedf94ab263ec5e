// The scenario language: what parses, and the error for each kind of bad
// line (the whole script is refused, naming the line).
#include <gtest/gtest.h>

#include <sstream>

#include "simulator/corvane/corvane_image.h"
#include "simulator/script/scenario.h"

namespace {

using sim::Command;

sim::Result<std::vector<Command>> parse(const std::string& text) {
    std::istringstream in(text);
    return sim::parse_scenario(in, "s.scn", sim::corvane_names());
}

TEST(ScenarioLanguage, AValidScriptParsesToItsCommands) {
    auto result = parse(
        "# a comment\n"
        "\n"
        "ok   # trailing comment\n"
        "wait 6s\n"
        "wait 250ms\n"
        "foreign 0x2C1\n"
        "foreign 321\n"
        "map-fail 3\n"
        "allow100\n"
        "expect tray 110 \"Turbo On\"\n"
        "expect bubble \"say \\\"hi\\\" # not a comment\"\n"
        "expect mhz 497.66\n"
        "expect program ended 0\n"
        "expect app targetClockConfig 0x241\n"
        "state\n");
    ASSERT_TRUE(result.ok()) << result.error().describe();
    const auto& c = result.value();
    ASSERT_EQ(c.size(), 13u);
    EXPECT_EQ(c[0].line, 3);
    EXPECT_EQ(c[0].text, "ok   # trailing comment");
    const char* inputs[] = {
        "ok",         "wait 6000ms", "wait 250ms", "foreign 0x2C1", "foreign 0x141",
        "map-fail 3", "click 1005"};
    for (std::size_t i = 0; i < std::size(inputs); ++i) {
        ASSERT_EQ(c[i].kind, Command::Kind::Input) << i;
        EXPECT_EQ(sim::describe(c[i].input), inputs[i]);
    }
    const sim::json expected[] = {
        {{"icon", 110}, {"tip", "Turbo On"}},
        {{"text", "say \"hi\" # not a comment"}},
        497.66,
        {{"ended", 0}},
        {{"field", "targetClockConfig"}, {"value", 0x241}},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        ASSERT_EQ(c[7 + i].kind, Command::Kind::Expect) << i;
        EXPECT_EQ(c[7 + i].expectation.expected, expected[i]) << i;
    }
    EXPECT_EQ(c[12].kind, Command::Kind::State);
}

TEST(ScenarioLanguage, EveryKindOfBadLineIsRefusedWithItsLineNumber) {
    const char* bad[] = {
        "dance",                         // unknown command
        "ok now",                        // arguments where none are taken
        "wait",                          // missing duration
        "wait 6",                        // no unit
        "wait 6min",                     // unknown unit
        "wait -5s",                      // negative
        "wait 99999999999s",             // beyond 30 days
        "wait 0x10s",                    // hex duration
        "foreign",                       // missing word
        "foreign 0x100000000",           // not 32 bits
        "foreign banana",                // not a number
        "foreign 12abc",                 // trailing junk
        "map-fail -1",                   // negative count
        "map-fail 1 2",                  // too many arguments
        "expect",                        // nothing to check
        "expect colour red",             // unknown expectation
        "expect dialog open",            // not visible|hidden
        "expect tray 110 Turbo",         // tip not quoted
        "expect tray 70000 \"x\"",       // icon id beyond 16 bits
        "expect mhz fast",               // not a number
        "expect mhz nan",                // not finite
        "expect turbo maybe",            // not on|off
        "expect bubble unquoted",        // text not quoted
        "expect check wifi on",          // unknown check box
        "expect program ended",          // missing exit code
        "expect app nosuchfield 1",      // unknown state field
        "expect bubble \"unterminated",  // open quote
        "\"quoted\" ok",                 // a line must start with a command
    };
    for (const char* line : bad) {
        auto result = parse("ok\ntap\n" + std::string(line) + "\nquit\n");
        ASSERT_FALSE(result.ok()) << line;
        const auto& error = result.error();
        EXPECT_EQ(error.line, 3) << line;
        EXPECT_FALSE(error.message.empty()) << line;
        EXPECT_EQ(error.describe().rfind("s.scn:3: ", 0), 0u) << error.describe();
    }
}

TEST(ScenarioLanguage, ABadCommandWordIsPlacedAtItsColumn) {
    const std::pair<const char*, int> bad[] = {
        {"dance", 1},
        {"   dance 3", 4},
        {"\t \"quoted\" ok", 3},
    };
    for (const auto& [line, column] : bad) {
        auto result = parse("ok\n" + std::string(line) + "\n");
        ASSERT_FALSE(result.ok()) << line;
        EXPECT_EQ(result.error().column, column) << line;
        EXPECT_EQ(result.error().describe().rfind("s.scn:2: ", 0), 0u) << result.error().describe();
    }
    // An error in a later word has no column of its own.
    auto later = parse("wait 6min\n");
    ASSERT_FALSE(later.ok());
    EXPECT_EQ(later.error().column, std::nullopt);
}

}  // namespace
