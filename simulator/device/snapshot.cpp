#include "simulator/device/snapshot.h"

#include <cmath>

#include "simulator/device/device.h"

namespace sim {

double shown_mhz(double core_mhz) {
    return std::round(core_mhz * 100) / 100;
}

std::optional<std::int64_t> ProgramView::field(std::string_view name) const {
    if (state_record) {
        for (const StateField& f : *state_record) {
            if (f.name == name) {
                return f.value;
            }
        }
    }
    return std::nullopt;
}

std::size_t ProgramView::monitors() const {
    std::size_t n = 0;
    for (const ThreadView& t : threads) {
        n += t.name != "ui" ? 1 : 0;
    }
    return n;
}

bool WindowView::full_screen() const {
    return rect.left == 0 && rect.top == kNavBarHeight && rect.width == kScreenWidth &&
           rect.height == kScreenHeight - kNavBarHeight;
}

const WindowView* WindowView::control(int control_id) const {
    for (const WindowView& c : controls) {
        if (c.id == control_id) {
            return &c;
        }
    }
    return nullptr;
}

WindowView window_view(const Window& w) {
    WindowView v;
    v.handle = w.handle;
    v.kind = w.kind;
    v.window_class = w.window_class.to_string();
    v.id = w.id;
    v.style = w.style;
    v.ex_style = w.ex_style;
    v.rect = w.rect;
    v.visible = w.visible;
    v.text = narrow(w.text);
    v.alignment = w.alignment;
    v.icon = w.icon_resource;
    v.checked = w.check == BST_CHECKED;
    v.done_button = w.done_button;
    for (const Window* c : w.children) {
        v.controls.push_back(window_view(*c));
    }
    return v;
}

TrayIconView tray_icon_view(Device& device, const TrayIcon& icon) {
    TrayIconView v;
    v.owner = reinterpret_cast<std::uintptr_t>(icon.owner);
    v.id = icon.id;
    if (const LoadedIcon* loaded = device.icons().find(icon.icon)) {
        v.icon = loaded->resource;
    }
    v.tip = narrow(icon.tip);
    v.owner_alive = device.windows().find(icon.owner) != nullptr;
    return v;
}

std::vector<TrayIconView> tray_view(Device& device) {
    std::vector<TrayIconView> icons;
    for (const TrayIcon& icon : device.shell().tray) {
        icons.push_back(tray_icon_view(device, icon));
    }
    return icons;
}

BubbleView bubble_view(const Bubble& b) {
    return BubbleView{b.id,
                      clsid_string(b.clsid),
                      narrow(b.title),
                      narrow(b.html),
                      narrow(html_text(b.html)),
                      b.open,
                      b.flags,
                      b.posted_at,
                      b.duration_s};
}

namespace {

ThreadView thread_view(const SimThread& t) {
    ThreadView v;
    v.name = t.name();
    if (t.state() != SimThread::State::Blocked) {
        v.state = ThreadView::State::Ready;
    } else if (t.wake_at()) {
        v.state = ThreadView::State::Sleeping;
        v.wakes_at = t.wake_at();
    } else {
        v.state = ThreadView::State::Waiting;
    }
    return v;
}

ProgramView program_view(Device& device) {
    ProgramView p;
    p.state = device.program_state();
    p.exit_code = device.exit_code();
    for (const SimThread* t : device.kernel().threads()) {
        if (!t->finished()) {
            p.threads.push_back(thread_view(*t));
        }
    }
    p.open_handles = device.handles().size();
    p.owned_icons = device.icons().owned();
    if (device.program().inspect && device.program_state() != ProgramState::NotStarted) {
        p.state_record = device.program().inspect();
    }
    p.reclaimed = device.reclaimed_at_end();
    return p;
}

ScreenView screen_view(Device& device) {
    WindowManager& windows = device.windows();
    ScreenView s;
    const Window* dialog = nullptr;
    for (const Window* w : windows.top_level()) {
        if (w->kind == ControlKind::Dialog && w->message_box) {
            s.message_box = window_view(*w);
        } else if (w->kind == ControlKind::Dialog) {
            dialog = w;
        }
    }
    if (dialog != nullptr) {
        s.dialog = window_view(*dialog);
    }
    const Window* fg = windows.foreground();
    const bool shown = fg != nullptr && fg->visible;
    const Window* input_dialog = device.foreground_dialog();
    s.nav_bar.caption = shown ? narrow(fg->text) : "Start";
    s.nav_bar.ok_button = input_dialog != nullptr && input_dialog->has_ok_button();
    s.tray = tray_view(device);
    for (const Bubble& b : device.shell().bubbles) {
        s.bubbles.push_back(bubble_view(b));
    }
    s.input_panel_up = device.shell().input_panel_up;
    return s;
}

HardwareView hardware_view(Device& device) {
    const Pxa25xClocks& clocks = device.clocks();
    const CccrFields fields = cccr_fields(clocks.cccr());
    HardwareView h;
    h.cccr = clocks.cccr();
    h.l = fields.l;
    h.m = fields.m;
    h.n = fields.n;
    h.cclkcfg = clocks.cclkcfg();
    h.turbo = clocks.turbo();
    h.fcs = (clocks.cclkcfg() & kCclkcfgFcs) != 0;
    h.mhz = shown_mhz(clocks.core_mhz());
    // As Linux's cpufreq statistics: time at each clock, and changes.
    h.stats = cpufreq_stats(clocks.history(), device.now());
    h.faults = clocks.faults();
    return h;
}

}  // namespace

Snapshot take_snapshot(Device& device) {
    Snapshot s;
    s.t = device.now();
    s.program = program_view(device);
    s.screen = screen_view(device);
    s.hardware = hardware_view(device);
    const VirtualMemory& memory = device.memory();
    s.memory = {memory.outstanding(), memory.failing_mappings(), memory.failing_reservations()};
    s.bubble_counts = {device.shell().bubbles_accepted, device.shell().bubble_remove_calls};
    return s;
}

}  // namespace sim
