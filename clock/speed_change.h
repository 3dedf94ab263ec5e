// The one operation that changes the clock.
#ifndef CORVANE_CLOCK_SPEED_CHANGE_H
#define CORVANE_CLOCK_SPEED_CHANGE_H

#include "platform/platform.h"

// Records the word as the target, programs it and, when that worked and
// bubbles are on, announces it. Returns WriteClockConfig's result.
// The caller holds ClockLock.
int SetCpuSpeed(DWORD cccrWord);

#endif
