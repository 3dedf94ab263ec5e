#include "clock/processor.h"

#define MAIN_ID_IMPLEMENTER_INTEL 0x69UL
#define MAIN_ID_PXA25X_MASK 0xF300UL
#define MAIN_ID_PXA25X 0x2100UL

BOOL IsPxa25xFamily(DWORD mainId) {
    return (mainId >> 24) == MAIN_ID_IMPLEMENTER_INTEL &&
                   (mainId & MAIN_ID_PXA25X_MASK) == MAIN_ID_PXA25X
               ? TRUE
               : FALSE;
}
