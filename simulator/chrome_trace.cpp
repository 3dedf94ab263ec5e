#include "simulator/chrome_trace.h"

#include <algorithm>

#include "simulator/view.h"

namespace sim {

namespace {

constexpr int kPid = 1;

// Device milliseconds as the format's microseconds.
std::int64_t us(Millis t) {
    return static_cast<std::int64_t>(t) * 1000;
}

json metadata(const char* what, int tid, const std::string& name) {
    json m = {{"ph", "M"}, {"name", what}, {"pid", kPid}, {"tid", tid}, {"args", {{"name", name}}}};
    return m;
}

std::string track_name(const std::string& thread) {
    return thread == "ui" ? "UI thread" : thread;
}

}  // namespace

ChromeTrace::ChromeTrace(Driver& driver) {
    driver.trace().add_sink([this](const json& e) { on_event(e); });
    driver.locked([this](Device& d) {
        d.kernel().set_wait_observer(
            [this](const void* channel, Millis from, Millis to) { on_wait(channel, from, to); });
    });
}

int ChromeTrace::thread_track(const std::string& thread) {
    auto [it, added] = tracks_.try_emplace(thread, next_track_);
    if (added) {
        ++next_track_;
    }
    return it->second;
}

void ChromeTrace::on_wait(const void* channel, Millis from, Millis to) {
    const SimThread* self = Kernel::current();
    if (self == nullptr || to <= from) {
        return;
    }
    // A Sleep waits on time alone; everything else on something another
    // thread or the world makes ready (a message, a critical section).
    events_.push_back({{"name", channel == nullptr ? "sleeping" : "blocked"},
                       {"cat", "wait"},
                       {"ph", "X"},
                       {"ts", us(from)},
                       {"dur", us(to - from)},
                       {"pid", kPid},
                       {"tid", thread_track(self->name())}});
}

void ChromeTrace::on_event(const json& e) {
    const Millis t = e.value("t", Millis{0});
    last_t_ = std::max(last_t_, t);
    json args = json::object();
    for (const auto& [key, value] : e.items()) {
        if (key != "t" && key != "thread" && key != "seq") {
            args[key] = value;
        }
    }
    if (e.contains("call")) {
        // A platform call: a slice of no device time on its thread's track.
        events_.push_back({{"name", e["call"]},
                           {"cat", "call"},
                           {"ph", "X"},
                           {"ts", us(t)},
                           {"dur", 0},
                           {"pid", kPid},
                           {"tid", thread_track(e.value("thread", std::string("driver")))},
                           {"args", std::move(args)}});
        return;
    }
    if (e.contains("input") || e.contains("fault")) {
        events_.push_back({{"name", e.contains("input") ? e["input"] : e["fault"]},
                           {"cat", "input"},
                           {"ph", "i"},
                           {"s", "t"},
                           {"ts", us(t)},
                           {"pid", kPid},
                           {"tid", kInputTrack},
                           {"args", std::move(args)}});
        return;
    }
    if (!e.contains("screen") || !e["screen"].is_string()) {
        return;
    }
    const std::string& what = e["screen"].get_ref<const std::string&>();
    if (what == "tray") {
        events_.push_back({{"name", "tray"},
                           {"cat", "shell"},
                           {"ph", "i"},
                           {"s", "t"},
                           {"ts", us(t)},
                           {"pid", kPid},
                           {"tid", kShellTrack},
                           {"args", std::move(args)}});
    } else if (e.contains("bubble") && e["bubble"].contains("id")) {
        // A bubble is on screen (open) from shown until collapsed or removed;
        // the program's bubbles differ by id and may overlap, so they are
        // async spans paired by that id. A bubble shown again with its id
        // while open replaces the one there.
        const auto id = e["bubble"]["id"].get<std::uint64_t>();
        const bool shown = what == "bubble-shown";
        if (!shown && what != "bubble-collapsed" && what != "bubble-removed") {
            return;
        }
        auto span = [&](const char* phase) {
            events_.push_back({{"name", "bubble"},
                               {"cat", "bubble"},
                               {"ph", phase},
                               {"id", id},
                               {"ts", us(t)},
                               {"pid", kPid},
                               {"tid", kShellTrack},
                               {"args", args}});
        };
        if (open_bubbles_.count(id) != 0) {
            span("e");
            open_bubbles_.erase(id);
        }
        if (shown && e["bubble"].value("open", false)) {
            span("b");
            open_bubbles_.insert(id);
        }
    }
}

json ChromeTrace::document(const std::deque<ClockEvent>& clock_history) const {
    json out = json::array();
    out.push_back(metadata("process_name", 0, "Pocket PC (simulated)"));
    out.push_back(metadata("thread_name", kClockTrack, "clock hardware"));
    out.push_back(metadata("thread_name", kShellTrack, "shell"));
    out.push_back(metadata("thread_name", kInputTrack, "input"));
    for (const auto& [thread, tid] : tracks_) {
        out.push_back(metadata("thread_name", tid, track_name(thread)));
    }
    for (const json& e : events_) {
        out.push_back(e);
    }
    for (const ClockEvent& c : clock_history) {
        json args = view::clock_event(c);
        args.erase("hw");
        out.push_back({{"name", to_string(c.kind)},
                       {"cat", "clock"},
                       {"ph", "i"},
                       {"s", "t"},
                       {"ts", us(c.t)},
                       {"pid", kPid},
                       {"tid", kClockTrack},
                       {"args", std::move(args)}});
        out.push_back({{"name", "core clock"},
                       {"cat", "clock"},
                       {"ph", "C"},
                       {"ts", us(c.t)},
                       {"pid", kPid},
                       {"args", {{"MHz", view::mhz(c.core_mhz)}}}});
    }
    // Bubbles still on screen when the trace ends, end with it.
    for (std::uint64_t id : open_bubbles_) {
        out.push_back({{"name", "bubble"},
                       {"cat", "bubble"},
                       {"ph", "e"},
                       {"id", id},
                       {"ts", us(last_t_)},
                       {"pid", kPid},
                       {"tid", kShellTrack}});
    }
    return {{"traceEvents", std::move(out)}, {"displayTimeUnit", "ms"}};
}

}  // namespace sim
