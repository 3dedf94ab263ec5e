// The ARM lane's coprocessor trap. There the program runs its own ARM code,
// and its "mrc/mcr p14, 0, Rd, c6, c0, 0" (CCLKCFG) is an undefined
// instruction for the emulated core: the kernel raises SIGILL on the thread
// that executed it. The handler decodes the instruction from the signal
// context, performs the access on the clock model as one platform event,
// writes Rd for a read, and resumes after the instruction. Any other
// undefined instruction ends the run with its word and address.
//
// The handler never unwinds or switches threads: it takes the device lock
// as a platform call does, but is no scheduling point (a killed thread ends
// at its next real platform call).
#ifndef CORVANE_SIMULATOR_HARDWARE_ARM_TRAP_H
#define CORVANE_SIMULATOR_HARDWARE_ARM_TRAP_H

#include <cstdint>
#include <optional>

namespace sim::arm_trap {

// Installs the handler for the whole process (every thread); once is
// enough, again is harmless.
void install();

// The CCLKCFG access an instruction word encodes, if it is one.
struct CclkcfgAccess {
    bool read;    // mrc (else mcr)
    unsigned rd;  // r0..r14
};
std::optional<CclkcfgAccess> decode(std::uint32_t word);

}  // namespace sim::arm_trap

#endif
