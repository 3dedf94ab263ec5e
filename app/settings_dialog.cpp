#include "app/settings_dialog.h"

#include "app/app_state.h"
#include "app/dialog_commands.h"
#include "resources/resource.h"
#include "shell/tray.h"

// Full screen, a Done (OK) button in the caption, input panel lowered.
#define SETTINGS_DIALOG_FLAGS (SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN)

static void InitSettingsDialog(HWND hDlg) {
    SHINITDLGINFO info;
    info.dwMask = SHIDIM_FLAGS;
    info.hDlg = hDlg;
    info.dwFlags = SETTINGS_DIALOG_FLAGS;
    SHInitDialog(&info);
    SetForegroundWindow(hDlg);
}

// A close request ends the program. If it comes while the program sits in
// the tray, the icon goes first so that no dead icon is left behind; the
// clock is left as it is.
static void CloseSettingsDialog(HWND hDlg) {
    if (AppState.dialogVisible == 0) {
        RemoveTrayIcon(hDlg);
    }
    EndDialog(hDlg, 1);
}

// Mirrors a check box into its AppState flag, re-reading the control.
static void MirrorCheckBox(HWND hDlg, int id, LONG* flag) {
    const LONG checked = SendDlgItemMessageW(hDlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    EnterCriticalSection(&ClockLock);
    *flag = checked;
    LeaveCriticalSection(&ClockLock);
}

static BOOL OnCommand(HWND hDlg, WORD id) {
    switch (id) {
        case IDOK:
            HideToTray(hDlg);
            return TRUE;
        case IDCANCEL:
            QuitProgram(hDlg);
            return TRUE;
        case IDC_ALLOW_100:
            MirrorCheckBox(hDlg, IDC_ALLOW_100, &AppState.allow100);
            return TRUE;
        case IDC_SHOW_NOTIFICATION:
            MirrorCheckBox(hDlg, IDC_SHOW_NOTIFICATION, &AppState.showNotifications);
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL CALLBACK SettingsDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            CloseSettingsDialog(hDlg);
            return TRUE;
        case WM_INITDIALOG:
            InitSettingsDialog(hDlg);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(hDlg, LOWORD(wParam));
        case WM_TRAY_CALLBACK:
            OnTrayCallback(hDlg, wParam, lParam);
            return FALSE;
        default:
            return FALSE;
    }
}
