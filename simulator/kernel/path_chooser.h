// The explorer's chooser: it takes the choices of a given prefix, then the
// default at every later choice point, and keeps every choice it made, so
// that the search can branch from any of them.
#ifndef CORVANE_SIMULATOR_KERNEL_PATH_CHOOSER_H
#define CORVANE_SIMULATOR_KERNEL_PATH_CHOOSER_H

#include <cstddef>
#include <vector>

#include "simulator/kernel/chooser.h"

namespace sim {

// A choice a run made: the option taken of how many, and what it was.
struct Taken {
    ChoicePoint point;
    std::size_t option = 0;
};

class PathChooser final : public Chooser {
  public:
    explicit PathChooser(const std::vector<std::size_t>& prefix) : prefix_(prefix) {}
    std::size_t choose(const ChoicePoint& point) override {
        const std::size_t i = path.size();
        const std::size_t option = i < prefix_.size() ? prefix_[i] : 0;
        path.push_back({point, option});
        return option;
    }
    std::vector<Taken> path;

  private:
    const std::vector<std::size_t>& prefix_;
};

}  // namespace sim

#endif
