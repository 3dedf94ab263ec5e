// The processor a simulated Pocket PC has: its main ID register (coprocessor
// 15, c0, c0, 0) and what its clock hardware is.
//
// Pocket PCs of the program's era shipped with the Intel PXA25x family (the
// PXA250, PXA255 and PXA26x), the PXA27x, and the Intel StrongARM SA-1110.
// Only the PXA25x family has the clocks manager the program programs: the
// PXA27x has a CCCR at the same address with another layout, and the SA-1110
// has no coprocessor 14 register 6 at all and something of the device
// maker's at that address (its static memory bank 4, nCS4).
//
// Where each main ID comes from:
//  - PXA250 (B2) 0x69052904, PXA255 (A0) 0x69052D06, PXA26x (A0) 0x69052903,
//    PXA270 (C5) 0x69054117: the table of CPU IDs by stepping in Linux's
//    arch/arm/mach-pxa/include/mach/hardware.h (now
//    include/linux/soc/pxa/cpu.h), which also gives the family test the
//    program makes, (id & 0xf300) == 0x2100 (__cpu_is_pxa25x);
//  - SA-1110 (B4) 0x6901B118: Linux's arch/arm/mach-sa1100/include/mach/
//    hardware.h (CPU_SA1110_ID 0x6901b110 under the mask 0xfffffff0, the
//    revision in bits 3:0, CPU_SA1110_B4 = 8), and arch/arm/mm/proc-sa1100.S.
#ifndef CORVANE_SIMULATOR_HARDWARE_PROCESSOR_H
#define CORVANE_SIMULATOR_HARDWARE_PROCESSOR_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sim {

// What answers at the PXA clocks manager's address (physical 0x41300000)
// and to coprocessor 14 register 6.
enum class ClockHardware {
    Pxa25x,  // the clocks manager the program is written for
    Pxa27x,  // a CCCR with the PXA27x's layout (L, 2N, A over 13 MHz)
    None,    // no clocks manager, no CCLKCFG (the SA-1110)
};

struct Processor {
    const char* name;   // as --cpu and a scenario's cpu line take it
    const char* label;  // for people: "Intel PXA255 (A0)"
    std::uint32_t main_id;
    ClockHardware clocks;
};

// Every processor the simulator models; the first is the default.
std::span<const Processor> processors();
const Processor& default_processor();
// nullptr for a name the simulator does not model.
const Processor* find_processor(std::string_view name);
// "pxa250, pxa255, ..." for error messages.
std::string processor_names();

}  // namespace sim

#endif
