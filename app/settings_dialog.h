// The settings dialog: the program's one window.
#ifndef CORVANE_APP_SETTINGS_DIALOG_H
#define CORVANE_APP_SETTINGS_DIALOG_H

#include "platform/platform.h"

// TRUE exactly for WM_CLOSE, WM_INITDIALOG and the four handled commands.
BOOL CALLBACK SettingsDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

#endif
