// The PXA25x clock model and the device's physical mappings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "simulator/hardware/cpufreq_stats.h"
#include "simulator/hardware/hwapi.h"
#include "simulator/hardware/pxa25x_clocks.h"
#include "simulator/wince/winapi.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

double rounded(double mhz) {
    return std::round(mhz * 100) / 100;
}

TEST(ClockModel, DecodesTheThreeSettingsAndTheReservedTurboCode) {
    const std::pair<std::uint32_t, double> settings[] = {
        {0x121, 99.53}, {0x241, 398.13}, {0x2C1, 497.66}};
    for (auto [word, mhz] : settings) {
        auto rates = sim::clock_rates(word);
        ASSERT_TRUE(rates.has_value()) << std::hex << word;
        EXPECT_EQ(rounded(rates->turbo_mhz), mhz) << std::hex << word;
        EXPECT_EQ(rounded(rates->memory_mhz), 99.53);
    }
    // N code 5 is x2.5 of the run clock.
    EXPECT_DOUBLE_EQ(sim::clock_rates(0x2C1)->turbo_mhz, sim::clock_rates(0x2C1)->run_mhz * 2.5);
    // Reserved L, M and N codes are not clock settings.
    for (std::uint32_t word : {0x0u, 0x126u, 0x201u, 0x41u, 0xC1u, 0x3C1u}) {
        EXPECT_FALSE(sim::clock_rates(word).has_value()) << std::hex << word;
    }
}

TEST(ClockModel, AFrequencyChangeTakesOverTheCccrAndTurboSelectsTheTurboClock) {
    sim::Pxa25xClocks clocks;
    EXPECT_EQ(clocks.cccr(), 0x121u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 99.53);  // reset: run mode at 0x121

    clocks.foreign_program(10, 0x2C1);
    EXPECT_EQ(clocks.cclkcfg(), 3u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 497.66);

    clocks.foreign_turbo_off(20);
    EXPECT_EQ(clocks.cclkcfg(), 2u);  // FCS reads back as written
    EXPECT_EQ(rounded(clocks.core_mhz()), 199.07);

    // TURBO without FCS: back to the turbo clock of what was taken over.
    clocks.write_cclkcfg(30, 1, "t");
    EXPECT_EQ(rounded(clocks.core_mhz()), 497.66);

    // A reserved word is refused by the frequency change: the clocks stay.
    clocks.foreign_program(40, 0x3C1);
    EXPECT_EQ(clocks.cccr(), 0x3C1u);
    EXPECT_EQ(clocks.applied_cccr(), 0x2C1u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 497.66);
    EXPECT_FALSE(clocks.history().back().note.empty());
}

TEST(ClockModel, SleepAndResumeKeepTheCccrAndClearTurboAndFcs) {
    sim::Pxa25xClocks clocks;
    clocks.foreign_program(0, 0x2C1);
    clocks.sleep_and_resume(100);
    EXPECT_EQ(clocks.cccr(), 0x2C1u);
    EXPECT_EQ(clocks.cclkcfg(), 0u);
    EXPECT_FALSE(clocks.turbo());
    EXPECT_EQ(rounded(clocks.core_mhz()), 199.07);
    const auto& last = clocks.history().back();
    EXPECT_EQ(last.kind, sim::ClockEvent::Kind::SleepResume);
    EXPECT_EQ(last.t, 100);
    EXPECT_EQ(rounded(last.core_mhz), 199.07);
}

// Time at each clock and the number of changes, as cpufreq reports them:
// a store that changes nothing yet counts no transition; every change of
// the core clock does, back to a clock already run or not; the times add up
// to the device time.
TEST(CpufreqStats, TimeAtEachClockAndTransitions) {
    sim::Pxa25xClocks clocks;                 // 99.53 MHz from 0
    clocks.note_cccr_store(500, 0x2C1, "t");  // a store: no change yet
    clocks.foreign_program(1500, 0x2C1);      // 497.66 MHz
    clocks.foreign_turbo_off(4000);           // 199.07 MHz
    clocks.write_cclkcfg(4000, 3, "t");       // 497.66 MHz at once
    clocks.sleep_and_resume(9000);            // 199.07 MHz

    const auto stats = sim::cpufreq_stats(clocks.history(), 10000);
    ASSERT_EQ(stats.time_in_state.size(), 3u);
    EXPECT_EQ(stats.time_in_state[0].khz, 99533u);
    EXPECT_EQ(stats.time_in_state[0].ms, 1500);
    EXPECT_EQ(stats.time_in_state[1].khz, 199066u);
    EXPECT_EQ(stats.time_in_state[1].ms, 1000);  // 0 ms at 4000, then 9000..10000
    EXPECT_EQ(stats.time_in_state[2].khz, 497664u);
    EXPECT_EQ(stats.time_in_state[2].ms, 2500 + 5000);
    EXPECT_EQ(stats.total_trans, 4u);
    sim::Millis total = 0;
    for (const auto& st : stats.time_in_state) {
        total += st.ms;
    }
    EXPECT_EQ(total, 10000);

    // Nothing run yet: the reset clock only, no transition.
    sim::Pxa25xClocks fresh;
    const auto first = sim::cpufreq_stats(fresh.history(), 0);
    ASSERT_EQ(first.time_in_state.size(), 1u);
    EXPECT_EQ(first.total_trans, 0u);
}

// Stores a CCCR word into the register page, as the program's store through
// its mapping does: the clocks do not take it over until a frequency change.
void store_cccr(sim::Pxa25xClocks& clocks, std::uint32_t word) {
    clocks.page()[sim::kCccrOffset / 4] = word;
}

TEST(ClockModel, TurboWithoutFcsSwitchesModeOfTheCurrentSettingOnly) {
    sim::Pxa25xClocks clocks;
    clocks.foreign_program(0, 0x241);  // 398.13 MHz turbo, 199.07 run
    clocks.write_cclkcfg(10, 0, "t");  // run mode
    EXPECT_EQ(rounded(clocks.core_mhz()), 199.07);
    store_cccr(clocks, 0x2C1);
    EXPECT_EQ(clocks.cccr(), 0x2C1u);
    clocks.write_cclkcfg(20, sim::kCclkcfgTurbo, "t");  // turbo of 0x241, not 0x2C1
    EXPECT_EQ(clocks.applied_cccr(), 0x241u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 398.13);
    clocks.write_cclkcfg(30, sim::kCclkcfgTurbo | sim::kCclkcfgFcs, "t");  // now taken over
    EXPECT_EQ(clocks.applied_cccr(), 0x2C1u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 497.66);
}

TEST(ClockModel, ResumeAppliesTheStoredCccrInRunMode) {
    sim::Pxa25xClocks clocks;
    clocks.foreign_program(0, 0x241);
    clocks.write_cclkcfg(10, 0, "t");  // run mode: 199.07 MHz
    store_cccr(clocks, 0x161);         // run clock x4: stored, never taken over
    EXPECT_EQ(rounded(clocks.core_mhz()), 199.07);
    clocks.sleep_and_resume(100);
    EXPECT_EQ(clocks.applied_cccr(), 0x161u);
    EXPECT_EQ(clocks.cclkcfg(), 0u);
    EXPECT_EQ(rounded(clocks.core_mhz()), 398.13);  // 0x161's run clock, not 0x241's
}

// --- Mappings, through the platform calls --------------------------------------

sim::DeviceOptions program(std::function<void()> body) {
    sim::DeviceOptions options;
    options.program.entry = [body = std::move(body)](HINSTANCE) {
        body();
        return 0;
    };
    return options;
}

constexpr DWORD kRead = PAGE_READONLY | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr DWORD kWrite = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
LPVOID const kCccrArg = reinterpret_cast<LPVOID>(std::uintptr_t{0x413000});

TEST(Mappings, AMappedRegisterIsTheDeviceRegister) {
    ULONG seen = 0;
    sim::Driver device(program([&] {
        LPVOID w = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
        LPVOID r = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
        ASSERT_TRUE(VirtualCopy(w, kCccrArg, 4, kWrite));
        ASSERT_TRUE(VirtualCopy(r, kCccrArg, 4, kRead));
        WRITE_REGISTER_ULONG(static_cast<PULONG>(w), 0x2C1);
        seen = READ_REGISTER_ULONG(static_cast<PULONG>(r));  // another mapping, same register
        EXPECT_TRUE(VirtualFree(w, 0, MEM_RELEASE));
        EXPECT_TRUE(VirtualFree(r, 0, MEM_RELEASE));
        EXPECT_FALSE(VirtualFree(r, 0, MEM_RELEASE));  // already released
    }));
    device.start();
    EXPECT_EQ(seen, 0x2C1u);
    device.locked([](sim::Device& d) {
        EXPECT_EQ(d.clocks().cccr(), 0x2C1u);
        EXPECT_EQ(d.clocks().applied_cccr(), 0x121u) << "no frequency change yet";
        EXPECT_EQ(d.memory().outstanding(), 0u);
    });
}

TEST(Mappings, BadMappingsFail) {
    std::vector<BOOL> results;
    sim::Driver device(program([&] {
        LPVOID range = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
        results.push_back(VirtualCopy(nullptr, kCccrArg, 4, kRead));        // no range
        results.push_back(VirtualCopy(range, kCccrArg, 4, PAGE_READONLY));  // not physical
        results.push_back(VirtualCopy(range, reinterpret_cast<LPVOID>(std::uintptr_t{0x400000}), 4,
                                      kRead));  // no device at 0x40000000
        results.push_back(VirtualCopy(static_cast<char*>(range) + 4096 * 16, kCccrArg, 4, kRead));
        results.push_back(VirtualCopy(range, kCccrArg, 4, 0x10 | PAGE_PHYSICAL));
        results.push_back(VirtualCopy(range, kCccrArg, 4, kRead));  // and a good one
        VirtualFree(range, 0, MEM_RELEASE);
    }));
    device.start();
    EXPECT_EQ(results, (std::vector<BOOL>{FALSE, FALSE, FALSE, FALSE, FALSE, TRUE}));
}

TEST(Mappings, ARangeMapsOnceAndKeepsItsFirstMapping) {
    std::vector<BOOL> results;
    ULONG seen = 0;
    sim::Driver device(program([&] {
        LPVOID r = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
        results.push_back(VirtualCopy(r, kCccrArg, 4, kRead));
        results.push_back(VirtualCopy(r, kCccrArg, 4, kWrite));  // already mapped
        results.push_back(VirtualCopy(r, kCccrArg, 4, kRead));   // even with the same access
        seen = READ_REGISTER_ULONG(static_cast<PULONG>(r));
        results.push_back(VirtualFree(r, 0, MEM_RELEASE));
    }));
    device.start();
    EXPECT_EQ(results, (std::vector<BOOL>{TRUE, FALSE, FALSE, TRUE}));
    EXPECT_EQ(seen, 0x121u);
    device.locked([](sim::Device& d) { EXPECT_EQ(d.memory().outstanding(), 0u); });
}

TEST(Mappings, ReleasedRangesAreReusedWithTheAccessAskedForEachTime) {
    std::vector<ULONG> seen;
    sim::Driver device(program([&] {
        // Read-write, then read-only, then read-write again: each reservation
        // may be the host range the previous one released.
        for (DWORD access : {kWrite, kRead, kWrite, kRead}) {
            LPVOID r = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
            ASSERT_TRUE(VirtualCopy(r, kCccrArg, 4, access));
            if (access == kWrite) {
                WRITE_REGISTER_ULONG(static_cast<PULONG>(r), 0x241 + seen.size());
            }
            seen.push_back(READ_REGISTER_ULONG(static_cast<PULONG>(r)));
            VirtualFree(r, 0, MEM_RELEASE);
        }
    }));
    device.start();
    EXPECT_EQ(seen, (std::vector<ULONG>{0x241, 0x241, 0x243, 0x243}));
    device.locked([](sim::Device& d) {
        EXPECT_EQ(d.memory().outstanding(), 0u);
        EXPECT_EQ(d.memory().reservations_made(), 4u);
        EXPECT_GE(d.memory().pooled(), 1u);
    });
}

TEST(Mappings, FailurePointsFailExactlyTheNextN) {
    std::vector<bool> reserved, mapped;
    sim::Driver device(program([&] {
        for (int i = 0; i < 4; ++i) {
            LPVOID range = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
            reserved.push_back(range != nullptr);
            if (range != nullptr) {
                mapped.push_back(VirtualCopy(range, kCccrArg, 4, kRead) != FALSE);
                VirtualFree(range, 0, MEM_RELEASE);
            }
        }
    }));
    input(device, "reserve-fail 1");
    input(device, "map-fail 2");
    device.start();
    EXPECT_EQ(reserved, (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(mapped, (std::vector<bool>{false, false, true}));
}

// Runs `body` as the program; the process must end with a program fault
// whose message matches `message`.
void expect_fault(std::function<void()> body, const char* message) {
    EXPECT_DEATH(
        {
            sim::Driver device(program(body));
            device.start();
        },
        message);
}

// Maps the CCCR at the start of a two-page range; returns `offset` into it.
PULONG mapped(DWORD access, std::size_t offset = 0) {
    LPVOID r = VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS);
    VirtualCopy(r, kCccrArg, 4, access);
    return reinterpret_cast<PULONG>(static_cast<char*>(r) + offset);
}

// What the device's MMU faults on, the register accessors refuse: the run
// ends with a program fault that says where and why.
TEST(MappingsDeathTest, AccessesTheDeviceWouldFaultOnEndTheRun) {
    expect_fault([] { WRITE_REGISTER_ULONG(mapped(kRead), 0x2C1); },
                 "program fault: WRITE_REGISTER_ULONG at 0x[0-9A-F]+ [(]range#1[)]: store through "
                 "a read-only");
    expect_fault(
        [] {
            LPVOID r = VirtualAlloc(nullptr, 4, MEM_RESERVE, PAGE_NOACCESS);
            READ_REGISTER_ULONG(static_cast<PULONG>(r));
        },
        "program fault: READ_REGISTER_ULONG at 0x[0-9A-F]+ [(]range#1[)]: the range maps nothing");
    expect_fault(
        [] {
            PULONG r = mapped(kRead);
            VirtualFree(r, 0, MEM_RELEASE);
            READ_REGISTER_ULONG(r);
        },
        "READ_REGISTER_ULONG at 0x[0-9A-F]+ [(]unreserved[)]: no reserved range there");
    expect_fault([] { READ_REGISTER_ULONG(mapped(kRead, 2)); }, "[(]range#1[+]2[)]: not aligned");
    expect_fault([] { READ_REGISTER_ULONG(mapped(kRead, 4096)); },
                 "[(]range#1[+]4096[)]: past the mapped bytes");
    // A range released read-write and reserved again read-only is read-only.
    expect_fault(
        [] {
            PULONG w = mapped(kWrite);
            VirtualFree(w, 0, MEM_RELEASE);
            WRITE_REGISTER_ULONG(mapped(kRead), 0x2C1);
        },
        "[(]range#2[)]: store through a read-only");
}

// The device sees register accesses through the accessors only, so any
// other load or store through a range faults on the host, mapped or not.
TEST(MappingsDeathTest, APlainLoadThroughAMappingFaults) {
    EXPECT_DEATH(
        {
            sim::Driver device(program([] {
                PULONG r = mapped(kWrite);
                // Said first, so the test knows the child died at the load
                // and not before it.
                std::fputs("loading through the mapping\n", stderr);
                ULONG seen = *static_cast<volatile ULONG*>(r);
                std::printf("read %lu\n", static_cast<unsigned long>(seen));
            }));
            device.start();
        },
        "loading through the mapping");
}

}  // namespace
