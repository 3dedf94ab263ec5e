// Reading the words of a scenario line: splitting a line, and the numbers
// and durations in it.
#ifndef CORVANE_SIMULATOR_TEXT_H
#define CORVANE_SIMULATOR_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/result.h"

namespace sim {

// Splits a line into words; "..." is one word (with \" and \\ inside),
// kept with its opening quote so that it can be told from a bare word;
// '#' outside quotes starts a comment.
Result<std::vector<std::string>> split_words(std::string_view line);
bool is_quoted(const std::string& word);

// A whole number from 0 to `max`, decimal or 0x-prefixed hex.
std::optional<std::int64_t> parse_integer(std::string_view text, std::int64_t max);
// "6s" or "250ms", in milliseconds, up to 30 days.
std::optional<std::int64_t> parse_duration(std::string_view text);
// A finite decimal number.
std::optional<double> parse_decimal(std::string_view text);

}  // namespace sim

#endif
