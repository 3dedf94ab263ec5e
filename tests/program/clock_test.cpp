// Clock register access and the speed change, run on the device's UI
// thread against the simulated clocks manager.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "clock/clock_registers.h"
#include "clock/processor.h"
#include "clock/speed_change.h"
#include "clock/speed_table.h"
#include "shell/notification.h"
#include "simulator/support/hex.h"
#include "tests/support/call_sequence.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

using corvane_test::calls_match;
using corvane_test::CorvaneDevice;
using corvane_test::run_as_program;
using sim::ClockEvent;
using sim::json;

// Every stepping Linux's table of PXA IDs lists (arch/arm/mach-pxa's
// hardware.h), and the StrongARMs: only the PXA25x family passes.
TEST(Processor, OnlyThePxa25xFamilyIsKnown) {
    for (const DWORD pxa25x : {0x69052922u, 0x69052923u, 0x69052924u, 0x69052D25u,  // PXA210
                               0x69052100u, 0x69052101u, 0x69052902u, 0x69052903u,  // PXA250
                               0x69052904u, 0x69052D05u,                            //
                               0x69052D06u}) {                                      // PXA255
        EXPECT_TRUE(IsPxa25xFamily(pxa25x)) << sim::hex(pxa25x);
    }
    for (const DWORD other :
         {0x69054110u, 0x69054111u, 0x69054112u, 0x69054113u, 0x69054114u, 0x69054117u,  // PXA27x
          0x69056880u, 0x69056891u, 0x69056825u,  // PXA30x, PXA31x, PXA32x
          0x69052000u,                            // the 80200, an XScale of another family
          0x6901B118u, 0x4401A111u,               // SA-1110 B4, SA-1100
          0x00052100u, 0x41052100u,               // PXA25x bits under another implementer
          0u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(IsPxa25xFamily(other)) << sim::hex(other);
    }
}

// The program's own accesses to the clock, in order: "cccr=0x2C1", "cclkcfg=3".
std::vector<std::string> accesses(CorvaneDevice& device) {
    std::vector<std::string> out;
    for (const ClockEvent& e : device.clock_history()) {
        if (e.kind == ClockEvent::Kind::CccrStore) {
            out.push_back("cccr=" + sim::hex(e.value));
        } else if (e.kind == ClockEvent::Kind::CclkcfgWrite) {
            out.push_back("cclkcfg=" + std::to_string(e.value));
        }
    }
    return out;
}

// A program that lingers this long after its accesses, so that a leak is
// counted while the process runs: its end frees every reservation.
constexpr DWORD kLinger = 1000;

void expect_no_reservation_while_running(CorvaneDevice& device) {
    ASSERT_EQ(device->program_state(), sim::ProgramState::Running);
    EXPECT_EQ(device.snapshot().memory.reservations, 0);
    device->wait(kLinger);
    EXPECT_NE(device->program_state(), sim::ProgramState::Running);
}

TEST(ClockAccess, AFailedReservationOrMappingTouchesNothingAndLeaksNothing) {
    for (bool fail_reservation : {true, false}) {
        SCOPED_TRACE(fail_reservation ? "failed reservation" : "failed mapping");
        DWORD read = 0;
        int written = 0;
        CorvaneDevice device(run_as_program([&] {
            read = ReadClockConfig();
            written = WriteClockConfig(CLOCK_CCCR_498);
            Sleep(kLinger);
        }));
        if (fail_reservation) {
            input(*device, "reserve-fail 2");
        } else {
            input(*device, "map-fail 2");
        }
        device->start();
        EXPECT_EQ(read, 0xFFFFFFFFu);
        EXPECT_EQ(written, -1);
        EXPECT_TRUE(accesses(device).empty());
        EXPECT_EQ(device.hardware().cccr, 0x121u);
        EXPECT_EQ(device.hardware().cclkcfg, 0);
        expect_no_reservation_while_running(device);
        EXPECT_TRUE(device.calls("READ_REGISTER_ULONG").empty());
        EXPECT_TRUE(device.calls("WRITE_REGISTER_ULONG").empty());
    }
}

TEST(ClockAccess, EveryWriteStoresTheWordThenTriggersEvenWhenUnchanged) {
    int results[3] = {};
    CorvaneDevice device(run_as_program([&] {
        results[0] = WriteClockConfig(CLOCK_CCCR_498);
        results[1] = WriteClockConfig(CLOCK_CCCR_498);
        results[2] = WriteClockConfig(CLOCK_CCCR_100);
        Sleep(kLinger);
    }));
    device->start();
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(results[2], 1);
    EXPECT_EQ(accesses(device), (std::vector<std::string>{"cccr=0x2C1", "cclkcfg=3", "cccr=0x2C1",
                                                          "cclkcfg=3", "cccr=0x121", "cclkcfg=3"}));
    // Nothing else is called between the store and the trigger.
    const auto names = device.call_names();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "WRITE_REGISTER_ULONG") {
            ASSERT_LT(i + 1, names.size());
            EXPECT_EQ(names[i + 1], "mcr");
        }
    }
    expect_no_reservation_while_running(device);
}

TEST(ClockAccess, ReadsMapReadOnlyAndWritesReadWriteAtTheClocksManager) {
    DWORD read = 0;
    DWORD mode = 0;
    CorvaneDevice device(run_as_program([&] {
        WriteClockConfig(CLOCK_CCCR_400);
        read = ReadClockConfig();
        mode = ReadClockMode();
    }));
    device->start();
    EXPECT_EQ(read, 0x241u);
    EXPECT_EQ(mode, 3u);
    // One reservation per access, released before the access returns; the
    // write maps read-write, the read read-only (uncached, physical), at the
    // clocks manager (0x41300000 / 256).
    const json reserve = {"NULL", 4, "0x2000", "0x1"};  // MEM_RESERVE, PAGE_NOACCESS
    EXPECT_TRUE(calls_match(device.events(), {{"VirtualAlloc", reserve},
                                              {"VirtualCopy", {nullptr, "0x413000", 4, "0x604"}},
                                              {"VirtualFree"},
                                              {"VirtualAlloc", reserve},
                                              {"VirtualCopy", {nullptr, "0x413000", 4, "0x602"}},
                                              {"VirtualFree"}}));
}

TEST(ClockAccess, TheModeReadsTheWholeCclkcfgWord) {
    std::vector<DWORD> modes;
    CorvaneDevice device(run_as_program([&] {
        modes.push_back(ReadClockMode());
        Sleep(10);
        modes.push_back(ReadClockMode());
        Sleep(10);
        modes.push_back(ReadClockMode());
    }));
    device->start();
    input(*device, "foreign 0x241");  // another program: TURBO and FCS set
    device->wait(10);
    input(*device, "turbo-off");
    device->wait(10);
    EXPECT_EQ(modes, (std::vector<DWORD>{0, 3, 2}));
}

// --- SetCpuSpeed ---------------------------------------------------------------

// Runs SetCpuSpeed as the program does, under the clock lock.
struct SpeedChange {
    int result = 0;
    DWORD target = 0;
    LONG pending = 0;
};

SpeedChange set_cpu_speed(DWORD word) {
    SpeedChange out;
    EnterCriticalSection(&ClockLock);
    out.result = SetCpuSpeed(word);
    out.target = AppState.targetClockConfig;
    out.pending = AppState.pendingNotifications;
    LeaveCriticalSection(&ClockLock);
    return out;
}

sim::DeviceOptions speed_program(std::function<void()> body, bool bubbles) {
    return run_as_program([body = std::move(body), bubbles] {
        AppState.instance = sim::Module::built_in_instance();
        AppState.showNotifications = bubbles ? 1 : 0;
        InitializeCriticalSection(&ClockLock);
        body();
    });
}

TEST(SetCpuSpeed, AWordOutsideTheTableIsRecordedWrittenAndAnnouncedAsUnknown) {
    SpeedChange change;
    CorvaneDevice device(speed_program([&] { change = set_cpu_speed(0x141); }, true));
    device->start();
    EXPECT_EQ(change.result, 1);
    EXPECT_EQ(change.target, 0x141u);
    EXPECT_EQ(change.pending, 1);
    EXPECT_EQ(device.hardware().cccr, 0x141u);
    EXPECT_EQ(device.hardware().mhz, 199.07);
    const auto bubbles = device.screen().bubbles;
    ASSERT_EQ(bubbles.size(), 1u);
    EXPECT_EQ(bubbles[0].text,
              "Frequency not recognized. Double tap icon to bring back Corvane dialog.");
    EXPECT_EQ(bubbles[0].title, "Corvane");
}

TEST(SetCpuSpeed, TheBubbleRecordIsFilledFieldByField) {
    CorvaneDevice device(speed_program(
        [&] {
            set_cpu_speed(0x2C1);
            Sleep(kLinger);  // the icon is the process's: look while it runs
        },
        true));
    device->start();
    const json add = device.calls("SHNotificationAdd").at(0)["args"][0];
    EXPECT_EQ(add["cbStruct"], sizeof(SHNOTIFICATIONDATA));
    EXPECT_EQ(add["dwID"], 4711);
    EXPECT_EQ(add["npPriority"], "0x1B1");
    EXPECT_EQ(add["csDuration"], 4);
    EXPECT_EQ(add["clsid"], sim::clsid_string(NOTIFICATION_CLASS));
    EXPECT_EQ(add["pszTitle"], "Corvane");
    EXPECT_EQ(add["pszHTML"],
              "<HTML><BODY><B><CENTER>Speed set to 498 MHz</CENTER></B></BODY></HTML>");
    // The bubble's icon is the program icon's 16 x 16 image.
    EXPECT_EQ(device.calls("LoadImageW").at(0)["args"], json({"instance", "#1", 1, 16, 16, 0}));
    device->locked([](sim::Device& d) {
        const sim::Bubble& b = d.shell().bubbles.at(0);
        const sim::LoadedIcon* icon = d.icons().find(b.icon);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->resource, 1);
        EXPECT_EQ(icon->image.width, 16);
        EXPECT_EQ(b.priority, static_cast<DWORD>(SHNP_INFORM));
    });
}

TEST(SetCpuSpeed, WithBubblesOffNothingIsPostedOrCounted) {
    SpeedChange change;
    CorvaneDevice device(speed_program([&] { change = set_cpu_speed(0x2C1); }, false));
    device->start();
    EXPECT_EQ(change.result, 1);
    EXPECT_EQ(change.target, 0x2C1u);
    EXPECT_EQ(change.pending, 0);
    EXPECT_EQ(device.hardware().cccr, 0x2C1u);
    EXPECT_TRUE(device.calls("SHNotificationAdd").empty());
    EXPECT_TRUE(device.calls("LoadImageW").empty());
}

// A failed mapping still records the target (so the monitor retries it),
// but announces nothing: the clock did not change.
TEST(SetCpuSpeed, AFailedWritePostsNoBubbleButKeepsTheTarget) {
    SpeedChange change;
    CorvaneDevice device(speed_program([&] { change = set_cpu_speed(0x2C1); }, true));
    input(*device, "map-fail 1");
    device->start();
    EXPECT_EQ(change.result, -1);
    EXPECT_EQ(change.target, 0x2C1u);
    EXPECT_EQ(change.pending, 0);
    EXPECT_TRUE(device.calls("SHNotificationAdd").empty());
    EXPECT_EQ(device.hardware().cccr, 0x121u);
}

TEST(Bubbles, RetiringWhenNoneIsPendingDoesNothing) {
    BOOL retired[3] = {};
    LONG pending = -5;
    CorvaneDevice device(speed_program(
        [&] {
            retired[0] = RetireSpeedNotification();
            ShowSpeedNotification(TEXT("Corvane"), TEXT("<B>x</B>"));
            retired[1] = RetireSpeedNotification();
            retired[2] = RetireSpeedNotification();
            pending = AppState.pendingNotifications;
        },
        true));
    device->start();
    EXPECT_FALSE(retired[0]);
    EXPECT_TRUE(retired[1]);
    EXPECT_FALSE(retired[2]);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(device.calls("SHNotificationRemove").size(), 1u);
}

}  // namespace
