// A schedule: the choices a run made at its choice points (chooser.h),
// written as a short string of the ones that were not the default,
// "<point>:<option>" joined by commas ("14:1,37:2"); "" is the run with
// every default, as the deterministic scheduler makes it alone.
#ifndef CORVANE_SIMULATOR_KERNEL_SCHEDULE_H
#define CORVANE_SIMULATOR_KERNEL_SCHEDULE_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "simulator/kernel/chooser.h"
#include "simulator/support/result.h"

namespace sim {

struct Schedule {
    std::map<std::size_t, std::size_t> picks;  // choice point -> option, non-default only

    std::string to_string() const;
    bool operator==(const Schedule&) const = default;
};

Result<Schedule> parse_schedule(std::string_view text);

// Makes the choices a schedule gives, the default elsewhere, and says
// whether the schedule fits the run: each choice point it names reached,
// with that option among the point's.
class ReplayChooser final : public Chooser {
  public:
    explicit ReplayChooser(Schedule schedule) : schedule_(std::move(schedule)) {}
    std::size_t choose(const ChoicePoint& point) override;
    // "" when it fitted; otherwise why not.
    std::string misfit() const;

  private:
    Schedule schedule_;
    std::size_t next_point_ = 0;
    std::string misfit_;
};

}  // namespace sim

#endif
