// The one JSON view of each simulated object, used by the trace, the
// snapshot, the scenario output and the page. Every function reads the
// device with its lock held.
#ifndef CORVANE_SIMULATOR_VIEW_H
#define CORVANE_SIMULATOR_VIEW_H

#include "simulator/device.h"

namespace sim::view {

// A window handle as traces name it: "0x10010".
std::string hwnd_name(HWND window);

// A core clock in MHz as shown: to two decimal places.
double mhz(double core_mhz);

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
json tray_icon(Device& device, const TrayIcon& icon, bool on_screen = false);
json tray(Device& device, bool on_screen = false);
// A bubble; `full` adds what only the screen needs (class, HTML, timing).
json bubble(const Bubble& b, bool full = false);
json thread(const SimThread& t);

// The whole device: program, screen, hardware, memory.
json snapshot(Device& device);

}  // namespace sim::view

#endif
