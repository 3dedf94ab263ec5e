// The deterministic scheduler: program threads are fibers on the host
// thread that drives the device, and exactly one of them, or the driver,
// runs at any moment. Control passes only at platform calls and only
// through the driver: a thread that blocks, yields or ends switches back to
// the driver's stack, and the driver picks who runs next. No host thread is
// woken or put to sleep on the way, so a hand-over costs a user-space
// context switch.
#ifndef CORVANE_SIMULATOR_KERNEL_DETERMINISTIC_H
#define CORVANE_SIMULATOR_KERNEL_DETERMINISTIC_H

#include <deque>
#include <random>

#include "simulator/kernel/fiber.h"
#include "simulator/kernel/kernel.h"

namespace sim {

class DeterministicScheduler final : public Kernel {
  public:
    explicit DeterministicScheduler(KernelOptions options);
    ~DeterministicScheduler() override;

    Millis now() const override { return now_; }
    void settle(Lock& lock) override;
    void advance_to(Lock& lock, Millis t, bool run_last) override;
    void shutdown() override;
    void set_input_due(bool due) override;

  private:
    struct FiberThread;

    void give_way(Lock& lock, SimThread& self, const char* call) override;
    void wait_until_woken(Lock& lock, SimThread& self) override;
    std::unique_ptr<SimThread> make_thread() override;
    bool start(SimThread& t) override;
    void make_ready(SimThread& t) override;
    // On a fiber: gives control back to the driver (the device lock is
    // released meanwhile) and takes it again when chosen to run.
    void yield_to_driver(Lock& lock, FiberThread& self);
    // On the driver: runs `t` until it blocks, yields or ends.
    void run(Lock& lock, FiberThread& t);
    static void thread_body(DeterministicScheduler* self, FiberThread* t);
    // The next thread to run, taken off the ready queue: the first, or the
    // one the chooser picks when more than one is ready.
    SimThread* take_next_ready();
    // Whether the chooser lets the due input arrive now; when it does, the
    // driver gets it at once.
    bool input_cuts_in(const SimThread* running, const char* call);
    // While the driver advances time and nothing is ready, moves time to
    // the next deadline within its target.
    void step_for_driver();
    std::optional<SeededChooser> seeded_;
    Chooser* chooser_ = nullptr;  // null: every default
    bool input_due_ = false;
    bool input_taken_ = false;             // the due input cut in: settle returns
    const SimThread* gave_way_ = nullptr;  // the thread that last gave way
    Millis now_ = 0;
    std::deque<SimThread*> ready_;
    FiberThread* running_ = nullptr;        // nullptr: the driver
    std::optional<Millis> advance_target_;  // set while the driver is in advance_to
    bool advance_run_last_ = true;
};

}  // namespace sim

#endif
