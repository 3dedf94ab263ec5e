// The free-running scheduler: every program thread is a host thread, and
// they run truly in parallel, taking the device lock for each platform
// call. Virtual time follows the wall clock, scaled. This is what the
// ThreadSanitizer stress test runs on: the program's own races can happen
// here, and ThreadSanitizer sees them (see tsan.h).
#ifndef CORVANE_SIMULATOR_KERNEL_FREE_RUNNING_H
#define CORVANE_SIMULATOR_KERNEL_FREE_RUNNING_H

#include <chrono>
#include <condition_variable>
#include <thread>

#include "simulator/kernel/kernel.h"
#include "simulator/kernel/wall_clock.h"

namespace sim {

class FreeRunningScheduler final : public Kernel {
  public:
    explicit FreeRunningScheduler(KernelOptions options);
    ~FreeRunningScheduler() override;

    Millis now() const override;
    void settle(Lock& lock) override;
    void advance_to(Lock& lock, Millis t, bool run_last) override;
    void shutdown() override;

  private:
    struct HostThread;

    // The host interleaves the threads: none gives way of its own accord.
    void give_way(Lock&, SimThread&, const char*) override {}
    void wait_until_woken(Lock& lock, SimThread& self) override;
    std::unique_ptr<SimThread> make_thread() override;
    bool start(SimThread& t) override;
    void make_ready(SimThread& t) override;
    void thread_main(HostThread* t);
    // Joins the host threads of the threads that have ended and frees
    // their records.
    void reap();

    WallClock wall_;
    std::size_t active_ = 0;  // threads neither blocked nor finished
    std::condition_variable driver_cv_;
};

}  // namespace sim

#endif
