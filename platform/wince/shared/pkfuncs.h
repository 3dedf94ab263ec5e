/* What coredll exports and the program calls, but the SDK does not declare:
   only the platform builder's pkfuncs.h does. Declared once for both of
   Corvane's platforms, as shared/windows.h is (whose header says how the two
   sides include these files): the device build adds it to the SDK
   (platform/wince/device.h), and the simulated Pocket PC to its own
   declarations (simulator/wince/winapi.h). shared/windows.h, or the SDK's
   windows.h, comes first. */
#ifndef CORVANE_PLATFORM_WINCE_SHARED_PKFUNCS_H
#define CORVANE_PLATFORM_WINCE_SHARED_PKFUNCS_H

/* Maps physical (PAGE_PHYSICAL) or virtual memory into a reserved range. */
BOOL WINAPI VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);

#endif
