/* Stand-in for the Windows CE SDK's windows.h: what Corvane uses. The
   declarations are the ones the simulator builds on too, written once in
   ../shared/windows.h; here they get the C linkage of coredll's functions,
   plus what the device's coredll has and the simulator does not. */
#ifndef CORVANE_SDK_SUBSET_WINDOWS_H
#define CORVANE_SDK_SUBSET_WINDOWS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#include "../shared/windows.h"

/* coredll exports these for ARM; the program does not call them, and the
   simulator does not provide them. */
LONG WINAPI InterlockedDecrement(LPLONG addend);
LONG WINAPI InterlockedExchange(LPLONG target, LONG value);

#ifdef __cplusplus
}
#endif

#endif
