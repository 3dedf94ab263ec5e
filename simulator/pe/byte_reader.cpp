#include "simulator/pe/byte_reader.h"

#include <algorithm>

namespace sim {

void Reader::fail(std::string message) {
    if (!error_) {
        error_ = Error::at_byte(offset(), std::move(message));
    }
}

bool Reader::need(std::size_t n, const char* what) {
    if (failed()) {
        return false;
    }
    if (remaining() < n) {
        fail(std::string("truncated: ") + what + " runs past the end");
        return false;
    }
    return true;
}

std::uint8_t Reader::u8(const char* what) {
    if (!need(1, what)) {
        return 0;
    }
    return bytes_[pos_++];
}

std::uint16_t Reader::peek_u16(const char* what) {
    if (!need(2, what)) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
}

std::uint16_t Reader::u16(const char* what) {
    const std::uint16_t v = peek_u16(what);
    if (!failed()) {
        pos_ += 2;
    }
    return v;
}

std::uint32_t Reader::u32(const char* what) {
    // Two halves: a value cut short fails where its missing half begins.
    const std::uint32_t lo = u16(what);
    const std::uint32_t hi = u16(what);
    return lo | hi << 16;
}

std::u16string Reader::sz(const char* what) {
    std::u16string out;
    for (;;) {
        const std::uint16_t c = u16(what);
        if (failed() || c == 0) {
            return out;
        }
        out.push_back(static_cast<char16_t>(c));
    }
}

std::u16string Reader::utf16(std::size_t count, const char* what) {
    std::u16string out;
    if (count > remaining() / 2) {
        fail(std::string("truncated: ") + what + " runs past the end");
        return out;
    }
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<char16_t>(u16(what)));
    }
    return out;
}

std::string Reader::cstring(std::size_t max_length, const char* what) {
    std::string out;
    for (;;) {
        const std::uint8_t c = u8(what);
        if (failed()) {
            return {};
        }
        if (c == 0) {
            return out;
        }
        if (out.size() == max_length) {
            fail(std::string(what) + " is longer than " + std::to_string(max_length) +
                 " characters");
            return {};
        }
        out.push_back(static_cast<char>(c));
    }
}

void Reader::align(std::size_t to, const char* what) {
    const std::size_t pad = (to - pos_ % to) % to;
    if (pad > 0 && need(pad, what)) {
        pos_ += pad;
    }
}

void Reader::skip(std::size_t n, const char* what) {
    if (need(n, what)) {
        pos_ += n;
    }
}

std::span<const std::uint8_t> Reader::take(std::size_t n, const char* what) {
    if (!need(n, what)) {
        return {};
    }
    auto out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
}

void Reader::seek(std::size_t pos, const char* what) {
    if (failed()) {
        return;
    }
    if (pos > bytes_.size()) {
        fail(std::string(what) + " lies past the end");
        return;
    }
    pos_ = pos;
}

Reader Reader::sub(std::size_t pos, std::size_t length, const char* what) {
    if (!failed() && (pos > bytes_.size() || length > bytes_.size() - pos)) {
        error_ = Error::at_byte(base_ + std::min(pos, bytes_.size()),
                                std::string("truncated: ") + what + " runs past the end");
    }
    if (failed()) {
        Reader none({}, offset());
        none.error_ = error_;
        return none;
    }
    return Reader(bytes_.subspan(pos, length), base_ + pos);
}

}  // namespace sim
