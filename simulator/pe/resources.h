// Compiled resources: the .res file the resource compiler writes, the dialog
// templates and icons inside it.
//
// Every parser reads only inside the span it is given and reports the first
// fault it finds with its offset; none of them trusts a size or count it
// reads.
#ifndef CORVANE_SIMULATOR_PE_RESOURCES_H
#define CORVANE_SIMULATOR_PE_RESOURCES_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simulator/pe/byte_reader.h"
#include "simulator/support/result.h"

namespace sim {

// A resource type or name, or a window class or title in a template: a
// 16-bit ordinal or a string.
struct ResId {
    std::optional<std::uint16_t> ordinal;
    std::u16string name;

    static ResId number(std::uint16_t n) { return ResId{n, {}}; }
    static ResId text(std::u16string s) { return ResId{std::nullopt, std::move(s)}; }
    bool operator==(const ResId&) const = default;
    std::string to_string() const;
};

// --- .res files ------------------------------------------------------------
namespace rt {
constexpr std::uint16_t kIcon = 3;
constexpr std::uint16_t kDialog = 5;
constexpr std::uint16_t kGroupIcon = 14;
}  // namespace rt

struct ResourceEntry {
    ResId type;
    ResId name;
    std::uint16_t language = 0;
    std::vector<std::uint8_t> data;
    // Where the data lies in a loaded executable image (relative to its
    // base); 0 for a resource read from a .res file.
    std::uint32_t rva = 0;
};

Result<std::vector<ResourceEntry>> parse_res_file(std::span<const std::uint8_t> bytes);

// --- Dialog templates (DLGTEMPLATE and its DLGITEMTEMPLATEs) ---------------
struct DialogItem {
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint16_t id = 0;
    ResId window_class;  // ordinal 0x80 button, 0x82 static, ... or a name
    ResId title;         // text, or an ordinal (an icon's resource id)
    std::vector<std::uint8_t> creation_data;
};

struct DialogTemplate {
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::optional<ResId> menu;
    std::optional<ResId> window_class;
    std::u16string title;
    std::optional<std::uint16_t> font_size;  // with DS_SETFONT
    std::u16string font_face;
    std::vector<DialogItem> items;
};

constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint16_t kButtonClass = 0x80;
constexpr std::uint16_t kStaticClass = 0x82;

Result<DialogTemplate> parse_dialog_template(std::span<const std::uint8_t> bytes);

// --- Icons -------------------------------------------------------------------
struct IconDirEntry {
    int width = 0;
    int height = 0;
    int colour_count = 0;
    int bit_count = 0;
    std::uint32_t bytes = 0;
    std::uint16_t icon_id = 0;  // the RT_ICON resource holding the image
};

Result<std::vector<IconDirEntry>> parse_icon_group(std::span<const std::uint8_t> bytes);

// An icon image decoded to 0xAARRGGBB pixels, top row first.
struct IconImage {
    int width = 0;
    int height = 0;
    int bit_count = 0;
    std::vector<std::uint32_t> argb;
};

// Decodes an RT_ICON image: a DIB of 1, 4, 8 or 32 bits per pixel with its
// transparency mask.
Result<IconImage> parse_icon_image(std::span<const std::uint8_t> bytes);

}  // namespace sim

#endif
