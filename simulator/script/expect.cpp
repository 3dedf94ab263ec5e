#include "simulator/script/expect.h"

#include <cmath>
#include <optional>

#include "simulator/device/view.h"
#include "simulator/support/hex.h"
#include "simulator/support/text.h"

namespace sim {

namespace {

using Words = std::vector<std::string>;

// Reads the words after "expect <what>"; nullopt when they do not fit.
using Parse = std::optional<json> (*)(const Words& args, const ProgramNames& names);
using Check = Checked (*)(const json& expected, const Snapshot& snapshot);

std::optional<json> one_of(const Words& a, std::initializer_list<const char*> values) {
    for (const char* v : values) {
        if (a.size() == 1 && a[0] == v) {
            return json(v);
        }
    }
    return std::nullopt;
}

std::optional<json> number(const Words& a, std::int64_t max) {
    auto n = a.size() == 1 ? parse_integer(a[0], max) : std::nullopt;
    return n ? std::optional<json>(*n) : std::nullopt;
}

std::optional<json> count(const Words& a, const ProgramNames&) {
    return number(a, 1000000);
}

std::optional<json> word(const Words& a, const ProgramNames&) {
    return number(a, 0xFFFFFFFFLL);
}

std::optional<json> on_off(const Words& a, const ProgramNames&) {
    return one_of(a, {"on", "off"});
}

// A text, or "none": {"text": ...} or "none".
std::optional<json> text_or_none(const Words& a) {
    if (a.size() == 1 && a[0] == "none") {
        return json("none");
    }
    if (a.size() == 1 && is_quoted(a[0])) {
        return json{{"text", a[0].substr(1)}};
    }
    return std::nullopt;
}

const char* on_off(bool on) {
    return on ? "on" : "off";
}

// The check of a count the snapshot holds.
template <auto Count>
Checked count_is(const json& expected, const Snapshot& s) {
    const json actual = Count(s);
    return {actual == expected, actual};
}

constexpr auto kReservations = [](const Snapshot& s) { return s.memory.reservations; };
constexpr auto kOpenHandles = [](const Snapshot& s) { return s.program.open_handles; };
constexpr auto kOwnedIcons = [](const Snapshot& s) { return s.program.owned_icons; };
constexpr auto kCclkcfg = [](const Snapshot& s) { return s.hardware.cclkcfg; };
constexpr auto kHardwareFaults = [](const Snapshot& s) { return s.hardware.faults.size(); };

// A tray icon as the screen shows it.
json on_screen(const TrayIconView& icon) {
    return view::tray_icon(icon, true);
}

json tray_json(const Snapshot& s) {
    json tray = json::array();
    for (const TrayIconView& icon : s.screen.tray) {
        tray.push_back(on_screen(icon));
    }
    return tray;
}

}  // namespace

struct ExpectKind {
    const char* what;
    const char* form;  // how the line is written, for the error
    Parse parse;
    Check check;
};

namespace {

const ExpectKind kExpectations[] = {
    {"dialog", "dialog visible|hidden",
     [](const Words& a, const ProgramNames&) {
         return one_of(a, {"visible", "hidden"});
     },
     [](const json& e, const Snapshot& s) -> Checked {
         const bool visible = s.screen.dialog_visible();
         return {(e == "visible") == visible, visible ? "visible" : "hidden"};
     }},
    {"tray", "tray none | expect tray <icon id> \"<tip>\"",
     [](const Words& a, const ProgramNames&) -> std::optional<json> {
         if (a.size() == 1 && a[0] == "none") {
             return json("none");
         }
         auto id = a.size() == 2 && is_quoted(a[1]) ? parse_integer(a[0], 0xFFFF) : std::nullopt;
         return id ? std::optional<json>(json{{"icon", *id}, {"tip", a[1].substr(1)}})
                   : std::nullopt;
     },
     [](const json& e, const Snapshot& s) -> Checked {
         if (e == "none") {
             return {s.screen.tray.empty(), tray_json(s)};
         }
         for (const TrayIconView& icon : s.screen.tray) {
             if (icon.icon && *icon.icon == e["icon"] && icon.tip == e["tip"]) {
                 return {true, on_screen(icon)};
             }
         }
         return {false, tray_json(s)};
     }},
    {"mhz", "mhz <number>",
     [](const Words& a, const ProgramNames&) -> std::optional<json> {
         auto mhz = a.size() == 1 ? parse_decimal(a[0]) : std::nullopt;
         return mhz ? std::optional<json>(*mhz) : std::nullopt;
     },
     [](const json& e, const Snapshot& s) -> Checked {
         const double mhz = s.hardware.mhz;
         return {std::llround(mhz * 100) == std::llround(e.get<double>() * 100), mhz};
     }},
    {"cccr", "cccr <32-bit word>", word,
     [](const json& e, const Snapshot& s) -> Checked {
         return {s.hardware.cccr == e.get<std::uint64_t>(), hex(s.hardware.cccr)};
     }},
    {"cclkcfg", "cclkcfg <word>", word, count_is<kCclkcfg>},
    {"turbo", "turbo on|off", on_off,
     [](const json& e, const Snapshot& s) -> Checked {
         const bool on = s.hardware.turbo;
         return {e == on_off(on), on_off(on)};
     }},
    {"bubbles", "bubbles <count>", count,
     [](const json& e, const Snapshot& s) -> Checked {
         const json n = s.screen.bubbles.size();
         return {n == e, n};
     }},
    {"bubble", "bubble \"<text>\" | expect bubble none",
     [](const Words& a, const ProgramNames&) { return text_or_none(a); },
     [](const json& e, const Snapshot& s) -> Checked {
         json texts = json::array();
         for (const BubbleView& b : s.screen.bubbles) {
             texts.push_back(b.text);
         }
         if (e == "none") {
             return {texts.empty(), texts};
         }
         for (const auto& t : texts) {
             if (t == e["text"]) {
                 return {true, t};
             }
         }
         return {false, texts};
     }},
    {"check", "check <check box> on|off",
     [](const Words& a, const ProgramNames& names) -> std::optional<json> {
         for (const auto& [name, id] : names.check_boxes) {
             if (a.size() == 2 && a[0] == name && (a[1] == "on" || a[1] == "off")) {
                 return json{{"id", id}, {"state", a[1]}};
             }
         }
         return std::nullopt;
     },
     [](const json& e, const Snapshot& s) -> Checked {
         if (!s.screen.dialog) {
             return {false, "no dialog"};
         }
         const WindowView* box = s.screen.dialog->control(e["id"].get<int>());
         if (box == nullptr || !box->is_check_box()) {
             return {false, "no such check box"};
         }
         return {e["state"] == on_off(box->checked), on_off(box->checked)};
     }},
    {"program", "program running | expect program ended <exit code>",
     [](const Words& a, const ProgramNames&) -> std::optional<json> {
         if (a.size() == 1 && (a[0] == "running" || a[0] == "not-started")) {
             return json(a[0]);
         }
         auto code =
             a.size() == 2 && a[0] == "ended" ? parse_integer(a[1], 0xFFFFFFFFLL) : std::nullopt;
         return code ? std::optional<json>(json{{"ended", *code}}) : std::nullopt;
     },
     [](const json& e, const Snapshot& s) -> Checked {
         const ProgramView& p = s.program;
         const std::string state = to_string(p.state);
         if (!e.is_object()) {
             return {e.is_string() && e.get_ref<const std::string&>() == state, state};
         }
         if (!p.exit_code) {
             return {false, state};
         }
         return {p.state == ProgramState::Ended && *p.exit_code == e["ended"],
                 json{state, *p.exit_code}};
     }},
    {"monitors", "monitors <count>", count,
     [](const json& e, const Snapshot& s) -> Checked {
         const json n = s.program.monitors();
         return {n == e, n};
     }},
    {"mappings", "mappings <count>", count, count_is<kReservations>},
    {"handles", "handles <count>", count, count_is<kOpenHandles>},
    {"icons", "icons <count>", count, count_is<kOwnedIcons>},
    {"messagebox", "messagebox \"<text>\" | expect messagebox none",
     [](const Words& a, const ProgramNames&) { return text_or_none(a); },
     [](const json& e, const Snapshot& s) -> Checked {
         if (!s.screen.message_box) {
             return {e == "none", "none"};
         }
         std::string text;
         for (const WindowView& c : s.screen.message_box->controls) {
             text += c.text;
         }
         return {e != "none" && e["text"] == text, text};
     }},
    // What the program did to hardware of a processor it does not serve.
    {"faults", "faults <count>", count,
     [](const json& e, const Snapshot& s) -> Checked {
         const json n = kHardwareFaults(s);
         return {n == e, s.hardware.faults.empty() ? json(0) : json(s.hardware.faults)};
     }},
    {"app", "app <state field> <value>",
     [](const Words& a, const ProgramNames& names) -> std::optional<json> {
         for (const std::string& field : names.state_fields) {
             auto n =
                 a.size() == 2 && a[0] == field ? parse_integer(a[1], 0xFFFFFFFFLL) : std::nullopt;
             if (n) {
                 return json{{"field", field}, {"value", *n}};
             }
         }
         return std::nullopt;
     },
     [](const json& e, const Snapshot& s) -> Checked {
         if (!s.program.state_record) {
             return {false, "no program state"};
         }
         const auto value = s.program.field(e["field"].get<std::string>());
         const json actual = value ? json(*value) : json(nullptr);
         return {value && actual == e["value"], actual};
     }},
};

}  // namespace

Result<Expectation> parse_expectation(const Words& words, const ProgramNames& names) {
    if (words.size() < 2) {
        return Error{"expect needs what to check, e.g. \"expect mhz 497.66\""};
    }
    for (const ExpectKind& k : kExpectations) {
        if (words[1] == k.what) {
            auto expected = k.parse(Words(words.begin() + 2, words.end()), names);
            if (!expected) {
                return Error{std::string("expected: expect ") + k.form};
            }
            return Expectation{&k, std::move(*expected)};
        }
    }
    return Error{"unknown expectation '" + words[1] + "'"};
}

Checked check(const Expectation& expectation, const Snapshot& snapshot) {
    return expectation.kind->check(expectation.expected, snapshot);
}

}  // namespace sim
