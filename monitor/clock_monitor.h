// The clock monitor: a background thread that keeps the requested setting
// in force, retires bubbles, and ends once the dialog is back.
#ifndef CORVANE_MONITOR_CLOCK_MONITOR_H
#define CORVANE_MONITOR_CLOCK_MONITOR_H

#include "platform/platform.h"

#define MONITOR_PERIOD_MS 6000

// The thread routine. The parameter is not used; the routine never returns.
DWORD WINAPI ClockMonitor(LPVOID parameter);

// Starts a monitor thread. The caller has set AppState.monitorRunning; it is
// cleared again if the thread cannot be created.
void StartClockMonitor(void);

#endif
