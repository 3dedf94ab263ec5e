// The ARM lane's traps. First the coprocessor trap. There the program runs its own ARM code,
// and its "mrc/mcr p14, 0, Rd, c6, c0, 0" (CCLKCFG) and "mrc p15, 0, Rd,
// c0, c0, 0" (the main ID register) are undefined instructions in user
// mode for the emulated core: the kernel raises SIGILL on the thread
// that executed it. The handler decodes the instruction from the signal
// context, performs the access on the clock model as one platform event,
// writes Rd for a read, and resumes after the instruction. Any other
// undefined instruction ends the run with its word and address.
//
// The handler never unwinds or switches threads: it takes the device lock
// as a platform call does, but is no scheduling point (a killed thread ends
// at its next real platform call).
#ifndef CORVANE_SIMULATOR_API_ARM_TRAP_H
#define CORVANE_SIMULATOR_API_ARM_TRAP_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim::arm_trap {

// Installs the handler for the whole process (every thread); once is
// enough, again is harmless.
void install();

// The coprocessor access an instruction word encodes, if it is one the
// device answers: CCLKCFG (mrc/mcr p14, 0, Rd, c6, c0, 0) or the main ID
// register (mrc p15, 0, Rd, c0, c0, 0, which user mode may not read either).
struct CclkcfgAccess {
    bool read;     // mrc (else mcr)
    unsigned rd;   // r0..r14
    bool main_id;  // the main ID register (else CCLKCFG)
};
std::optional<CclkcfgAccess> decode(std::uint32_t word);

// A loaded image's own loads and stores. Its register accessors are plain
// 32-bit loads and stores through the mapping, as on the device, and the
// host page under a mapping has no access: such an access faults (SIGSEGV),
// and the handler performs it on the device register as one platform
// event, sets Rd for a load and resumes after the instruction. A store into
// a read-only section of the image, and any other fault of the image's
// code, ends the run with the address, the instruction and the reason.
// Faults of code outside the image are left to the default action.
struct ImageSection {
    std::string name;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    bool writable = false;
    bool executable = false;
};
// Installs the handler (once) and makes `sections` of the image at
// [begin, end) the code whose faults it handles.
void watch_image(std::uint32_t begin, std::uint32_t end, std::vector<ImageSection> sections);

// The load or store a faulting instruction word makes: a 32-bit LDR or STR
// with an offset and no writeback, the form a register access takes.
struct WordAccess {
    bool load;
    unsigned rd;  // r0..r14
    unsigned rn;
    bool register_offset;  // else a 12-bit immediate
    unsigned rm_or_imm;
    bool add;  // the offset is added (else subtracted)
};
std::optional<WordAccess> decode_word_access(std::uint32_t word);

}  // namespace sim::arm_trap

#endif
