// The device's event trace: platform calls, hardware changes and what the
// screen shows, as JSON objects in the order they happened.
#ifndef CORVANE_SIMULATOR_TRACE_H
#define CORVANE_SIMULATOR_TRACE_H

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

namespace sim {

using json = nlohmann::ordered_json;

class Trace {
  public:
    using Sink = std::function<void(const json&)>;

    // Events are built only while someone listens.
    bool enabled() const { return !sinks_.empty(); }
    void add_sink(Sink sink) { sinks_.push_back(std::move(sink)); }

    void emit(json event) {
        event["seq"] = ++sequence_;
        for (const auto& sink : sinks_) {
            sink(event);
        }
    }

  private:
    std::vector<Sink> sinks_;
    std::uint64_t sequence_ = 0;
};

}  // namespace sim

#endif
