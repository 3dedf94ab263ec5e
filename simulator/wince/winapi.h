// Windows CE core services as the simulated Pocket PC provides them.
//
// What the program uses is declared once for the simulator and the device
// build alike, in platform/wince/shared/ (windows.h, commctrl.h and
// pkfuncs.h): the SDK's names, values and records, with the host's sizes
// where the SDK's types are pointer-sized (shared/windows.h picks each
// side's types in one place).
// Here they are C++ functions of the simulator, bound to an executable's
// imports by address (simulator/exe/simulated_dlls.cpp). Every function is
// a scheduling point of the simulator.
//
// Below are the SDK's names that the simulator uses and the program does
// not: for its own code, its tests, and executables that import more.
#ifndef CORVANE_SIMULATOR_WINCE_WINAPI_H
#define CORVANE_SIMULATOR_WINCE_WINAPI_H

#include <stddef.h>
#include <stdint.h>

// windows.h first: the others build on its types.
#include "platform/wince/shared/windows.h"

#include "platform/wince/shared/commctrl.h"
#include "platform/wince/shared/pkfuncs.h"

#ifndef NULL
#define NULL 0
#endif

#define IS_INTRESOURCE(r) ((((UINT_PTR)(r)) >> 16) == 0)

// --- Resources -------------------------------------------------------------
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define FindResource FindResourceW

BOOL DestroyIcon(HICON icon);
#define LR_SHARED 0x00008000
#define LoadIcon LoadIconW
#define LoadImage LoadImageW

// --- Windows and dialogs ---------------------------------------------------
#define WM_USER 0x0400

#define BST_UNCHECKED 0
#define BN_CLICKED 0

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_CAPTIONOKBTN 0x80000000L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L

typedef LPCDLGTEMPLATEW LPCDLGTEMPLATE;

#define DialogBoxIndirectParam DialogBoxIndirectParamW
#define SendDlgItemMessage SendDlgItemMessageW
// The simulator models MB_OK boxes only; the type's low bits choose the buttons.
#define MB_TYPEMASK 0x0000000FL
#define MessageBox MessageBoxW

// --- Threads, time and synchronisation ---------------------------------------
// The calling thread's last error code, set by the calls that fail.
DWORD GetLastError(void);
void SetLastError(DWORD error);
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
DWORD GetTickCount(void);

// --- Virtual memory ----------------------------------------------------------
#define MEM_COMMIT 0x1000

#endif
