// The device's event trace: platform calls, hardware changes, input and what
// the screen shows, in the order they happened. Listeners take each event
// as its type (events.h) or as its JSON line, which is made once an event
// however many listen.
#ifndef CORVANE_SIMULATOR_DEVICE_TRACE_H
#define CORVANE_SIMULATOR_DEVICE_TRACE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulator/device/events.h"
#include "simulator/support/json.h"

namespace sim {

// An event as traced: when, on which program thread ("" for none: the
// driver or the world), what, and its place in the trace.
struct TraceEvent {
    Millis t = 0;
    std::string thread;
    EventBody body;
    std::uint64_t seq = 0;
};

// The event's JSON line: {"t", "thread", <the body's fields>, "seq"}.
json to_json(const TraceEvent& event);

class Trace {
  public:
    using Sink = std::function<void(const TraceEvent&)>;
    using JsonSink = std::function<void(const json&)>;

    // Events are built only while someone listens.
    bool enabled() const { return !sinks_.empty() || !json_sinks_.empty(); }
    void add_sink(Sink sink) { sinks_.push_back(std::move(sink)); }
    void add_json_sink(JsonSink sink) { json_sinks_.push_back(std::move(sink)); }

    void emit(TraceEvent event) {
        event.seq = ++sequence_;
        for (const auto& sink : sinks_) {
            sink(event);
        }
        if (!json_sinks_.empty()) {
            const json line = to_json(event);
            for (const auto& sink : json_sinks_) {
                sink(line);
            }
        }
    }

  private:
    std::vector<Sink> sinks_;
    std::vector<JsonSink> json_sinks_;
    std::uint64_t sequence_ = 0;
};

}  // namespace sim

#endif
