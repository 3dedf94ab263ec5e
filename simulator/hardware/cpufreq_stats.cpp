#include "simulator/hardware/cpufreq_stats.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
std::uint32_t khz(double core_mhz) {
    return static_cast<std::uint32_t>(std::lround(core_mhz * 1000));
}
}  // namespace

CpufreqStats cpufreq_stats(const std::deque<ClockEvent>& history, Millis now) {
    CpufreqStats stats;
    auto state = [&](std::uint32_t k) -> CpufreqStats::State& {
        auto it = std::lower_bound(
            stats.time_in_state.begin(), stats.time_in_state.end(), k,
            [](const CpufreqStats::State& s, std::uint32_t v) { return s.khz < v; });
        if (it == stats.time_in_state.end() || it->khz != k) {
            it = stats.time_in_state.insert(it, CpufreqStats::State{k, 0});
        }
        return *it;
    };
    for (std::size_t i = 0; i < history.size(); ++i) {
        const ClockEvent& e = history[i];
        const Millis until = i + 1 < history.size() ? history[i + 1].t : now;
        state(khz(e.core_mhz)).ms += std::max<Millis>(0, until - e.t);
        if (i > 0 && khz(e.core_mhz) != khz(history[i - 1].core_mhz)) {
            ++stats.total_trans;
        }
    }
    return stats;
}

}  // namespace sim
