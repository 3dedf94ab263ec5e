#include "clock/speed_table.h"

#include "resources/resource.h"

const SpeedSetting SPEED_SETTINGS[SPEED_MODE_COUNT] = {
    {CLOCK_CCCR_100, TEXT("100 MHz"), IDI_TRAY_100,
     TEXT("<HTML><BODY><B><CENTER>Speed set to 100 MHz</CENTER></B></BODY></HTML>")},
    {CLOCK_CCCR_400, TEXT("400 MHz"), IDI_TRAY_400,
     TEXT("<HTML><BODY><B><CENTER>Speed set to 400 MHz</CENTER></B></BODY></HTML>")},
    {CLOCK_CCCR_498, TEXT("498 MHz"), IDI_TRAY_498,
     TEXT("<HTML><BODY><B><CENTER>Speed set to 498 MHz</CENTER></B></BODY></HTML>")},
};

static const WCHAR UNRECOGNIZED_TEXT[] = TEXT(
    "<HTML><BODY>Frequency not recognized. Double tap icon to bring back Corvane "
    "dialog.</BODY></HTML>");

BOOL IsSpeedMode(LONG mode) {
    return mode >= 0 && mode < SPEED_MODE_COUNT;
}

LONG NextSpeedMode(LONG current, LONG allow100) {
    switch (current) {
        case SPEED_MODE_100:
            return allow100 ? SPEED_MODE_400 : SPEED_MODE_NONE;
        case SPEED_MODE_400:
            return SPEED_MODE_498;
        case SPEED_MODE_498:
            return allow100 ? SPEED_MODE_100 : SPEED_MODE_400;
        default:
            return SPEED_MODE_NONE;
    }
}

LPCWSTR BubbleTextFor(DWORD cccrWord) {
    for (int mode = 0; mode < SPEED_MODE_COUNT; ++mode) {
        if (SPEED_SETTINGS[mode].cccrWord == cccrWord) {
            return SPEED_SETTINGS[mode].bubbleText;
        }
    }
    return UNRECOGNIZED_TEXT;
}

DWORD TurboRestoreWord(LONG speedMode) {
    if (speedMode == SPEED_MODE_400 || speedMode == SPEED_MODE_498) {
        return SPEED_SETTINGS[speedMode].cccrWord;
    }
    return CLOCK_CCCR_NONE;
}

DWORD CoreClockKhz(DWORD cccrWord) {
    // Memory-clock factors for L codes 1..5; run-mode factors for M codes 1..3.
    static const DWORD L_FACTORS[6] = {0, 27, 32, 36, 40, 45};
    static const DWORD M_FACTORS[4] = {0, 1, 2, 4};
    const DWORD l = cccrWord & 0x1F;
    const DWORD m = (cccrWord >> 5) & 0x3;
    const DWORD n = (cccrWord >> 7) & 0x7;
    if (l == 0 || l > 5 || m == 0) {
        return 0;
    }
    // 3686.4 kHz x L x M x N / 2, computed in tenths of a kHz to stay exact.
    const DWORD tenthsKhz = 36864UL * L_FACTORS[l] * M_FACTORS[m] * n / 2;
    return (tenthsKhz + 5) / 10;
}
