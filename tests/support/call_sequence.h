// A thread's platform calls against an expected sequence declared as a
// table, in the manner of a platform's own conformance tests: each row is a
// call, the arguments that must match (a JSON pattern: an object or array
// matches when each of its members does, null matches anything), and
// whether the call may be absent.
#ifndef CORVANE_TESTS_SUPPORT_CALL_SEQUENCE_H
#define CORVANE_TESTS_SUPPORT_CALL_SEQUENCE_H

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "simulator/device/trace.h"

namespace corvane_test {

struct ExpectedCall {
    std::string call;
    sim::json args = nullptr;  // a pattern; null: any arguments
    sim::json ret = nullptr;   // the result; null: any
    bool optional = false;
};

inline bool matches(const sim::json& pattern, const sim::json& value) {
    if (pattern.is_null()) {
        return true;
    }
    if (pattern.is_object() || pattern.is_array()) {
        if (value.type() != pattern.type() ||
            (pattern.is_array() && value.size() != pattern.size())) {
            return false;
        }
        for (auto it = pattern.begin(); it != pattern.end(); ++it) {
            const sim::json& member = pattern.is_object() ? value.value(it.key(), sim::json())
                                                          : value[it - pattern.begin()];
            if (pattern.is_object() && !value.contains(it.key())) {
                return false;
            }
            if (!matches(*it, member)) {
                return false;
            }
        }
        return true;
    }
    return pattern == value;
}

// Compares the traced calls named in `expected` (made by `thread`, or by
// any thread when it is empty), in order, with the table.
inline testing::AssertionResult calls_match(const std::vector<sim::json>& events,
                                            const std::vector<ExpectedCall>& expected,
                                            const std::string& thread = "") {
    std::set<std::string> names;
    for (const ExpectedCall& e : expected) {
        names.insert(e.call);
    }
    std::vector<sim::json> calls;
    for (const sim::json& e : events) {
        if (e.contains("call") && names.count(e["call"]) &&
            (thread.empty() || e.value("thread", "") == thread)) {
            calls.push_back(e);
        }
    }
    std::size_t next = 0;
    for (std::size_t row = 0; row < expected.size(); ++row) {
        const ExpectedCall& e = expected[row];
        const bool found = next < calls.size() && calls[next]["call"] == e.call &&
                           matches(e.args, calls[next]["args"]) &&
                           matches(e.ret, calls[next]["ret"]);
        if (found) {
            ++next;
        } else if (!e.optional) {
            return testing::AssertionFailure()
                   << "row " << row << ": expected " << e.call << " " << e.args.dump() << ", got "
                   << (next < calls.size() ? calls[next].dump() : std::string("no more calls"));
        }
    }
    if (next < calls.size()) {
        return testing::AssertionFailure() << "a call beyond the table: " << calls[next].dump();
    }
    return testing::AssertionSuccess();
}

}  // namespace corvane_test

#endif
