// The stylus on the tray: the shell's record of it (the touches themselves
// are device/stylus.h). The shell turns touches on a tray icon into the
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

// Touches delivered by other means (the tap and doubletap shorthands) end
// any double tap in progress: the next touch is a first one.
inline void stylus_forget(StylusState& stylus) {
    stylus.down = false;
    stylus.first_touch_at.reset();
}

}  // namespace sim

#endif
