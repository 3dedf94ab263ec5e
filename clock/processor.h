// Which processor the program runs on. Its clock settings are PXA25x words,
// and only the PXA25x family has the clocks manager they are for.
#ifndef CORVANE_CLOCK_PROCESSOR_H
#define CORVANE_CLOCK_PROCESSOR_H

#include "platform/platform.h"

// Whether a main ID register value (ReadMainId) names a processor of the
// Intel PXA25x family: the PXA210, PXA250, PXA255 and PXA26x. Intel's
// implementer code 0x69 in bits 31:24, and the family's core generation and
// product number in bits 15:12 and 9:8, the test Linux makes
// (__cpu_is_pxa25x: (id & 0xf300) == 0x2100). The PXA27x (0x6905411x) and
// the StrongARM SA-1110 (0x6901B11x) are not of it.
BOOL IsPxa25xFamily(DWORD mainId);

#endif
