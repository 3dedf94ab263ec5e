// A bounds-checked little-endian reader over untrusted bytes, shared by the
// parsers of .res files and of executable images.
//
// Every read checks what is left; the first read that does not fit records
// an Error at the offset where it began and every later read returns 0
// (or nothing). Offsets in errors are offsets in the whole input: a reader
// made for a part of it (sub) knows where that part begins.
#ifndef CORVANE_SIMULATOR_PE_BYTE_READER_H
#define CORVANE_SIMULATOR_PE_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "simulator/support/result.h"

namespace sim {

class Reader {
  public:
    // `base` is where `bytes` begins in the whole input, for error offsets.
    explicit Reader(std::span<const std::uint8_t> bytes, std::size_t base = 0)
        : bytes_(bytes), base_(base) {}

    std::size_t pos() const { return pos_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    // The current position in the whole input.
    std::size_t offset() const { return base_ + pos_; }
    const std::optional<Error>& error() const { return error_; }
    bool failed() const { return error_.has_value(); }

    // Records a fault at the current position (the first one only).
    void fail(std::string message);
    bool need(std::size_t n, const char* what);

    std::uint8_t u8(const char* what);
    std::uint16_t u16(const char* what);
    std::int16_t i16(const char* what) { return static_cast<std::int16_t>(u16(what)); }
    std::uint32_t u32(const char* what);
    std::int32_t i32(const char* what) { return static_cast<std::int32_t>(u32(what)); }

    // The next 16-bit value without moving past it.
    std::uint16_t peek_u16(const char* what);

    // A NUL-terminated UTF-16 string.
    std::u16string sz(const char* what);
    // `count` UTF-16 code units (no terminator).
    std::u16string utf16(std::size_t count, const char* what);
    // A NUL-terminated 8-bit string of at most `max_length` characters
    // before its terminator.
    std::string cstring(std::size_t max_length, const char* what);

    void align(std::size_t to, const char* what);
    void skip(std::size_t n, const char* what);
    std::span<const std::uint8_t> take(std::size_t n, const char* what);

    // Moves to `pos` from the start of this reader's bytes (at most its end).
    void seek(std::size_t pos, const char* what);
    // A reader over `length` bytes from `pos` of this reader's bytes. When
    // they do not all lie inside, this reader fails and so does the one
    // returned (over nothing).
    Reader sub(std::size_t pos, std::size_t length, const char* what);

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t base_ = 0;
    std::size_t pos_ = 0;
    std::optional<Error> error_;
};

}  // namespace sim

#endif
