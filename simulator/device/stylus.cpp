#include "simulator/device/stylus.h"

#include "simulator/device/device.h"

namespace sim {

bool stylus_touch(Device& d) {
    StylusState& s = d.shell().stylus;
    if (s.down) {
        d.emit(InputEvent{.input = "touch", .ignored = "the stylus is already down"});
        return false;
    }
    if (d.shell().tray.empty()) {
        d.emit(InputEvent{.input = "touch", .ignored = "no tray icon"});
        return false;
    }
    const TrayIcon icon = d.shell().tray.front();
    const Millis now = d.now();
    const bool second = s.first_touch_at && now - *s.first_touch_at <= s.double_tap_ms &&
                        s.first_owner == icon.owner && s.first_id == icon.id;
    const UINT message = second ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
    s.down = true;
    s.owner = icon.owner;
    s.id = icon.id;
    if (second) {
        s.first_touch_at.reset();
    } else {
        s.first_touch_at = now;
        s.first_owner = icon.owner;
        s.first_id = icon.id;
    }
    const bool delivered = d.post_message(icon.owner, icon.callback_message, icon.id, message);
    d.emit(InputEvent{.input = "touch",
                      .touch_message = second ? "WM_LBUTTONDBLCLK" : "WM_LBUTTONDOWN",
                      .ignored = delivered ? nullptr : "the icon's window no longer exists"});
    return true;
}

bool stylus_lift(Device& d) {
    StylusState& s = d.shell().stylus;
    if (!s.down) {
        d.emit(InputEvent{.input = "lift", .ignored = "the stylus is not down"});
        return false;
    }
    s.down = false;
    // The icon may have gone while the stylus was down: the lift then reaches
    // no one.
    TrayIcon* icon = d.shell().find_icon(s.owner, s.id);
    const bool delivered = icon != nullptr && d.post_message(icon->owner, icon->callback_message,
                                                             icon->id, WM_LBUTTONUP);
    d.emit(InputEvent{.input = "lift", .ignored = delivered ? nullptr : "the icon is gone"});
    return true;
}

}  // namespace sim
