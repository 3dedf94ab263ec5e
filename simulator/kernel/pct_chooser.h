// Probabilistic concurrency testing (Burckhardt, Kothari, Musuvathi and
// Nagarakatte, ASPLOS 2010) as a chooser. Each thread gets a random
// priority when it is first seen, and the highest-priority ready thread
// always runs; at d-1 change points, drawn evenly from the first `steps`
// choices, the running thread's priority drops below every other one, as
// the testing tools that use PCT do it (Coyote, shuttle): a thread lowered
// later ranks below one lowered earlier. A step is a choice with more than
// one option. For a program of n threads and k steps, one run finds a
// given bug of depth d (one that needs d ordering constraints) with
// probability at least 1/(n k^(d-1)). A seed makes the priorities and the
// change points, so a seed replays its run exactly.
#ifndef CORVANE_SIMULATOR_KERNEL_PCT_CHOOSER_H
#define CORVANE_SIMULATOR_KERNEL_PCT_CHOOSER_H

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "simulator/kernel/chooser.h"

namespace sim {

class PctChooser final : public Chooser {
  public:
    PctChooser(std::uint64_t seed, int depth, std::uint64_t steps);

    std::size_t choose(const ChoicePoint& point) override;

  private:
    std::int64_t priority(const SimThread* t);
    // Counts a step; at a change point, the running thread goes last.
    void count_step(const SimThread* running);

    std::mt19937_64 rng_;
    int depth_;
    std::vector<std::uint64_t> change_points_;  // in the order they come
    std::size_t next_change_ = 0;
    std::uint64_t steps_ = 0;
    std::map<std::uint32_t, std::int64_t> priorities_;  // by thread id; higher runs first
    std::int64_t lowest_ = 0;                           // every initial priority is above 0
};

}  // namespace sim

#endif
