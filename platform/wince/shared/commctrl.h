/* The Windows CE commctrl.h as Corvane uses it, declared once for both of
   its platforms, as shared/windows.h is (whose header says how the two
   sides include these files): the device build's SDK stand-in
   (platform/wince/sdk-subset/commctrl.h) and the simulated Pocket PC
   (simulator/wince/winapi.h). shared/windows.h, or the SDK's windows.h,
   comes first. */
#ifndef CORVANE_PLATFORM_WINCE_SHARED_COMMCTRL_H
#define CORVANE_PLATFORM_WINCE_SHARED_COMMCTRL_H

/* The common controls library's initialisation entry. */
void WINAPI InitCommonControls(void);

#endif
