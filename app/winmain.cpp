// Program entry and the shared state record.
#include "app/app_state.h"
#include "app/settings_dialog.h"
#include "clock/speed_table.h"
#include "resources/resource.h"

// Zero-filled at load time except for the three non-zero initial values:
// 400 MHz, dialog on screen, 400 MHz target.
AppStateRecord AppState = {NULL, SPEED_MODE_400, 1, CLOCK_CCCR_400, 0, 0, 0, 0, NULL};

CRITICAL_SECTION ClockLock;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand) {
    (void)previousInstance;
    (void)commandLine;
    (void)showCommand;

    AppState.instance = instance;
    InitializeCriticalSection(&ClockLock);
    InitCommonControls();

    // A missing template makes the dialog call fail; the program then ends
    // at once, as it does after Quit or a close request.
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(IDD_SETTINGS), RT_DIALOG);
    HGLOBAL dialogTemplate = LoadResource(instance, found);
    DialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)dialogTemplate, NULL, SettingsDialogProc, 0);
    // The clock lock is not deleted: a monitor may still be inside it; the
    // process ends right after this return, and every thread with it.
    return 0;
}
