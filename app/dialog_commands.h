// The settings dialog's commands: OK hides it to the tray (and starts the
// clock monitor), the tray icon's tap and double tap, and Quit.
#ifndef CORVANE_APP_DIALOG_COMMANDS_H
#define CORVANE_APP_DIALOG_COMMANDS_H

#include "platform/platform.h"

// OK: hide the dialog to the tray and make sure a monitor runs.
void HideToTray(HWND hDlg);

// The tray icon's callback message: a tap moves to the next speed, a double
// tap brings the dialog back.
void OnTrayCallback(HWND hDlg, WPARAM iconId, LPARAM mouseMessage);

// Removes the icon of the current speed (the double tap's delete).
void RemoveTrayIcon(HWND hDlg);

// The dialog's Quit button: back to 400 MHz, then end the dialog.
void QuitProgram(HWND hDlg);

#endif
