#include "simulator/device/chrome_trace.h"

#include <algorithm>

#include "simulator/device/view.h"

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
    driver.trace().add_sink([this](const TraceEvent& e) { on_event(e); });
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

// Each kind of event on its track: platform calls as slices of no device
// time on their thread's track, input as instants on the input track, tray
// changes as instants and bubbles as spans on the shell's. The other kinds
// have no track of their own.
struct ChromeTrace::Placer {
    ChromeTrace& trace;
    const TraceEvent& e;

    json args() const { return body_json(e.body); }
    json instant(const char* name, const char* cat, int tid) const {
        return {{"name", name},  {"cat", cat},  {"ph", "i"},  {"s", "t"},
                {"ts", us(e.t)}, {"pid", kPid}, {"tid", tid}, {"args", args()}};
    }

    void operator()(const CallEvent& call) const {
        trace.add({{"name", call.call},
                   {"cat", "call"},
                   {"ph", "X"},
                   {"ts", us(e.t)},
                   {"dur", 0},
                   {"pid", kPid},
                   {"tid", trace.thread_track(e.thread.empty() ? "driver" : e.thread)},
                   {"args", args()}});
    }
    void operator()(const InputEvent& input) const {
        trace.add(instant(input.input, "input", kInputTrack));
    }
    void operator()(const FaultEvent& fault) const {
        trace.add(instant(fault.fault, "input", kInputTrack));
    }
    void operator()(const TrayEvent&) const { trace.add(instant("tray", "shell", kShellTrack)); }
    // A bubble is on screen (open) from shown until collapsed or removed; the
    // program's bubbles differ by id and may overlap, so they are async spans
    // paired by that id. A bubble shown again with its id while open
    // replaces the one there.
    void operator()(const BubbleEvent& b) const {
        const std::uint64_t id = b.bubble.id;
        if (trace.open_bubbles_.erase(id) != 0) {
            trace.add(span("e", id));
        }
        if (b.change == BubbleEvent::Change::Shown && b.bubble.open) {
            trace.add(span("b", id));
            trace.open_bubbles_.insert(id);
        }
    }
    template <class Other>
    void operator()(const Other&) const {}

    json span(const char* phase, std::uint64_t id) const {
        return {{"name", "bubble"}, {"cat", "bubble"}, {"ph", phase},        {"id", id},
                {"ts", us(e.t)},    {"pid", kPid},     {"tid", kShellTrack}, {"args", args()}};
    }
};

void ChromeTrace::on_event(const TraceEvent& e) {
    last_t_ = std::max(last_t_, e.t);
    std::visit(Placer{*this, e}, e.body);
}

namespace {

// A clock hardware event: an instant on the clock's track and a point of
// the core-clock counter.
void add_clock_event(json& out, const ClockEvent& c) {
    json args = view::clock_event(c);
    args.erase("hw");
    out.push_back({{"name", to_string(c.kind)},
                   {"cat", "clock"},
                   {"ph", "i"},
                   {"s", "t"},
                   {"ts", us(c.t)},
                   {"pid", kPid},
                   {"tid", ChromeTrace::kClockTrack},
                   {"args", std::move(args)}});
    out.push_back({{"name", "core clock"},
                   {"cat", "clock"},
                   {"ph", "C"},
                   {"ts", us(c.t)},
                   {"pid", kPid},
                   {"args", {{"MHz", shown_mhz(c.core_mhz)}}}});
}

}  // namespace

json ChromeTrace::document(const std::deque<ClockEvent>& clock_history) const {
    json out = json::array();
    out.push_back(metadata("process_name", 0, "Pocket PC (simulated)"));
    out.push_back(metadata("thread_name", kClockTrack, "clock hardware"));
    out.push_back(metadata("thread_name", kShellTrack, "shell"));
    out.push_back(metadata("thread_name", kInputTrack, "input"));
    for (const auto& [thread, tid] : tracks_) {
        out.push_back(metadata("thread_name", tid, track_name(thread)));
    }
    const std::set<std::uint64_t> open = add_kept_events(out);
    for (auto c = first_clock_kept(clock_history); c != clock_history.end(); ++c) {
        add_clock_event(out, *c);
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

std::set<std::uint64_t> ChromeTrace::add_kept_events(json& out) const {
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
    return open;
}

std::deque<ClockEvent>::const_iterator ChromeTrace::first_clock_kept(
    const std::deque<ClockEvent>& clock_history) const {
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
    return from;
}

}  // namespace sim
