// The device in real time, for the web page.
//
// One thread owns the device and makes every driver call: it lets device
// time pass with the wall clock (times a speed factor), firing each
// deadline in order, applies the input that arrives from the page, and
// publishes a view of the device (its snapshot, the clock's history and the
// latest events) as one JSON text. Other threads only queue input, ask for
// the device's trace, and read what was published.
//
// Views are coalesced: at most one every kPublishInterval of wall time
// (about 30 a second) whatever the device's speed, each one the whole latest
// state, so a reader that skips views loses nothing it would show.
#ifndef CORVANE_SIMULATOR_WEB_RUNNER_H
#define CORVANE_SIMULATOR_WEB_RUNNER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "simulator/device/chrome_trace.h"
#include "simulator/kernel/wall_clock.h"
#include "simulator/script/input.h"

namespace sim::web {

class Runner {
  public:
    static constexpr std::chrono::milliseconds kPublishInterval{33};

    Runner(DeviceOptions options, ProgramNames names, double speed);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Called on the runner's thread after each view is published; set it
    // before start().
    void on_publish(std::function<void()> listener);
    // Starts the device and returns once its first view is published, so
    // that the view is complete from the first request.
    void start();
    void stop();
    bool stopping() const;
    // What the program calls its buttons, check boxes and state fields.
    const ProgramNames& names() const { return names_; }
    const Processor& processor() const { return *options_.processor; }

    // Queues an input from the page (already validated).
    void post(Input input);

    struct View {
        std::shared_ptr<const std::string> json;
        std::uint64_t version = 0;
    };
    View view() const;

    // The device's trace in the Chrome trace event format, made on the
    // runner's thread: request_trace() asks for one and returns its ticket;
    // the trace is made before the next view is published, and trace() holds
    // it with the latest ticket it answers. Requests made meanwhile share one
    // trace, and traces are made at most once per kTraceInterval, so that
    // requests cannot keep the device from running. The trace keeps the
    // latest kTraceEvents events.
    static constexpr std::size_t kTraceEvents = 50000;
    static constexpr std::chrono::milliseconds kTraceInterval{1000};
    std::uint64_t request_trace();
    struct Trace {
        std::shared_ptr<const std::string> json;
        std::uint64_t ticket = 0;
    };
    Trace trace() const;

  private:
    // The runner's thread: starts the device, then lets it run, applies the
    // input and publishes views until stop().
    void loop();
    // Makes the device, which the runner's thread owns from now on, with a
    // sink that keeps the latest events for the page; starts it and
    // publishes its first view.
    void start_device();
    // Waits for something to do: input, a trace newly asked for, the next
    // deadline, or the next view to publish. Returns the input queued
    // meanwhile, or nothing when the runner stops.
    std::optional<std::deque<Input>> wait_for_work(
        std::chrono::steady_clock::time_point next_publish, bool unpublished);
    // Lets device time catch up with the wall clock, then applies `inputs`.
    void run_device(const std::deque<Input>& inputs);
    void publish();
    bool make_trace();
    Millis virtual_now() const;

    DeviceOptions options_;
    ProgramNames names_;
    std::unique_ptr<Driver> device_;
    std::optional<ChromeTrace> chrome_;
    std::thread thread_;
    WallClock wall_;  // device time: the wall clock, speed times faster

    mutable std::mutex mu_;
    mutable std::condition_variable input_cv_;  // input queued, or stop
    mutable std::condition_variable view_cv_;   // the first view, or stop
    std::function<void()> on_publish_;
    std::deque<Input> queue_;
    bool stop_ = false;
    View view_;
    std::uint64_t trace_asked_ = 0;  // the latest ticket given out
    Trace trace_;
    std::chrono::steady_clock::time_point next_trace_;  // the earliest the next may be made

    std::mutex log_mu_;  // the trace sink's, taken with the device locked
    std::deque<json> log_;
    std::uint64_t log_seq_ = 0;
};

}  // namespace sim::web

#endif
