// The program's accesses to CCLKCFG (coprocessor 14, register 6), each one
// platform event on the clock model. The host build reaches them through
// the SimCoprocessor stand-ins; the ARM lane through the trap of the real
// MRC/MCR instruction (arm_trap.cpp), which names the instruction's address.
#ifndef CORVANE_SIMULATOR_HARDWARE_CCLKCFG_ACCESS_H
#define CORVANE_SIMULATOR_HARDWARE_CCLKCFG_ACCESS_H

#include <cstdint>
#include <optional>

#include "simulator/platform_call.h"

namespace sim {

// Where an access came from: the trapped instruction's address, or none
// for the host's stand-in call.
using TrapAddress = std::optional<std::uint32_t>;

std::uint32_t read_cclkcfg(PlatformCall& call, TrapAddress trapped_at);
void write_cclkcfg(PlatformCall& call, std::uint32_t value, TrapAddress trapped_at);

}  // namespace sim

#endif
