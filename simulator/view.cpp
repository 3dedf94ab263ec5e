#include "simulator/view.h"

#include <cmath>

#include "simulator/hardware/cpufreq_stats.h"
#include "simulator/hex.h"

namespace sim::view {

std::string hwnd_name(HWND window) {
    return hex(reinterpret_cast<std::uintptr_t>(window));
}

double mhz(double core_mhz) {
    return std::round(core_mhz * 100) / 100;
}

json clock_state(const ClockEvent& e) {
    return {{"cccr", hex(e.cccr)}, {"cclkcfg", e.cclkcfg}, {"mhz", mhz(e.core_mhz)}};
}

json clock_event(const ClockEvent& e) {
    json j = {{"hw", to_string(e.kind)}};
    if (e.kind == ClockEvent::Kind::CccrStore || e.kind == ClockEvent::Kind::CclkcfgWrite ||
        e.kind == ClockEvent::Kind::ForeignCccr) {
        j["value"] = hex(e.value);
    }
    j.update(clock_state(e));
    if (!e.note.empty()) {
        j["note"] = e.note;
    }
    return j;
}

json clock_now(const ClockEvent& e) {
    json j = {{"hw", "clock"}};
    j.update(clock_state(e));
    return j;
}

json clock_point(const ClockEvent& e) {
    return {{"t", e.t}, {"mhz", mhz(e.core_mhz)}, {"kind", to_string(e.kind)}};
}

json tray_icon(Device& device, const TrayIcon& icon, bool on_screen) {
    const LoadedIcon* loaded = device.icons().find(icon.icon);
    const json resource = loaded != nullptr ? json(loaded->resource) : json(nullptr);
    if (on_screen) {
        return {{"id", icon.id},
                {"tip", narrow(icon.tip)},
                {"icon", resource},
                {"owner_alive", device.windows().find(icon.owner) != nullptr}};
    }
    return {{"owner", hex(reinterpret_cast<std::uintptr_t>(icon.owner))},
            {"id", icon.id},
            {"icon", resource},
            {"tip", narrow(icon.tip)}};
}

json tray(Device& device, bool on_screen) {
    json icons = json::array();
    for (const TrayIcon& icon : device.shell().tray) {
        icons.push_back(tray_icon(device, icon, on_screen));
    }
    return icons;
}

json bubble(const Bubble& b, bool full) {
    json j = {{"id", b.id}};
    if (full) {
        j["clsid"] = clsid_string(b.clsid);
    }
    j["title"] = narrow(b.title);
    if (full) {
        j["html"] = narrow(b.html);
    }
    j["text"] = narrow(html_text(b.html));
    j["open"] = b.open;
    if (b.flags & SHNF_CRITICAL) {
        j["critical"] = true;
    }
    if (full && b.flags != 0) {
        j["flags"] = hex(b.flags);
    }
    if (full) {
        j["posted_at"] = b.posted_at;
        j["duration_s"] = b.duration_s;
    }
    return j;
}

json thread(const SimThread& t) {
    json j = {{"name", t.name()}};
    if (t.state() != SimThread::State::Blocked) {
        j["state"] = "ready";
    } else if (t.wake_at()) {
        j["state"] = "sleeping";
        j["wakes_at"] = *t.wake_at();
    } else {
        j["state"] = "waiting";
    }
    return j;
}

namespace {

json program(Device& device) {
    json p = {{"state", to_string(device.program_state())}};
    if (device.exit_code()) {
        p["exit_code"] = *device.exit_code();
    }
    json threads = json::array();
    for (const SimThread* t : device.kernel().threads()) {
        if (!t->finished()) {
            threads.push_back(thread(*t));
        }
    }
    p["threads"] = threads;
    p["open_handles"] = device.handles().size();
    // Icons the program loaded as its own (not shared) and has not destroyed.
    p["owned_icons"] = device.icons().owned();
    if (device.program().inspect && device.program_state() != ProgramState::NotStarted) {
        p["state_record"] = device.program().inspect();
    }
    return p;
}

json screen(Device& device) {
    WindowManager& windows = device.windows();
    Window* dialog = nullptr;
    for (Window* w : windows.top_level()) {
        if (w->kind == ControlKind::Dialog) {
            dialog = w;
        }
    }
    const Window* fg = windows.foreground();
    const bool shown = fg != nullptr && fg->visible;
    const Window* input_dialog = device.foreground_dialog();
    json s;
    s["nav_bar"] = {{"caption", shown ? narrow(fg->text) : "Start"},
                    {"ok_button", input_dialog != nullptr && input_dialog->has_ok_button()}};
    s["dialog"] = dialog != nullptr ? windows.describe(*dialog) : json(nullptr);
    s["tray"] = tray(device, true);
    json bubbles = json::array();
    for (const Bubble& b : device.shell().bubbles) {
        bubbles.push_back(bubble(b, true));
    }
    s["bubbles"] = bubbles;
    s["input_panel_up"] = device.shell().input_panel_up;
    return s;
}

}  // namespace

json snapshot(Device& device) {
    json s;
    s["t"] = device.now();
    s["program"] = program(device);
    s["screen"] = screen(device);
    const Pxa25xClocks& clocks = device.clocks();
    const auto fields = cccr_fields(clocks.cccr());
    s["hardware"] = {{"cccr", hex(clocks.cccr())},
                     {"l", fields.l},
                     {"m", fields.m},
                     {"n", fields.n},
                     {"cclkcfg", clocks.cclkcfg()},
                     {"turbo", clocks.turbo()},
                     {"fcs", (clocks.cclkcfg() & kCclkcfgFcs) != 0},
                     {"mhz", mhz(clocks.core_mhz())}};
    // As Linux's cpufreq statistics: time at each clock, and changes.
    const CpufreqStats stats = cpufreq_stats(clocks.history(), device.now());
    json states = json::array();
    for (const auto& st : stats.time_in_state) {
        states.push_back({{"khz", st.khz}, {"ms", st.ms}});
    }
    s["hardware"]["time_in_state"] = std::move(states);
    s["hardware"]["total_trans"] = stats.total_trans;
    const VirtualMemory& memory = device.memory();
    s["memory"] = {{"reservations", memory.outstanding()},
                   {"failing_mappings", memory.failing_mappings()},
                   {"failing_reservations", memory.failing_reservations()}};
    return s;
}

}  // namespace sim::view
