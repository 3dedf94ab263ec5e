#include "simulator/shell/stylus.h"

#include "simulator/device.h"

namespace sim {

bool stylus_touch(Device& d) {
    StylusState& s = d.shell().stylus;
    if (s.down) {
        d.emit({{"input", "touch"}, {"ignored", "the stylus is already down"}});
        return false;
    }
    if (d.shell().tray.empty()) {
        d.emit({{"input", "touch"}, {"ignored", "no tray icon"}});
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
    json event = {{"input", "touch"}, {"message", second ? "WM_LBUTTONDBLCLK" : "WM_LBUTTONDOWN"}};
    if (!d.post_message(icon.owner, icon.callback_message, icon.id, message)) {
        event["ignored"] = "the icon's window no longer exists";
    }
    d.emit(std::move(event));
    return true;
}

bool stylus_lift(Device& d) {
    StylusState& s = d.shell().stylus;
    if (!s.down) {
        d.emit({{"input", "lift"}, {"ignored", "the stylus is not down"}});
        return false;
    }
    s.down = false;
    json event = {{"input", "lift"}};
    // The icon may have gone while the stylus was down: the lift then reaches
    // no one.
    TrayIcon* icon = d.shell().find_icon(s.owner, s.id);
    if (icon == nullptr ||
        !d.post_message(icon->owner, icon->callback_message, icon->id, WM_LBUTTONUP)) {
        event["ignored"] = "the icon is gone";
    }
    d.emit(std::move(event));
    return true;
}

void stylus_forget(StylusState& stylus) {
    stylus.down = false;
    stylus.first_touch_at.reset();
}

}  // namespace sim
