// The process-wide state record shared by the dialog, the tray commands, the
// speed change and the clock monitor.
#ifndef CORVANE_APP_APP_STATE_H
#define CORVANE_APP_APP_STATE_H

#include "platform/platform.h"

// Every field is one aligned 32-bit word. The UI thread and the monitor
// thread share them under these rules:
//  - ClockLock is held by whoever reads the clock and reprograms it (a
//    monitor pass, a tap, Quit, OK's correction), and by every write of
//    speedMode, dialogVisible, showNotifications and monitorRunning, so the
//    monitor never sees a half-made change and never undoes a tap.
//  - pendingNotifications changes only through Interlocked* calls, and
//    only ever between 0 and the number of bubbles really posted.
struct AppStateRecord {
    HINSTANCE instance;         // our module: dialog template and icons
    LONG speedMode;             // current speed setting, 0..2 (speed_table.h)
    LONG dialogVisible;         // 1 while the settings dialog is on screen
    DWORD targetClockConfig;    // CCCR word last requested through SetCpuSpeed
    LONG allow100;              // mirror of the "Allow 100 MHz" check box
    LONG showNotifications;     // mirror of the notification check box
    LONG pendingNotifications;  // bubbles posted and not yet removed
    LONG monitorRunning;        // 1 from the OK that starts a monitor until it ends
    HICON bubbleIcon;           // the bubbles' icon, loaded at the first bubble
};

extern AppStateRecord AppState;

// Serialises reading the clock and reprogramming it (see above). A plain
// static, initialised by WinMain at every start.
extern CRITICAL_SECTION ClockLock;

#endif
