/* The device's layout of the records the program hands to the shell, and
   of the others it shares with the platform: 32-bit ARM, 32-bit pointers,
   16-bit WCHAR. Built for ARM (a device build, the ARM check, the
   simulator's ARM lane) a record that drifts from it, a field widened or
   moved, fails the build here. Plain C++98, as the device build compiles
   it. Included after the records' declarations (shared/windows.h and
   shared/aygshell.h, or the SDK's headers). */
#ifndef CORVANE_PLATFORM_WINCE_SHARED_LAYOUT_H
#define CORVANE_PLATFORM_WINCE_SHARED_LAYOUT_H

#if defined(__arm__) || defined(_M_ARM)
#include <stddef.h>

#define CORVANE_LAYOUT_CHECK(name, condition) \
    typedef char CorvaneLayout_##name[(condition) ? 1 : -1]

CORVANE_LAYOUT_CHECK(GuidIs16Bytes, sizeof(GUID) == 16);
CORVANE_LAYOUT_CHECK(DlgTemplateIs18Bytes, sizeof(DLGTEMPLATE) == 18);
CORVANE_LAYOUT_CHECK(DlgTemplateCdit, offsetof(DLGTEMPLATE, cdit) == 8);
CORVANE_LAYOUT_CHECK(DlgTemplateX, offsetof(DLGTEMPLATE, x) == 10);

CORVANE_LAYOUT_CHECK(TrayRecordIs152Bytes, sizeof(NOTIFYICONDATA) == 152);
CORVANE_LAYOUT_CHECK(TrayHWnd, offsetof(NOTIFYICONDATA, hWnd) == 4);
CORVANE_LAYOUT_CHECK(TrayUID, offsetof(NOTIFYICONDATA, uID) == 8);
CORVANE_LAYOUT_CHECK(TrayUFlags, offsetof(NOTIFYICONDATA, uFlags) == 12);
CORVANE_LAYOUT_CHECK(TrayCallbackMessage, offsetof(NOTIFYICONDATA, uCallbackMessage) == 16);
CORVANE_LAYOUT_CHECK(TrayHIcon, offsetof(NOTIFYICONDATA, hIcon) == 20);
CORVANE_LAYOUT_CHECK(TraySzTip, offsetof(NOTIFYICONDATA, szTip) == 24);

CORVANE_LAYOUT_CHECK(BubbleRecordIs56Bytes, sizeof(SHNOTIFICATIONDATA) == 56);
CORVANE_LAYOUT_CHECK(BubbleDwID, offsetof(SHNOTIFICATIONDATA, dwID) == 4);
CORVANE_LAYOUT_CHECK(BubblePriority, offsetof(SHNOTIFICATIONDATA, npPriority) == 8);
CORVANE_LAYOUT_CHECK(BubbleDuration, offsetof(SHNOTIFICATIONDATA, csDuration) == 12);
CORVANE_LAYOUT_CHECK(BubbleHIcon, offsetof(SHNOTIFICATIONDATA, hicon) == 16);
CORVANE_LAYOUT_CHECK(BubbleFlags, offsetof(SHNOTIFICATIONDATA, grfFlags) == 20);
CORVANE_LAYOUT_CHECK(BubbleClsid, offsetof(SHNOTIFICATIONDATA, clsid) == 24);
CORVANE_LAYOUT_CHECK(BubbleSink, offsetof(SHNOTIFICATIONDATA, hwndSink) == 40);
CORVANE_LAYOUT_CHECK(BubbleHtml, offsetof(SHNOTIFICATIONDATA, pszHTML) == 44);
CORVANE_LAYOUT_CHECK(BubbleTitle, offsetof(SHNOTIFICATIONDATA, pszTitle) == 48);
CORVANE_LAYOUT_CHECK(BubbleLParam, offsetof(SHNOTIFICATIONDATA, lParam) == 52);

CORVANE_LAYOUT_CHECK(InitDialogRecordIs12Bytes, sizeof(SHINITDLGINFO) == 12);
CORVANE_LAYOUT_CHECK(InitDialogFlags, offsetof(SHINITDLGINFO, dwFlags) == 8);

#undef CORVANE_LAYOUT_CHECK
#endif

#endif
