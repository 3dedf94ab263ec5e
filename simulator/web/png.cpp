#include "simulator/web/png.h"

#include <array>

namespace sim::web {

namespace {

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        c = table[(c ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

void put32(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

void chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out += type;
    out += data;
    put32(out, crc32(out, start));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::string zlib_stored(const std::string& raw) {
    std::string z = "\x78\x01";
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (char c : raw) {
        a = (a + static_cast<std::uint8_t>(c)) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, b << 16 | a);
    return z;
}

}  // namespace

std::string encode_png(const IconImage& image) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put32(header, static_cast<std::uint32_t>(image.width));
    put32(header, static_cast<std::uint32_t>(image.height));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlace
    chunk(png, "IHDR", header);
    std::string raw;
    for (int y = 0; y < image.height; ++y) {
        raw += '\0';  // no filter
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.argb[static_cast<std::size_t>(y) * image.width + x];
            raw += static_cast<char>(p >> 16);
            raw += static_cast<char>(p >> 8);
            raw += static_cast<char>(p);
            raw += static_cast<char>(p >> 24);
        }
    }
    chunk(png, "IDAT", zlib_stored(raw));
    chunk(png, "IEND", "");
    return png;
}

}  // namespace sim::web
