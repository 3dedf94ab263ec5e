#include "simulator/device/view.h"

#include "simulator/support/hex.h"

namespace sim::view {

std::string hwnd_name(HWND window) {
    return hex(reinterpret_cast<std::uintptr_t>(window));
}

json clock_state(const ClockEvent& e) {
    return {{"cccr", hex(e.cccr)}, {"cclkcfg", e.cclkcfg}, {"mhz", shown_mhz(e.core_mhz)}};
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
    return {{"t", e.t}, {"mhz", shown_mhz(e.core_mhz)}, {"kind", to_string(e.kind)}};
}

json tray_icon(const TrayIconView& icon, bool on_screen) {
    const json resource = icon.icon ? json(*icon.icon) : json(nullptr);
    if (on_screen) {
        return {{"id", icon.id},
                {"tip", icon.tip},
                {"icon", resource},
                {"owner_alive", icon.owner_alive}};
    }
    return {{"owner", hex(icon.owner)}, {"id", icon.id}, {"icon", resource}, {"tip", icon.tip}};
}

json bubble(const BubbleView& b, bool full) {
    json j = {{"id", b.id}};
    if (full) {
        j["clsid"] = b.clsid;
    }
    j["title"] = b.title;
    if (full) {
        j["html"] = b.html;
    }
    j["text"] = b.text;
    j["open"] = b.open;
    if (b.critical()) {
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

json window(const WindowView& w) {
    json j;
    j["hwnd"] = w.handle;
    j["kind"] = to_string(w.kind);
    j["class"] = w.window_class;
    j["id"] = w.id;
    j["style"] = w.style;
    j["ex_style"] = w.ex_style;
    j["rect"] = {w.rect.left, w.rect.top, w.rect.width, w.rect.height};
    j["visible"] = w.visible;
    j["text"] = w.text;
    if (w.kind == ControlKind::Text) {
        j["align"] = std::string(1, w.alignment);
    }
    if (w.icon) {
        j["icon"] = *w.icon;
    }
    if (w.is_check_box()) {
        j["checked"] = w.checked;
    }
    if (w.kind == ControlKind::Dialog) {
        j["done_button"] = w.done_button;
        json children = json::array();
        for (const WindowView& c : w.controls) {
            children.push_back(window(c));
        }
        j["controls"] = children;
    }
    return j;
}

namespace {

const char* to_string(ThreadView::State state) {
    switch (state) {
        case ThreadView::State::Ready:
            return "ready";
        case ThreadView::State::Sleeping:
            return "sleeping";
        case ThreadView::State::Waiting:
            return "waiting";
    }
    return "?";
}

json program(const ProgramView& p) {
    json j = {{"state", sim::to_string(p.state)}};
    if (p.exit_code) {
        j["exit_code"] = *p.exit_code;
    }
    json threads = json::array();
    for (const ThreadView& t : p.threads) {
        json jt = {{"name", t.name}, {"state", to_string(t.state)}};
        if (t.wakes_at) {
            jt["wakes_at"] = *t.wakes_at;
        }
        threads.push_back(std::move(jt));
    }
    j["threads"] = threads;
    j["open_handles"] = p.open_handles;
    j["owned_icons"] = p.owned_icons;
    if (p.state_record) {
        json record;
        for (const StateField& f : *p.state_record) {
            record[f.name] = f.value;
        }
        j["state_record"] = record;
    }
    return j;
}

json screen(const ScreenView& s) {
    json j;
    j["nav_bar"] = {{"caption", s.nav_bar.caption}, {"ok_button", s.nav_bar.ok_button}};
    j["dialog"] = s.dialog ? window(*s.dialog) : json(nullptr);
    // Only while there is one, as the program shows one only on a processor
    // it does not serve.
    if (s.message_box) {
        j["message_box"] = window(*s.message_box);
    }
    json tray = json::array();
    for (const TrayIconView& icon : s.tray) {
        tray.push_back(tray_icon(icon, true));
    }
    j["tray"] = tray;
    json bubbles = json::array();
    for (const BubbleView& b : s.bubbles) {
        bubbles.push_back(bubble(b, true));
    }
    j["bubbles"] = bubbles;
    j["input_panel_up"] = s.input_panel_up;
    return j;
}

json hardware(const HardwareView& h) {
    json j = {{"cccr", hex(h.cccr)},  {"l", h.l},         {"m", h.m},     {"n", h.n},
              {"cclkcfg", h.cclkcfg}, {"turbo", h.turbo}, {"fcs", h.fcs}, {"mhz", h.mhz}};
    json states = json::array();
    for (const auto& st : h.stats.time_in_state) {
        states.push_back({{"khz", st.khz}, {"ms", st.ms}});
    }
    j["time_in_state"] = std::move(states);
    j["total_trans"] = h.stats.total_trans;
    // Only where there are any: on the processors the program serves a view
    // has no faults to show, and has no such field.
    if (!h.faults.empty()) {
        j["faults"] = h.faults;
    }
    return j;
}

}  // namespace

json snapshot(const Snapshot& s) {
    json j;
    j["t"] = s.t;
    j["program"] = program(s.program);
    j["screen"] = screen(s.screen);
    j["hardware"] = hardware(s.hardware);
    j["memory"] = {{"reservations", s.memory.reservations},
                   {"failing_mappings", s.memory.failing_mappings},
                   {"failing_reservations", s.memory.failing_reservations}};
    return j;
}

json names(const ProgramNames& names) {
    auto controls = [](const std::vector<std::pair<std::string, int>>& list) {
        json out = json::array();
        for (const auto& [word, id] : list) {
            out.push_back({{"word", word}, {"id", id}});
        }
        return out;
    };
    return {{"buttons", controls(names.buttons)},
            {"check_boxes", controls(names.check_boxes)},
            {"state_fields", names.state_fields}};
}

json snapshot(Device& device) {
    return snapshot(take_snapshot(device));
}

}  // namespace sim::view
