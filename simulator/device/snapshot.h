// The device's state at one moment, as typed values: what the program is
// doing, what the screen shows, the clock hardware and the program's memory.
// It is filled in one place (take_snapshot) and read by everything that
// looks at the device from outside: the JSON view (view.h) for the page and
// the scenario's state lines, the expectations, the tests and the
// invariants. A field renamed here fails the build wherever it is read.
#ifndef CORVANE_SIMULATOR_DEVICE_SNAPSHOT_H
#define CORVANE_SIMULATOR_DEVICE_SNAPSHOT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/hardware/cpufreq_stats.h"
#include "simulator/kernel/kernel.h"
#include "simulator/shell/shell.h"
#include "simulator/wince/window_manager.h"

namespace sim {

class Device;

enum class ProgramState { NotStarted, Running, Ended, Terminated };
const char* to_string(ProgramState state);

// What a process still held when it ended, and its end freed.
struct Reclaimed {
    std::size_t reservations = 0;
    std::size_t handles = 0;
    std::size_t icons = 0;
};

// A field of a program's state record, as a debugger reads it.
struct StateField {
    std::string name;
    std::int64_t value = 0;
    bool operator==(const StateField&) const = default;
};

struct ThreadView {
    enum class State { Ready, Sleeping, Waiting };
    std::string name;
    State state = State::Ready;
    std::optional<Millis> wakes_at;  // a sleeping thread's
};

struct ProgramView {
    ProgramState state = ProgramState::NotStarted;
    std::optional<int> exit_code;
    std::vector<ThreadView> threads;  // the live ones, the UI thread first
    std::size_t open_handles = 0;
    // Icons the program loaded as its own (not shared) and has not destroyed.
    std::size_t owned_icons = 0;
    // The state record, once the program has started (when it has one).
    std::optional<std::vector<StateField>> state_record;
    // What the end of the process freed (zero while it runs).
    Reclaimed reclaimed;

    // A state record field's value; nullopt when there is no such field.
    std::optional<std::int64_t> field(std::string_view name) const;
    // The live threads besides the UI thread.
    std::size_t monitors() const;
};

// A window as the window manager holds it: a dialog with its controls, or
// one control.
struct WindowView {
    std::uintptr_t handle = 0;
    ControlKind kind = ControlKind::Other;
    std::string window_class;
    int id = 0;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    Rect rect;
    bool visible = false;
    std::string text;
    char alignment = 'l';               // static text only
    std::optional<std::uint16_t> icon;  // a static icon's image
    bool checked = false;               // check boxes only
    bool done_button = false;           // dialogs only
    std::vector<WindowView> controls;   // dialogs only

    bool is_check_box() const {
        return kind == ControlKind::CheckBox || kind == ControlKind::AutoCheckBox;
    }
    bool full_screen() const;
    const WindowView* control(int control_id) const;
};

struct TrayIconView {
    std::uintptr_t owner = 0;
    UINT id = 0;
    std::optional<std::uint16_t> icon;  // the icon group shown, if loaded
    std::string tip;
    bool owner_alive = false;
};

struct BubbleView {
    DWORD id = 0;
    std::string clsid;
    std::string title;
    std::string html;
    std::string text;  // the HTML as plain text
    bool open = false;
    DWORD flags = 0;
    Millis posted_at = 0;
    DWORD duration_s = 0;

    bool critical() const { return (flags & SHNF_CRITICAL) != 0; }
};

struct ScreenView {
    struct NavBar {
        std::string caption;
        bool ok_button = false;
    };
    NavBar nav_bar;
    std::optional<WindowView> dialog;       // the program's dialog, shown or not
    std::optional<WindowView> message_box;  // a message box on screen
    std::vector<TrayIconView> tray;
    std::vector<BubbleView> bubbles;
    bool input_panel_up = false;

    bool dialog_visible() const { return dialog && dialog->visible; }
};

struct HardwareView {
    std::uint32_t cccr = 0;
    unsigned l = 0, m = 0, n = 0;  // CCCR's fields
    std::uint32_t cclkcfg = 0;
    bool turbo = false;
    bool fcs = false;
    double mhz = 0;  // the core clock, to two decimal places
    CpufreqStats stats;
    // What the program did to hardware of another processor (none on the
    // PXA25x family): each fault says what and where.
    std::vector<std::string> faults;
};

struct MemoryView {
    std::size_t reservations = 0;
    int failing_mappings = 0;
    int failing_reservations = 0;
};

// The shell's counts of the program's bubble calls (not on screen).
struct BubbleCounts {
    std::uint64_t accepted = 0;      // SHNotificationAdd calls that succeeded
    std::uint64_t remove_calls = 0;  // SHNotificationRemove calls
};

struct Snapshot {
    Millis t = 0;
    ProgramView program;
    ScreenView screen;
    HardwareView hardware;
    MemoryView memory;
    BubbleCounts bubble_counts;
};

// A core clock in MHz as shown: to two decimal places.
double shown_mhz(double core_mhz);

// One window as a view; with its controls for a dialog.
WindowView window_view(const Window& w);
TrayIconView tray_icon_view(Device& device, const TrayIcon& icon);
std::vector<TrayIconView> tray_view(Device& device);
BubbleView bubble_view(const Bubble& b);

// The whole device, read with its lock held.
Snapshot take_snapshot(Device& device);

}  // namespace sim

#endif
