// Reading the words of a line (of a scenario, an export list, a symbol
// map): splitting a text into lines and a line into words, and the numbers
// and durations in it.
#ifndef CORVANE_SIMULATOR_SUPPORT_TEXT_H
#define CORVANE_SIMULATOR_SUPPORT_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/support/result.h"

namespace sim {

// The lines of a text, without their '\n' (a last line without one too).
std::vector<std::string_view> lines_of(std::string_view text);

// The lines of a text that hold words (blank and comment lines left out),
// each split as split_words does, with its number from 1; or the error of
// the first line that does not split, with its line.
struct WordedLine {
    int number = 0;
    std::vector<std::string> words;
};
Result<std::vector<WordedLine>> worded_lines(std::string_view text);

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

// Bytes that came from a file, fit to print in a message: a control
// character, DEL, a byte past ASCII and the backslash are written as \xNN
// (the backslash as \\), so that a name in a hostile file can neither
// drive the terminal nor pass for other text.
std::string printable(std::string_view bytes);

}  // namespace sim

#endif
