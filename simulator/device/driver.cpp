#include "simulator/device/driver.h"

#include "simulator/device/view.h"

namespace sim {

void Driver::start() {
    Lock lock(device_.kernel().mutex());
    if (device_.program_state() == ProgramState::NotStarted) {
        device_.launch();
        device_.kernel().settle(lock);
    }
}

void Driver::settle() {
    Lock lock(device_.kernel().mutex());
    device_.kernel().settle(lock);
}

void Driver::wait(Millis duration) {
    Lock lock(device_.kernel().mutex());
    device_.kernel().advance_to(lock, device_.kernel().now() + duration);
}

void Driver::advance_to(Millis t, bool run_last) {
    Lock lock(device_.kernel().mutex());
    device_.kernel().advance_to(lock, t, run_last);
}

std::optional<Millis> Driver::next_deadline() {
    return locked([](Device& d) { return d.kernel().next_deadline(); });
}

Millis Driver::now() {
    return locked([](Device& d) { return d.now(); });
}

Snapshot Driver::snapshot() {
    return locked([](Device& d) { return take_snapshot(d); });
}

ProgramState Driver::program_state() {
    return locked([](Device& d) { return d.program_state(); });
}

std::optional<int> Driver::exit_code() {
    return locked([](Device& d) { return d.exit_code(); });
}

std::size_t Driver::program_threads() {
    return locked([](Device& d) { return d.program_threads(); });
}

}  // namespace sim
