// The tray icon: the record the shell takes, filled in and handed over (the
// dialog's commands decide which icon and tip, app/dialog_commands.h).
#ifndef CORVANE_SHELL_TRAY_H
#define CORVANE_SHELL_TRAY_H

#include "platform/platform.h"

#define TRAY_ICON_ID 5000
#define WM_TRAY_CALLBACK 3025

// Fills a tray record and hands it to the shell; returns the shell's result.
BOOL TrayIconUpdate(HWND hwnd, DWORD message, UINT iconId, HICON icon, LPCWSTR tip);
BOOL TrayIconAdd(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip);
BOOL TrayIconModify(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip);
BOOL TrayIconDelete(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip);

#endif
