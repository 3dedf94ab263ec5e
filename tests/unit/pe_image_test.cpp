// The executable image reader: a good image read back field by field, its
// resources serving the module, and damaged files refused with an error
// at the byte where the damage is (never a read outside the file: the asan
// build checks that).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "simulator/corvane/corvane_image.h"
#include "simulator/pe/pe_image.h"
#include "simulator/pe/pe_load_rules.h"
#include "simulator/wince/module.h"
#include "tests/support/pe_sample.h"
#include "tools/pe/rsrc.h"

namespace {

using pe_test::Bytes;
using pe_test::get32;
using pe_test::put16;
using pe_test::put32;
using sim::ResId;

std::vector<sim::ResourceEntry> named_resources() {
    sim::ResourceEntry a{ResId::text(u"CUSTOM"), ResId::text(u"ONE"), 0, {1, 2, 3, 4, 5}};
    sim::ResourceEntry b{ResId::number(10), ResId::number(7), 0x409, {9, 8, 7}};
    sim::ResourceEntry c{ResId::number(10), ResId::number(7), 0x407, {6}};
    return {a, b, c};
}

pe_test::Built good_image() {
    return pe_test::sample_image(named_resources());
}

sim::PeImage parsed(const Bytes& file) {
    auto image = sim::parse_pe(file);
    EXPECT_TRUE(image.ok()) << (image.ok() ? "" : image.error().describe());
    return image.ok() ? image.value() : sim::PeImage{};
}

TEST(PeImage, ReadsTheHeadersAndSections) {
    const sim::PeImage image = parsed(good_image().file);
    EXPECT_EQ(image.machine, 0x1C0);
    EXPECT_EQ(image.characteristics, 0x010F);
    EXPECT_EQ(image.subsystem, 9);
    EXPECT_EQ(image.subsystem_major, 3);
    EXPECT_EQ(image.subsystem_minor, 0);
    EXPECT_EQ(image.image_base, 0x10000u);
    EXPECT_EQ(image.entry_point, 0x1010u);
    EXPECT_EQ(image.size_of_image, 0x4000u);
    EXPECT_EQ(image.size_of_headers, 0x200u);
    EXPECT_EQ(image.section_alignment, 0x1000u);
    EXPECT_EQ(image.file_alignment, 0x200u);
    EXPECT_EQ(image.stack_reserve, 0x10000u);
    EXPECT_EQ(image.stack_commit, 0x1000u);
    EXPECT_EQ(image.directories[sim::pe::kImportDirectory], (sim::DataDirectory{0x2000, 60}));
    EXPECT_EQ(image.directories[sim::pe::kResourceDirectory].rva, 0x3000u);
    ASSERT_EQ(image.sections.size(), 3u);
    const sim::PeSection& text = image.sections[0];
    EXPECT_EQ(text.name, ".text");
    EXPECT_EQ(text.virtual_address, 0x1000u);
    EXPECT_EQ(text.virtual_size, 0x40u);
    EXPECT_EQ(text.raw_offset, 0x200u);
    EXPECT_EQ(text.raw_size, 0x200u);
    EXPECT_EQ(text.characteristics, 0x60000020u);
    EXPECT_EQ(text.data.size(), 0x40u) << "only the virtual size is loaded";
    EXPECT_EQ(image.sections[1].name, ".idata");
    EXPECT_EQ(image.sections[2].name, ".rsrc");
    EXPECT_EQ(image.section_at(0x2004), &image.sections[1]);
    EXPECT_EQ(image.section_at(0x1040), nullptr) << "past .text's virtual size";
}

TEST(PeImage, ReadsTheImportsByOrdinalAndByName) {
    pe_test::Built built = good_image();
    const pe_test::Layout& l = built.layout;
    // The writer leaves every hint 0 (the loader then looks the name up):
    // Sleep's is set to 1, to be read back.
    pe_test::put16(built.file, l.idata_offset + (l.import_labels.at(".Lhint_Sleep") - l.idata_rva),
                   1);
    const sim::PeImage image = parsed(built.file);
    ASSERT_EQ(image.imports.size(), 2u);
    const sim::PeImportDll& core = image.imports[0];
    EXPECT_EQ(core.dll, "COREDLL.dll");
    EXPECT_EQ(core.iat_rva, l.import_labels.at("__imp_InterlockedExchange"));
    ASSERT_EQ(core.entries.size(), 2u);
    EXPECT_EQ(core.entries[0].ordinal, 12);
    EXPECT_EQ(core.entries[0].iat_rva, l.import_labels.at("__imp_InterlockedExchange"));
    EXPECT_EQ(core.entries[1].ordinal, std::nullopt);
    EXPECT_EQ(core.entries[1].name, "Sleep");
    EXPECT_EQ(core.entries[1].hint, 1);
    EXPECT_EQ(core.entries[1].iat_rva, l.import_labels.at("__imp_Sleep"));

    const auto all = sim::list_imports(image);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].dll, "aygshell.dll");
    EXPECT_EQ(all[2].name, "SHInitDialog");
    EXPECT_EQ(all[2].iat_rva, l.import_labels.at("__imp_SHInitDialog"));
}

TEST(PeImage, ReadsTheResourceTreeWithItsDataRvas) {
    const sim::PeImage image = parsed(good_image().file);
    const auto expected = named_resources();
    ASSERT_EQ(image.resources.size(), expected.size());
    // Names sort before numbers, and languages by number.
    const std::size_t order[] = {0, 2, 1};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const sim::ResourceEntry& got = image.resources[i];
        const sim::ResourceEntry& want = expected[order[i]];
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.language, want.language);
        EXPECT_EQ(got.data, want.data);
        const sim::PeSection* s = image.section_at(got.rva);
        ASSERT_NE(s, nullptr);
        ASSERT_LE(got.rva - s->virtual_address + got.data.size(), s->data.size());
        EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(),
                               s->data.begin() + (got.rva - s->virtual_address)));
    }
}

// The program's own resources, out of an image, serve the module's code
// paths as those of the .res do.
TEST(PeImage, ProgramResourcesServeTheModule) {
    const auto res = sim::corvane_resources();
    const sim::PeImage image = parsed(pe_test::sample_image(res).file);
    ASSERT_EQ(image.resources.size(), res.size());
    const sim::Module module(image.resources);
    const auto* dialog = module.find(ResId::number(sim::rt::kDialog), ResId::number(IDD_SETTINGS));
    ASSERT_NE(dialog, nullptr);
    auto dialog_template = sim::parse_dialog_template(dialog->data);
    ASSERT_TRUE(dialog_template.ok());
    EXPECT_EQ(dialog_template.value().items.size(), 13u);
    auto icon = sim::find_icon_image(module, IDI_TRAY_498, 16, 16);
    ASSERT_TRUE(icon.ok()) << icon.error().describe();
    EXPECT_EQ(icon.value().width, 16);
}

// --- Damaged files ------------------------------------------------------------

// The file offsets of the resource tree's data entries, found by walking it.
std::vector<std::size_t> data_entries(const Bytes& f, std::size_t root, std::size_t table = 0,
                                      int level = 0) {
    std::vector<std::size_t> out;
    const std::size_t count = f.at(root + table + 12) + f.at(root + table + 14);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t target = get32(f, root + table + 16 + 8 * i + 4);
        if (level == 2) {
            out.push_back(root + target);
        } else {
            auto below = data_entries(f, root, target & 0x7FFFFFFF, level + 1);
            out.insert(out.end(), below.begin(), below.end());
        }
    }
    return out;
}

constexpr std::size_t kAnywhere = ~std::size_t{0};
using L = const pe_test::Layout&;
using Where = std::function<std::size_t(const Bytes&, L)>;
using Apply = std::function<std::size_t(Bytes&, L)>;

struct Damage {
    const char* what;
    Apply apply;  // damages the file; returns the offset the error must name (or kAnywhere)
    const char* message;
};

// A field at a fixed offset, or at one from the layout.
Where at(std::size_t offset) {
    return [=](const Bytes&, L) { return offset; };
}
Where field(std::size_t pe_test::Layout::*member, std::size_t plus = 0) {
    return [=](const Bytes&, L l) { return l.*member + plus; };
}
// Writes `value` (`width` bytes) over the field; the error must name the
// field, `error_from` bytes further on (nothing: anywhere).
Apply poke(Where where, std::uint32_t value, int width = 4,
           std::optional<std::ptrdiff_t> error_from = 0) {
    return [=](Bytes& f, L l) {
        const std::size_t offset = where(f, l);
        width == 2 ? put16(f, offset, value) : put32(f, offset, value);
        return error_from
                   ? static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + *error_from)
                   : kAnywhere;
    };
}
// Sets or clears the high bit of the field.
Apply flip_high_bit(Where where) {
    return [=](Bytes& f, L l) {
        const std::size_t offset = where(f, l);
        put32(f, offset, get32(f, offset) ^ 0x80000000u);
        return offset - 4;  // the entry the field is the target of
    };
}

std::size_t ilt_entry(const Bytes& f, L l, std::size_t n) {
    return l.idata_offset + (get32(f, l.idata_offset) - l.idata_rva) + 4 * n;
}
std::size_t language_entry(const Bytes& f, L l) {
    std::size_t table = 0;
    for (int level = 0; level < 2; ++level) {
        table = get32(f, l.rsrc_offset + table + 20) & 0x7FFFFFFF;
    }
    return l.rsrc_offset + table + 16;
}
std::size_t first_data_entry(const Bytes& f, L l) {
    return data_entries(f, l.rsrc_offset)[0];
}
// The string of the root's first entry, a named type.
std::size_t first_name_string(const Bytes& f, L l) {
    return l.rsrc_offset + (get32(f, l.rsrc_offset + 16) & 0x7FFFFFFF);
}
std::size_t idata_size(const Bytes& f, L l) {
    return get32(f, l.section_table + 48);
}

// Every data entry points at the same two thirds of the section.
std::size_t overlap_data(Bytes& f, L l) {
    for (std::size_t e : data_entries(f, l.rsrc_offset)) {
        put32(f, e, l.rsrc_rva);
        put32(f, e + 4, get32(f, l.section_table + 88) * 2 / 3);
    }
    return data_entries(f, l.rsrc_offset)[1];
}

using pe_test::Layout;
// From the section count to the section table, where a section count too
// large is reported.
const auto kToSectionTable =
    static_cast<std::ptrdiff_t>(Layout{}.section_table - (Layout{}.pe_header + 6));
const Damage kDamages[] = {
    {"no MZ", poke(at(0), 'X', 2), "MZ"},
    {"e_lfanew past the end", poke(at(0x3C), 0x100000, 4, 4), "e_lfanew points at"},
    {"no signature", poke(field(&Layout::pe_header), 0x4550AA), "no PE signature"},
    {"short optional header", poke(field(&Layout::pe_header, 20), 0x60, 2), "96 bytes"},
    {"PE32+", poke(field(&Layout::optional_header), 0x20B, 2), "PE32"},
    {"97 sections", poke(field(&Layout::pe_header, 6), 97, 2, kToSectionTable), "at most 96"},
    {"table past the file", poke(field(&Layout::pe_header, 6), 96, 2, kToSectionTable),
     "section table runs past"},
    {"import directory outside", poke(field(&Layout::directories, 8), 0x9000),
     "import directory (RVA 0x9000)"},
    {"no closing descriptor",
     [](Bytes& f, L l) {
         put32(f, l.directories + 8, l.idata_rva + idata_size(f, l) - 8);
         return kAnywhere;
     },
     "without the all-zero one"},
    {"DLL name outside", poke(field(&Layout::idata_offset, 12), 0x9000), "imported DLL's name"},
    {"lookup table outside", poke(field(&Layout::idata_offset), 0x9000),
     "import lookup table of COREDLL.dll"},
    {"function name outside", poke([](const Bytes& f, L l) { return ilt_entry(f, l, 1); }, 0x9000),
     "imported function's name"},
    {"ordinal with high bits",
     poke([](const Bytes& f, L l) { return ilt_entry(f, l, 0); }, 0x80010000u | 12),
     "bits set above"},
    {"resource directory outside", poke(field(&Layout::directories, 16), 0x9000),
     "resource directory (RVA 0x9000)"},
    {"a table pointing at the root", poke(field(&Layout::rsrc_offset, 20), 0x80000000u, 4, -20),
     "reached twice"},
    {"absurd entry count", poke(field(&Layout::rsrc_offset, 14), 0xFFFF, 2, 2),
     "resource table entries"},
    {"name string past the section", poke(first_name_string, 0xFFFF, 2, std::nullopt),
     "resource name string"},
    {"type entry at data", flip_high_bit(field(&Layout::rsrc_offset, 20)),
     "type entry points at data"},
    {"id over 16 bits", poke(field(&Layout::rsrc_offset, 24), 0x10000), "exceeds 16 bits"},
    {"language entry at a table",
     flip_high_bit([](const Bytes& f, L l) { return language_entry(f, l) + 4; }),
     "points at a table"},
    {"data outside", poke(first_data_entry, 0x9000), "lies outside its section"},
    {"data overlapping", overlap_data, "add up to more"},
};

TEST(PeImageDamage, EachCorruptHeaderIsAnErrorWhereItIs) {
    for (const Damage& c : kDamages) {
        pe_test::Built built = good_image();
        const std::size_t offset = c.apply(built.file, built.layout);
        const auto image = sim::parse_pe(built.file);
        ASSERT_FALSE(image.ok()) << c.what;
        EXPECT_NE(image.error().message.find(c.message), std::string::npos)
            << c.what << ": " << image.error().describe();
        if (offset != kAnywhere) {
            EXPECT_EQ(image.error().offset, offset) << c.what << ": " << image.error().describe();
        }
    }
}

// Every truncation is refused; and with any one byte of the file damaged,
// reading and checking it stay inside the file (the asan build sees any
// read past it: each file is a heap block of exactly its size).
TEST(PeImageDamage, TruncatedOrFlippedFilesNeverReadOutside) {
    const Bytes good = good_image().file;
    for (std::size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(sim::parse_pe(cut).ok()) << "cut to " << n << " bytes";
    }
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (std::uint8_t value : {0x00, 0x7F, 0xFF}) {
            Bytes damaged = good;
            damaged[i] = value;
            if (auto image = sim::parse_pe(damaged); image.ok()) {
                (void)sim::check_loadable(image.value());
            }
        }
    }
}

TEST(PeResourceDirectory, RefusesARootOutsideItsSection) {
    const Bytes section = pe::build_rsrc(named_resources(), 0x3000);
    EXPECT_TRUE(sim::parse_resource_directory(section, 0x3000, 0x3000).ok());
    for (std::uint32_t root : {0x2FFFu, 0x3000u + static_cast<std::uint32_t>(section.size())}) {
        const auto tree = sim::parse_resource_directory(section, 0x3000, root);
        ASSERT_FALSE(tree.ok());
        EXPECT_NE(tree.error().message.find("outside its section"), std::string::npos);
    }
}

}  // namespace
