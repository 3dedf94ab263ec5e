#include "simulator/web/png.h"

#include <png.h>

#include <cstdint>
#include <vector>

namespace sim::web {

std::string encode_png(const IconImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.argb.size() != static_cast<std::size_t>(image.width) * image.height) {
        return {};
    }
    // The decoded icon holds 0xAARRGGBB words; libpng wants R, G, B, A bytes.
    std::vector<std::uint8_t> rgba;
    rgba.reserve(image.argb.size() * 4);
    for (const std::uint32_t p : image.argb) {
        rgba.push_back(static_cast<std::uint8_t>(p >> 16));
        rgba.push_back(static_cast<std::uint8_t>(p >> 8));
        rgba.push_back(static_cast<std::uint8_t>(p));
        rgba.push_back(static_cast<std::uint8_t>(p >> 24));
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGBA;
    // A first call with no buffer asks for the size.
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, rgba.data(), 0, nullptr)) {
        png_image_free(&png);
        return {};
    }
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, rgba.data(), 0, nullptr)) {
        png_image_free(&png);
        return {};
    }
    out.resize(size);
    return out;
}

}  // namespace sim::web
