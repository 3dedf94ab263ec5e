// Each kind of trace event as its JSON line's fields.
#include "simulator/device/events.h"

#include "simulator/device/trace.h"
#include "simulator/device/view.h"
#include "simulator/support/hex.h"

namespace sim {

namespace {

const char* message_name(UINT message) {
    switch (message) {
        case WM_CLOSE:
            return "WM_CLOSE";
        case WM_INITDIALOG:
            return "WM_INITDIALOG";
        case WM_COMMAND:
            return "WM_COMMAND";
        case WM_LBUTTONDOWN:
            return "WM_LBUTTONDOWN";
        case WM_LBUTTONUP:
            return "WM_LBUTTONUP";
        case WM_LBUTTONDBLCLK:
            return "WM_LBUTTONDBLCLK";
        default:
            return nullptr;
    }
}

const char* to_string(BubbleEvent::Change change) {
    switch (change) {
        case BubbleEvent::Change::Shown:
            return "bubble-shown";
        case BubbleEvent::Change::Collapsed:
            return "bubble-collapsed";
        case BubbleEvent::Change::Removed:
            return "bubble-removed";
    }
    return "?";
}

json rect_json(const Rect& r) {
    return {r.left, r.top, r.width, r.height};
}

}  // namespace

void CallEvent::write_json(json& out) const {
    out["call"] = call;
    out["args"] = args;
    out["ret"] = ret;
    if (!note.empty()) {
        out["note"] = note;
    }
    if (trapped_pc) {
        out["via"] = "trap";
        out["pc"] = hex(*trapped_pc);
    } else if (from != 0) {
        out["from"] = hex(from);
    }
}

void DispatchEvent::write_json(json& out) const {
    const char* name = message_name(message.message);
    out["dispatch"] = {{"message", name != nullptr ? json(name) : json(message.message)},
                       {"hwnd", view::hwnd_name(message.hwnd)},
                       {"wParam", message.wparam},
                       {"lParam", message.lparam}};
}

// A screen change, told briefly: a dialog by caption and place, a control
// by id, kind and state.
void WindowEvent::write_json(json& out) const {
    const WindowView& w = window;
    out["screen"] = what;
    if (w.kind != ControlKind::Dialog) {
        out["id"] = w.id;
        out["kind"] = to_string(w.kind);
        out["text"] = w.text;
        if (w.is_check_box()) {
            out["checked"] = w.checked;
        }
        return;
    }
    out["hwnd"] = hex(w.handle);
    out["caption"] = w.text;
    out["rect"] = rect_json(w.rect);
    out["full_screen"] = w.full_screen();
    out["visible"] = w.visible;
    if (std::string_view(what) == "dialog-created") {
        json controls = json::array();
        for (const WindowView& c : w.controls) {
            json jc = {{"id", c.id}, {"kind", to_string(c.kind)}};
            if (c.icon) {
                jc["icon"] = *c.icon;
            } else {
                jc["text"] = c.text;
            }
            controls.push_back(std::move(jc));
        }
        out["controls"] = std::move(controls);
    }
}

void TrayEvent::write_json(json& out) const {
    out["screen"] = "tray";
    json list = json::array();
    for (const TrayIconView& icon : icons) {
        list.push_back(view::tray_icon(icon));
    }
    out["icons"] = std::move(list);
}

void BubbleEvent::write_json(json& out) const {
    out["screen"] = to_string(change);
    out["bubble"] = view::bubble(bubble);
}

void InputPanelEvent::write_json(json& out) const {
    out["screen"] = "input-panel-down";
}

void ClockChangeEvent::write_json(json& out) const {
    out.update(view::clock_event(clock));
}

void ClockNowEvent::write_json(json& out) const {
    out.update(view::clock_now(clock));
}

void InputEvent::write_json(json& out) const {
    out["input"] = input;
    if (control) {
        out["control"] = *control;
    }
    if (ms) {
        out["ms"] = *ms;
    }
    if (touch_message != nullptr) {
        out["message"] = touch_message;
    }
    if (posted) {
        out["message"] = posted->message;
        out["wParam"] = posted->wparam;
        out["lParam"] = posted->lparam;
        out["delivered"] = posted->delivered;
    }
    if (ignored != nullptr) {
        out["ignored"] = ignored;
    }
}

void FaultEvent::write_json(json& out) const {
    out["fault"] = fault;
    out["count"] = count;
}

void ProcessEvent::write_json(json& out) const {
    out["process"] = state == ProgramState::Running ? "start" : to_string(state);
    if (exit_code) {
        out["exit_code"] = *exit_code;
    }
    if (released.reservations > 0 || released.handles > 0) {
        out["released"] = {{"reservations", released.reservations}, {"handles", released.handles}};
    }
    if (released.icons > 0) {
        out["released"]["icons"] = released.icons;
    }
}

json body_json(const EventBody& body) {
    json out = json::object();
    std::visit([&](const auto& e) { e.write_json(out); }, body);
    return out;
}

json to_json(const TraceEvent& event) {
    json out;
    out["t"] = event.t;
    if (!event.thread.empty()) {
        out["thread"] = event.thread;
    }
    std::visit([&](const auto& e) { e.write_json(out); }, event.body);
    out["seq"] = event.seq;
    return out;
}

}  // namespace sim
