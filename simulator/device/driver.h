// The driver's side of the device: what tests, the scenario runner and the
// web page do to it. Driver calls are made from one driver thread; each
// takes the device's lock, and touches the device only while no program
// thread runs. Input comes through the input model (input.h), views of the
// device through view.h.
#ifndef CORVANE_SIMULATOR_DEVICE_DRIVER_H
#define CORVANE_SIMULATOR_DEVICE_DRIVER_H

#include <optional>

#include "simulator/device/device.h"
#include "simulator/device/snapshot.h"

namespace sim {

class Driver {
  public:
    explicit Driver(DeviceOptions options) : device_(std::move(options)) {}

    // Before start: listeners for the device's events.
    Trace& trace() { return device_.trace(); }

    // Loads the program afresh and runs it until every thread is blocked.
    void start();
    // Lets the program run until every thread is blocked again.
    void settle();
    void wait(Millis duration);
    // Moves device time to `t`, firing every deadline on the way; with
    // `run_last` false the threads woken at `t` are left ready.
    void advance_to(Millis t, bool run_last = true);
    std::optional<Millis> next_deadline();
    Millis now();

    // Runs `f` on the device with its lock held.
    template <class F>
    auto locked(F&& f) {
        Lock lock(device_.kernel().mutex());
        return f(device_);
    }
    Snapshot snapshot();
    ProgramState program_state();
    std::optional<int> exit_code();
    std::size_t program_threads();  // live threads besides the UI thread

  private:
    Device device_;
};

}  // namespace sim

#endif
