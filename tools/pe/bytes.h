// Bytes in and out for mkpe: bounds-checked little-endian reads of files
// that may be malformed, a little-endian output buffer, and whole-file I/O.
#ifndef CORVANE_TOOLS_PE_BYTES_H
#define CORVANE_TOOLS_PE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

// Every refusal of mkpe: the message says which file and what is wrong.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a file's bytes without ever reading past them: every access is
// checked and a bad one throws an Error naming the file and the offset.
class Reader {
  public:
    Reader(std::span<const std::uint8_t> bytes, std::string what);

    std::size_t size() const { return bytes_.size(); }
    const std::string& what() const { return what_; }
    bool contains(std::size_t offset, std::size_t count) const;
    std::uint8_t u8(std::size_t offset) const;
    std::uint16_t u16(std::size_t offset) const;
    std::uint32_t u32(std::size_t offset) const;
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t count) const;
    [[noreturn]] void fail(std::size_t offset, const std::string& message) const;

  private:
    void require(std::size_t offset, std::size_t count) const;

    std::span<const std::uint8_t> bytes_;
    std::string what_;
};

// A growing little-endian buffer.
class Writer {
  public:
    void u8(std::uint8_t value) { data_.push_back(value); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void bytes(std::span<const std::uint8_t> more);
    void zeros(std::size_t count) { data_.resize(data_.size() + count, 0); }
    void align(std::size_t alignment);
    // Overwrites four bytes already written.
    void put_u32(std::size_t offset, std::uint32_t value);
    std::size_t size() const { return data_.size(); }
    std::vector<std::uint8_t>& data() { return data_; }

  private:
    std::vector<std::uint8_t> data_;
};

// value rounded up to a multiple of alignment (a power of two); throws if
// the result does not fit in 32 bits.
std::uint32_t align_up(std::uint64_t value, std::uint32_t alignment);

std::vector<std::uint8_t> read_file(const std::string& path);

// Files to write, all or none: each is first written beside its final name
// and renamed into place only when every one was written whole.
struct OutputFile {
    std::string path;
    std::vector<std::uint8_t> bytes;
};
void write_files(const std::vector<OutputFile>& files);

std::vector<std::uint8_t> to_bytes(const std::string& text);

}  // namespace pe

#endif
