// The two coprocessor 14 accesses and the main ID read. Built for ARM they are single MRC/MCR
// instructions: on the device, and in the simulator's ARM lane, where the
// emulated core traps them into the simulated clocks. On any other host the
// simulator stands in for the same instruction, with the same coprocessor
// and register numbers.
#include "clock/coprocessor.h"

#if defined(__arm__) || defined(_M_ARM)

DWORD ReadCclkcfg(void) {
    DWORD value;
    __asm__ __volatile__("mrc p14, 0, %0, c6, c0, 0" : "=r"(value));
    return value;
}

void WriteCclkcfg(DWORD value) {
    __asm__ __volatile__("mcr p14, 0, %0, c6, c0, 0" : : "r"(value) : "memory");
}

DWORD ReadMainId(void) {
    DWORD value;
    __asm__ __volatile__("mrc p15, 0, %0, c0, c0, 0" : "=r"(value));
    return value;
}

#else

DWORD ReadCclkcfg(void) {
    return SimCoprocessorRead(14, 0, 6, 0, 0);
}

void WriteCclkcfg(DWORD value) {
    SimCoprocessorWrite(14, 0, value, 6, 0, 0);
}

DWORD ReadMainId(void) {
    return SimCoprocessorRead(15, 0, 0, 0, 0);
}

#endif
