#include "clock/speed_change.h"

#include "app/app_state.h"
#include "clock/clock_registers.h"
#include "clock/speed_table.h"
#include "shell/notification.h"

static const WCHAR PROGRAM_TITLE[] = TEXT("Corvane");

int SetCpuSpeed(DWORD cccrWord) {
    // Recorded first and unconditionally: if the write fails, the monitor
    // keeps asking for this word.
    AppState.targetClockConfig = cccrWord;
    const int result = WriteClockConfig(cccrWord);
    // A bubble only for a change that happened: a failed mapping must not
    // announce a speed the clock does not run (and the monitor would repeat
    // the false bubble every period).
    if (result != CLOCK_WRITE_FAILED) {
        ShowSpeedNotification(PROGRAM_TITLE, BubbleTextFor(cccrWord));
    }
    return result;
}
