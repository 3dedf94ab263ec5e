// The stylus on the tray's icon, as the device's shell turns touches into
// the icon's callback messages (shell/stylus.h holds the shell's record of
// the stylus and the double-tap time).
#ifndef CORVANE_SIMULATOR_DEVICE_STYLUS_H
#define CORVANE_SIMULATOR_DEVICE_STYLUS_H

namespace sim {

class Device;

// The stylus touches the tray's icon (the first one, the only one the
// program adds): WM_LBUTTONDOWN, or WM_LBUTTONDBLCLK for the second touch of
// a double tap. Returns false (and changes nothing) without an icon, or with
// the stylus already down.
bool stylus_touch(Device& d);
// The stylus leaves the screen: WM_LBUTTONUP to the icon it touched. Returns
// false when the stylus was not down.
bool stylus_lift(Device& d);

}  // namespace sim

#endif
