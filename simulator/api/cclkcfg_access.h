// The program's accesses to CCLKCFG (coprocessor 14, register 6) and to
// the memory-mapped clock registers, each one platform event. The host build reaches them through
// the SimCoprocessor stand-ins; the ARM lane through the trap of the real
// MRC/MCR instruction (arm_trap.cpp), which names the instruction's address.
#ifndef CORVANE_SIMULATOR_API_CCLKCFG_ACCESS_H
#define CORVANE_SIMULATOR_API_CCLKCFG_ACCESS_H

#include <cstdint>
#include <optional>
#include <string>

#include "simulator/api/platform_call.h"

namespace sim {

// Where an access came from: the trapped instruction's address, or none
// for the host's stand-in call.
using TrapAddress = std::optional<std::uint32_t>;

std::uint32_t read_cclkcfg(PlatformCall& call, TrapAddress trapped_at);
// The main ID register (coprocessor 15, c0, c0, 0): the device's processor.
std::uint32_t read_main_id(PlatformCall& call, TrapAddress trapped_at);
// Why the device's processor has no CCLKCFG, or "" when it has one.
std::string no_cclkcfg(const Device& device);
void write_cclkcfg(PlatformCall& call, std::uint32_t value, TrapAddress trapped_at);

// A 32-bit load or store through one of the program's mappings: the
// accessors' (READ_REGISTER_ULONG, WRITE_REGISTER_ULONG) on the host, a
// loaded image's own load or store instruction trapped in the ARM lane.
// What the device's MMU would fault on ends the run as a program fault.
std::uint32_t read_register(PlatformCall& call, const void* reg, TrapAddress trapped_at);
void write_register(PlatformCall& call, const void* reg, std::uint32_t value,
                    TrapAddress trapped_at);

}  // namespace sim

#endif
