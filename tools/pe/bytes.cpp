#include "tools/pe/bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pe {

Reader::Reader(std::span<const std::uint8_t> bytes, std::string what)
    : bytes_(bytes), what_(std::move(what)) {}

bool Reader::contains(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
}

void Reader::fail(std::size_t offset, const std::string& message) const {
    std::ostringstream text;
    text << what_ << ": at offset 0x" << std::hex << offset << ": " << message;
    throw Error(text.str());
}

void Reader::require(std::size_t offset, std::size_t count) const {
    if (!contains(offset, count)) {
        std::ostringstream text;
        text << count << " bytes run past the end of the file (" << std::dec << bytes_.size()
             << " bytes)";
        fail(offset, text.str());
    }
}

std::uint8_t Reader::u8(std::size_t offset) const {
    require(offset, 1);
    return bytes_[offset];
}

std::uint16_t Reader::u16(std::size_t offset) const {
    require(offset, 2);
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t Reader::u32(std::size_t offset) const {
    require(offset, 4);
    return static_cast<std::uint32_t>(bytes_[offset]) |
           (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
}

std::span<const std::uint8_t> Reader::bytes(std::size_t offset, std::size_t count) const {
    require(offset, count);
    return bytes_.subspan(offset, count);
}

void Writer::u16(std::uint16_t value) {
    u8(static_cast<std::uint8_t>(value));
    u8(static_cast<std::uint8_t>(value >> 8));
}

void Writer::u32(std::uint32_t value) {
    u16(static_cast<std::uint16_t>(value));
    u16(static_cast<std::uint16_t>(value >> 16));
}

void Writer::bytes(std::span<const std::uint8_t> more) {
    data_.insert(data_.end(), more.begin(), more.end());
}

void Writer::align(std::size_t alignment) {
    while (data_.size() % alignment != 0) {
        data_.push_back(0);
    }
}

void Writer::put_u32(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data_.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t align_up(std::uint64_t value, std::uint32_t alignment) {
    const std::uint64_t aligned = (value + alignment - 1) & ~std::uint64_t{alignment - 1};
    if (aligned > 0xFFFFFFFFu) {
        throw Error("the image does not fit in 32 bits");
    }
    return static_cast<std::uint32_t>(aligned);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Error(path + ": cannot open it for reading");
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw Error(path + ": read error");
    }
    return bytes;
}

static std::string temporary_name(const std::string& path) {
    return path + ".mkpe-tmp";
}

static void remove_temporaries(const std::vector<OutputFile>& files) {
    for (const OutputFile& file : files) {
        std::error_code ignored;
        std::filesystem::remove(temporary_name(file.path), ignored);
    }
}

void write_files(const std::vector<OutputFile>& files) {
    for (const OutputFile& file : files) {
        std::ofstream out(temporary_name(file.path), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
                  static_cast<std::streamsize>(file.bytes.size()));
        out.close();
        if (!out) {
            remove_temporaries(files);
            throw Error(file.path + ": cannot write it");
        }
    }
    for (const OutputFile& file : files) {
        std::error_code error;
        std::filesystem::rename(temporary_name(file.path), file.path, error);
        if (error) {
            remove_temporaries(files);
            throw Error(file.path + ": cannot write it: " + error.message());
        }
    }
}

std::vector<std::uint8_t> to_bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace pe
