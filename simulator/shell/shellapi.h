// The Pocket PC shell services (aygshell and the tray) as the simulated
// Pocket PC provides them, with the SDK's names, records and values.
//
// What the program uses is declared once for the simulator and the device
// build alike: the tray in platform/wince/shared/windows.h (through
// winapi.h), SHInitDialog and the notification bubbles in
// platform/wince/shared/aygshell.h. Below are the names only the simulator
// uses.
#ifndef CORVANE_SIMULATOR_SHELL_SHELLAPI_H
#define CORVANE_SIMULATOR_SHELL_SHELLAPI_H

#include "simulator/wince/winapi.h"

// SHINITDLGINFO, SHNOTIFICATIONDATA and their functions, and the check of
// the device's layout when built for ARM.
#include "platform/wince/shared/aygshell.h"
#include "platform/wince/shared/layout.h"

// --- Notification bubbles ----------------------------------------------------
// grfFlags of a bubble, as the Pocket PC 2002 shell knows them. Other bits
// are ignored, as the device's shell ignores them.
#define SHNF_STRAIGHTTOTRAY 0x00000001  // no bubble: straight to the tray, collapsed
#define SHNF_CRITICAL 0x00000002        // border and title highlighted
#define SHNF_FORCEMESSAGE 0x00000008    // shown whatever the user's settings say
#define SHNF_DISPLAYON 0x00000010       // turns the display on

#define ERROR_SUCCESS 0L
#define E_INVALIDARG ((LRESULT)(int32_t)0x80070057L)

#endif
