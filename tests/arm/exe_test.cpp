// corvane.exe on the simulated device, as the Windows CE loader runs it: the
// loader's refusals, the boundary between the two calling conventions, and
// the exe's own calls and register accesses seen coming from inside it.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "simulator/exe/ce_boundary.h"
#include "simulator/pe/pe_image.h"
#include "simulator/pe/symbol_map.h"
#include "simulator/script/scenario.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::CorvaneDevice;
using corvane_test::run_as_program;
using sim::json;

std::vector<std::uint8_t> read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path << " (make device builds it)";
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::vector<std::uint8_t>& exe_bytes() {
    static const std::vector<std::uint8_t> bytes = read(CORVANE_EXE);
    return bytes;
}

std::string map_text() {
    const auto bytes =
        read(std::string(CORVANE_EXE).substr(0, std::strlen(CORVANE_EXE) - 4) + ".map");
    return {bytes.begin(), bytes.end()};
}

// The file offset of `rva` in the exe.
std::size_t file_offset(const std::vector<std::uint8_t>& file, std::uint32_t rva) {
    auto image = sim::parse_pe(file);
    EXPECT_TRUE(image.ok());
    const sim::PeSection* s = image.value().section_at(rva);
    EXPECT_NE(s, nullptr);
    return s->raw_offset + (rva - s->virtual_address);
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    std::memcpy(&b[at], &v, sizeof v);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    std::memcpy(&b[at], &v, sizeof v);
}
std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}

sim::Result<sim::OpenedExe, sim::ExeRefusal> open(std::vector<std::uint8_t> bytes) {
    return sim::open_exe_image(std::move(bytes), map_text(), sim::corvane_state_layout());
}

// What the device's loader refuses, the simulator refuses with its reason.
TEST(ExeLoader, RefusesWhatTheDevicesLoaderRefusesWithItsReason) {
    const std::vector<std::uint8_t>& good = exe_bytes();
    ASSERT_GT(good.size(), 0x400u);
    ASSERT_TRUE(open(good).ok()) << open(good).error().describe();
    const std::size_t coff = get32(good, 0x3C) + 4;
    const std::size_t optional = coff + 20;
    auto image = sim::parse_pe(good);
    ASSERT_TRUE(image.ok());
    const std::uint32_t import_dir = image.value().directories[1].rva;

    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> patch;
        std::uint32_t error;
        const char* reason;  // a part of the message
    };
    const Case cases[] = {
        {"Thumb-2 machine", [&](auto& b) { put16(b, coff, 0x1C4); }, 193, "machine"},
        {"a DLL", [&](auto& b) { put16(b, coff + 18, get32(b, coff + 18) | 0x2000); }, 193, "DLL"},
        {"subsystem 4.00", [&](auto& b) { put16(b, optional + 48, 4); }, 1150, "4.0"},
        {"no lookup table", [&](auto& b) { put32(b, file_offset(b, import_dir), 0); }, 193,
         "lookup"},
        {"section beyond the image",
         [&](auto& b) { put32(b, optional + 56, image.value().sections.back().virtual_address); },
         193, ""},
        {"an import no DLL exports",
         [&](auto& b) {
             const char name[] = "SetForegroundWindow";
             auto at = std::search(b.begin(), b.end(), name, name + sizeof name);
             ASSERT_NE(at, b.end());
             *(at + 3) = 'b';  // SetboregroundWindow
         },
         127, "SetboregroundWindow"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bad = good;
        c.patch(bad);
        auto opened = open(bad);
        ASSERT_FALSE(opened.ok()) << c.what;
        EXPECT_EQ(opened.error().error, c.error) << c.what << ": " << opened.error().describe();
        EXPECT_NE(opened.error().message.find(c.reason), std::string::npos)
            << c.what << ": " << opened.error().describe();
    }
}

// Every platform call the program makes comes from inside the image's
// code, and so do its trapped register and coprocessor accesses.
TEST(ExeOnDevice, CallsAndRegisterAccessesComeFromInsideTheImage) {
    auto image = sim::parse_pe(exe_bytes());
    const sim::PeSection* text = image.value().section_at(image.value().entry_point);
    ASSERT_NE(text, nullptr);
    const std::uint32_t begin = image.value().image_base + text->virtual_address;
    const std::uint32_t end = begin + text->virtual_size;

    auto options = sim::open_corvane({CORVANE_EXE, std::nullopt});
    ASSERT_TRUE(options.ok()) << options.error().message;
    CorvaneDevice device(std::move(options.value()));
    std::istringstream script(
        "ok\nnotify\nwait 6s\ntap\nwait 6s\nresume\nwait 6s\nexpect mhz 497.66\n"
        "expect app speedMode 2\ndoubletap\nwait 12s\nquit\nexpect program ended 0\n");
    auto scenario = sim::parse_scenario(script, "inline", sim::corvane_names());
    ASSERT_TRUE(scenario.ok());
    const auto result = sim::run_scenario(*device, scenario.value(), [](const json&) {});
    EXPECT_EQ(result.failed, 0);

    std::size_t from_image = 0;
    std::size_t trapped = 0;
    for (const json& e : device.events()) {
        if (!e.contains("call")) {
            continue;
        }
        const std::string key = e.contains("pc") ? "pc" : "from";
        ASSERT_TRUE(e.contains(key)) << e.dump();
        const auto at = std::stoul(e[key].get<std::string>(), nullptr, 16);
        EXPECT_TRUE(at >= begin && at < end) << e.dump();
        (key == "pc" ? trapped : from_image) += 1;
    }
    EXPECT_GT(from_image, 50u);
    EXPECT_GT(trapped, 10u);  // CCCR loads and stores, CCLKCFG reads and writes
    EXPECT_FALSE(device.calls("ldr").empty());
    EXPECT_FALSE(device.calls("str").empty());

    // The dialog template the program loaded is the one in its own .rsrc.
    const sim::PeSection* rsrc = image.value().section_at(image.value().directories[2].rva);
    ASSERT_NE(rsrc, nullptr);
    const auto at = device->locked([](sim::Device& d) {
        const sim::ResourceEntry* dialog =
            d.module().find(sim::ResId::number(sim::rt::kDialog), sim::ResId::number(104));
        return reinterpret_cast<std::uintptr_t>(d.module().data_of(*dialog));
    });
    EXPECT_GE(at, image.value().image_base + rsrc->virtual_address);
    EXPECT_LT(at, image.value().image_base + rsrc->virtual_address + rsrc->virtual_size);
}

// --- The boundary itself --------------------------------------------------

// Returns sp as the callee sees it, and the fifth and sixth arguments.
extern "C" __attribute__((naked)) std::uint32_t probe_sp() {
    asm volatile("mov r0, sp\n bx lr\n");
}
extern "C" __attribute__((naked)) std::uint32_t probe_stack_args(std::uint32_t, std::uint32_t,
                                                                 std::uint32_t, std::uint32_t) {
    asm volatile("ldr r0, [sp]\n ldr r1, [sp, #4]\n add r0, r0, r1, lsl #8\n bx lr\n");
}
// Calls `stub` with six arguments from a stack aligned to 4 and not 8, as
// the image's code would call an import.
extern "C" __attribute__((naked)) std::uint32_t probe_call_import(std::uint32_t) {
    asm volatile(
        "push {r4, lr}\n sub sp, sp, #8\n mov r4, r0\n"
        "mov r0, #5\n str r0, [sp]\n mov r0, #6\n str r0, [sp, #4]\n"
        "mov r0, #1\n mov r1, #2\n mov r2, #3\n mov r3, #4\n blx r4\n"
        "add sp, sp, #8\n pop {r4, pc}\n");
}

std::uint32_t seen_sp_alignment = 99;
std::uint32_t six(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t e, std::uint32_t f) {
    std::uint32_t sp;
    asm volatile("mov %0, sp" : "=r"(sp));
    seen_sp_alignment = sp % 8;
    return a + 10 * b + 100 * c + 1000 * d + 10000 * e + 100000 * f;
}
std::uint32_t exits(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t) {
    throw sim::ThreadExit{42};
}

// An import stub as the loader makes one, in a page of its own.
std::uint32_t make_stub(void* target) {
    void* page =
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    auto* w = static_cast<std::uint32_t*>(page);
    w[0] = 0xE59FC000;  // ldr r12, [pc, #0]
    w[1] = 0xE59FF000;  // ldr pc, [pc, #0]
    w[2] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target));
    w[3] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&corvane_ce_import));
    __builtin___clear_cache(static_cast<char*>(page), static_cast<char*>(page) + 16);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(page));
}

std::uint32_t address(const void* f) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(f));
}

TEST(CeBoundary, EntersOnAStackAlignedTo4Not8AndRealignsForThePlatform) {
    std::uint32_t sp = 0, args = 0, sum = 0;
    CorvaneDevice device(run_as_program([&] {
        sp = sim::ce::call_image(address(reinterpret_cast<void*>(&probe_sp)), {});
        args = sim::ce::call_image(address(reinterpret_cast<void*>(&probe_stack_args)),
                                   {1, 2, 3, 4, 0x55, 0x66});
        const std::uint32_t stub =
            make_stub(reinterpret_cast<void*>(&sim::ce::Guarded<&six>::call));
        sum = sim::ce::call_image(address(reinterpret_cast<void*>(&probe_call_import)), {stub});
    }));
    device->start();
    EXPECT_EQ(sp % 8, 4u);
    EXPECT_EQ(args, 0x6655u);
    EXPECT_EQ(sum, 654321u);
    EXPECT_EQ(seen_sp_alignment, 0u);
}

// ExitThread (or the end of the process) unwinds the thread from inside a
// platform call: past the image's frames, which have no unwind tables, to
// the call into the image, and on from there.
TEST(CeBoundary, WhatUnwindsAThreadPassesTheImagesFramesByTheFrameThatEnteredIt) {
    std::optional<std::uint32_t> exit_code;
    CorvaneDevice device(run_as_program([&] {
        const std::uint32_t stub =
            make_stub(reinterpret_cast<void*>(&sim::ce::Guarded<&exits>::call));
        try {
            sim::ce::call_image(address(reinterpret_cast<void*>(&probe_call_import)), {stub});
        } catch (const sim::ThreadExit& e) {
            exit_code = e.code;
        }
    }));
    device->start();
    EXPECT_EQ(exit_code, 42u);
}

// A store into a read-only section of the image faults, as on the device.
TEST(ExeOnDeviceDeathTest, AStoreIntoTheImagesCodeOrConstantsEndsTheRun) {
    auto image = sim::parse_pe(exe_bytes());
    ASSERT_TRUE(image.ok());
    std::uint32_t rdata = 0;
    for (const auto& s : image.value().sections) {
        if (s.name == ".rdata") {
            rdata = image.value().image_base + s.virtual_address;
        }
    }
    ASSERT_NE(rdata, 0u);
    std::vector<std::uint8_t> patched = exe_bytes();
    const std::size_t entry = file_offset(patched, image.value().entry_point);
    put32(patched, entry, 0xE59F1000);      // ldr r1, [pc, #0]
    put32(patched, entry + 4, 0xE5810000);  // str r0, [r1]
    put32(patched, entry + 8, rdata);
    auto opened = open(patched);
    ASSERT_TRUE(opened.ok());
    EXPECT_DEATH(
        {
            sim::DeviceOptions options = sim::corvane_device_options();
            options.program = opened.value().image;
            options.resources = opened.value().resources;
            sim::Driver driver(std::move(options));
            driver.start();
        },
        "program fault: data abort at 0x[0-9a-f]{8} in \\.rdata by instruction 0xe5810000");
}

}  // namespace
