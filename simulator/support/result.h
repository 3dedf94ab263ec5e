// How the simulator fails. A recoverable error is a Result: the value, or
// an error that says what went wrong (and, for the parsers, where). A fault
// the simulator cannot go on from (a build fault, a program fault the device
// would not survive) is fatal(): it says so on stderr and stops the process.
#ifndef CORVANE_SIMULATOR_SUPPORT_RESULT_H
#define CORVANE_SIMULATOR_SUPPORT_RESULT_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace sim {

// What went wrong, in words, and where when that is known: in a text, the
// file (and the line, and the column of the word at fault, from 1); in a
// binary input, the offset of the byte. Every member has an initializer,
// so that Error{"what"} is the message alone and a place is set by name.
struct Error {
    std::string message{};
    std::string file{};
    std::optional<int> line{};
    std::optional<int> column{};
    std::optional<std::size_t> offset{};

    // The error at byte `offset` of a binary input.
    static Error at_byte(std::size_t offset, std::string message) {
        return Error{.message = std::move(message), .offset = offset};
    }
    // The error on line `line` of the text `file`.
    static Error at_line(std::string file, int line, std::string message) {
        return Error{.message = std::move(message), .file = std::move(file), .line = line};
    }

    // The message with its place: "file:line: message" (the column is not
    // shown; "file: message" without a line), "message (at byte N)", or the
    // message alone.
    std::string describe() const {
        std::string out = file;
        if (line) {
            out += out.empty() ? "" : ":";
            out += std::to_string(*line);
        }
        out += out.empty() ? "" : ": ";
        out += message;
        if (offset) {
            out += " (at byte ";
            out += std::to_string(*offset);
            out += ")";
        }
        return out;
    }
};

template <class T, class E = Error>
class [[nodiscard]] Result {
  public:
    Result(T value) : result_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : result_(std::in_place_index<1>, std::move(error)) {}
    bool ok() const { return result_.index() == 0; }
    const T& value() const { return std::get<0>(result_); }
    T& value() { return std::get<0>(result_); }
    const E& error() const { return std::get<1>(result_); }

  private:
    std::variant<T, E> result_;
};

// Success with nothing to return, or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
  public:
    Result() = default;
    Result(E error) : error_(std::move(error)), ok_(false) {}
    bool ok() const { return ok_; }
    const E& error() const { return error_; }

  private:
    E error_{};
    bool ok_ = true;
};

// Reports a fault the simulator cannot go on from and stops.
[[noreturn]] void fatal(const std::string& what);

// Called by fatal() after it has said what went wrong, before it stops
// the process: the explorer reports the schedule that led there, and ends
// the process with its own exit status.
void set_fatal_handler(std::function<void(const std::string& what)> handler);

}  // namespace sim

#endif
