/* Records of the Windows CE SDK's windows.h (and the shellapi.h it
   includes) that the program uses, with the SDK's names and layouts.
   Written once for the two stand-ins of the SDK: the simulator's
   declarations (simulator/wince/winapi.h) and the ARM check's subset
   (platform/wince/sdk-subset/windows.h). The includer has declared the
   SDK's basic types first. layout.h checks the device's layout. */
#ifndef CORVANE_PLATFORM_WINCE_RECORDS_WINDOWS_H
#define CORVANE_PLATFORM_WINCE_RECORDS_WINDOWS_H

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
typedef GUID CLSID;

/* A dialog template's header: packed on 2-byte boundaries, as in the
   resource. */
#pragma pack(push, 2)
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATE;
#pragma pack(pop)

/* A tray icon (Shell_NotifyIcon). */
typedef struct _NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;

#endif
