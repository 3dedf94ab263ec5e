// How long the core has run at each clock, and how many times the clock
// changed: what Linux's cpufreq statistics report as time_in_state and
// total_trans, worked out from the clock hardware's history.
#ifndef CORVANE_SIMULATOR_HARDWARE_CPUFREQ_STATS_H
#define CORVANE_SIMULATOR_HARDWARE_CPUFREQ_STATS_H

#include <cstdint>
#include <deque>
#include <vector>

#include "simulator/hardware/pxa25x_clocks.h"

namespace sim {

struct CpufreqStats {
    struct State {
        std::uint32_t khz = 0;  // the core clock, as cpufreq names a state
        Millis ms = 0;          // device time spent at it
    };
    std::vector<State> time_in_state;  // in ascending frequency
    std::uint64_t total_trans = 0;     // changes of the core clock
};

// From the history up to `now`. An event that leaves the core clock as it
// was (a CCCR store before the frequency change, a power cycle at the same
// clock) is no transition.
CpufreqStats cpufreq_stats(const std::deque<ClockEvent>& history, Millis now);

}  // namespace sim

#endif
