#include "simulator/support/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sim {

namespace {
constexpr std::int64_t kMaxWaitMs = 30LL * 24 * 3600 * 1000;  // 30 days

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
}  // namespace

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Result<std::vector<WordedLine>> worded_lines(std::string_view text) {
    std::vector<WordedLine> out;
    const auto lines = lines_of(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        auto words = split_words(lines[i]);
        if (!words.ok()) {
            Error error = words.error();
            error.line = number;
            return error;
        }
        if (!words.value().empty()) {
            out.push_back(WordedLine{number, std::move(words.value())});
        }
    }
    return out;
}

Result<std::vector<std::string>> split_words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (is_space(c)) {
            ++i;
            continue;
        }
        if (c == '#') {
            break;
        }
        std::string word;
        if (c == '"') {
            bool closed = false;
            for (++i; i < line.size() && !closed; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[++i];
                } else if (line[i] == '"') {
                    closed = true;
                } else {
                    word += line[i];
                }
            }
            if (!closed) {
                return Error{"unterminated quoted text"};
            }
            words.push_back("\"" + word);
            continue;
        }
        while (i < line.size() && !is_space(line[i]) && line[i] != '#') {
            word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

bool is_quoted(const std::string& word) {
    return !word.empty() && word[0] == '"';
}

std::optional<std::int64_t> parse_integer(std::string_view s, std::int64_t max) {
    std::int64_t value = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parse_duration(std::string_view text) {
    std::int64_t scale = 1000;
    if (text.size() > 2 && text.ends_with("ms")) {
        scale = 1;
        text.remove_suffix(2);
    } else if (text.size() > 1 && text.ends_with("s")) {
        text.remove_suffix(1);
    } else {
        return std::nullopt;
    }
    if (text.starts_with("0x")) {
        return std::nullopt;
    }
    auto n = parse_integer(text, kMaxWaitMs / scale);
    if (!n) {
        return std::nullopt;
    }
    return *n * scale;
}

std::optional<double> parse_decimal(std::string_view text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b >= 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace sim
