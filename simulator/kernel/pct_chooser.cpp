#include "simulator/kernel/pct_chooser.h"

#include <algorithm>

#include "simulator/kernel/kernel.h"

namespace sim {

PctChooser::PctChooser(std::uint64_t seed, int depth, std::uint64_t steps)
    : rng_(seed), depth_(std::max(depth, 1)) {
    // Change points at distinct steps would be the paper's; two at one step
    // are rare and only waste one.
    for (int i = 1; i < depth_; ++i) {
        change_points_.push_back(1 + rng_() % std::max<std::uint64_t>(steps, 1));
    }
    std::sort(change_points_.begin(), change_points_.end());
}

std::int64_t PctChooser::priority(const SimThread* t) {
    auto [it, added] = priorities_.try_emplace(t->id(), 0);
    if (added) {
        it->second = 1 + static_cast<std::int64_t>(rng_() >> 2);
    }
    return it->second;
}

void PctChooser::count_step(const SimThread* running) {
    ++steps_;
    while (next_change_ < change_points_.size() && change_points_[next_change_] <= steps_) {
        if (running != nullptr) {
            priority(running);
            priorities_[running->id()] = --lowest_;
        }
        ++next_change_;
    }
}

std::size_t PctChooser::choose(const ChoicePoint& point) {
    switch (point.kind) {
        case ChoiceKind::Input:
            return 0;
        case ChoiceKind::GiveWay: {
            // Gives way when a ready thread ranks above the running one.
            count_step(point.running);
            const std::int64_t mine = priority(point.running);
            for (const SimThread* t : *point.ready) {
                if (priority(t) > mine) {
                    return 1;
                }
            }
            return 0;
        }
        case ChoiceKind::Thread: {
            count_step(nullptr);
            std::size_t best = 0;
            for (std::size_t i = 1; i < point.ready->size(); ++i) {
                if (priority((*point.ready)[i]) > priority((*point.ready)[best])) {
                    best = i;
                }
            }
            return best;
        }
    }
    return 0;
}

}  // namespace sim
