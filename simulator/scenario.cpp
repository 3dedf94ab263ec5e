#include "simulator/scenario.h"

#include <charconv>
#include <cmath>
#include <istream>
#include <map>

#include "resources/resource.h"
#include "simulator/hex.h"

namespace sim {

std::string ScenarioError::describe() const {
    return file + ":" + std::to_string(line) + ": " + message;
}

namespace {

constexpr std::int64_t kMaxWaitMs = 30LL * 24 * 3600 * 1000;  // 30 days
constexpr std::int64_t kMaxFailures = 1000000;

struct LineError {
    std::string message;
};

// Splits a line into words; "..." is one word (with \" and \\ inside);
// '#' outside quotes starts a comment.
std::variant<std::vector<std::string>, LineError> tokenize(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            break;
        }
        std::string word;
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[i + 1];
                    i += 2;
                } else if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    word += line[i++];
                }
            }
            if (!closed) {
                return LineError{"unterminated quoted text"};
            }
            // A quoted word is marked so that it can be told from a bare one.
            words.push_back("\"" + word);
            continue;
        }
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
               line[i] != '#') {
            word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

bool is_quoted(const std::string& w) {
    return !w.empty() && w[0] == '"';
}

std::optional<std::int64_t> parse_integer(const std::string& text, std::int64_t max) {
    std::int64_t value = 0;
    int base = 10;
    std::string_view s = text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parse_duration(const std::string& text) {
    std::int64_t scale = 0;
    std::string digits;
    if (text.size() > 2 && text.ends_with("ms")) {
        scale = 1;
        digits = text.substr(0, text.size() - 2);
    } else if (text.size() > 1 && text.ends_with("s")) {
        scale = 1000;
        digits = text.substr(0, text.size() - 1);
    } else {
        return std::nullopt;
    }
    if (digits.starts_with("0x")) {
        return std::nullopt;
    }
    auto n = parse_integer(digits, kMaxWaitMs / scale);
    if (!n) {
        return std::nullopt;
    }
    return *n * scale;
}

std::optional<double> parse_decimal(const std::string& text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<LineError> parse_expect(const std::vector<std::string>& w, Command& c) {
    if (w.size() < 2) {
        return LineError{"expect needs what to check, e.g. \"expect mhz 497.66\""};
    }
    c.what = w[1];
    const std::size_t n = w.size();
    auto bad = [&](const std::string& form) { return LineError{"expected: expect " + form}; };
    auto one_of = [&](std::initializer_list<const char*> values) {
        if (n != 3) {
            return false;
        }
        for (const char* v : values) {
            if (w[2] == v) {
                c.expected = v;
                return true;
            }
        }
        return false;
    };
    auto count = [&](std::int64_t max) {
        if (n != 3) {
            return false;
        }
        c.expected_number = parse_integer(w[2], max);
        return c.expected_number.has_value();
    };
    if (c.what == "dialog") {
        if (!one_of({"visible", "hidden"})) {
            return bad("dialog visible|hidden");
        }
    } else if (c.what == "tray") {
        if (n == 3 && w[2] == "none") {
            c.expected = "none";
        } else if (n == 4 && is_quoted(w[3]) && parse_integer(w[2], 0xFFFF)) {
            c.expected_number = parse_integer(w[2], 0xFFFF);
            c.expected_text = w[3].substr(1);
        } else {
            return bad("tray none | expect tray <icon id> \"<tip>\"");
        }
    } else if (c.what == "mhz") {
        if (n != 3 || !(c.expected_mhz = parse_decimal(w[2]))) {
            return bad("mhz <number>");
        }
    } else if (c.what == "cccr") {
        if (!count(0xFFFFFFFFLL)) {
            return bad("cccr <32-bit word>");
        }
    } else if (c.what == "cclkcfg") {
        if (!count(0xFFFFFFFFLL)) {
            return bad("cclkcfg <word>");
        }
    } else if (c.what == "turbo") {
        if (!one_of({"on", "off"})) {
            return bad("turbo on|off");
        }
    } else if (c.what == "bubbles" || c.what == "monitors" || c.what == "mappings" ||
               c.what == "handles") {
        if (!count(1000000)) {
            return bad(c.what + " <count>");
        }
    } else if (c.what == "bubble") {
        if (n == 3 && w[2] == "none") {
            c.expected = "none";
        } else if (n == 3 && is_quoted(w[2])) {
            c.expected_text = w[2].substr(1);
        } else {
            return bad("bubble \"<text>\" | expect bubble none");
        }
    } else if (c.what == "check") {
        if (n != 4 || (w[2] != "allow100" && w[2] != "notify") || (w[3] != "on" && w[3] != "off")) {
            return bad("check allow100|notify on|off");
        }
        c.expected = w[2];
        c.expected_text = w[3];
    } else if (c.what == "program") {
        if (n == 3 && (w[2] == "running" || w[2] == "not-started")) {
            c.expected = w[2];
        } else if (n == 4 && w[2] == "ended" && parse_integer(w[3], 0xFFFFFFFFLL)) {
            c.expected = "ended";
            c.expected_number = parse_integer(w[3], 0xFFFFFFFFLL);
        } else {
            return bad("program running | expect program ended <exit code>");
        }
    } else if (c.what == "app") {
        static const char* kFields[] = {
            "speedMode",         "dialogVisible",        "targetClockConfig", "allow100",
            "showNotifications", "pendingNotifications", "monitorRunning"};
        bool known = false;
        for (const char* f : kFields) {
            known = known || (n == 4 && w[2] == f);
        }
        if (!known || !(c.expected_number = parse_integer(w[3], 0xFFFFFFFFLL))) {
            return bad("app <state field> <value>");
        }
        c.expected = w[2];
    } else {
        return LineError{"unknown expectation '" + c.what + "'"};
    }
    return std::nullopt;
}

std::optional<LineError> parse_command(const std::vector<std::string>& w, Command& c) {
    using V = Command::Verb;
    static const std::map<std::string, V> kSimple = {{"ok", V::Ok},
                                                     {"quit", V::Quit},
                                                     {"close", V::Close},
                                                     {"allow100", V::Allow100},
                                                     {"notify", V::Notify},
                                                     {"tap", V::Tap},
                                                     {"doubletap", V::DoubleTap},
                                                     {"resume", V::Resume},
                                                     {"turbo-off", V::TurboOff},
                                                     {"state", V::State}};
    const std::string& verb = w[0];
    if (auto it = kSimple.find(verb); it != kSimple.end()) {
        if (w.size() != 1) {
            return LineError{"'" + verb + "' takes no arguments"};
        }
        c.verb = it->second;
        return std::nullopt;
    }
    if (verb == "wait") {
        std::optional<std::int64_t> ms;
        if (w.size() != 2 || !(ms = parse_duration(w[1]))) {
            return LineError{"expected: wait <n>s or wait <n>ms (up to 30 days)"};
        }
        c.verb = V::Wait;
        c.number = *ms;
        return std::nullopt;
    }
    if (verb == "foreign") {
        std::optional<std::int64_t> word;
        if (w.size() != 2 || !(word = parse_integer(w[1], 0xFFFFFFFFLL))) {
            return LineError{"expected: foreign <32-bit CCCR word>, e.g. foreign 0x141"};
        }
        c.verb = V::Foreign;
        c.number = *word;
        return std::nullopt;
    }
    if (verb == "map-fail" || verb == "reserve-fail") {
        std::optional<std::int64_t> n;
        if (w.size() != 2 || !(n = parse_integer(w[1], kMaxFailures))) {
            return LineError{"expected: " + verb + " <count>"};
        }
        c.verb = verb == "map-fail" ? V::MapFail : V::ReserveFail;
        c.number = *n;
        return std::nullopt;
    }
    if (verb == "expect") {
        c.verb = V::Expect;
        return parse_expect(w, c);
    }
    return LineError{"unknown command '" + verb + "'"};
}

std::string trim_comment(const std::string& line) {
    // Keeps the text for the report; the tokenizer decides what a comment is.
    std::string s = line;
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
        s.pop_back();
    }
    return s;
}

}  // namespace

std::variant<std::vector<Command>, ScenarioError> parse_scenario(std::istream& in,
                                                                 const std::string& file) {
    std::vector<Command> commands;
    std::string line;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        auto tokens = tokenize(line);
        if (auto* error = std::get_if<LineError>(&tokens)) {
            return ScenarioError{file, line_no, error->message};
        }
        const auto& words = std::get<std::vector<std::string>>(tokens);
        if (words.empty()) {
            continue;
        }
        if (is_quoted(words[0])) {
            return ScenarioError{file, line_no, "a line must start with a command"};
        }
        Command c;
        c.line = line_no;
        c.text = trim_comment(line);
        if (auto error = parse_command(words, c)) {
            return ScenarioError{file, line_no, error->message};
        }
        commands.push_back(std::move(c));
    }
    return commands;
}

namespace {

// Checks one expectation against a snapshot; returns what was seen and
// whether it matched.
std::pair<bool, json> check(Device& device, const Command& c) {
    const json s = device.snapshot();
    const json& screen = s["screen"];
    const json& hw = s["hardware"];
    if (c.what == "dialog") {
        const bool visible = !screen["dialog"].is_null() && screen["dialog"]["visible"].get<bool>();
        return {(c.expected == "visible") == visible, visible ? "visible" : "hidden"};
    }
    if (c.what == "tray") {
        const json& tray = screen["tray"];
        if (c.expected == "none") {
            return {tray.empty(), tray};
        }
        for (const auto& icon : tray) {
            if (icon["icon"] == *c.expected_number && icon["tip"] == c.expected_text) {
                return {true, icon};
            }
        }
        return {false, tray};
    }
    if (c.what == "mhz") {
        const double mhz = hw["mhz"].get<double>();
        return {std::llround(mhz * 100) == std::llround(*c.expected_mhz * 100), mhz};
    }
    if (c.what == "cccr") {
        const std::string actual = hw["cccr"];
        return {actual == hex(static_cast<std::uint64_t>(*c.expected_number)), actual};
    }
    if (c.what == "cclkcfg") {
        return {hw["cclkcfg"] == *c.expected_number, hw["cclkcfg"]};
    }
    if (c.what == "turbo") {
        const bool on = hw["turbo"].get<bool>();
        return {(c.expected == "on") == on, on ? "on" : "off"};
    }
    if (c.what == "bubbles") {
        return {static_cast<std::int64_t>(screen["bubbles"].size()) == *c.expected_number,
                screen["bubbles"].size()};
    }
    if (c.what == "bubble") {
        json texts = json::array();
        for (const auto& b : screen["bubbles"]) {
            texts.push_back(b["text"]);
        }
        if (c.expected == "none") {
            return {texts.empty(), texts};
        }
        for (const auto& t : texts) {
            if (t == c.expected_text) {
                return {true, t};
            }
        }
        return {false, texts};
    }
    if (c.what == "check") {
        const int id = c.expected == "allow100" ? IDC_ALLOW_100 : IDC_SHOW_NOTIFICATION;
        if (screen["dialog"].is_null()) {
            return {false, "no dialog"};
        }
        for (const auto& control : screen["dialog"]["controls"]) {
            if (control["id"] == id) {
                const bool on = control["checked"].get<bool>();
                return {(c.expected_text == "on") == on, on ? "on" : "off"};
            }
        }
        return {false, "no such check box"};
    }
    if (c.what == "program") {
        const json& p = s["program"];
        if (c.expected == "ended") {
            return {p["state"] == "ended" && p.contains("exit_code") &&
                        p["exit_code"] == *c.expected_number,
                    p.contains("exit_code") ? json{p["state"], p["exit_code"]} : p["state"]};
        }
        return {p["state"] == c.expected, p["state"]};
    }
    if (c.what == "monitors") {
        const auto n = static_cast<std::int64_t>(device.program_threads());
        return {n == *c.expected_number, n};
    }
    if (c.what == "mappings") {
        return {s["memory"]["reservations"] == *c.expected_number, s["memory"]["reservations"]};
    }
    if (c.what == "handles") {
        return {s["program"]["open_handles"] == *c.expected_number, s["program"]["open_handles"]};
    }
    if (c.what == "app") {
        const json& record = s["program"]["state_record"];
        if (!record.is_object()) {
            return {false, "no program state"};
        }
        const json& value = record[c.expected];
        return {value.is_number() && value.get<std::int64_t>() == *c.expected_number, value};
    }
    return {false, "unknown expectation"};
}

}  // namespace

ScenarioResult run_scenario(Device& device, const std::vector<Command>& commands,
                            const std::function<void(const json&)>& out) {
    using V = Command::Verb;
    ScenarioResult result;
    device.start();
    for (const Command& c : commands) {
        if (c.verb == V::Expect) {
            auto [ok, actual] = check(device, c);
            ++result.expectations;
            result.failed += ok ? 0 : 1;
            out({{"line", c.line}, {"expect", c.text}, {"ok", ok}, {"actual", actual}});
            continue;
        }
        out({{"line", c.line}, {"command", c.text}, {"t", device.time()}});
        switch (c.verb) {
            case V::Ok:
                device.press_ok();
                break;
            case V::Quit:
                device.click_control(IDCANCEL);
                break;
            case V::Close:
                device.request_close();
                break;
            case V::Allow100:
                device.click_control(IDC_ALLOW_100);
                break;
            case V::Notify:
                device.click_control(IDC_SHOW_NOTIFICATION);
                break;
            case V::Tap:
                device.tap_tray();
                break;
            case V::DoubleTap:
                device.double_tap_tray();
                break;
            case V::Wait:
                device.wait(c.number);
                break;
            case V::Resume:
                device.power_cycle();
                break;
            case V::Foreign:
                device.foreign_cccr(static_cast<std::uint32_t>(c.number));
                break;
            case V::TurboOff:
                device.foreign_turbo_off();
                break;
            case V::MapFail:
                device.fail_next_mappings(static_cast<int>(c.number));
                break;
            case V::ReserveFail:
                device.fail_next_reservations(static_cast<int>(c.number));
                break;
            case V::State:
                out({{"line", c.line}, {"state", device.snapshot()}});
                break;
            case V::Expect:
                break;
        }
        device.settle();
    }
    out({{"result", result.failed == 0 ? "pass" : "fail"},
         {"expectations", result.expectations},
         {"failed", result.failed}});
    return result;
}

}  // namespace sim
