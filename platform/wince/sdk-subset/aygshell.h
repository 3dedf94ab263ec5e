/* Stand-in for the Pocket PC SDK's aygshell.h: what Corvane uses, written
   once in ../shared/aygshell.h for the simulator too, with the C linkage of
   aygshell's functions. */
#ifndef CORVANE_SDK_SUBSET_AYGSHELL_H
#define CORVANE_SDK_SUBSET_AYGSHELL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#include "../shared/aygshell.h"

#ifdef __cplusplus
}
#endif

#endif
