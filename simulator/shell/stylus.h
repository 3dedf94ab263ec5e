// The stylus on the tray. The shell turns touches on a tray icon into the
// icon's callback messages the way the device's shell does: a touch delivers
// WM_LBUTTONDOWN at once and the lift WM_LBUTTONUP; a second touch on the
// same icon within the double-tap time of the first delivers
// WM_LBUTTONDBLCLK instead. Nothing waits to rule out a double tap.
#ifndef CORVANE_SIMULATOR_SHELL_STYLUS_H
#define CORVANE_SIMULATOR_SHELL_STYLUS_H

#include <optional>

#include "simulator/kernel/kernel.h"
#include "simulator/shell/shellapi.h"

namespace sim {

class Device;

// The shell's double-tap time (GetDoubleClickTime's default on the device).
constexpr Millis kDefaultDoubleTapMs = 500;
// The longest double-tap time a scenario may set.
constexpr Millis kMaxDoubleTapMs = 5000;

struct StylusState {
    Millis double_tap_ms = kDefaultDoubleTapMs;
    bool down = false;
    // The icon under the stylus while it is down.
    HWND owner = nullptr;
    UINT id = 0;
    // When the last touch that can start a double tap landed, on which icon.
    // A double tap's second touch starts none (a third touch is a new one).
    std::optional<Millis> first_touch_at;
    HWND first_owner = nullptr;
    UINT first_id = 0;
};

// The stylus touches the tray's icon (the first one, the only one the
// program adds): WM_LBUTTONDOWN, or WM_LBUTTONDBLCLK for the second touch of
// a double tap. Returns false (and changes nothing) without an icon, or with
// the stylus already down.
bool stylus_touch(Device& d);
// The stylus leaves the screen: WM_LBUTTONUP to the icon it touched. Returns
// false when the stylus was not down.
bool stylus_lift(Device& d);
// Touches delivered by other means (the tap and doubletap shorthands) end
// any double tap in progress: the next touch is a first one.
void stylus_forget(StylusState& stylus);

}  // namespace sim

#endif
