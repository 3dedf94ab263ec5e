// What must hold of Corvane on the device, read from snapshots: the
// randomised test and the schedule explorer check the same rules.
#ifndef CORVANE_SIMULATOR_CORVANE_CORVANE_INVARIANTS_H
#define CORVANE_SIMULATOR_CORVANE_CORVANE_INVARIANTS_H

#include <string>
#include <string_view>

#include "simulator/device/snapshot.h"
#include "simulator/explore/explore.h"

namespace sim {

// What holds at every step, even in the middle of a platform call's
// caller: the bubble count is never below 0 nor above the bubbles posted
// and not yet removed.
std::string broken_at_every_step(const Snapshot& s);

// What holds whenever every program thread is blocked: one tray icon
// exactly while the program runs in the tray, showing the mode it runs;
// the target is that mode's word; one monitor at most, and one in the
// tray; the bubble count never below 0 and, while running, the bubbles
// posted less those removed; no reservation outstanding. Returns the first
// rule broken, or "".
std::string broken_invariant(const Snapshot& s);

// What must hold once the program has ended, by the input that ended it:
// no monitor is left, nothing leaked was left for the process's end to
// free, and Quit leaves the processor at 400 MHz in turbo mode (when the
// clock could be mapped), whatever a monitor was doing meanwhile. `before`
// is the device before that input.
std::string broken_after_end(const Snapshot& after, std::string_view input, const Snapshot& before);

// After a whole monitor period in the tray with mapping working, the clock
// runs the requested setting; "" when it does.
std::string broken_after_period(const Snapshot& s);

// The three, for the explorer.
Invariants corvane_invariants();

}  // namespace sim

#endif
