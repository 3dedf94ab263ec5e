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

ChromeTrace::ChromeTrace(Driver& driver, std::size_t max_events) : max_events_(max_events) {
    driver.trace().add_sink([this](const json& e) { on_event(e); });
    driver.locked([this](Device& d) {
        d.kernel().set_wait_observer(
            [this](const void* channel, Millis from, Millis to) { on_wait(channel, from, to); });
    });
}

void ChromeTrace::add(json event) {
    if (max_events_ != 0 && events_.size() >= max_events_) {
        events_.pop_front();
        dropped_ = true;
    }
    events_.push_back(std::move(event));
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
    add({{"name", channel == nullptr ? "sleeping" : "blocked"},
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
        add({{"name", e["call"]},
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
        add({{"name", e.contains("input") ? e["input"] : e["fault"]},
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
        add({{"name", "tray"},
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
            add({{"name", "bubble"},
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
    // Async spans paired as they are kept: an end whose start was dropped is
    // left out, and the spans still open end with the trace.
    std::set<std::uint64_t> open;
    for (const json& e : events_) {
        const std::string& phase = e["ph"].get_ref<const std::string&>();
        if (phase == "b") {
            open.insert(e["id"].get<std::uint64_t>());
        } else if (phase == "e" && open.erase(e["id"].get<std::uint64_t>()) == 0) {
            continue;
        }
        out.push_back(e);
    }
    // The clock's events from the first one kept on: the last one before it
    // still gives the clock in force from there.
    auto from = clock_history.begin();
    if (dropped_) {
        const auto first_ts = events_.front()["ts"].get<std::int64_t>();
        from = std::partition_point(clock_history.begin(), clock_history.end(),
                                    [&](const ClockEvent& c) { return us(c.t) < first_ts; });
        if (from != clock_history.begin()) {
            --from;
        }
    }
    for (auto c = from; c != clock_history.end(); ++c) {
        json args = view::clock_event(*c);
        args.erase("hw");
        out.push_back({{"name", to_string(c->kind)},
                       {"cat", "clock"},
                       {"ph", "i"},
                       {"s", "t"},
                       {"ts", us(c->t)},
                       {"pid", kPid},
                       {"tid", kClockTrack},
                       {"args", std::move(args)}});
        out.push_back({{"name", "core clock"},
                       {"cat", "clock"},
                       {"ph", "C"},
                       {"ts", us(c->t)},
                       {"pid", kPid},
                       {"args", {{"MHz", view::mhz(c->core_mhz)}}}});
    }
    for (std::uint64_t id : open) {
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
