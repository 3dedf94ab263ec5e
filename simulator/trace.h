// The device's event trace: platform calls, hardware changes and what the
// screen shows, as JSON objects in the order they happened.
#ifndef CORVANE_SIMULATOR_TRACE_H
#define CORVANE_SIMULATOR_TRACE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

namespace sim {

using json = nlohmann::ordered_json;

class Trace {
  public:
    using Sink = std::function<void(const json&)>;

    // Events are built only while someone listens: a sink, or a kept tail.
    bool enabled() const { return !sinks_.empty() || keep_ > 0; }
    void add_sink(Sink sink) { sinks_.push_back(std::move(sink)); }
    // Keeps the last `n` events for later reading.
    void keep_last(std::size_t n) { keep_ = n; }

    void emit(json event) {
        event["seq"] = ++sequence_;
        for (const auto& sink : sinks_) {
            sink(event);
        }
        if (keep_ > 0) {
            if (tail_.size() >= keep_) {
                tail_.pop_front();
            }
            tail_.push_back(std::move(event));
        }
    }
    const std::deque<json>& tail() const { return tail_; }
    std::uint64_t sequence() const { return sequence_; }

  private:
    std::vector<Sink> sinks_;
    std::size_t keep_ = 0;
    std::deque<json> tail_;
    std::uint64_t sequence_ = 0;
};

}  // namespace sim

#endif
