/* Records of the Pocket PC SDK's aygshell.h that the program uses, with the
   SDK's names, values and layouts. Written once for the simulator's
   declarations (simulator/shell/shellapi.h), the ARM check's subset
   (platform/wince/sdk-subset/aygshell.h), and a device build whose SDK
   lacks the bubble record (platform/wince/device.h, which defines
   CORVANE_RECORDS_BUBBLE_ONLY). records/windows.h comes first. */
#ifndef CORVANE_PLATFORM_WINCE_RECORDS_AYGSHELL_H
#define CORVANE_PLATFORM_WINCE_RECORDS_AYGSHELL_H

#ifndef CORVANE_RECORDS_BUBBLE_ONLY
/* SHInitDialog's request. */
typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;
#endif

/* A notification bubble (SHNotificationAdd). */
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

#endif
