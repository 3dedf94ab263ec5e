// Device time that follows the wall clock, `speed` times faster, from the
// moment it starts: the free-running scheduler's time, and the web page's.
#ifndef CORVANE_SIMULATOR_KERNEL_WALL_CLOCK_H
#define CORVANE_SIMULATOR_KERNEL_WALL_CLOCK_H

#include <chrono>
#include <cstdint>

namespace sim {

class WallClock {
  public:
    using Clock = std::chrono::steady_clock;

    explicit WallClock(double speed) : speed_(speed), start_(Clock::now()) {}

    // Device time starts (again) now.
    void restart() { start_ = Clock::now(); }
    double speed() const { return speed_; }

    // The device time now, in milliseconds.
    std::int64_t now() const {
        const double wall_ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
        return static_cast<std::int64_t>(wall_ms * speed_);
    }
    // The wall-clock moment at which device time reaches `device_ms`.
    Clock::time_point when(std::int64_t device_ms) const {
        const double wall_ms = static_cast<double>(device_ms) / speed_;
        return start_ + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double, std::milli>(wall_ms));
    }

  private:
    double speed_;
    Clock::time_point start_;
};

}  // namespace sim

#endif
