// The Pocket PC shell's state: tray icons, notification bubbles, and the
// input panel.
#ifndef CORVANE_SIMULATOR_SHELL_SHELL_H
#define CORVANE_SIMULATOR_SHELL_SHELL_H

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/kernel/kernel.h"
#include "simulator/shell/shellapi.h"
#include "simulator/shell/stylus.h"

namespace sim {

struct TrayIcon {
    HWND owner = nullptr;
    UINT id = 0;
    UINT flags = 0;
    UINT callback_message = 0;
    HICON icon = nullptr;
    std::u16string tip;
};

struct Bubble {
    CLSID clsid{};
    DWORD id = 0;
    std::u16string title;
    std::u16string html;
    HICON icon = nullptr;
    DWORD duration_s = 0;
    DWORD priority = 0;
    DWORD flags = 0;  // grfFlags as the program gave them
    HWND sink = nullptr;
    LPARAM lparam = 0;
    Millis posted_at = 0;
    bool open = true;  // shown in full; collapsed after its duration
    std::uint64_t serial = 0;
};

struct ShellState {
    std::vector<TrayIcon> tray;   // in the order added
    std::vector<Bubble> bubbles;  // in the order posted
    bool input_panel_up = false;
    StylusState stylus;  // touches on the tray (stylus.h)
    std::uint64_t next_bubble_serial = 1;
    std::uint64_t bubbles_accepted = 0;     // SHNotificationAdd calls that succeeded
    std::uint64_t bubble_remove_calls = 0;  // SHNotificationRemove calls, found or not

    TrayIcon* find_icon(HWND owner, UINT id);
    Bubble* find_bubble(const CLSID& clsid, DWORD id);
    Bubble* find_bubble_by_serial(std::uint64_t serial);
};

bool same_clsid(const CLSID& a, const CLSID& b);
std::string clsid_string(const CLSID& c);
// The text a person reads in an HTML fragment: tags dropped, the common
// entities decoded, white space collapsed.
std::u16string html_text(const std::u16string& html);

}  // namespace sim

#endif
