// The tray icon and the commands that drive it: hide to the tray (OK), tap,
// double tap.
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

// OK: hide the dialog to the tray and make sure a monitor runs.
void HideToTray(HWND hDlg);

// The tray icon's callback message: a tap moves to the next speed, a double
// tap brings the dialog back.
void OnTrayCallback(HWND hDlg, WPARAM iconId, LPARAM mouseMessage);

// Removes the icon of the current speed (the double tap's delete).
void RemoveTrayIcon(HWND hDlg);

#endif
