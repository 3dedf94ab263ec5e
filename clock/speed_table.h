// The three clock settings the program knows, and the rules that move
// between them.
#ifndef CORVANE_CLOCK_SPEED_TABLE_H
#define CORVANE_CLOCK_SPEED_TABLE_H

#include "platform/platform.h"

// CCCR words: L (bits 4..0) = 1 for a 99.53 MHz memory clock, M (bits 6..5)
// the run-mode multiplier, N (bits 9..7) twice the turbo multiplier.
#define CLOCK_CCCR_100 0x121UL  // L 1, M 1, N 2:  99.53 MHz
#define CLOCK_CCCR_400 0x241UL  // L 1, M 2, N 4: 398.13 MHz
#define CLOCK_CCCR_498 0x2C1UL  // L 1, M 2, N 5: 497.66 MHz

// SpeedMode values, the index of a setting.
#define SPEED_MODE_100 0
#define SPEED_MODE_400 1
#define SPEED_MODE_498 2
#define SPEED_MODE_COUNT 3
#define SPEED_MODE_NONE (-1)  // "no move" from NextSpeedMode

// "No word" from TurboRestoreWord; never a valid CCCR word here.
#define CLOCK_CCCR_NONE 0UL

struct SpeedSetting {
    DWORD cccrWord;
    LPCWSTR label;
    UINT trayIconId;
    LPCWSTR bubbleText;
};

extern const SpeedSetting SPEED_SETTINGS[SPEED_MODE_COUNT];

// TRUE for 0, 1 and 2.
BOOL IsSpeedMode(LONG mode);

// The setting one tap on the tray icon moves to, or SPEED_MODE_NONE.
LONG NextSpeedMode(LONG current, LONG allow100);

// The bubble text announcing a CCCR word: the setting's own text for the
// three known words, the "Frequency not recognized" text for any other.
LPCWSTR BubbleTextFor(DWORD cccrWord);

// The word the monitor programs again when it finds turbo mode off:
// 0x241 for 400 MHz, 0x2C1 for 498 MHz, CLOCK_CCCR_NONE otherwise.
DWORD TurboRestoreWord(LONG speedMode);

// The turbo-mode core clock a CCCR word gives, in kHz (3.6864 MHz crystal x
// L factor x M x N / 2), or 0 when L or M is a reserved code.
DWORD CoreClockKhz(DWORD cccrWord);

#endif
