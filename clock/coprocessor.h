// Coprocessor 14 register 6, CCLKCFG: bit 0 TURBO, bit 1 FCS; and the
// processor's main ID register, coprocessor 15 register 0.
#ifndef CORVANE_CLOCK_COPROCESSOR_H
#define CORVANE_CLOCK_COPROCESSOR_H

#include "platform/platform.h"

#define CCLKCFG_TURBO 0x1UL
#define CCLKCFG_FCS 0x2UL

// mrc p14, 0, Rd, c6, c0, 0
DWORD ReadCclkcfg(void);
// mcr p14, 0, Rd, c6, c0, 0
void WriteCclkcfg(DWORD value);
// mrc p15, 0, Rd, c0, c0, 0: implementer, architecture, part and revision.
// Reachable from the same privileged modes as CCLKCFG.
DWORD ReadMainId(void);

#endif
