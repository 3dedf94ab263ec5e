// The Pocket PC shell services (aygshell and the tray) as the simulated
// Pocket PC provides them, with the SDK's names, records and values.
#ifndef CORVANE_SIMULATOR_SHELL_SHELLAPI_H
#define CORVANE_SIMULATOR_SHELL_SHELLAPI_H

#include "simulator/wince/winapi.h"

// SHINITDLGINFO, SHNP and SHNOTIFICATIONDATA (NOTIFYICONDATA is in winapi.h),
// and the check of the device's layout when built for ARM.
#include "platform/wince/records/aygshell.h"
#include "platform/wince/records/layout.h"

// --- SHInitDialog ------------------------------------------------------------
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008

BOOL SHInitDialog(PSHINITDLGINFO info);

// --- Tray icons --------------------------------------------------------------
#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data);

// --- Notification bubbles ----------------------------------------------------
// grfFlags of a bubble, as the Pocket PC 2002 shell knows them. Other bits
// are ignored, as the device's shell ignores them.
#define SHNF_STRAIGHTTOTRAY 0x00000001  // no bubble: straight to the tray, collapsed
#define SHNF_CRITICAL 0x00000002        // border and title highlighted
#define SHNF_FORCEMESSAGE 0x00000008    // shown whatever the user's settings say
#define SHNF_DISPLAYON 0x00000010       // turns the display on

#define ERROR_SUCCESS 0L
#define E_INVALIDARG ((LRESULT)(int32_t)0x80070057L)

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data);
LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id);

#endif
