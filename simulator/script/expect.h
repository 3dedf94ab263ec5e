// The expectations a scenario checks ("expect mhz 497.66"). Each kind is
// declared once, in the table in expect.cpp: its word, how its argument is
// read, and how it is checked against a snapshot of the device.
#ifndef CORVANE_SIMULATOR_SCRIPT_EXPECT_H
#define CORVANE_SIMULATOR_SCRIPT_EXPECT_H

#include <string>
#include <vector>

#include "simulator/device/device.h"
#include "simulator/device/snapshot.h"
#include "simulator/support/result.h"

namespace sim {

struct ExpectKind;  // a row of the expectation table

struct Expectation {
    const ExpectKind* kind = nullptr;
    json expected;  // the argument as read
};

// The words of an expect line, "expect" first.
Result<Expectation> parse_expectation(const std::vector<std::string>& words,
                                      const ProgramNames& names);

struct Checked {
    bool ok = false;
    json actual;  // what the device shows, for the report
};
// Checks the expectation against a snapshot of the device.
Checked check(const Expectation& expectation, const Snapshot& snapshot);

}  // namespace sim

#endif
