#include "simulator/input.h"

#include <initializer_list>

#include "simulator/hex.h"
#include "simulator/shell/stylus.h"
#include "simulator/text.h"

namespace sim {

namespace {

// What an input's argument is, in a scenario line and in the page's JSON.
enum class Arg {
    None,
    Control,   // a control id: "click 1001", {"id": 1001}
    Duration,  // "wait 6s"
    Interval,  // the double-tap time: "doubletap-time 500ms", 1 ms to 5 s
    Word,      // a CCCR word: "foreign 0x141", {"cccr": "0x141"}
    Count,     // "map-fail 3", {"count": 3}
    Message,   // a message with wParam and lParam: "post 0x8001 0 0"
};

constexpr std::int64_t kMaxScriptCount = 1000000;
constexpr std::int64_t kMaxPageCount = 1000;

// --- What each input does to the device -----------------------------------------
//
// Each runs with the device locked and traces the input; it returns whether
// what it touches was there.

bool press_ok(Device& d, const Input&) {
    Window* dialog = d.foreground_dialog();
    if (dialog == nullptr || !dialog->has_ok_button()) {
        d.emit(InputEvent{.input = "ok",
                          .ignored = dialog == nullptr ? "no dialog in the foreground"
                                                       : "no OK button on screen"});
        return false;
    }
    d.emit(InputEvent{.input = "ok"});
    return d.post_message(dialog->hwnd(), WM_COMMAND, IDOK, 0);
}

bool click(Device& d, const Input& in) {
    const int id = static_cast<int>(in.value);
    Window* dialog = d.foreground_dialog();
    Window* control = dialog == nullptr ? nullptr : d.windows().child(*dialog, id);
    if (control == nullptr || !control->shown()) {
        d.emit(InputEvent{.input = "click", .control = id, .ignored = "control not on screen"});
        return false;
    }
    // A touch lands on the control's centre; the input panel, when up, takes
    // the touches in its area.
    const int x = dialog->rect.left + control->rect.left + control->rect.width / 2;
    const int y = dialog->rect.top + control->rect.top + control->rect.height / 2;
    if (d.shell().input_panel_up && input_panel_rect().contains(x, y)) {
        d.emit(InputEvent{.input = "click", .control = id, .ignored = "under the input panel"});
        return false;
    }
    d.emit(InputEvent{.input = "click", .control = id});
    return d.post_message(control->hwnd(), WM_LBUTTONDOWN, 0, 0) &&
           d.post_message(control->hwnd(), WM_LBUTTONUP, 0, 0);
}

bool sip_up(Device& d, const Input&) {
    d.shell().input_panel_up = true;
    d.emit(InputEvent{.input = "sip-up"});
    return true;
}

bool close(Device& d, const Input&) {
    auto windows = d.windows().top_level();
    if (windows.empty()) {
        d.emit(InputEvent{.input = "close", .ignored = "no program window"});
        return false;
    }
    d.emit(InputEvent{.input = "close"});
    return d.post_message(windows.front()->hwnd(), WM_CLOSE, 0, 0);
}

bool touch_tray(Device& d, const char* input, std::initializer_list<LPARAM> touches) {
    if (d.shell().tray.empty()) {
        d.emit(InputEvent{.input = input, .ignored = "no tray icon"});
        return false;
    }
    const TrayIcon icon = d.shell().tray.front();
    bool delivered = true;
    for (LPARAM touch : touches) {
        delivered = d.post_message(icon.owner, icon.callback_message, icon.id, touch) && delivered;
    }
    d.emit(InputEvent{.input = input,
                      .ignored = delivered ? nullptr : "the icon's window no longer exists"});
    return true;
}

// The shorthands: a tap and a double tap as they say, whatever touched the
// icon before; the next stylus touch is a first one.
bool tap(Device& d, const Input&) {
    stylus_forget(d.shell().stylus);
    return touch_tray(d, "tap", {WM_LBUTTONDOWN, WM_LBUTTONUP});
}

bool double_tap(Device& d, const Input&) {
    stylus_forget(d.shell().stylus);
    // The shell reports the first touch of a double tap as a touch of its own.
    return touch_tray(d, "double-tap",
                      {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

// The stylus itself: the shell decides from the time between touches
// whether a touch is the second of a double tap (stylus.cpp).
bool touch(Device& d, const Input&) {
    return stylus_touch(d);
}

bool lift(Device& d, const Input&) {
    return stylus_lift(d);
}

bool double_tap_time(Device& d, const Input& in) {
    d.shell().stylus.double_tap_ms = in.value;
    d.emit(InputEvent{.input = "doubletap-time", .ms = in.value});
    return true;
}

bool post(Device& d, const Input& in) {
    const auto message = static_cast<UINT>(in.value);
    const auto wparam = static_cast<WPARAM>(in.wparam);
    const auto lparam = static_cast<LPARAM>(in.lparam);
    auto windows = d.windows().top_level();
    const bool delivered =
        !windows.empty() && d.post_message(windows.front()->hwnd(), message, wparam, lparam);
    d.emit(InputEvent{.input = "post",
                      .posted = InputEvent::Posted{message, wparam, lparam, delivered}});
    return delivered;
}

bool clock_change(Device& d) {
    d.emit(ClockChangeEvent{d.clocks().history().back()});
    return true;
}

bool resume(Device& d, const Input&) {
    d.clocks().sleep_and_resume(d.now());
    return clock_change(d);
}

bool foreign(Device& d, const Input& in) {
    d.clocks().foreign_program(d.now(), static_cast<std::uint32_t>(in.value));
    return clock_change(d);
}

bool turbo_off(Device& d, const Input&) {
    d.clocks().foreign_turbo_off(d.now());
    return clock_change(d);
}

bool map_fail(Device& d, const Input& in) {
    d.memory().fail_next_mappings(static_cast<int>(in.value));
    d.emit(FaultEvent{"map-fail", in.value});
    return true;
}

bool reserve_fail(Device& d, const Input& in) {
    d.memory().fail_next_reservations(static_cast<int>(in.value));
    d.emit(FaultEvent{"reserve-fail", in.value});
    return true;
}

bool thread_fail(Device& d, const Input& in) {
    d.kernel().fail_next_thread_creations(static_cast<int>(in.value));
    d.emit(FaultEvent{"thread-fail", in.value});
    return true;
}

}  // namespace

// --- The inputs ------------------------------------------------------------------

struct InputKind {
    const char* name;  // in a scenario line, and the page's "action"
    Arg arg;
    bool script;                         // a scenario may say it
    bool page;                           // the page may send it
    bool (*act)(Device&, const Input&);  // null: the input is time passing
};

namespace {

constexpr InputKind kInputs[] = {
    {"ok", Arg::None, true, true, press_ok},
    {"click", Arg::Control, false, true, click},
    {"close", Arg::None, true, true, close},
    {"tap", Arg::None, true, true, tap},
    {"doubletap", Arg::None, true, true, double_tap},
    {"touch", Arg::None, true, true, touch},
    {"lift", Arg::None, true, true, lift},
    {"doubletap-time", Arg::Interval, true, false, double_tap_time},
    {"post", Arg::Message, false, false, post},
    {"wait", Arg::Duration, true, false, nullptr},
    {"sip-up", Arg::None, true, true, sip_up},
    {"resume", Arg::None, true, true, resume},
    {"foreign", Arg::Word, true, true, foreign},
    {"turbo-off", Arg::None, true, true, turbo_off},
    {"map-fail", Arg::Count, true, true, map_fail},
    {"reserve-fail", Arg::Count, true, false, reserve_fail},
    {"thread-fail", Arg::Count, true, false, thread_fail},
};

const InputKind* find_kind(std::string_view name) {
    for (const InputKind& k : kInputs) {
        if (name == k.name) {
            return &k;
        }
    }
    return nullptr;
}

const InputKind& kind(const char* name) {
    const InputKind* k = find_kind(name);
    if (k == nullptr) {
        fatal(std::string("no input named ") + name);
    }
    return *k;
}

bool accepts(const InputKind& k, InputSource source) {
    return source == InputSource::Test || (source == InputSource::Script ? k.script : k.page);
}

Result<Input> parse_arguments(const InputKind& k, const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    Input in{&k};
    std::optional<std::int64_t> n;
    switch (k.arg) {
        case Arg::None:
            if (w.size() != 1) {
                return Error{"'" + verb + "' takes no arguments"};
            }
            return in;
        case Arg::Duration:
            if (w.size() != 2 || !(n = parse_duration(w[1]))) {
                return Error{"expected: wait <n>s or wait <n>ms (up to 30 days)"};
            }
            break;
        case Arg::Interval:
            if (w.size() != 2 || !(n = parse_duration(w[1])) || *n < 1 || *n > kMaxDoubleTapMs) {
                return Error{"expected: " + verb + " <n>ms (1 ms to 5 s)"};
            }
            break;
        case Arg::Word:
            if (w.size() != 2 || !(n = parse_integer(w[1], 0xFFFFFFFFLL))) {
                return Error{"expected: foreign <32-bit CCCR word>, e.g. foreign 0x141"};
            }
            break;
        case Arg::Count:
            if (w.size() != 2 || !(n = parse_integer(w[1], kMaxScriptCount))) {
                return Error{"expected: " + verb + " <count>"};
            }
            break;
        case Arg::Control:
            if (w.size() != 2 || !(n = parse_integer(w[1], 0xFFFF))) {
                return Error{"expected: " + verb + " <control id>"};
            }
            break;
        case Arg::Message: {
            std::optional<std::int64_t> wp, lp;
            if (w.size() != 4 || !(n = parse_integer(w[1], 0xFFFFFFFFLL)) ||
                !(wp = parse_integer(w[2], 0xFFFFFFFFLL)) ||
                !(lp = parse_integer(w[3], 0xFFFFFFFFLL))) {
                return Error{"expected: " + verb + " <message> <wParam> <lParam>"};
            }
            in.wparam = *wp;
            in.lparam = *lp;
            break;
        }
    }
    in.value = *n;
    return in;
}

// A non-negative integer of at most 32 bits: a JSON number, or text in
// decimal or 0x-prefixed hex.
std::optional<std::int64_t> json_word(const json& value) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        return n <= 0xFFFFFFFFull ? std::optional<std::int64_t>(n) : std::nullopt;
    }
    if (!value.is_string()) {
        return std::nullopt;
    }
    return parse_integer(value.get_ref<const std::string&>(), 0xFFFFFFFFLL);
}

std::optional<std::int64_t> json_integer(const json& request, const char* field, std::int64_t min,
                                         std::int64_t max) {
    if (!request.contains(field) || !request[field].is_number_integer()) {
        return std::nullopt;
    }
    // A number beyond 63 bits is refused, never wrapped to a small one.
    if (request[field].is_number_unsigned() &&
        request[field].get<std::uint64_t>() > static_cast<std::uint64_t>(max)) {
        return std::nullopt;
    }
    const auto n = request[field].get<std::int64_t>();
    return n >= min && n <= max ? std::optional<std::int64_t>(n) : std::nullopt;
}

}  // namespace

std::optional<Result<Input>> parse_input(const std::vector<std::string>& words,
                                         const ProgramNames& names, InputSource source) {
    for (const auto& [name, id] : names.buttons) {
        if (words[0] == name) {
            if (words.size() != 1) {
                return Result<Input>(Error{"'" + name + "' takes no arguments"});
            }
            return Result<Input>(Input{&kind("click"), id});
        }
    }
    const InputKind* k = find_kind(words[0]);
    if (k == nullptr || !accepts(*k, source)) {
        return std::nullopt;
    }
    return parse_arguments(*k, words);
}

Result<Input> parse_input_line(std::string_view line, const ProgramNames& names) {
    auto words = split_words(line);
    if (!words.ok() || words.value().empty()) {
        return Error{"no input in '" + std::string(line) + "'"};
    }
    auto input = parse_input(words.value(), names, InputSource::Test);
    if (!input) {
        return Error{"unknown input '" + words.value()[0] + "'"};
    }
    return *input;
}

Result<Input> parse_input_json(std::string_view body) {
    const json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        return Error{"the body must be a JSON object"};
    }
    if (!request.contains("action") || !request["action"].is_string()) {
        return Error{"missing \"action\""};
    }
    const std::string& name = request["action"].get_ref<const std::string&>();
    const InputKind* k = find_kind(name);
    if (k == nullptr || !k->page) {
        return Error{"unknown action \"" + name + "\""};
    }
    Input in{k};
    std::optional<std::int64_t> n;
    switch (k->arg) {
        case Arg::Control:
            if (!(n = json_integer(request, "id", -32768, 65535))) {
                return Error{"\"click\" needs a control \"id\""};
            }
            break;
        case Arg::Word:
            if (!(n = request.contains("cccr") ? json_word(request["cccr"]) : std::nullopt)) {
                return Error{"\"cccr\" must be a 32-bit number, e.g. \"0x141\""};
            }
            break;
        case Arg::Count:
            if (!(n = json_integer(request, "count", 1, kMaxPageCount))) {
                return Error{"\"count\" must be a number from 1 to 1000"};
            }
            break;
        default:
            break;
    }
    in.value = n.value_or(0);
    return in;
}

std::string describe(const Input& in) {
    std::string text = in.kind->name;
    switch (in.kind->arg) {
        case Arg::None:
            return text;
        case Arg::Duration:
        case Arg::Interval:
            return text + " " + std::to_string(in.value) + "ms";
        case Arg::Word:
            return text + " " + hex(static_cast<std::uint64_t>(in.value));
        case Arg::Message:
            return text + " " + hex(static_cast<std::uint64_t>(in.value)) + " " +
                   std::to_string(in.wparam) + " " + std::to_string(in.lparam);
        default:
            return text + " " + std::to_string(in.value);
    }
}

bool apply(Driver& driver, const Input& in) {
    bool done = true;
    if (in.kind->act == nullptr) {
        driver.wait(in.value);
    } else {
        done = driver.locked([&](Device& d) { return in.kind->act(d, in); });
    }
    driver.settle();
    return done;
}

}  // namespace sim
