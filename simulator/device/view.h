// The one JSON view of each simulated object and of the device's snapshot,
// used by the trace, the scenario output and the page.
#ifndef CORVANE_SIMULATOR_DEVICE_VIEW_H
#define CORVANE_SIMULATOR_DEVICE_VIEW_H

#include "simulator/device/device.h"
#include "simulator/device/snapshot.h"
#include "simulator/support/json.h"

namespace sim::view {

// A window handle as traces name it: "0x10010".
std::string hwnd_name(HWND window);

// The clock registers after an event and the core clock they give.
json clock_state(const ClockEvent& e);
// A change of the clock hardware, as the trace reports it.
json clock_event(const ClockEvent& e);
// The clock after the program's own CCLKCFG write, as the trace reports it.
json clock_now(const ClockEvent& e);
// A point of the core-clock plot.
json clock_point(const ClockEvent& e);

// A tray icon as the trace reports it (its owner's handle), or with
// `on_screen` as the screen shows it (whether its owner still exists).
json tray_icon(const TrayIconView& icon, bool on_screen = false);
// A bubble; `full` adds what only the screen needs (class, HTML, timing).
json bubble(const BubbleView& b, bool full = false);
// A window as the screen shows it, with its controls for a dialog.
json window(const WindowView& w);

// The words a program's scenarios use: {"buttons": [{"word", "id"}, ...],
// "check_boxes": [...], "state_fields": [...]}.
json names(const ProgramNames& names);

// The whole device: program, screen, hardware, memory.
json snapshot(const Snapshot& s);
// The same, read from the device (its lock held).
json snapshot(Device& device);

}  // namespace sim::view

#endif
