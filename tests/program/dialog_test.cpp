// Start-up and the settings dialog, driven as a user and the system would.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "shell/tray.h"
#include "simulator/device/view.h"
#include "tests/support/test_device.h"

namespace {

using corvane_test::input;
using corvane_test::post;

using corvane_test::CorvaneDevice;
using sim::json;

TEST(StartUp, AFreshStartShowsTheDialogAndLeavesTheClockAlone) {
    CorvaneDevice device;
    device->start();
    const AppStateRecord app = device.app();
    EXPECT_EQ(app.speedMode, 1);
    EXPECT_EQ(app.dialogVisible, 1);
    EXPECT_EQ(app.targetClockConfig, 0x241u);
    EXPECT_EQ(app.allow100, 0);
    EXPECT_EQ(app.showNotifications, 0);
    EXPECT_EQ(app.pendingNotifications, 0);

    const sim::ScreenView screen = device.screen();
    EXPECT_EQ(screen.nav_bar.caption, "Corvane");
    EXPECT_TRUE(screen.nav_bar.ok_button);
    ASSERT_TRUE(screen.dialog_visible());
    EXPECT_TRUE(screen.dialog->full_screen());
    EXPECT_EQ(screen.dialog->rect.top, 26);
    EXPECT_EQ(screen.dialog->rect.height, 294);
    EXPECT_FALSE(screen.input_panel_up);
    EXPECT_TRUE(screen.tray.empty());

    // Nothing reaches for the clock until OK or Quit.
    device->wait(60000);
    EXPECT_TRUE(device.calls("VirtualAlloc").empty());
    EXPECT_TRUE(device.calls("mcr").empty());
    EXPECT_EQ(device.clock_history().size(), 1u);  // the reset only
    EXPECT_EQ(device.hardware().cccr, 0x121u);
}

TEST(StartUp, AMissingTemplateEndsTheProgramAtOnceWithExitCodeZero) {
    sim::DeviceOptions options = sim::corvane_device_options();
    std::erase_if(options.resources, [](const sim::ResourceEntry& e) {
        return e.type == sim::ResId::number(sim::rt::kDialog);
    });
    CorvaneDevice device(std::move(options));
    device->start();
    EXPECT_EQ(device->program_state(), sim::ProgramState::Ended);
    EXPECT_EQ(device->exit_code(), 0);
    EXPECT_TRUE(device.screen().dialog.has_value() == false);
    EXPECT_EQ(device.calls("DialogBoxIndirectParamW").at(0)["ret"], -1);
}

TEST(StartUp, ACorruptTemplateIsReportedAndEndsTheProgramCleanly) {
    sim::DeviceOptions options = sim::corvane_device_options();
    for (auto& e : options.resources) {
        if (e.type == sim::ResId::number(sim::rt::kDialog)) {
            e.data.resize(e.data.size() / 2);
        }
    }
    CorvaneDevice device(std::move(options));
    device->start();
    EXPECT_EQ(device->exit_code(), 0);
    const json call = device.calls("DialogBoxIndirectParamW").at(0);
    EXPECT_EQ(call["ret"], -1);
    EXPECT_NE(call["note"].get<std::string>().find("corrupt dialog template"), std::string::npos);
}

TEST(Foreground, InputReachesTheForegroundDialogOnly) {
    CorvaneDevice device;
    device->start();
    // Another window comes to the front: the dialog stays on screen behind
    // it and neither the OK button nor a touch on its controls reaches it.
    device->locked([](sim::Device& d) { d.windows().set_foreground(nullptr); });
    EXPECT_FALSE(input(*device, "ok"));
    EXPECT_FALSE(input(*device, "allow100"));
    EXPECT_TRUE(device.screen().dialog->visible);
    EXPECT_FALSE(device.screen().nav_bar.ok_button);
    EXPECT_EQ(device.app().allow100, 0);
    EXPECT_EQ(device.app().dialogVisible, 1);

    device->locked([](sim::Device& d) {
        for (sim::Window* w : d.windows().top_level()) {
            d.windows().set_foreground(w);
        }
    });
    EXPECT_TRUE(input(*device, "ok"));
    EXPECT_EQ(device.app().dialogVisible, 0);
}

TEST(Foreground, ADoubleTapBringsTheDialogBackToTheFront) {
    CorvaneDevice device;
    device->start();
    input(*device, "ok");
    EXPECT_FALSE(device.screen().nav_bar.ok_button);
    input(*device, "doubletap");
    const sim::ScreenView screen = device.screen();
    EXPECT_TRUE(screen.dialog_visible());
    EXPECT_EQ(screen.nav_bar.caption, "Corvane");
    EXPECT_TRUE(screen.nav_bar.ok_button);
    EXPECT_TRUE(input(*device, "ok"));
    EXPECT_EQ(device.app().dialogVisible, 0);
}

TEST(Foreground, WithoutTheCaptionStyleTheOkButtonComesFromTheDialogsInitialisation) {
    // The template without WS_EX_CAPTIONOKBTN (a DIALOG template's extended
    // style is its second double word): the OK button the program asks for
    // with SHIDIF_DONEBUTTON is then the only one.
    sim::DeviceOptions options = sim::corvane_device_options();
    for (auto& e : options.resources) {
        if (e.type == sim::ResId::number(sim::rt::kDialog)) {
            e.data[7] &= 0x7F;
        }
    }
    CorvaneDevice device(std::move(options));
    device->start();
    EXPECT_TRUE(device.screen().nav_bar.ok_button);
    EXPECT_TRUE(input(*device, "ok"));
    EXPECT_EQ(device.app().dialogVisible, 0);
}

TEST(InputPanel, APanelLeftUpIsLoweredByTheDialog) {
    sim::DeviceOptions options = sim::corvane_device_options();
    options.input_panel_up = true;  // left up by the previous program
    CorvaneDevice device(std::move(options));
    EXPECT_TRUE(device.screen().input_panel_up);
    device->start();
    EXPECT_FALSE(device.screen().input_panel_up);
    EXPECT_TRUE(input(*device, "quit"));
    EXPECT_EQ(device->exit_code(), 0);
}

TEST(InputPanel, WhileUpItCoversTheQuitButtonButNotTheCheckBoxes) {
    CorvaneDevice device;
    device->start();
    input(*device, "sip-up");  // the user raises it over the dialog
    EXPECT_TRUE(device.screen().input_panel_up);
    EXPECT_FALSE(input(*device, "quit"));
    EXPECT_EQ(device->program_state(), sim::ProgramState::Running);
    EXPECT_TRUE(input(*device, "allow100"));  // near the top: still reachable
    EXPECT_EQ(device.app().allow100, 1);
    EXPECT_TRUE(input(*device, "ok"));  // the navigation bar is above it
    EXPECT_EQ(device.app().dialogVisible, 0);
}

// A dialog procedure that ends the dialog on OK and then looks whether its
// window is still there, as a procedure may after EndDialog.
BOOL g_shown_after_end = FALSE;
BOOL CALLBACK EndOnOk(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
        EndDialog(dialog, 1);
        g_shown_after_end = ShowWindow(dialog, SW_SHOW);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(ModalLoop, EndDialogEndsTheLoopAfterTheCurrentMessageAndItsResultIsReturned) {
    int result = 0;
    g_shown_after_end = FALSE;
    CorvaneDevice device(corvane_test::run_as_program([&] {
        HINSTANCE instance = sim::Module::built_in_instance();
        HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(IDD_SETTINGS), RT_DIALOG);
        result = DialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)LoadResource(instance, found),
                                         NULL, EndOnOk, 0);
    }));
    device->start();
    EXPECT_TRUE(device.screen().dialog->visible);
    EXPECT_TRUE(input(*device, "ok"));
    EXPECT_TRUE(g_shown_after_end);  // still on screen while its message is handled
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(device.screen().dialog.has_value() == false);  // destroyed once the loop ended
    EXPECT_EQ(device->exit_code(), 0);
}

TEST(CheckBoxes, EachClickMirrorsTheControlIntoTheStateRecord) {
    CorvaneDevice device;
    device->start();
    for (auto [id, field] : {std::pair{IDC_ALLOW_100, "allow100"},
                             std::pair{IDC_SHOW_NOTIFICATION, "showNotifications"}}) {
        const auto before = device.snapshot().program.state_record;
        ASSERT_TRUE(input(*device, "click " + std::to_string(id)));
        EXPECT_EQ(device.snapshot().program.field(field), 1) << field;
        ASSERT_TRUE(input(*device, "click " + std::to_string(id)));
        EXPECT_TRUE(device.snapshot().program.state_record == before)
            << "two clicks leave " << field << " as it was";
    }
    // Each click asked the control for its state.
    EXPECT_EQ(device.calls("SendDlgItemMessageW").size(), 4u);
}

TEST(Commands, UnknownCommandsAndMessagesChangeNothing) {
    CorvaneDevice device;
    device->start();
    ASSERT_TRUE(input(*device, "allow100"));
    const json before = sim::view::snapshot(device.snapshot());
    for (WPARAM id : {0u, 3u, 999u, 1006u, 1011u, 0x10000u | (IDC_ALLOW_100 + 1)}) {
        EXPECT_TRUE(post(*device, WM_COMMAND, id, 0));
    }
    EXPECT_TRUE(post(*device, WM_USER + 7, 1, 2));
    EXPECT_TRUE(post(*device, WM_LBUTTONDOWN, 0, 0));
    // The tray's message while no icon exists, and for another icon id.
    EXPECT_TRUE(post(*device, WM_TRAY_CALLBACK, TRAY_ICON_ID + 1, WM_LBUTTONDOWN));
    json after = sim::view::snapshot(device.snapshot());
    after["t"] = before["t"];
    EXPECT_EQ(after, before);
}

TEST(Commands, TheNotificationCodeOfACommandIsNotExamined) {
    CorvaneDevice device;
    device->start();
    // A command whose high word is not BN_CLICKED still reaches its handler.
    post(*device, WM_COMMAND, (5u << 16) | IDC_SHOW_NOTIFICATION, 0);
    EXPECT_EQ(device.app().showNotifications, 0);  // the box itself is still clear
    post(*device, WM_COMMAND, (5u << 16) | IDOK, 0);
    EXPECT_FALSE(device.screen().dialog->visible);
}

TEST(Close, ACloseRequestOnTheDialogEndsTheProgramWithTheClockUnchanged) {
    CorvaneDevice device;
    device->start();
    ASSERT_TRUE(input(*device, "close"));
    EXPECT_EQ(device->program_state(), sim::ProgramState::Ended);
    EXPECT_EQ(device->exit_code(), 0);
    EXPECT_EQ(device.hardware().cccr, 0x121u);
    EXPECT_TRUE(device.calls("VirtualAlloc").empty());
    // The ended program's window is gone; input finds nothing to touch.
    EXPECT_FALSE(input(*device, "ok"));
    EXPECT_FALSE(input(*device, "close"));
}

}  // namespace
