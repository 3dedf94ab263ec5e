#include "simulator/expect.h"

#include <cmath>
#include <optional>

#include "simulator/hex.h"
#include "simulator/text.h"

namespace sim {

namespace {

using Words = std::vector<std::string>;

// Reads the words after "expect <what>"; nullopt when they do not fit.
using Parse = std::optional<json> (*)(const Words& args, const ProgramNames& names);
using Check = Checked (*)(const json& expected, const json& snapshot);

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

// The check of a whole number at `path` in the snapshot.
template <const char* Section, const char* Field>
Checked equals(const json& expected, const json& s) {
    const json& actual = s[Section][Field];
    return {actual == expected, actual};
}

constexpr char kHardware[] = "hardware";
constexpr char kMemory[] = "memory";
constexpr char kProgram[] = "program";
constexpr char kCclkcfg[] = "cclkcfg";
constexpr char kReservations[] = "reservations";
constexpr char kOpenHandles[] = "open_handles";
constexpr char kOwnedIcons[] = "owned_icons";

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
     [](const json& e, const json& s) -> Checked {
         const json& dialog = s["screen"]["dialog"];
         const bool visible = !dialog.is_null() && dialog["visible"].get<bool>();
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
     [](const json& e, const json& s) -> Checked {
         const json& tray = s["screen"]["tray"];
         if (e == "none") {
             return {tray.empty(), tray};
         }
         for (const auto& icon : tray) {
             if (icon["icon"] == e["icon"] && icon["tip"] == e["tip"]) {
                 return {true, icon};
             }
         }
         return {false, tray};
     }},
    {"mhz", "mhz <number>",
     [](const Words& a, const ProgramNames&) -> std::optional<json> {
         auto mhz = a.size() == 1 ? parse_decimal(a[0]) : std::nullopt;
         return mhz ? std::optional<json>(*mhz) : std::nullopt;
     },
     [](const json& e, const json& s) -> Checked {
         const double mhz = s["hardware"]["mhz"].get<double>();
         return {std::llround(mhz * 100) == std::llround(e.get<double>() * 100), mhz};
     }},
    {"cccr", "cccr <32-bit word>", word,
     [](const json& e, const json& s) -> Checked {
         const json& actual = s["hardware"]["cccr"];
         return {actual == hex(e.get<std::uint64_t>()), actual};
     }},
    {"cclkcfg", "cclkcfg <word>", word, equals<kHardware, kCclkcfg>},
    {"turbo", "turbo on|off", on_off,
     [](const json& e, const json& s) -> Checked {
         const bool on = s["hardware"]["turbo"].get<bool>();
         return {e == on_off(on), on_off(on)};
     }},
    {"bubbles", "bubbles <count>", count,
     [](const json& e, const json& s) -> Checked {
         const json n = s["screen"]["bubbles"].size();
         return {n == e, n};
     }},
    {"bubble", "bubble \"<text>\" | expect bubble none",
     [](const Words& a, const ProgramNames&) { return text_or_none(a); },
     [](const json& e, const json& s) -> Checked {
         json texts = json::array();
         for (const auto& b : s["screen"]["bubbles"]) {
             texts.push_back(b["text"]);
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
     [](const json& e, const json& s) -> Checked {
         const json& dialog = s["screen"]["dialog"];
         if (dialog.is_null()) {
             return {false, "no dialog"};
         }
         for (const auto& control : dialog["controls"]) {
             if (control["id"] == e["id"]) {
                 const bool on = control["checked"].get<bool>();
                 return {e["state"] == on_off(on), on_off(on)};
             }
         }
         return {false, "no such check box"};
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
     [](const json& e, const json& s) -> Checked {
         const json& p = s["program"];
         if (!e.is_object()) {
             return {p["state"] == e, p["state"]};
         }
         if (!p.contains("exit_code")) {
             return {false, p["state"]};
         }
         return {p["state"] == "ended" && p["exit_code"] == e["ended"],
                 json{p["state"], p["exit_code"]}};
     }},
    {"monitors", "monitors <count>", count,
     [](const json& e, const json& s) -> Checked {
         // The program's threads besides its UI thread.
         std::int64_t n = 0;
         for (const auto& t : s["program"]["threads"]) {
             n += t["name"] != "ui" ? 1 : 0;
         }
         return {n == e, n};
     }},
    {"mappings", "mappings <count>", count, equals<kMemory, kReservations>},
    {"handles", "handles <count>", count, equals<kProgram, kOpenHandles>},
    {"icons", "icons <count>", count, equals<kProgram, kOwnedIcons>},
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
     [](const json& e, const json& s) -> Checked {
         const json& record = s["program"]["state_record"];
         if (!record.is_object()) {
             return {false, "no program state"};
         }
         const json& value = record[e["field"].get<std::string>()];
         return {value.is_number() && value == e["value"], value};
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

Checked check(const Expectation& expectation, const json& snapshot) {
    return expectation.kind->check(expectation.expected, snapshot);
}

}  // namespace sim
