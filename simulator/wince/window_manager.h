// Windows of the simulated device: dialogs built from templates, their
// controls, the per-thread message queues, and the screen geometry.
#ifndef CORVANE_SIMULATOR_WINCE_WINDOW_MANAGER_H
#define CORVANE_SIMULATOR_WINCE_WINDOW_MANAGER_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simulator/kernel/kernel.h"
#include "simulator/pe/resources.h"
#include "simulator/wince/winapi.h"

namespace sim {

// The Pocket PC screen: 240 x 320 pixels, the navigation bar (caption, and
// a dialog's OK button) across the top.
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kNavBarHeight = 26;
// The input panel, when up, covers the 80 pixels above the 26-pixel menu
// bar at the bottom of the screen; what lies under it cannot be touched.
constexpr int kMenuBarHeight = 26;
constexpr int kInputPanelHeight = 80;

// Dialog units to pixels for the dialog font on this screen.
constexpr int dlu_to_px_x(int dlu) {
    return dlu * 6 / 4;
}
constexpr int dlu_to_px_y(int dlu) {
    return dlu * 13 / 8;
}

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool contains(int x, int y) const {
        return x >= left && x < left + width && y >= top && y < top + height;
    }
};

constexpr Rect input_panel_rect() {
    return Rect{0, kScreenHeight - kMenuBarHeight - kInputPanelHeight, kScreenWidth,
                kInputPanelHeight};
}

enum class ControlKind {
    Dialog,
    PushButton,
    CheckBox,      // BS_CHECKBOX: the program sets the check
    AutoCheckBox,  // BS_AUTOCHECKBOX: toggles on click
    GroupBox,
    Text,
    Icon,
    Other,
};
const char* to_string(ControlKind kind);

struct Window {
    std::uintptr_t handle = 0;
    ControlKind kind = ControlKind::Other;
    ResId window_class;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    int id = 0;
    Rect rect;  // a dialog: screen pixels; a control: pixels within its dialog
    std::u16string text;
    std::optional<std::uint16_t> icon_resource;  // a static icon's image
    char alignment = 'l';                        // static text: l, c or r
    Window* parent = nullptr;
    std::vector<Window*> children;
    bool visible = false;
    int check = BST_UNCHECKED;
    const SimThread* thread = nullptr;

    // Dialogs only.
    DLGPROC proc = nullptr;
    bool ending = false;
    int result = 0;
    bool done_button = false;  // an OK button in the navigation bar
    bool message_box = false;  // made by MessageBoxW, not from a template
    // Whether the navigation bar shows an OK button for this dialog: the one
    // SHInitDialog gives it, or the one its extended style asks for.
    bool has_ok_button() const { return done_button || (ex_style & WS_EX_CAPTIONOKBTN) != 0; }

    HWND hwnd() const { return reinterpret_cast<HWND>(handle); }
    bool shown() const;
};

struct Message {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
};

class WindowManager {
  public:
    // Builds a dialog and its controls from a template, hidden, at the
    // template's position below the navigation bar.
    Window& create_dialog(const DialogTemplate& t, const SimThread* thread, DLGPROC proc);
    void destroy(Window& window);

    Window* find(HWND hwnd);
    const Window* find(HWND hwnd) const;
    Window* child(Window& dialog, int id);
    // The program's top-level windows, oldest first.
    std::vector<Window*> top_level();

    Window* foreground() { return foreground_; }
    void set_foreground(Window* w) { foreground_ = w; }

    // Posts to the queue of the window's thread; false for a window that no
    // longer exists. The caller wakes the thread.
    bool post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    std::deque<Message>& queue(const SimThread* thread) { return queues_[thread]; }
    void drop_queue(const SimThread* thread) { queues_.erase(thread); }

  private:
    std::map<std::uintptr_t, std::unique_ptr<Window>> windows_;
    std::map<const SimThread*, std::deque<Message>> queues_;
    Window* foreground_ = nullptr;
    std::uintptr_t next_handle_ = 0x10010;
};

std::string narrow(const std::u16string& s);

}  // namespace sim

#endif
