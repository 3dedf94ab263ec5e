#include "simulator/wince/resources.h"

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

}  // namespace

Result<std::vector<ResourceEntry>> parse_res_file(std::span<const std::uint8_t> bytes) {
    // A 32-bit resource file opens with an empty entry: data size 0, header
    // size 32, type and name ordinal 0.
    static constexpr std::uint8_t kMarker[16] = {0,    0,    0, 0, 32,   0,    0, 0,
                                                 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    if (bytes.size() < 32 || !std::equal(std::begin(kMarker), std::end(kMarker), bytes.begin())) {
        return Error::at_byte(0, "not a 32-bit resource file (it must open with an empty entry)");
    }
    std::vector<ResourceEntry> entries;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
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
        // The file opens with an empty entry (type 0, name 0) that marks it
        // as a 32-bit resource file; it holds no resource.
        const bool marker = data_size == 0 && entry.type == ResId::number(0);
        if (!marker) {
            entries.push_back(std::move(entry));
        }
        std::size_t next = offset + header_size + data_size;
        next += (4 - next % 4) % 4;
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

Result<IconImage> parse_icon_image(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
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
    if (header_size < 40 || header_size > bytes.size()) {
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
    r.skip(header_size - 40, "bitmap header");

    std::vector<std::uint32_t> palette;
    if (bit_count <= 8) {
        const std::uint32_t max_colours = 1u << bit_count;
        const std::uint32_t n = colours_used == 0 ? max_colours : colours_used;
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
    }
    const int w = width;
    const int h = height2 / 2;
    const std::size_t colour_stride = ((static_cast<std::size_t>(w) * bit_count + 31) / 32) * 4;
    const std::size_t mask_stride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
    auto colour = r.take(colour_stride * h, "icon colour bits");
    auto mask = r.take(mask_stride * h, "icon transparency mask");
    if (r.failed()) {
        return *r.error();
    }

    IconImage image{w, h, bit_count, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h)};
    for (int y = 0; y < h; ++y) {
        // Rows are stored bottom-up.
        const auto row = colour.subspan(colour_stride * (h - 1 - y), colour_stride);
        const auto mask_row = mask.subspan(mask_stride * (h - 1 - y), mask_stride);
        for (int x = 0; x < w; ++x) {
            std::uint32_t argb = 0;
            if (bit_count == 32) {
                const std::size_t i = static_cast<std::size_t>(x) * 4;
                argb = static_cast<std::uint32_t>(row[i + 3]) << 24 | row[i + 2] << 16 |
                       row[i + 1] << 8 | row[i];
            } else {
                const std::size_t bit = static_cast<std::size_t>(x) * bit_count;
                const std::uint8_t byte = row[bit / 8];
                const unsigned shift = 8 - bit_count - bit % 8;
                const unsigned index = (byte >> shift) & ((1u << bit_count) - 1);
                if (index >= palette.size()) {
                    return Error::at_byte(0, "pixel uses a colour missing from the palette");
                }
                argb = palette[index];
            }
            const bool transparent = (mask_row[x / 8] >> (7 - x % 8)) & 1;
            image.argb[static_cast<std::size_t>(y) * w + x] = transparent ? 0 : argb;
        }
    }
    return image;
}

}  // namespace sim
