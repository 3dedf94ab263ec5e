// The tray icon, the tray commands, the shell's tray and bubbles, and the
// clock monitor's pass as seen in the platform calls it makes.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/dialog_commands.h"
#include "clock/speed_table.h"
#include "resources/resource.h"
#include "shell/tray.h"
#include "tests/support/call_sequence.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;

using corvane_test::calls_match;
using corvane_test::CorvaneDevice;
using corvane_test::ExpectedCall;
using corvane_test::run_as_program;
using sim::json;

// A tray call that succeeds: the message, the icon and the tip.
ExpectedCall tray(const char* message, int icon, const char* tip) {
    return {"Shell_NotifyIcon", {message, {{"icon", icon}, {"tip", tip}}}, 1};
}

TEST(Tray, EveryPathUsesItsIconAndTip) {
    CorvaneDevice device;
    device->start();
    input(*device, "allow100");
    input(*device, "ok");         // add at 400
    input(*device, "tap");        // to 498
    input(*device, "tap");        // to 100: "Turbo On"
    input(*device, "doubletap");  // first touch: to 400; then delete at 400
    input(*device, "ok");         // add at 400
    input(*device, "tap");        // to 498
    input(*device, "doubletap");  // to 100, delete at 100: "Turbo Off"
    input(*device, "ok");         // add at 100: "Turbo Off"
    input(*device, "close");      // delete at 100 before ending
    EXPECT_TRUE(calls_match(
        device.events(),
        {tray("NIM_ADD", IDI_TRAY_400, "Turbo On"), tray("NIM_MODIFY", IDI_TRAY_498, "Turbo On"),
         tray("NIM_MODIFY", IDI_TRAY_100, "Turbo On"), tray("NIM_MODIFY", IDI_TRAY_400, "Turbo On"),
         tray("NIM_DELETE", IDI_TRAY_400, "Turbo On"), tray("NIM_ADD", IDI_TRAY_400, "Turbo On"),
         tray("NIM_MODIFY", IDI_TRAY_498, "Turbo On"), tray("NIM_MODIFY", IDI_TRAY_100, "Turbo On"),
         tray("NIM_DELETE", IDI_TRAY_100, "Turbo Off"), tray("NIM_ADD", IDI_TRAY_100, "Turbo Off"),
         tray("NIM_DELETE", IDI_TRAY_100, "Turbo Off")},
        "ui"));
    EXPECT_TRUE(device.screen().tray.empty());
    EXPECT_EQ(device->exit_code(), 0);
}

TEST(Tray, TheRecordCarriesTheDialogTheIdAndTheCallback) {
    CorvaneDevice device(run_as_program([&] {
        AppState.instance = sim::Module::built_in_instance();
        HWND owner = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
        TrayIconAdd(owner, TRAY_ICON_ID, LoadIconW(AppState.instance, MAKEINTRESOURCE(109)),
                    TEXT("a tip longer than the record's room, which has sixty-four characters "
                         "including the terminator"));
    }));
    device->start();
    device->locked([&](sim::Device& d) {
        ASSERT_EQ(d.shell().tray.size(), 1u);
        const sim::TrayIcon& icon = d.shell().tray[0];
        EXPECT_EQ(icon.owner, reinterpret_cast<HWND>(std::uintptr_t{0x1234}));
        EXPECT_EQ(icon.id, 5000u);
        EXPECT_EQ(icon.flags, 7u);  // message, icon, tip
        EXPECT_EQ(icon.callback_message, 3025u);
        EXPECT_EQ(icon.tip.size(), 63u);
        EXPECT_EQ(d.icons().find(icon.icon)->resource, 109);
    });
}

TEST(Tray, ATapAt100WithoutPermissionChangesNothing) {
    CorvaneDevice device(run_as_program([] {
        AppState.instance = sim::Module::built_in_instance();
        InitializeCriticalSection(&ClockLock);
        AppState.speedMode = SPEED_MODE_100;
        AppState.allow100 = 0;
        AppState.targetClockConfig = CLOCK_CCCR_100;
        OnTrayCallback(nullptr, TRAY_ICON_ID, WM_LBUTTONDOWN);
    }));
    device->start();
    EXPECT_EQ(device.app().speedMode, 0);
    EXPECT_EQ(device.app().targetClockConfig, 0x121);
    EXPECT_TRUE(device.calls("Shell_NotifyIcon").empty());
    EXPECT_TRUE(device.calls("VirtualAlloc").empty());
}

// --- The shell's side ------------------------------------------------------------

// The record sizes the shell accepts, and one it refuses. Built for ARM the
// records have the device's layout and the shell knows the device's sizes
// only; on a 64-bit host it knows the host's, and refuses the device's.
#if defined(__arm__)
constexpr DWORD kTraySize = 152, kOtherTraySize = 168;  // 168: the x86-64 layout
constexpr DWORD kBubbleSize = 56, kOtherBubbleSize = 80;
static_assert(sizeof(NOTIFYICONDATA) == kTraySize && sizeof(SHNOTIFICATIONDATA) == kBubbleSize);
#else
constexpr DWORD kTraySize = sizeof(NOTIFYICONDATA), kOtherTraySize = 152;
constexpr DWORD kBubbleSize = sizeof(SHNOTIFICATIONDATA), kOtherBubbleSize = 56;
#endif

// The first call is in the trace as refused, with the size it was given
// and the one the shell knows.
void expect_refused_in_trace(CorvaneDevice& device, const char* call, const char* field,
                             DWORD given, DWORD known, LRESULT failure) {
    const auto calls = device.calls(call);
    ASSERT_FALSE(calls.empty());
    const json& first = calls.front();
    const json& args = first["args"];  // [verb, record] or the record alone
    EXPECT_EQ((args.is_array() ? args.back() : args)[field], given) << first.dump();
    EXPECT_EQ(first["ret"], failure);
    EXPECT_EQ(first["note"], "record size must be " + std::to_string(known));
}

TEST(ShellTray, RecordsOfTheWrongSizeAndMismatchedVerbsAreRefused) {
    std::vector<BOOL> results;
    CorvaneDevice device(run_as_program([&] {
        NOTIFYICONDATA record{};
        record.cbSize = kOtherTraySize;
        record.hWnd = reinterpret_cast<HWND>(std::uintptr_t{0x10});
        record.uID = 1;
        record.uFlags = NIF_TIP;
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));
        record.cbSize = kTraySize;
        results.push_back(Shell_NotifyIcon(NIM_MODIFY, &record));  // nothing to modify
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));  // already there
        record.uID = 2;
        results.push_back(Shell_NotifyIcon(NIM_DELETE, &record));  // another id
        record.uID = 1;
        results.push_back(Shell_NotifyIcon(NIM_DELETE, &record));
        results.push_back(Shell_NotifyIcon(NIM_DELETE, &record));
    }));
    device->start();
    EXPECT_EQ(results, (std::vector<BOOL>{FALSE, FALSE, TRUE, FALSE, FALSE, TRUE, FALSE}));
    EXPECT_TRUE(device.screen().tray.empty());
    expect_refused_in_trace(device, "Shell_NotifyIcon", "cbSize", kOtherTraySize, kTraySize, FALSE);
}

TEST(ShellTray, TouchesArriveAsTheCallbackMessage) {
    CorvaneDevice device;
    device->start();
    input(*device, "ok");
    device.clear_events();
    input(*device, "tap");
    input(*device, "doubletap");
    std::vector<json> lparams;
    for (const json& e : device.events()) {
        if (e.contains("dispatch") && e["dispatch"]["message"] == 3025) {
            EXPECT_EQ(e["dispatch"]["wParam"], 5000);
            lparams.push_back(e["dispatch"]["lParam"]);
        }
    }
    EXPECT_EQ(lparams, (std::vector<json>{513, 514, 513, 514, 515, 514}));
}

// A window of its own with an icon in the tray, recording what reaches it
// through the icon's callback message.
std::vector<LPARAM> g_touches;
constexpr UINT kTouchMessage = WM_USER + 1;
BOOL CALLBACK RecordTouches(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        NOTIFYICONDATA record{};
        record.cbSize = kTraySize;
        record.hWnd = dialog;
        record.uID = 1;
        record.uFlags = NIF_MESSAGE;
        record.uCallbackMessage = kTouchMessage;
        Shell_NotifyIcon(NIM_ADD, &record);
        return TRUE;
    }
    if (message == kTouchMessage) {
        g_touches.push_back(lparam);
    }
    return FALSE;
}

TEST(ShellTray, TheStylusDoubleTapsWithinItsTimeAndAThirdTouchStartsAgain) {
    g_touches.clear();
    CorvaneDevice device(run_as_program([] {
        HINSTANCE instance = sim::Module::built_in_instance();
        HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(IDD_SETTINGS), RT_DIALOG);
        DialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)LoadResource(instance, found), NULL,
                                RecordTouches, 0);
    }));
    device->start();
    // Three quick touches: a double tap, then a first touch again; then two
    // touches further apart than the double-tap time.
    for (const char* step : {"touch", "lift", "wait 100ms", "touch", "lift", "wait 100ms", "touch",
                             "lift", "wait 600ms", "touch", "lift"}) {
        ASSERT_TRUE(input(*device, step)) << step;
    }
    EXPECT_EQ(g_touches,
              (std::vector<LPARAM>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP,
                                   WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
}

TEST(ShellBubbles, ABubbleIsOpenForItsDurationThenKeptCollapsedUntilRemoved) {
    CorvaneDevice device;
    device->start();
    input(*device, "notify");
    input(*device, "ok");  // the monitor's first pass programs 400 MHz: a bubble
    ASSERT_EQ(device.screen().bubbles.size(), 1u);
    EXPECT_TRUE(device.screen().bubbles[0].open);
    device->wait(3999);
    EXPECT_TRUE(device.screen().bubbles[0].open);
    device->wait(1);
    EXPECT_FALSE(device.screen().bubbles[0].open);
    device->wait(1999);
    EXPECT_EQ(device.screen().bubbles.size(), 1u);
    device->wait(1);  // the monitor's next pass retires it
    EXPECT_TRUE(device.screen().bubbles.empty());
}

TEST(ShellBubbles, HundredsOfBubblesLeaveOneIconOfTheProgramsOwn) {
    CorvaneDevice device;
    device->start();
    input(*device, "notify");
    input(*device, "ok");
    for (int i = 0; i < 300; ++i) {
        input(*device, "tap");  // each a speed change with its bubble
    }
    EXPECT_GE(device.calls("SHNotificationAdd").size(), 300u);
    EXPECT_EQ(device.snapshot().program.owned_icons, 1);
    device->locked([&](sim::Device& d) {
        ASSERT_FALSE(d.shell().bubbles.empty());
        const sim::LoadedIcon* icon = d.icons().find(d.shell().bubbles.back().icon);
        ASSERT_NE(icon, nullptr);  // the bubble's icon is still alive
        EXPECT_EQ(icon->resource, IDI_APP);
        EXPECT_EQ(icon->image.width, 16);
    });
    input(*device, "close");
    EXPECT_EQ(device.snapshot().program.owned_icons, 0);  // gone with the process
}

TEST(ShellBubbles, StraightToTrayNeverPopsUpAndEveryFieldIsRecorded) {
    CorvaneDevice device(run_as_program([&] {
        SHNOTIFICATIONDATA record{};
        record.cbStruct = kBubbleSize;
        record.dwID = 1;
        record.npPriority = SHNP_INFORM;
        record.csDuration = 4;
        record.grfFlags = SHNF_STRAIGHTTOTRAY;
        record.hwndSink = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
        record.lParam = 77;
        record.pszHTML = TEXT("quiet");
        SHNotificationAdd(&record);
        record.dwID = 2;
        record.grfFlags = SHNF_CRITICAL | 0x4000;  // an unknown bit is ignored
        record.pszHTML = TEXT("loud");
        SHNotificationAdd(&record);
    }));
    device->start();
    const auto bubbles = device.screen().bubbles;
    ASSERT_EQ(bubbles.size(), 2u);
    EXPECT_FALSE(bubbles[0].open);
    EXPECT_EQ(bubbles[0].flags, 0x1u);
    EXPECT_TRUE(bubbles[1].open);
    EXPECT_TRUE(bubbles[1].critical());
    device->locked([&](sim::Device& d) {
        EXPECT_EQ(d.shell().bubbles[0].sink, reinterpret_cast<HWND>(std::uintptr_t{0x1234}));
        EXPECT_EQ(d.shell().bubbles[0].lparam, 77);
    });
}

TEST(ShellBubbles, TheSpeedBubblePopsUpAndIsNotCritical) {
    CorvaneDevice device;
    device->start();
    input(*device, "notify");
    input(*device, "ok");
    const auto bubbles = device.screen().bubbles;
    ASSERT_EQ(bubbles.size(), 1u);
    EXPECT_TRUE(bubbles[0].open);
    EXPECT_EQ(bubbles[0].flags, 0u);
}

TEST(ShellTray, TheTipIsReadToItsFullRoomAndRefusedWithoutATerminator) {
    std::vector<BOOL> results;
    CorvaneDevice device(run_as_program([&] {
        NOTIFYICONDATA record{};
        record.cbSize = kTraySize;
        record.hWnd = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
        record.uFlags = NIF_TIP;
        constexpr std::size_t room = sizeof(record.szTip) / sizeof(record.szTip[0]);
        static_assert(room == 64);
        for (std::size_t i = 0; i < room; ++i) {
            record.szTip[i] = u'x';
        }
        record.uID = 1;
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));  // no terminator: refused
        record.szTip[room - 1] = 0;
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));  // 63 characters
        record.szTip[room - 1] = u'x';
        results.push_back(Shell_NotifyIcon(NIM_MODIFY, &record));  // refused, tip unchanged
        record.uFlags = 0;
        record.uID = 2;
        results.push_back(Shell_NotifyIcon(NIM_ADD, &record));  // no tip read
    }));
    device->start();
    EXPECT_EQ(results, (std::vector<BOOL>{FALSE, TRUE, FALSE, TRUE}));
    device->locked([&](sim::Device& d) {
        ASSERT_EQ(d.shell().tray.size(), 2u);
        EXPECT_EQ(d.shell().tray[0].tip, std::u16string(63, u'x'));
        EXPECT_TRUE(d.shell().tray[1].tip.empty());
    });
}

TEST(ShellBubbles, RecordsOfTheWrongSizeAreRefusedAndTheSameIdReplaces) {
    std::vector<LRESULT> results;
    CorvaneDevice device(run_as_program([&] {
        SHNOTIFICATIONDATA record{};
        record.cbStruct = kOtherBubbleSize;
        record.dwID = 4711;
        record.npPriority = SHNP_INFORM;
        record.csDuration = 4;
        record.pszHTML = TEXT("one");
        results.push_back(SHNotificationAdd(&record));
        record.cbStruct = kBubbleSize;
        results.push_back(SHNotificationAdd(&record));
        record.pszHTML = TEXT("two");
        results.push_back(SHNotificationAdd(&record));
        results.push_back(SHNotificationRemove(&record.clsid, 4712));
    }));
    device->start();
    EXPECT_EQ(results,
              (std::vector<LRESULT>{E_INVALIDARG, ERROR_SUCCESS, ERROR_SUCCESS, E_INVALIDARG}));
    const auto bubbles = device.screen().bubbles;
    ASSERT_EQ(bubbles.size(), 1u);
    EXPECT_EQ(bubbles[0].text, "two");
    expect_refused_in_trace(device, "SHNotificationAdd", "cbStruct", kOtherBubbleSize, kBubbleSize,
                            E_INVALIDARG);
}

// --- The monitor's pass ------------------------------------------------------------

// The calls a monitor thread makes, pass by pass (each pass ends at Sleep).
std::vector<std::vector<std::string>> monitor_passes(CorvaneDevice& device) {
    std::vector<std::vector<std::string>> passes(1);
    for (const json& e : device.events()) {
        if (e.contains("call") && e.value("thread", "") != "ui") {
            passes.back().push_back(e["call"]);
            if (e["call"] == "Sleep") {
                passes.emplace_back();
            }
        }
    }
    passes.pop_back();
    return passes;
}

TEST(Monitor, ASteadyPassOnlyReadsTheClockAndSleeps) {
    CorvaneDevice device;
    device->start();
    input(*device, "ok");
    device.clear_events();
    device->wait(6000 * 3);
    const std::vector<std::string> steady = {"EnterCriticalSection", "VirtualAlloc", "VirtualCopy",
                                             "READ_REGISTER_ULONG",  "VirtualFree",  "mrc",
                                             "LeaveCriticalSection", "Sleep"};
    const auto passes = monitor_passes(device);
    ASSERT_EQ(passes.size(), 3u);
    for (const auto& pass : passes) {
        EXPECT_EQ(pass, steady);
    }
}

TEST(Monitor, AReprogrammingPassNeitherRetiresNorEnds) {
    CorvaneDevice device;
    device->start();
    input(*device, "notify");
    input(*device, "ok");
    input(*device, "doubletap");  // dialog back, two bubbles pending (OK's pass, the first touch)
    input(*device, "foreign 0x121");
    device.clear_events();
    device->wait(6000);  // this pass reprograms
    EXPECT_TRUE(device.calls("SHNotificationRemove").empty());
    EXPECT_EQ(device->program_threads(), 1u);
    EXPECT_EQ(device.app().pendingNotifications, 3);
    device->wait(6000 * 3);  // three passes retire three bubbles
    EXPECT_EQ(device.calls("SHNotificationRemove").size(), 3u);
    EXPECT_EQ(device->program_threads(), 1u);
    device->wait(6000);
    EXPECT_EQ(device->program_threads(), 0u);
}

}  // namespace
