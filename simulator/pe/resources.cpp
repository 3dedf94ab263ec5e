#include "simulator/pe/resources.h"

#include <algorithm>

namespace sim {

std::string ResId::to_string() const {
    if (ordinal) {
        // Appended, not "#" + std::to_string(...): GCC 12 at -O2 and above
        // warns (-Wrestrict) about the inlined insert at the front of a
        // temporary string, a known false positive.
        std::string out = "#";
        out += std::to_string(*ordinal);
        return out;
    }
    std::string out;
    for (char16_t c : name) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

// sz_Or_Ord: 0x0000 (none), 0xFFFF + ordinal, or a string.
std::optional<ResId> sz_or_ord(Reader& r, const char* what) {
    const std::uint16_t first = r.peek_u16(what);
    if (r.failed()) {
        return std::nullopt;
    }
    if (first == 0x0000) {
        r.skip(2, what);
        return std::nullopt;
    }
    if (first == 0xFFFF) {
        r.skip(2, what);
        return ResId::number(r.u16(what));
    }
    return ResId::text(r.sz(what));
}

// A resource type or name in a .res header: 0xFFFF + ordinal, or a string.
ResId res_name(Reader& r, const char* what) {
    auto id = sz_or_ord(r, what);
    if (!id) {
        // 0x0000 here is an empty string, which no resource may have.
        if (!r.failed()) {
            r.fail(std::string("empty ") + what);
        }
        return {};
    }
    return *id;
}

// A 32-bit resource file opens with an empty entry: data size 0, header
// size 32, type and name ordinal 0.
bool opens_as_res_file(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kMarker[16] = {0,    0,    0, 0, 32,   0,    0, 0,
                                                 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    return bytes.size() >= 32 && std::equal(std::begin(kMarker), std::end(kMarker), bytes.begin());
}

// An entry of a .res file, and where it ends (before the next one's padding).
struct ResFileEntry {
    ResourceEntry entry;
    std::size_t end = 0;
};

// The entry at `offset`: its two sizes, which must fit in the file, then
// the rest of its header, then its data.
Result<ResFileEntry> read_res_entry(std::span<const std::uint8_t> bytes, std::size_t offset) {
    Reader r(bytes.subspan(offset), offset);
    const std::uint32_t data_size = r.u32("resource data size");
    const std::uint32_t header_size = r.u32("resource header size");
    if (r.failed()) {
        return *r.error();
    }
    if (header_size < 32 || header_size > r.remaining() + 8 ||
        data_size > bytes.size() - offset - header_size) {
        return Error::at_byte(offset, "resource header or data runs past the end of the file");
    }
    Reader header(bytes.subspan(offset, header_size), offset);
    header.skip(8, "resource header");
    ResourceEntry entry;
    entry.type = res_name(header, "resource type");
    entry.name = res_name(header, "resource name");
    header.align(4, "resource header");
    header.u32("data version");
    header.u16("memory flags");
    entry.language = header.u16("language");
    header.u32("version");
    header.u32("characteristics");
    if (header.failed()) {
        return *header.error();
    }
    const auto data = bytes.subspan(offset + header_size, data_size);
    entry.data.assign(data.begin(), data.end());
    return ResFileEntry{std::move(entry), offset + header_size + data_size};
}

// The empty entry (type 0, name 0) that marks a 32-bit resource file; it
// holds no resource.
bool is_marker(const ResourceEntry& entry) {
    return entry.data.empty() && entry.type == ResId::number(0);
}

}  // namespace

Result<std::vector<ResourceEntry>> parse_res_file(std::span<const std::uint8_t> bytes) {
    if (!opens_as_res_file(bytes)) {
        return Error::at_byte(0, "not a 32-bit resource file (it must open with an empty entry)");
    }
    std::vector<ResourceEntry> entries;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        auto read = read_res_entry(bytes, offset);
        if (!read.ok()) {
            return read.error();
        }
        if (!is_marker(read.value().entry)) {
            entries.push_back(std::move(read.value().entry));
        }
        const std::size_t next = read.value().end + (4 - read.value().end % 4) % 4;
        if (next > bytes.size()) {
            // The last entry's padding may be left out.
            break;
        }
        offset = next;
    }
    return entries;
}

Result<DialogTemplate> parse_dialog_template(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    DialogTemplate t;
    t.style = r.u32("dialog style");
    t.ex_style = r.u32("dialog extended style");
    const std::uint16_t count = r.u16("control count");
    t.x = r.i16("dialog x");
    t.y = r.i16("dialog y");
    t.cx = r.i16("dialog width");
    t.cy = r.i16("dialog height");
    t.menu = sz_or_ord(r, "dialog menu");
    t.window_class = sz_or_ord(r, "dialog class");
    t.title = r.sz("dialog title");
    if (t.style & kDsSetFont) {
        t.font_size = r.u16("font size");
        t.font_face = r.sz("font face");
    }
    if (r.failed()) {
        return *r.error();
    }
    for (std::uint16_t i = 0; i < count; ++i) {
        r.align(4, "control template alignment");
        DialogItem item;
        item.style = r.u32("control style");
        item.ex_style = r.u32("control extended style");
        item.x = r.i16("control x");
        item.y = r.i16("control y");
        item.cx = r.i16("control width");
        item.cy = r.i16("control height");
        item.id = r.u16("control id");
        auto window_class = sz_or_ord(r, "control class");
        auto title = sz_or_ord(r, "control title");
        const std::uint16_t extra = r.u16("control creation data size");
        auto data = r.take(extra, "control creation data");
        if (r.failed()) {
            return *r.error();
        }
        if (!window_class) {
            return Error::at_byte(r.pos(), "control " + std::to_string(i + 1) + " has no class");
        }
        item.window_class = *window_class;
        item.title = title.value_or(ResId::text(u""));
        item.creation_data.assign(data.begin(), data.end());
        t.items.push_back(std::move(item));
    }
    return t;
}

Result<std::vector<IconDirEntry>> parse_icon_group(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    const std::uint16_t reserved = r.u16("icon group header");
    const std::uint16_t type = r.u16("icon group header");
    const std::uint16_t count = r.u16("icon group header");
    if (r.failed()) {
        return *r.error();
    }
    if (reserved != 0 || type != 1) {
        return Error::at_byte(0, "not an icon group (reserved 0 and type 1 expected)");
    }
    std::vector<IconDirEntry> entries;
    for (std::uint16_t i = 0; i < count; ++i) {
        IconDirEntry e;
        const std::uint8_t w = r.u8("icon group entry");
        const std::uint8_t h = r.u8("icon group entry");
        e.width = w == 0 ? 256 : w;
        e.height = h == 0 ? 256 : h;
        e.colour_count = r.u8("icon group entry");
        r.u8("icon group entry");
        r.u16("icon group entry");
        e.bit_count = r.u16("icon group entry");
        e.bytes = r.u32("icon group entry");
        e.icon_id = r.u16("icon group entry");
        if (r.failed()) {
            return *r.error();
        }
        entries.push_back(e);
    }
    return entries;
}

namespace {

// What the decoder needs of an icon image's BITMAPINFOHEADER.
struct BitmapHeader {
    std::uint32_t size = 0;
    int width = 0;
    int height = 0;  // the header gives it twice: colour bits and mask
    int bit_count = 0;
    std::uint32_t colours_used = 0;
};

// Reads the header and checks it: a size inside the file, 1 to 256 pixels
// each way, one plane, no compression, and 1, 4, 8 or 32 bits per pixel.
Result<BitmapHeader> read_bitmap_header(Reader& r, std::size_t file_size) {
    const std::uint32_t header_size = r.u32("bitmap header");
    const std::int32_t width = r.i32("bitmap header");
    const std::int32_t height2 = r.i32("bitmap header");
    const std::uint16_t planes = r.u16("bitmap header");
    const std::uint16_t bit_count = r.u16("bitmap header");
    const std::uint32_t compression = r.u32("bitmap header");
    r.skip(12, "bitmap header");
    const std::uint32_t colours_used = r.u32("bitmap header");
    r.u32("bitmap header");
    if (r.failed()) {
        return *r.error();
    }
    if (header_size < 40 || header_size > file_size) {
        return Error::at_byte(0, "bitmap header size out of range");
    }
    if (width < 1 || width > 256 || height2 < 2 || height2 > 512 || height2 % 2 != 0) {
        return Error::at_byte(4, "icon size out of range (1 to 256 pixels, height given twice)");
    }
    if (planes != 1 || compression != 0) {
        return Error::at_byte(12, "only uncompressed single-plane icons are supported");
    }
    if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 32) {
        return Error::at_byte(14, "unsupported bits per pixel " + std::to_string(bit_count));
    }
    return BitmapHeader{header_size, width, height2 / 2, bit_count, colours_used};
}

// The colour table of an image of up to 8 bits per pixel (none for 32):
// colours_used entries, or as many as the bit depth has when that is 0.
Result<std::vector<std::uint32_t>> read_palette(Reader& r, const BitmapHeader& h) {
    std::vector<std::uint32_t> palette;
    if (h.bit_count > 8) {
        return palette;
    }
    const std::uint32_t max_colours = 1u << h.bit_count;
    const std::uint32_t n = h.colours_used == 0 ? max_colours : h.colours_used;
    if (n > max_colours) {
        return Error::at_byte(32, "more palette colours than the bit depth allows");
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t b = r.u8("palette");
        const std::uint8_t g = r.u8("palette");
        const std::uint8_t red = r.u8("palette");
        r.u8("palette");
        palette.push_back(0xFF000000u | red << 16 | g << 8 | b);
    }
    return palette;
}

// The bytes of a row of `width` pixels of `bits` each, padded to 32 bits.
std::size_t row_bytes(int width, int bits) {
    return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
}

// Pixel x of a row of colour bits, as 0xAARRGGBB: 32-bit pixels are BGRA,
// the others index the palette (nothing when it has no such colour).
std::optional<std::uint32_t> pixel(std::span<const std::uint8_t> row, int x, int bit_count,
                                   const std::vector<std::uint32_t>& palette) {
    if (bit_count == 32) {
        const std::size_t i = static_cast<std::size_t>(x) * 4;
        return static_cast<std::uint32_t>(row[i + 3]) << 24 | row[i + 2] << 16 | row[i + 1] << 8 |
               row[i];
    }
    const std::size_t bit = static_cast<std::size_t>(x) * bit_count;
    const std::uint8_t byte = row[bit / 8];
    const unsigned shift = 8 - bit_count - bit % 8;
    const unsigned index = (byte >> shift) & ((1u << bit_count) - 1);
    if (index >= palette.size()) {
        return std::nullopt;
    }
    return palette[index];
}

// Fills the image's pixels, top row first, from the colour bits and the
// transparency mask, both stored bottom-up; a pixel the mask marks is 0.
Result<void> decode_pixels(std::span<const std::uint8_t> colour, std::span<const std::uint8_t> mask,
                           const std::vector<std::uint32_t>& palette, IconImage& image) {
    const int w = image.width;
    const int h = image.height;
    const std::size_t colour_stride = row_bytes(w, image.bit_count);
    const std::size_t mask_stride = row_bytes(w, 1);
    for (int y = 0; y < h; ++y) {
        const auto row = colour.subspan(colour_stride * (h - 1 - y), colour_stride);
        const auto mask_row = mask.subspan(mask_stride * (h - 1 - y), mask_stride);
        for (int x = 0; x < w; ++x) {
            const auto argb = pixel(row, x, image.bit_count, palette);
            if (!argb) {
                return Error::at_byte(0, "pixel uses a colour missing from the palette");
            }
            const bool transparent = (mask_row[x / 8] >> (7 - x % 8)) & 1;
            image.argb[static_cast<std::size_t>(y) * w + x] = transparent ? 0 : *argb;
        }
    }
    return {};
}

}  // namespace

Result<IconImage> parse_icon_image(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    const auto header = read_bitmap_header(r, bytes.size());
    if (!header.ok()) {
        return header.error();
    }
    const BitmapHeader& h = header.value();
    r.skip(h.size - 40, "bitmap header");
    const auto palette = read_palette(r, h);
    if (!palette.ok()) {
        return palette.error();
    }
    auto colour = r.take(row_bytes(h.width, h.bit_count) * h.height, "icon colour bits");
    auto mask = r.take(row_bytes(h.width, 1) * h.height, "icon transparency mask");
    if (r.failed()) {
        return *r.error();
    }
    IconImage image{h.width, h.height, h.bit_count,
                    std::vector<std::uint32_t>(static_cast<std::size_t>(h.width) * h.height)};
    if (auto decoded = decode_pixels(colour, mask, palette.value(), image); !decoded.ok()) {
        return decoded.error();
    }
    return image;
}

}  // namespace sim
