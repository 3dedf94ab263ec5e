#include "simulator/script/input.h"

#include "simulator/script/input_actions.h"

#include <initializer_list>

#include "simulator/support/hex.h"
#include "simulator/support/text.h"

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
    {"ok", Arg::None, true, true, act::press_ok},
    {"click", Arg::Control, false, true, act::click},
    {"close", Arg::None, true, true, act::close},
    {"tap", Arg::None, true, true, act::tap},
    {"doubletap", Arg::None, true, true, act::double_tap},
    {"touch", Arg::None, true, true, act::touch},
    {"lift", Arg::None, true, true, act::lift},
    {"doubletap-time", Arg::Interval, true, false, act::double_tap_time},
    {"post", Arg::Message, false, false, act::post},
    {"wait", Arg::Duration, true, false, nullptr},
    {"sip-up", Arg::None, true, true, act::sip_up},
    {"resume", Arg::None, true, true, act::resume},
    {"foreign", Arg::Word, true, true, act::foreign},
    {"turbo-off", Arg::None, true, true, act::turbo_off},
    {"map-fail", Arg::Count, true, true, act::map_fail},
    {"reserve-fail", Arg::Count, true, false, act::reserve_fail},
    {"thread-fail", Arg::Count, true, false, act::thread_fail},
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

bool deliver(Driver& driver, const Input& in) {
    if (in.kind->act == nullptr) {
        // Time passing: the threads due at its end are left ready, for
        // whatever comes next to run beside them.
        driver.advance_to(driver.now() + in.value, false);
        return true;
    }
    return driver.locked([&](Device& d) { return in.kind->act(d, in); });
}

bool apply(Driver& driver, const Input& in) {
    const bool done = deliver(driver, in);
    driver.settle();
    return done;
}

}  // namespace sim
