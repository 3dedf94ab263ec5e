/* The Pocket PC aygshell.h as Corvane uses it, declared once for both of its
   platforms, as shared/windows.h is (whose header says how the two sides
   include these files): the device build's SDK stand-in
   (platform/wince/sdk-subset/aygshell.h) and the simulated Pocket PC
   (simulator/shell/shellapi.h). shared/windows.h, or the SDK's windows.h,
   comes first.

   The notification bubbles, the record and its two functions, came with
   Pocket PC 2002. platform/wince/device.h includes them alone, defining
   CORVANE_SHARED_AYGSHELL_BUBBLES_ONLY, for an SDK whose aygshell.h lacks
   them. */
#ifndef CORVANE_PLATFORM_WINCE_SHARED_AYGSHELL_H
#define CORVANE_PLATFORM_WINCE_SHARED_AYGSHELL_H

#ifndef CORVANE_SHARED_AYGSHELL_BUBBLES_ONLY
/* --- SHInitDialog -------------------------------------------------------- */
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

BOOL WINAPI SHInitDialog(PSHINITDLGINFO info);
#endif

/* --- Notification bubbles ------------------------------------------------ */
typedef enum _SHNP {
    SHNP_INFORM = 0x1B1, /* a bubble shown for its duration, then collapsed */
    SHNP_ICONIC          /* no bubble: the icon only */
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

/* The executable imports these two from aygshell.dll by ordinal
   (platform/wince/exports/aygshell.exports). */
LRESULT WINAPI SHNotificationAdd(SHNOTIFICATIONDATA* data);
LRESULT WINAPI SHNotificationRemove(const CLSID* clsid, DWORD id);

#endif
