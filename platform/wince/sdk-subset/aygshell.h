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

/* SHINITDLGINFO, SHNP and SHNOTIFICATIONDATA */
#include "../records/aygshell.h"

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);

#ifdef __cplusplus
}
#endif

#endif
