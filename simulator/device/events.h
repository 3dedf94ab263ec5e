// The kinds of event the device traces, declared. Each is built where it
// happens (a platform function, the shell, an input) and handed to
// Device::emit, which stamps it with the time and the thread; the trace's
// listeners get it as this type (the Chrome trace dispatches on it) or as
// its JSON line, made in one place (write_json in events.cpp).
//
// A new kind of event is a struct here with its write_json, and a name in
// EventBody; the Chrome trace leaves out the kinds it has no track for.
#ifndef CORVANE_SIMULATOR_DEVICE_EVENTS_H
#define CORVANE_SIMULATOR_DEVICE_EVENTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "simulator/device/snapshot.h"
#include "simulator/hardware/pxa25x_clocks.h"
#include "simulator/support/json.h"

namespace sim {

// A platform call with its arguments and result, as the program made it.
struct CallEvent {
    const char* call = "";
    json args{};
    json ret{};
    std::string note{};
    // The address the program made the call from (a loaded image's), or 0.
    std::uint32_t from = 0;
    // For an access made by a trapped instruction: the instruction's address.
    std::optional<std::uint32_t> trapped_pc{};
    void write_json(json& out) const;
};

// A message taken from a thread's queue and dispatched.
struct DispatchEvent {
    Message message{};
    void write_json(json& out) const;
};

// A window or control changed on screen. Only a dialog's creation lists
// its controls.
struct WindowEvent {
    const char* what = "";  // "dialog-created", "check-box-toggled", ...
    WindowView window{};
    void write_json(json& out) const;
};

struct TrayEvent {
    std::vector<TrayIconView> icons{};
    void write_json(json& out) const;
};

struct BubbleEvent {
    enum class Change { Shown, Collapsed, Removed };
    Change change = Change::Shown;
    BubbleView bubble{};
    void write_json(json& out) const;
};

// The shell lowered the input panel.
struct InputPanelEvent {
    void write_json(json& out) const;
};

// The clock hardware changed: the world's doing (a power cycle, another
// program) or the program's CCCR store; `clock` is the history's entry.
struct ClockChangeEvent {
    ClockEvent clock{};
    void write_json(json& out) const;
};

// The clock in force after the program's own CCLKCFG write.
struct ClockNowEvent {
    ClockEvent clock{};
    void write_json(json& out) const;
};

// What the world did to the device, and why it reached no one if it did not.
struct InputEvent {
    // A message the world posted to the program's window.
    struct Posted {
        UINT message = 0;
        WPARAM wparam = 0;
        LPARAM lparam = 0;
        bool delivered = false;
    };
    const char* input = "";
    std::optional<int> control{};         // a click's
    std::optional<std::int64_t> ms{};     // a new double-tap time
    const char* touch_message = nullptr;  // what a touch told the icon's window
    std::optional<Posted> posted{};       // a posted message
    const char* ignored = nullptr;        // why it reached no one
    void write_json(json& out) const;
};

// A fault the world arranged: the next `count` mappings (or reservations,
// thread creations) fail.
struct FaultEvent {
    const char* fault = "";
    std::int64_t count = 0;
    void write_json(json& out) const;
};

// The process started (state Running) or ended, with what its end freed.
struct ProcessEvent {
    ProgramState state = ProgramState::Running;
    std::optional<int> exit_code{};
    Reclaimed released{};
    void write_json(json& out) const;
};

using EventBody =
    std::variant<CallEvent, DispatchEvent, WindowEvent, TrayEvent, BubbleEvent, InputPanelEvent,
                 ClockChangeEvent, ClockNowEvent, InputEvent, FaultEvent, ProcessEvent>;

// The body's own fields, as its JSON line has them after "t" and "thread".
json body_json(const EventBody& body);

}  // namespace sim

#endif
