#include "simulator/script/input_actions.h"

#include <initializer_list>

#include "simulator/device/stylus.h"

namespace sim::act {

namespace {

bool touch_tray(Device& d, const char* input, std::initializer_list<LPARAM> touches) {
    if (d.shell().tray.empty()) {
        d.emit(InputEvent{.input = input, .ignored = "no tray icon"});
        return false;
    }
    const TrayIcon icon = d.shell().tray.front();
    bool delivered = true;
    for (LPARAM touch : touches) {
        delivered = d.post_message(icon.owner, icon.callback_message, icon.id, touch) && delivered;
    }
    d.emit(InputEvent{.input = input,
                      .ignored = delivered ? nullptr : "the icon's window no longer exists"});
    return true;
}

bool clock_change(Device& d) {
    d.emit(ClockChangeEvent{d.clocks().history().back()});
    return true;
}

}  // namespace

bool press_ok(Device& d, const Input&) {
    Window* dialog = d.foreground_dialog();
    if (dialog == nullptr || !dialog->has_ok_button()) {
        d.emit(InputEvent{.input = "ok",
                          .ignored = dialog == nullptr ? "no dialog in the foreground"
                                                       : "no OK button on screen"});
        return false;
    }
    d.emit(InputEvent{.input = "ok"});
    return d.post_message(dialog->hwnd(), WM_COMMAND, IDOK, 0);
}

bool click(Device& d, const Input& in) {
    const int id = static_cast<int>(in.value);
    Window* dialog = d.foreground_dialog();
    Window* control = dialog == nullptr ? nullptr : d.windows().child(*dialog, id);
    if (control == nullptr || !control->shown()) {
        d.emit(InputEvent{.input = "click", .control = id, .ignored = "control not on screen"});
        return false;
    }
    // A touch lands on the control's centre; the input panel, when up, takes
    // the touches in its area.
    const int x = dialog->rect.left + control->rect.left + control->rect.width / 2;
    const int y = dialog->rect.top + control->rect.top + control->rect.height / 2;
    if (d.shell().input_panel_up && input_panel_rect().contains(x, y)) {
        d.emit(InputEvent{.input = "click", .control = id, .ignored = "under the input panel"});
        return false;
    }
    d.emit(InputEvent{.input = "click", .control = id});
    return d.post_message(control->hwnd(), WM_LBUTTONDOWN, 0, 0) &&
           d.post_message(control->hwnd(), WM_LBUTTONUP, 0, 0);
}

bool sip_up(Device& d, const Input&) {
    d.shell().input_panel_up = true;
    d.emit(InputEvent{.input = "sip-up"});
    return true;
}

bool close(Device& d, const Input&) {
    auto windows = d.windows().top_level();
    if (windows.empty()) {
        d.emit(InputEvent{.input = "close", .ignored = "no program window"});
        return false;
    }
    d.emit(InputEvent{.input = "close"});
    return d.post_message(windows.front()->hwnd(), WM_CLOSE, 0, 0);
}

// The shorthands: a tap and a double tap as they say, whatever touched the
// icon before; the next stylus touch is a first one.
bool tap(Device& d, const Input&) {
    stylus_forget(d.shell().stylus);
    return touch_tray(d, "tap", {WM_LBUTTONDOWN, WM_LBUTTONUP});
}

bool double_tap(Device& d, const Input&) {
    stylus_forget(d.shell().stylus);
    // The shell reports the first touch of a double tap as a touch of its own.
    return touch_tray(d, "double-tap",
                      {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

// The stylus itself: the shell decides from the time between touches
// whether a touch is the second of a double tap (device/stylus.cpp).
bool touch(Device& d, const Input&) {
    return stylus_touch(d);
}

bool lift(Device& d, const Input&) {
    return stylus_lift(d);
}

bool double_tap_time(Device& d, const Input& in) {
    d.shell().stylus.double_tap_ms = in.value;
    d.emit(InputEvent{.input = "doubletap-time", .ms = in.value});
    return true;
}

bool post(Device& d, const Input& in) {
    const auto message = static_cast<UINT>(in.value);
    const auto wparam = static_cast<WPARAM>(in.wparam);
    const auto lparam = static_cast<LPARAM>(in.lparam);
    auto windows = d.windows().top_level();
    const bool delivered =
        !windows.empty() && d.post_message(windows.front()->hwnd(), message, wparam, lparam);
    d.emit(InputEvent{.input = "post",
                      .posted = InputEvent::Posted{message, wparam, lparam, delivered}});
    return delivered;
}

bool resume(Device& d, const Input&) {
    d.clocks().sleep_and_resume(d.now());
    return clock_change(d);
}

bool foreign(Device& d, const Input& in) {
    d.clocks().foreign_program(d.now(), static_cast<std::uint32_t>(in.value));
    return clock_change(d);
}

bool turbo_off(Device& d, const Input&) {
    d.clocks().foreign_turbo_off(d.now());
    return clock_change(d);
}

bool map_fail(Device& d, const Input& in) {
    d.memory().fail_next_mappings(static_cast<int>(in.value));
    d.emit(FaultEvent{"map-fail", in.value});
    return true;
}

bool reserve_fail(Device& d, const Input& in) {
    d.memory().fail_next_reservations(static_cast<int>(in.value));
    d.emit(FaultEvent{"reserve-fail", in.value});
    return true;
}

bool thread_fail(Device& d, const Input& in) {
    d.kernel().fail_next_thread_creations(static_cast<int>(in.value));
    d.emit(FaultEvent{"thread-fail", in.value});
    return true;
}

}  // namespace sim::act
