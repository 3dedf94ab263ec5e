// The Windows CE 3.0 loader's rules over a read image: each refusal with
// the error the loader reports, the order it checks them in, and where the
// image and its stack go.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/pe_load_rules.h"
#include "simulator/support/text.h"
#include "tests/support/pe_sample.h"

namespace {

sim::PeImage sample_image() {
    auto image = sim::parse_pe(pe_test::sample_image().file);
    EXPECT_TRUE(image.ok()) << (image.ok() ? "" : image.error().describe());
    return image.ok() ? image.value() : sim::PeImage{};
}

struct RuleCase {
    const char* what;
    std::function<void(sim::PeImage&)> change;
    std::uint32_t error;  // 0: loads
    const char* reason;
};

using namespace sim::win32_error;

const RuleCase kRuleCases[] = {
    {"x86", [](auto& i) { i.machine = 0x14C; }, kBadExeFormat, "not ARM"},
    {"Thumb", [](auto& i) { i.machine = 0x1C2; }, kBadExeFormat, "not ARM"},
    {"Windows GUI", [](auto& i) { i.subsystem = 2; }, kBadExeFormat, "subsystem 2"},
    {"CE 4.0", [](auto& i) { i.subsystem_major = 4; }, kOldWinVersion, "CE 4.0"},
    {"CE 3.01", [](auto& i) { i.subsystem_minor = 1; }, kOldWinVersion, "CE 3.1"},
    {"CE 2.11", [](auto& i) { i.subsystem_major = 2, i.subsystem_minor = 11; }, 0, ""},
    {"CE 4.0 DLL: version first",
     [](auto& i) { i.subsystem_major = 4, i.characteristics |= 0x2000; }, kOldWinVersion, "CE 4.0"},
    {"long optional header", [](auto& i) { i.size_of_optional_header = 0xF0; }, kBadExeFormat,
     "240 bytes"},
    {"10 directories", [](auto& i) { i.number_of_rva_and_sizes = 10; }, kBadExeFormat, "10 data"},
    {"DLL", [](auto& i) { i.characteristics |= 0x2000; }, kBadExeFormat, "a DLL"},
    {"not executable", [](auto& i) { i.characteristics &= ~0x0002; }, kBadExeFormat, "executable"},
    {"base below 64 KB", [](auto& i) { i.image_base = 0x8000; }, kBadExeFormat, "0x8000"},
    {"base above 4 MB", [](auto& i) { i.image_base = 0x401000; }, kBadExeFormat, "0x401000"},
    {"base at 4 MB", [](auto& i) { i.image_base = 0x400000; }, 0, ""},
    {"base off 64 KB", [](auto& i) { i.image_base = 0x10800; }, kBadExeFormat,
     "0x10800 is not a multiple of 64 KB"},
    {"relocatable, base off 64 KB",
     [](auto& i) { i.image_base = 0x10800, i.characteristics &= ~1; }, 0, ""},
    {"relocatable, low base", [](auto& i) { i.image_base = 0x8000, i.characteristics &= ~1; }, 0,
     ""},
    {"past the slot", [](auto& i) { i.image_base = 0x400000, i.size_of_image = 0x1C01000; },
     kOutOfMemory, "32 MB"},
    {"no sections", [](auto& i) { i.sections.clear(); }, kBadExeFormat, "no sections"},
    {"raw data past the file", [](auto& i) { i.sections[1].raw_in_file = false; }, kBadExeFormat,
     "the file is truncated: section 2 (.idata)'s raw data"},
    {"empty section", [](auto& i) { i.sections[1].virtual_size = 0; }, kBadExeFormat, "empty"},
    {"in the headers", [](auto& i) { i.sections[0].virtual_address = 0x100; }, kBadExeFormat,
     "outside the image"},
    {"past SizeOfImage", [](auto& i) { i.size_of_image = i.sections.back().virtual_address + 1; },
     kBadExeFormat, "outside"},
    {"off a page", [](auto& i) { i.sections[1].virtual_address = 0x2100; }, kBadExeFormat, "page"},
    {"overlapping", [](auto& i) { i.sections[0].virtual_size = 0x1001; }, kBadExeFormat,
     "overlaps"},
    {"out of order", [](auto& i) { std::swap(i.sections[0], i.sections[1]); }, kBadExeFormat,
     "overlaps"},
    {"no lookup table", [](auto& i) { i.imports[1].lookup_rva = 0; }, kBadExeFormat,
     "import descriptor 2 (aygshell.dll) has no lookup table"},
    {"32-character DLL", [](auto& i) { i.imports[0].dll = std::string(28, 'x') + ".dll"; },
     kModNotFound, "31 characters"},
    {"terminal escapes in a DLL's name",
     [](auto& i) { i.imports[0].dll = "\x1b]0;owned\x07\x1b[2J" + std::string(20, 'x') + ".dll"; },
     kModNotFound, "(\\x1b]0;owned\\x07\\x1b[2Jxxxx"},
    {"31-character DLL", [](auto& i) { i.imports[0].dll = std::string(27, 'x') + ".dll"; }, 0, ""},
    {"slot outside", [](auto& i) { i.imports[0].entries[1].iat_rva = 0x5000; }, kBadExeFormat,
     "slot 0x5000"},
    {"slot across a section's end",
     [](auto& i) {
         const sim::PeSection& idata = i.sections[1];
         i.imports[0].entries[1].iat_rva = idata.virtual_address + idata.virtual_size - 2;
     },
     kBadExeFormat, "slot"},
    {"8 KB stack", [](auto& i) { i.stack_reserve = 0x2000; }, kBadExeFormat, "stack"},
    {"16 KB stack", [](auto& i) { i.stack_reserve = 0x4000; }, 0, ""},
    {"1 MB stack", [](auto& i) { i.stack_reserve = 0x100000; }, 0, ""},
    {"2 MB stack", [](auto& i) { i.stack_reserve = 0x200000; }, kBadExeFormat, "stack"},
    {"CE 2.01, no stack",
     [](auto& i) { i.subsystem_major = 2, i.subsystem_minor = 1, i.stack_reserve = 0; }, 0, ""},
    {"managed",
     [](auto& i) {
         i.directories[14] = sim::DataDirectory{0x1100, 72};
     },
     kDllInitFailed, "mscoree"},
    {"managed x86: no machine check",
     [](auto& i) {
         i.directories[14] = sim::DataDirectory{0x1100, 72}, i.machine = 0x14C;
     },
     kDllInitFailed, "mscoree"},
    {"entry in data", [](auto& i) { i.entry_point = 0x2000; }, kBadExeFormat, "entry point 0x2000"},
    {"code not executable", [](auto& i) { i.sections[0].characteristics &= ~0x20000000u; },
     kBadExeFormat, "entry point"},
};

TEST(PeLoadRules, EachRefusalGivesTheLoadersError) {
    const sim::PeImage good = sample_image();
    ASSERT_EQ(sim::check_loadable(good), std::nullopt);
    for (const RuleCase& c : kRuleCases) {
        sim::PeImage image = good;
        c.change(image);
        const auto refusal = sim::check_loadable(image);
        if (c.error == 0) {
            EXPECT_EQ(refusal, std::nullopt) << c.what << ": " << refusal->describe();
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << c.what;
        EXPECT_EQ(refusal->error, c.error) << c.what << ": " << refusal->describe();
        EXPECT_NE(refusal->reason.find(c.reason), std::string::npos)
            << c.what << ": " << refusal->reason;
    }
}

// The loader reads the headers and the section table before any table: a
// file cut short, even by one byte in the imports' section, is refused as
// truncated; so is an image without sections or with a section table where
// the loader does not read it, before the tables they hide are looked for.
TEST(PeLoadRules, TheHeadersAreCheckedBeforeTheTablesTheyHide) {
    using pe_test::put16;
    const pe_test::Built good = pe_test::sample_image();
    struct Case {
        const char* what;
        std::function<pe_test::Bytes()> file;
        const char* reason;
    };
    const std::size_t idata_end = good.layout.idata_offset + 0x200;  // one file-aligned block
    const Case cases[] = {
        {"cut one byte into .idata's data",
         [&] { return pe_test::Bytes(good.file.begin(), good.file.begin() + idata_end - 1); },
         "the file is truncated: section 2 (.idata)'s raw data"},
        {"no sections",
         [&] {
             auto f = good.file;
             put16(f, good.layout.pe_header + 6, 0);
             return f;
         },
         "no sections"},
        {"a 240-byte optional header",
         [&] {
             auto f = good.file;
             put16(f, good.layout.pe_header + 20, 240);
             return f;
         },
         "optional header of 240 bytes"},
    };
    for (const Case& c : cases) {
        const pe_test::Bytes file = c.file();
        auto headers = sim::parse_pe_headers(file);
        ASSERT_TRUE(headers.ok()) << c.what << ": " << headers.error().describe();
        const auto refusal = sim::check_headers(headers.value());
        ASSERT_TRUE(refusal.has_value()) << c.what;
        EXPECT_NE(refusal->reason.find(c.reason), std::string::npos)
            << c.what << ": " << refusal->reason;
    }
    // The whole read of the cut file names the truncation too.
    const pe_test::Bytes cut(good.file.begin(), good.file.begin() + idata_end - 1);
    auto whole = sim::parse_pe(cut);
    ASSERT_FALSE(whole.ok());
    EXPECT_NE(whole.error().message.find("the file is truncated"), std::string::npos)
        << whole.error().describe();
}

// Bytes from a file go into messages escaped: no control character reaches
// a terminal, and the escape itself cannot be faked by the file.
TEST(Printable, EscapesEveryByteThatIsNotPrintableAscii) {
    EXPECT_EQ(sim::printable("coredll.dll"), "coredll.dll");
    EXPECT_EQ(sim::printable(std::string("a\x1b[2J\x07\x7f\x80\xff\0z", 11)),
              "a\\x1b[2J\\x07\\x7f\\x80\\xff\\x00z");
    EXPECT_EQ(sim::printable("\\x41"), "\\\\x41");
}

TEST(PeLoadRules, WhereTheImageAndItsStackGo) {
    sim::PeImage image = sample_image();
    image.image_base = 0x30000;
    EXPECT_EQ(sim::load_base(image), 0x30000u) << "no relocations: its own base";
    image.characteristics &= ~sim::pe::kRelocsStripped;
    EXPECT_EQ(sim::load_base(image), 0x10000u);
    image.stack_reserve = 0x10001;
    EXPECT_EQ(sim::main_stack_reserve(image), 0x11000u) << "rounded up to a page";
    image.stack_reserve = 0x100;
    EXPECT_EQ(sim::main_stack_reserve(image), 0x4000u);
    image.subsystem_major = 2;
    image.subsystem_minor = 1;
    EXPECT_EQ(sim::main_stack_reserve(image), 0x10000u) << "a CE 2.01 image gets 64 KB";
}

}  // namespace
