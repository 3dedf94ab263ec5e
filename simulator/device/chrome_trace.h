// The device's trace in the Chrome trace event format (the JSON that
// Perfetto's UI and chrome://tracing open). Time is device time in
// microseconds. One process, the device, with these tracks:
//   - one per program thread (the UI thread, each thread it creates): its
//     platform calls as slices, its Sleeps and blocking waits as spans;
//   - "clock hardware": CCCR stores, CCLKCFG writes, power cycles and other
//     programs' writes as instant events;
//   - "shell": tray changes as instant events, bubbles on screen as async
//     spans (they may overlap);
//   - "input": what the world did to the device;
//   - the core clock in MHz as a counter.
#ifndef CORVANE_SIMULATOR_DEVICE_CHROME_TRACE_H
#define CORVANE_SIMULATOR_DEVICE_CHROME_TRACE_H

#include <deque>
#include <map>
#include <set>
#include <string>

#include "simulator/device/driver.h"
#include "simulator/hardware/pxa25x_clocks.h"

namespace sim {

class ChromeTrace {
  public:
    // Listens to the driver's device from now on; before start, so that the
    // whole run is in it. The trace must outlive the driver's running. With
    // `max_events`, only that many of the latest events are kept (a device
    // that runs all day on the page); 0 keeps them all.
    explicit ChromeTrace(Driver& driver, std::size_t max_events = 0);
    ChromeTrace(const ChromeTrace&) = delete;
    ChromeTrace& operator=(const ChromeTrace&) = delete;

    // The document: {"traceEvents": [...], "displayTimeUnit": "ms"}, with the
    // clock hardware's events from `clock_history`. When older events were
    // dropped, the document starts at the oldest one kept: the clock's
    // events from before it are left out but for the last one (the clock
    // then in force), and a bubble whose start was dropped is left out.
    json document(const std::deque<ClockEvent>& clock_history) const;

    // The track numbers (tid) of the fixed tracks; program threads follow.
    static constexpr int kClockTrack = 1;
    static constexpr int kShellTrack = 2;
    static constexpr int kInputTrack = 3;
    static constexpr int kFirstThreadTrack = 10;

  private:
    struct Placer;
    void on_event(const TraceEvent& e);
    void on_wait(const void* channel, Millis from, Millis to);
    int thread_track(const std::string& thread);

    void add(json event);
    // The events kept, into `out`; the ids of the bubbles still open.
    std::set<std::uint64_t> add_kept_events(json& out) const;
    std::deque<ClockEvent>::const_iterator first_clock_kept(
        const std::deque<ClockEvent>& clock_history) const;

    std::size_t max_events_;
    std::deque<json> events_;
    bool dropped_ = false;               // older events were dropped to keep max_events_
    std::map<std::string, int> tracks_;  // program thread name -> tid
    int next_track_ = kFirstThreadTrack;
    std::set<std::uint64_t> open_bubbles_;  // ids of the bubbles on screen
    Millis last_t_ = 0;
};

}  // namespace sim

#endif
