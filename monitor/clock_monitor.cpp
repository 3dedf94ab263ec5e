#include "monitor/clock_monitor.h"

#include "app/app_state.h"
#include "clock/clock_registers.h"
#include "clock/speed_change.h"
#include "clock/speed_table.h"
#include "shell/notification.h"

// One pass. Returns FALSE when the thread is to end. Runs under ClockLock so
// that a tap, OK or Quit cannot change the target between the check and the
// reprogramming (which would program the old word after the tap).
static BOOL MonitorPass(void) {
    const DWORD current = ReadClockConfig();
    if (current != AppState.targetClockConfig) {
        // The setting was lost (resume, another program, or no mapping):
        // program it again. This pass neither ends nor retires a bubble.
        SetCpuSpeed(AppState.targetClockConfig);
        return TRUE;
    }

    const DWORD mode = ReadClockMode();
    if (mode == 0 || mode == 2) {
        // Turbo mode is off: program the current setting again.
        const DWORD word = TurboRestoreWord(AppState.speedMode);
        if (word != CLOCK_CCCR_NONE) {
            SetCpuSpeed(word);
        }
    }

    if (AppState.dialogVisible != 0 && AppState.pendingNotifications == 0) {
        AppState.monitorRunning = 0;
        return FALSE;
    }

    RetireSpeedNotification();
    return TRUE;
}

DWORD WINAPI ClockMonitor(LPVOID parameter) {
    (void)parameter;
    for (;;) {
        EnterCriticalSection(&ClockLock);
        const BOOL keepRunning = MonitorPass();
        LeaveCriticalSection(&ClockLock);
        if (!keepRunning) {
            ExitThread(0);
        }
        Sleep(MONITOR_PERIOD_MS);
    }
}

void StartClockMonitor(void) {
    DWORD threadId;
    HANDLE thread = CreateThread(NULL, 0, ClockMonitor, NULL, 0, &threadId);
    if (thread != NULL) {
        // The thread runs on its own; nothing waits for it.
        CloseHandle(thread);
        return;
    }
    EnterCriticalSection(&ClockLock);
    AppState.monitorRunning = 0;
    LeaveCriticalSection(&ClockLock);
}
