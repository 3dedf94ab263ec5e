/* Stand-in for the Windows CE SDK's commctrl.h: what Corvane uses, written
   once in ../shared/commctrl.h for the simulator too, with the C linkage of
   commctrl's functions. */
#ifndef CORVANE_SDK_SUBSET_COMMCTRL_H
#define CORVANE_SDK_SUBSET_COMMCTRL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#include "../shared/commctrl.h"

#ifdef __cplusplus
}
#endif

#endif
