// The compiled resources: the settings dialog's template and the icons as
// built into corvane.res, and the parsers' handling of damaged input.
#include <gtest/gtest.h>
#ifndef CORVANE_HEADLESS
#include <png.h>
#endif

#include <optional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "simulator/corvane/corvane_image.h"
#ifndef CORVANE_HEADLESS
#include "simulator/web/png.h"
#endif
#include "simulator/pe/resources.h"

namespace {

using sim::DialogTemplate;
using sim::ResId;

const sim::ResourceEntry* find(const std::vector<sim::ResourceEntry>& entries, std::uint16_t type,
                               std::uint16_t name) {
    for (const auto& e : entries) {
        if (e.type == ResId::number(type) && e.name == ResId::number(name)) {
            return &e;
        }
    }
    return nullptr;
}

DialogTemplate settings_template() {
    const auto entries = sim::corvane_resources();
    const auto* entry = find(entries, sim::rt::kDialog, IDD_SETTINGS);
    EXPECT_NE(entry, nullptr);
    auto parsed = sim::parse_dialog_template(entry->data);
    EXPECT_TRUE(parsed.ok()) << (parsed.ok() ? "" : parsed.error().describe());
    return parsed.value();
}

constexpr std::uint32_t kChildVisible = 0x50000000;  // WS_CHILD | WS_VISIBLE
constexpr std::uint32_t kGroup = 0x00020000;
constexpr std::uint32_t kTabStop = 0x00010000;

enum class Kind { LeftText, CentredText, PushButton, Icon, GroupBox, AutoCheckBox };

struct Row {
    Kind kind;
    int id;
    int x, y, cx, cy;
    std::u16string text;  // empty for icons
    int icon = 0;
};

// Kind, id, position, size and text of every control, in template order.
const Row kControls[] = {
    {Kind::LeftText, -1, 5, 0, 150, 42,
     u"Hit OK to minimize Corvane to the system tray.  By default, Corvane will set the speed to "
     u"400 MHz. Press the icon in the system tray to toggle turbo mode. Turbo setting will not be "
     u"lost after powering down. "},
    {Kind::PushButton, IDCANCEL, 35, 120, 87, 16, u"Quit (return to 400 Mhz)"},
    {Kind::CentredText, -1, 120, 72, 32, 8, u"498 MHz"},
    {Kind::Icon, -1, 18, 51, 20, 20, u"", IDI_LEGEND_100},
    {Kind::Icon, -1, 126, 51, 20, 20, u"", IDI_LEGEND_498},
    {Kind::CentredText, -1, 0, 140, 160, 10, u"(web address)"},
    {Kind::CentredText, -1, 0, 151, 160, 10, u"(contact)"},
    {Kind::Icon, -1, 70, 51, 20, 20, u"", IDI_LEGEND_400},
    {Kind::CentredText, -1, 12, 72, 32, 8, u"100 MHz"},
    {Kind::CentredText, -1, 64, 72, 32, 8, u"400 MHz"},
    {Kind::GroupBox, -1, 6, 42, 150, 42, u"Icon Legend"},
    {Kind::AutoCheckBox, IDC_ALLOW_100, 6, 90, 135, 10, u"Allow 100 MHz"},
    {Kind::AutoCheckBox, IDC_SHOW_NOTIFICATION, 6, 102, 135, 10, u"Show Speed Change Notification"},
};

TEST(SettingsTemplate, DialogHeader) {
    const DialogTemplate t = settings_template();
    EXPECT_EQ(t.style, 0x80C000C0u);  // popup, caption, modal frame, explicit font
    EXPECT_EQ(t.style & 0x10000000u, 0u) << "must not carry WS_VISIBLE";
    EXPECT_EQ(t.ex_style, 0x80000000u);  // OK button in the caption
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 162);
    EXPECT_EQ(t.cy, 161);
    EXPECT_EQ(t.title, u"Corvane");
    ASSERT_TRUE(t.font_size.has_value());
    EXPECT_EQ(*t.font_size, 8);
    EXPECT_EQ(t.font_face, u"MS Sans Serif");
    EXPECT_FALSE(t.menu.has_value());
    EXPECT_FALSE(t.window_class.has_value());
}

TEST(SettingsTemplate, EveryControlMatchesItsRow) {
    const DialogTemplate t = settings_template();
    ASSERT_EQ(t.items.size(), std::size(kControls));
    for (std::size_t i = 0; i < t.items.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const sim::DialogItem& item = t.items[i];
        const Row& row = kControls[i];
        EXPECT_EQ(static_cast<std::int16_t>(item.id), row.id);
        EXPECT_EQ(item.x, row.x);
        EXPECT_EQ(item.y, row.y);
        EXPECT_EQ(item.cx, row.cx);
        EXPECT_EQ(item.cy, row.cy);
        EXPECT_EQ(item.style & kChildVisible, kChildVisible);
        EXPECT_EQ(item.ex_style, 0u);
        EXPECT_TRUE(item.creation_data.empty());
        const ResId button = ResId::number(sim::kButtonClass);
        const ResId statik = ResId::number(sim::kStaticClass);
        switch (row.kind) {
            case Kind::LeftText:
                EXPECT_EQ(item.window_class, statik);
                EXPECT_EQ(item.style & 0x1F, 0x0u);  // SS_LEFT
                EXPECT_TRUE(item.style & kGroup);
                break;
            case Kind::CentredText:
                EXPECT_EQ(item.window_class, statik);
                EXPECT_EQ(item.style & 0x1F, 0x1u);  // SS_CENTER
                EXPECT_TRUE(item.style & kGroup);
                break;
            case Kind::Icon:
                EXPECT_EQ(item.window_class, statik);
                EXPECT_EQ(item.style & 0x1F, 0x3u);  // SS_ICON
                break;
            case Kind::PushButton:
                EXPECT_EQ(item.window_class, button);
                EXPECT_EQ(item.style & 0xF, 0x0u);  // BS_PUSHBUTTON
                EXPECT_TRUE(item.style & kTabStop);
                break;
            case Kind::GroupBox:
                EXPECT_EQ(item.window_class, button);
                EXPECT_EQ(item.style & 0xF, 0x7u);  // BS_GROUPBOX
                break;
            case Kind::AutoCheckBox:
                EXPECT_EQ(item.window_class, button);
                EXPECT_EQ(item.style & 0xF, 0x3u);  // BS_AUTOCHECKBOX
                EXPECT_TRUE(item.style & kTabStop);
                break;
        }
        if (row.kind == Kind::Icon) {
            EXPECT_EQ(item.title, ResId::number(static_cast<std::uint16_t>(row.icon)));
        } else if (i == 5) {
            ASSERT_FALSE(item.title.ordinal.has_value());
            EXPECT_NE(item.title.name.find(u"example.com"), std::u16string::npos);
        } else if (i == 6) {
            const std::u16string& s = item.title.name;
            EXPECT_TRUE(s.starts_with(u"Questions: ")) << sim::ResId(item.title).to_string();
            EXPECT_TRUE(s.ends_with(u"   Ver 0.91"));
            EXPECT_NE(s.find(u"@example."), std::u16string::npos);
        } else {
            EXPECT_EQ(item.title, ResId::text(row.text));
        }
    }
}

// A template with what the settings dialog does not use: a string class
// name on a control, a menu and class on the dialog, no DS_SETFONT, and
// creation data; each control starting on a 4-byte boundary.
TEST(DialogTemplates, StringClassesMenusAndCreationDataParse) {
    std::vector<std::uint8_t> b;
    auto u16 = [&](std::uint16_t v) {
        b.push_back(v & 0xFF);
        b.push_back(v >> 8);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto sz = [&](const std::u16string& s) {
        for (char16_t c : s)
            u16(c);
        u16(0);
    };
    u32(0x80C00000);  // no DS_SETFONT: no font fields follow the title
    u32(0);
    u16(2);
    for (std::int16_t v : {1, 2, 100, 50})
        u16(static_cast<std::uint16_t>(v));
    u16(0xFFFF);  // menu by ordinal
    u16(7);
    sz(u"MyClass");  // dialog class by name
    sz(u"Title");
    while (b.size() % 4)
        b.push_back(0);
    u32(0x50000000);  // control 1: class "BUTTON" by name, ordinal title
    u32(0);
    for (std::int16_t v : {3, 4, 20, 10})
        u16(static_cast<std::uint16_t>(v));
    u16(42);
    sz(u"BUTTON");
    u16(0xFFFF);
    u16(101);
    u16(2);  // two bytes of creation data
    b.push_back(0xAB);
    b.push_back(0xCD);
    while (b.size() % 4)
        b.push_back(0);
    u32(0x50000000);  // control 2: static by ordinal, text title
    u32(0);
    for (std::int16_t v : {-1, -2, 5, 6})
        u16(static_cast<std::uint16_t>(v));
    u16(0xFFFF);
    u16(0xFFFF);
    u16(0x82);
    sz(u"hi");
    u16(0);

    auto parsed = sim::parse_dialog_template(b);
    ASSERT_TRUE(parsed.ok()) << parsed.error().describe();
    const DialogTemplate& t = parsed.value();
    EXPECT_EQ(t.menu, ResId::number(7));
    EXPECT_EQ(t.window_class, ResId::text(u"MyClass"));
    EXPECT_EQ(t.title, u"Title");
    EXPECT_FALSE(t.font_size.has_value());
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_EQ(t.items[0].window_class, ResId::text(u"BUTTON"));
    EXPECT_EQ(t.items[0].title, ResId::number(101));
    EXPECT_EQ(t.items[0].creation_data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(t.items[0].id, 42);
    EXPECT_EQ(t.items[1].window_class, ResId::number(sim::kStaticClass));
    EXPECT_EQ(t.items[1].title, ResId::text(u"hi"));
    EXPECT_EQ(t.items[1].x, -1);
    EXPECT_EQ(static_cast<std::int16_t>(t.items[1].id), -1);
}

// --- Icons ---------------------------------------------------------------------

std::vector<sim::IconImage> icon_images(std::uint16_t id) {
    const auto entries = sim::corvane_resources();
    const auto* group = find(entries, sim::rt::kGroupIcon, id);
    EXPECT_NE(group, nullptr) << id;
    if (group == nullptr) {
        return {};
    }
    auto dir = sim::parse_icon_group(group->data);
    EXPECT_TRUE(dir.ok());
    std::vector<sim::IconImage> out;
    for (const auto& e : dir.value()) {
        EXPECT_EQ(e.bit_count, 4) << "16-colour icons";
        const auto* image = find(entries, sim::rt::kIcon, e.icon_id);
        EXPECT_NE(image, nullptr);
        auto parsed = sim::parse_icon_image(image->data);
        EXPECT_TRUE(parsed.ok()) << (parsed.ok() ? "" : parsed.error().describe());
        EXPECT_EQ(parsed.value().width, e.width);
        out.push_back(parsed.value());
    }
    return out;
}

// How many pixels of each colour a picture has: red, yellow, white,
// transparent.
struct Colours {
    int red = 0, yellow = 0, white = 0, transparent = 0;
};
Colours count(const sim::IconImage& image) {
    Colours c;
    for (std::uint32_t p : image.argb) {
        c.red += p == 0xFFFF0000u;
        c.yellow += p == 0xFFFFFF00u;
        c.white += p == 0xFFFFFFFFu;
        c.transparent += (p >> 24) == 0;
    }
    return c;
}

TEST(Icons, EachIconHasItsSizes) {
    const std::pair<std::uint16_t, std::vector<int>> sizes[] = {
        {IDI_APP, {32, 16}},   {IDI_LEGEND_100, {32, 16}}, {IDI_TRAY_400, {16}},
        {IDI_TRAY_498, {16}},  {IDI_LEGEND_498, {32}},     {IDI_TRAY_100, {16}},
        {IDI_LEGEND_400, {32}}};
    for (const auto& [id, expected] : sizes) {
        std::vector<int> got;
        for (const auto& image : icon_images(id)) {
            got.push_back(image.width);
            EXPECT_EQ(image.height, image.width);
        }
        EXPECT_EQ(got, expected) << "icon " << id;
    }
}

// 100 MHz: three red squares; 400 adds two yellow; 498 adds one white. The
// program icon shows the 498 MHz picture. The ground is transparent.
TEST(Icons, StepMeterPictures) {
    struct Expect {
        std::uint16_t id;
        int yellow_squares, white_squares;
    };
    const Expect pictures[] = {
        {IDI_LEGEND_100, 0, 0}, {IDI_TRAY_100, 0, 0}, {IDI_LEGEND_400, 2, 0}, {IDI_TRAY_400, 2, 0},
        {IDI_LEGEND_498, 2, 1}, {IDI_TRAY_498, 2, 1}, {IDI_APP, 2, 1}};
    for (const auto& p : pictures) {
        for (const auto& image : icon_images(p.id)) {
            SCOPED_TRACE("icon " + std::to_string(p.id) + " at " + std::to_string(image.width));
            const int square = (image.width / 16) * (image.width / 16) * 9;  // 3 x 3 pixels each
            const Colours c = count(image);
            EXPECT_EQ(c.red, 3 * square);
            EXPECT_EQ(c.yellow, p.yellow_squares * square);
            EXPECT_EQ(c.white, p.white_squares * square);
            EXPECT_EQ(image.argb.front() >> 24, 0u) << "top-left corner is transparent";
            EXPECT_GT(c.transparent, image.width * image.width / 3);
        }
    }
}

#ifndef CORVANE_HEADLESS
// The web page shows the icons as PNG files: read back with libpng, each
// image has the icon's size and, pixel for pixel, its colours where opaque
// and no coverage where transparent.
TEST(Icons, PngFilesHoldThePictures) {
    for (const std::uint16_t id : {IDI_APP, IDI_LEGEND_100, IDI_LEGEND_400, IDI_LEGEND_498,
                                   IDI_TRAY_100, IDI_TRAY_400, IDI_TRAY_498}) {
        for (const auto& image : icon_images(id)) {
            SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(image.width));
            const std::string file = sim::web::encode_png(image);
            ASSERT_FALSE(file.empty());
            png_image png{};
            png.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_memory(&png, file.data(), file.size()));
            png.format = PNG_FORMAT_RGBA;
            EXPECT_EQ(png.width, static_cast<png_uint_32>(image.width));
            EXPECT_EQ(png.height, static_cast<png_uint_32>(image.height));
            std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(png));
            ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr));
            ASSERT_EQ(rgba.size(), image.argb.size() * 4);
            for (std::size_t i = 0; i < image.argb.size(); ++i) {
                const std::uint32_t p = image.argb[i];
                const std::uint32_t a = rgba[4 * i + 3];
                const std::uint32_t got =
                    a == 0 ? 0
                           : a << 24 | rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
                ASSERT_EQ(got, (p >> 24) == 0 ? 0u : p) << "pixel " << i;
            }
        }
    }
    // An image whose pixels do not fill it is no picture.
    sim::IconImage short_of_pixels;
    short_of_pixels.width = short_of_pixels.height = 16;
    short_of_pixels.argb.assign(16 * 15, 0xFF000000u);
    EXPECT_TRUE(sim::web::encode_png(short_of_pixels).empty());
}
#endif

// --- Damaged input --------------------------------------------------------------

std::vector<std::uint8_t> real_res() {
    const auto bytes = sim::corvane_res();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> template_bytes() {
    const auto entries = sim::corvane_resources();
    return find(entries, sim::rt::kDialog, IDD_SETTINGS)->data;
}

TEST(DamagedResources, EveryTruncationOfTheResFileIsHandled) {
    const auto res = real_res();
    const auto full = sim::parse_res_file(res);
    ASSERT_TRUE(full.ok());
    for (std::size_t n = 0; n < res.size(); ++n) {
        // A copy of exactly n bytes, so that a read past it is caught.
        const std::vector<std::uint8_t> cut(res.begin(), res.begin() + static_cast<long>(n));
        const auto parsed = sim::parse_res_file(cut);
        if (parsed.ok()) {
            // Only a cut between whole entries parses: to fewer entries, or
            // to all of them when only the last entry's padding is gone.
            if (parsed.value().size() == full.value().size()) {
                EXPECT_GT(n + 4, res.size()) << n;
            } else {
                EXPECT_LT(parsed.value().size(), full.value().size()) << n;
            }
        } else {
            EXPECT_FALSE(parsed.error().message.empty());
            ASSERT_TRUE(parsed.error().offset.has_value()) << n;
            EXPECT_LE(*parsed.error().offset, n);
        }
    }
}

TEST(DamagedResources, EveryTruncationOfTheTemplateIsAnError) {
    const auto bytes = template_bytes();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        const auto parsed = sim::parse_dialog_template(cut);
        EXPECT_FALSE(parsed.ok()) << "cut at " << n;
    }
}

TEST(DamagedResources, LiesInHeadersAreCaught) {
    // A control count larger than the controls present.
    auto more_controls = template_bytes();
    more_controls[8] = 14;
    auto parsed = sim::parse_dialog_template(more_controls);
    ASSERT_FALSE(parsed.ok());
    EXPECT_NE(parsed.error().message.find("truncated"), std::string::npos);

    // A .res entry whose data size runs past the end of the file.
    auto res = real_res();
    res[32] = 0xFF;
    res[33] = 0xFF;
    res[34] = 0xFF;
    EXPECT_FALSE(sim::parse_res_file(res).ok());

    // A .res header smaller than its fixed fields.
    res = real_res();
    res[36] = 8;
    res[37] = res[38] = res[39] = 0;
    EXPECT_FALSE(sim::parse_res_file(res).ok());

    // A header size that runs past the end of the file.
    res = real_res();
    res[39] = 0x7F;
    EXPECT_FALSE(sim::parse_res_file(res).ok());
}

TEST(DamagedResources, BadIconImagesAreErrors) {
    const auto entries = sim::corvane_resources();
    const sim::ResourceEntry* image = nullptr;
    for (const auto& e : entries) {
        if (e.type == ResId::number(sim::rt::kIcon)) {
            image = &e;
            break;
        }
    }
    ASSERT_NE(image, nullptr);
    auto huge = image->data;
    huge[5] = 0x40;  // width 16384
    EXPECT_FALSE(sim::parse_icon_image(huge).ok());

    auto odd_depth = image->data;
    odd_depth[14] = 3;  // 3 bits per pixel
    EXPECT_FALSE(sim::parse_icon_image(odd_depth).ok());

    auto few_colours = image->data;
    few_colours[32] = 2;  // a 2-colour palette that 4-bit pixels index past
    EXPECT_FALSE(sim::parse_icon_image(few_colours).ok());

    for (std::size_t n = 0; n < image->data.size(); ++n) {
        const std::vector<std::uint8_t> cut(image->data.begin(),
                                            image->data.begin() + static_cast<long>(n));
        EXPECT_FALSE(sim::parse_icon_image(cut).ok()) << n;
    }
}

}  // namespace
