// Speed-change bubbles, posted when the option is on and retired by the
// clock monitor one at a time.
#ifndef CORVANE_SHELL_NOTIFICATION_H
#define CORVANE_SHELL_NOTIFICATION_H

#include "platform/platform.h"

#define NOTIFICATION_ID 4711
#define NOTIFICATION_DURATION_S 4

// The class identifier under which all the program's bubbles are posted.
extern const CLSID NOTIFICATION_CLASS;

// Posts a bubble and counts it, if bubbles are on; both strings must live
// for the life of the program.
void ShowSpeedNotification(LPCWSTR title, LPCWSTR html);

// Removes one pending bubble and uncounts it. Does nothing, and returns
// FALSE, when none is pending.
BOOL RetireSpeedNotification(void);

#endif
