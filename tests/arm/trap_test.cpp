// The ARM lane's coprocessor trap: the program's own MRC/MCR of CCLKCFG,
// executed by the emulated PXA255, reach the clock model through SIGILL,
// on every thread and for every register; anything else ends the run.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clock/coprocessor.h"
#include "simulator/api/arm_trap.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::CorvaneDevice;
using corvane_test::run_as_program;
using sim::json;

TEST(ArmTrapDecode, OnlyCclkcfgAccessesAndMainIdReadsThroughAGeneralRegister) {
    for (unsigned rd = 0; rd < 15; ++rd) {
        const auto mrc = sim::arm_trap::decode(0xEE160E10 | rd << 12);
        const auto mcr = sim::arm_trap::decode(0xEE060E10 | rd << 12);
        const auto main_id = sim::arm_trap::decode(0xEE100F10 | rd << 12);
        ASSERT_TRUE(mrc && mcr && main_id) << rd;
        EXPECT_TRUE(mrc->read);
        EXPECT_FALSE(mcr->read);
        EXPECT_TRUE(main_id->read);
        EXPECT_FALSE(mrc->main_id || mcr->main_id);
        EXPECT_TRUE(main_id->main_id);
        EXPECT_EQ(mrc->rd, rd);
        EXPECT_EQ(mcr->rd, rd);
        EXPECT_EQ(main_id->rd, rd);
    }
    for (const std::uint32_t other : {
             0xEE16FE10u,  // mrc to r15: the flags
             0xEE170E10u,  // c7
             0xEE160E11u,  // CRm c1
             0xEE160E30u,  // opc2 1
             0xEE360E10u,  // opc1 1
             0xEE160F10u,  // coprocessor 15, c6
             0xEE000F10u,  // mcr to the main ID register
             0xEE100F30u,  // p15 c0 opc2 1: the cache type register
             0xEE10FF10u,  // main ID to r15
             0x0E160E10u,  // conditional (EQ)
             0xEC560E00u,  // mrrc
             0xE1A00000u,  // mov r0, r0
         }) {
        EXPECT_FALSE(sim::arm_trap::decode(other)) << std::hex << other;
    }
}

// Where the trace says a trapped access came from.
std::uintptr_t trapped_at(const json& event) {
    EXPECT_EQ(event.value("via", ""), "trap") << event.dump();
    return std::stoul(event.value("pc", "0"), nullptr, 16);
}

bool inside(std::uintptr_t pc, void (*fn)()) {
    const auto start = reinterpret_cast<std::uintptr_t>(fn);
    return pc >= start && pc < start + 16;
}

DWORD WINAPI write_from_second_thread(LPVOID) {
    WriteCclkcfg(CCLKCFG_TURBO);
    return 0;
}

TEST(ArmTrap, ReadsAndWritesReachTheClockModelOnEveryThread) {
    std::vector<DWORD> seen;
    CorvaneDevice device(run_as_program([&] {
        seen.push_back(ReadCclkcfg());
        WriteCclkcfg(CCLKCFG_TURBO | CCLKCFG_FCS);
        seen.push_back(ReadCclkcfg());
        HANDLE thread = CreateThread(nullptr, 0, write_from_second_thread, nullptr, 0, nullptr);
        Sleep(10);
        CloseHandle(thread);
        seen.push_back(ReadCclkcfg());
    }));
    device->start();
    device->wait(100);  // past the Sleep
    EXPECT_EQ(seen, (std::vector<DWORD>{0, 3, 1}));

    const auto reads = device.calls("mrc");
    const auto writes = device.calls("mcr");
    ASSERT_EQ(reads.size(), 3u);
    ASSERT_EQ(writes.size(), 2u);
    for (const json& e : reads) {
        EXPECT_TRUE(inside(trapped_at(e), reinterpret_cast<void (*)()>(&ReadCclkcfg)));
    }
    for (const json& e : writes) {
        EXPECT_TRUE(inside(trapped_at(e), reinterpret_cast<void (*)()>(&WriteCclkcfg)));
    }
    EXPECT_EQ(writes[0]["thread"], "ui");
    EXPECT_NE(writes[1]["thread"], "ui");
    EXPECT_EQ(writes[1]["args"][2], 1);
}

// The compiler picks r0 for the program's routines; the trap must read and
// write whichever register the instruction names.
TEST(ArmTrap, TheInstructionsRegisterIsTheOneReadAndWritten) {
    DWORD in_r9 = 0;
    DWORD in_r3 = 0;
    CorvaneDevice device(run_as_program([&] {
        register DWORD value asm("r9") = CCLKCFG_TURBO;
        asm volatile("mcr p14, 0, %0, c6, c0, 0" : : "r"(value) : "memory");
        register DWORD back asm("r3");
        asm volatile("mrc p14, 0, %0, c6, c0, 0" : "=r"(back));
        in_r3 = back;
        asm volatile("mrc p14, 0, %0, c6, c0, 0" : "=r"(value));
        in_r9 = value;
    }));
    device->start();
    EXPECT_EQ(in_r3, CCLKCFG_TURBO);
    EXPECT_EQ(in_r9, CCLKCFG_TURBO);
    EXPECT_EQ(device.calls("mcr").at(0)["args"][2], CCLKCFG_TURBO);
}

TEST(ArmTrapDeathTest, AnyOtherUndefinedInstructionEndsTheRunNamingItAndWhere) {
    sim::arm_trap::install();
    // mrc p14, 0, r0, c7, c0, 0: a coprocessor 14 register the PXA25x model lacks.
    EXPECT_DEATH(
        {
            register DWORD value asm("r0");
            asm volatile("mrc p14, 0, %0, c7, c0, 0" : "=r"(value));
            (void)value;
        },
        "undefined instruction 0xee170e10 at 0x[0-9a-f]{8}");
}

}  // namespace
