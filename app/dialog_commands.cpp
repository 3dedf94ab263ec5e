#include "app/dialog_commands.h"

#include "app/app_state.h"
#include "clock/speed_change.h"
#include "clock/speed_table.h"
#include "monitor/clock_monitor.h"
#include "shell/tray.h"

static const WCHAR TIP_TURBO_ON[] = TEXT("Turbo On");
static const WCHAR TIP_TURBO_OFF[] = TEXT("Turbo Off");

static HICON TrayIconFor(LONG mode) {
    return LoadIconW(AppState.instance, MAKEINTRESOURCE(SPEED_SETTINGS[mode].trayIconId));
}

// Adding and deleting the icon at 100 MHz says "Turbo Off"; everything else,
// a tap to 100 MHz included, says "Turbo On".
static LPCWSTR AddOrDeleteTipFor(LONG mode) {
    return mode == SPEED_MODE_100 ? TIP_TURBO_OFF : TIP_TURBO_ON;
}

void HideToTray(HWND hDlg) {
    ShowWindow(hDlg, SW_HIDE);

    EnterCriticalSection(&ClockLock);
    if (AppState.allow100 == 0 && AppState.speedMode == SPEED_MODE_100) {
        // 100 MHz is no longer allowed: run 400 MHz, so that the icon added
        // below never claims a speed the clock does not run.
        AppState.speedMode = SPEED_MODE_400;
        SetCpuSpeed(CLOCK_CCCR_400);
    }
    const LONG mode = AppState.speedMode;
    if (IsSpeedMode(mode)) {
        TrayIconAdd(hDlg, TRAY_ICON_ID, TrayIconFor(mode), AddOrDeleteTipFor(mode));
    }
    AppState.dialogVisible = 0;
    // A monitor that has not yet ended sees the dialog hidden again and goes
    // on; only when none runs is a new one started.
    const BOOL startMonitor = AppState.monitorRunning == 0;
    AppState.monitorRunning = 1;
    LeaveCriticalSection(&ClockLock);

    if (startMonitor) {
        StartClockMonitor();
    }
}

static void TrayTap(HWND hDlg) {
    EnterCriticalSection(&ClockLock);
    const LONG next = NextSpeedMode(AppState.speedMode, AppState.allow100);
    if (next != SPEED_MODE_NONE) {
        TrayIconModify(hDlg, TRAY_ICON_ID, TrayIconFor(next), TIP_TURBO_ON);
        SetCpuSpeed(SPEED_SETTINGS[next].cccrWord);
        AppState.speedMode = next;
    }
    LeaveCriticalSection(&ClockLock);
}

void RemoveTrayIcon(HWND hDlg) {
    const LONG mode = AppState.speedMode;
    if (IsSpeedMode(mode)) {
        TrayIconDelete(hDlg, TRAY_ICON_ID, TrayIconFor(mode), AddOrDeleteTipFor(mode));
    }
}

static void TrayDoubleTap(HWND hDlg) {
    ShowWindow(hDlg, SW_SHOW);
    SetForegroundWindow(hDlg);
    RemoveTrayIcon(hDlg);
    EnterCriticalSection(&ClockLock);
    AppState.dialogVisible = 1;
    LeaveCriticalSection(&ClockLock);
}

void OnTrayCallback(HWND hDlg, WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != TRAY_ICON_ID) {
        return;
    }
    if (mouseMessage == WM_LBUTTONDOWN) {
        TrayTap(hDlg);
    } else if (mouseMessage == WM_LBUTTONDBLCLK) {
        TrayDoubleTap(hDlg);
    }
}

void QuitProgram(HWND hDlg) {
    EnterCriticalSection(&ClockLock);
    SetCpuSpeed(CLOCK_CCCR_400);
    LeaveCriticalSection(&ClockLock);
    EndDialog(hDlg, 1);
}
