// The scenario language: what parses, and the error for each kind of bad
// line (the whole script is refused, naming the line).
#include <gtest/gtest.h>

#include <sstream>

#include "simulator/scenario.h"

namespace {

using sim::Command;

std::variant<std::vector<Command>, sim::ScenarioError> parse(const std::string& text) {
    std::istringstream in(text);
    return sim::parse_scenario(in, "s.scn");
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
        "expect tray 110 \"Turbo On\"\n"
        "expect bubble \"say \\\"hi\\\" # not a comment\"\n"
        "expect mhz 497.66\n"
        "expect program ended 0\n"
        "expect app targetClockConfig 0x241\n");
    ASSERT_TRUE(std::holds_alternative<std::vector<Command>>(result));
    const auto& c = std::get<std::vector<Command>>(result);
    ASSERT_EQ(c.size(), 11u);
    EXPECT_EQ(c[0].verb, Command::Verb::Ok);
    EXPECT_EQ(c[0].line, 3);
    EXPECT_EQ(c[1].number, 6000);
    EXPECT_EQ(c[2].number, 250);
    EXPECT_EQ(c[3].number, 0x2C1);
    EXPECT_EQ(c[4].number, 321);
    EXPECT_EQ(c[5].number, 3);
    EXPECT_EQ(c[6].expected_number, 110);
    EXPECT_EQ(c[6].expected_text, "Turbo On");
    EXPECT_EQ(c[7].expected_text, "say \"hi\" # not a comment");
    EXPECT_DOUBLE_EQ(*c[8].expected_mhz, 497.66);
    EXPECT_EQ(c[9].expected_number, 0);
    EXPECT_EQ(c[10].expected_number, 0x241);
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
        ASSERT_TRUE(std::holds_alternative<sim::ScenarioError>(result)) << line;
        const auto& error = std::get<sim::ScenarioError>(result);
        EXPECT_EQ(error.line, 3) << line;
        EXPECT_FALSE(error.message.empty()) << line;
        EXPECT_EQ(error.describe().rfind("s.scn:3: ", 0), 0u) << error.describe();
    }
}

}  // namespace
