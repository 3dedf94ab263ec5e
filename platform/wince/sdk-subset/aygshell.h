/* Stand-in for the Pocket PC SDK's aygshell.h: what Corvane uses. */
#ifndef CORVANE_SDK_SUBSET_AYGSHELL_H
#define CORVANE_SDK_SUBSET_AYGSHELL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

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

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);

typedef enum _SHNP { SHNP_INFORM = 0x1B1, SHNP_ICONIC } SHNP;

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

#ifdef __cplusplus
}
#endif

#endif
