// The Pocket PC shell services (aygshell and the tray) as the simulated
// Pocket PC provides them, with the SDK's names, records and values.
#ifndef CORVANE_SIMULATOR_SHELL_SHELLAPI_H
#define CORVANE_SIMULATOR_SHELL_SHELLAPI_H

#include "simulator/wince/winapi.h"

// --- SHInitDialog ------------------------------------------------------------
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

BOOL SHInitDialog(PSHINITDLGINFO info);

// --- Tray icons --------------------------------------------------------------
#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

typedef struct _NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;

BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data);

// --- Notification bubbles ----------------------------------------------------
typedef enum _SHNP {
    SHNP_INFORM = 0x1B1,  // a bubble shown for its duration, then collapsed
    SHNP_ICONIC           // no bubble: the icon only
} SHNP;

typedef struct _SHNOTIFICATIONDATA {
    DWORD cbStruct;
    DWORD dwID;
    SHNP npPriority;
    DWORD csDuration;
    HICON hicon;
    DWORD grfFlags;
    CLSID clsid;
    HWND hwndSink;
    LPCTSTR pszHTML;
    LPCTSTR pszTitle;
    LPARAM lParam;
} SHNOTIFICATIONDATA;

#define ERROR_SUCCESS 0L
#define E_INVALIDARG ((LRESULT)(int32_t)0x80070057L)

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data);
LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id);

#endif
