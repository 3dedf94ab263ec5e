/* Stand-in for the Windows CE SDK's commctrl.h: what Corvane uses. */
#ifndef CORVANE_SDK_SUBSET_COMMCTRL_H
#define CORVANE_SDK_SUBSET_COMMCTRL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

void WINAPI InitCommonControls(void);

#ifdef __cplusplus
}
#endif

#endif
