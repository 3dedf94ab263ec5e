// Program entry and the shared state record.
#include "app/app_state.h"
#include "app/settings_dialog.h"
#include "clock/coprocessor.h"
#include "clock/processor.h"
#include "clock/speed_table.h"
#include "resources/resource.h"

// Zero-filled at load time except for the three non-zero initial values:
// 400 MHz, dialog on screen, 400 MHz target.
AppStateRecord AppState = {NULL, SPEED_MODE_400, 1, CLOCK_CCCR_400, 0, 0, 0, 0, NULL};

CRITICAL_SECTION ClockLock;

static const WCHAR PROGRAM_TITLE[] = TEXT("Corvane");
static const WCHAR NOT_PXA25X_BEFORE_ID[] =
    TEXT("Corvane sets the clock of the Intel PXA25x processors only (PXA250, PXA255, ")
        TEXT("PXA26x). This device's processor has the ID ");
static const WCHAR NOT_PXA25X_AFTER_ID[] =
    TEXT(", which is not one of them, so Corvane leaves its clock alone and ends.");

// Appends `text` to `out` at `*length`, within `room` characters and the
// terminator.
static void AppendText(WCHAR* out, size_t room, size_t* length, const WCHAR* text) {
    while (*text != 0 && *length + 1 < room) {
        out[(*length)++] = *text++;
    }
    out[*length] = 0;
}

// Appends `value` as "0x" and eight hexadecimal digits.
static void AppendHex(WCHAR* out, size_t room, size_t* length, DWORD value) {
    static const WCHAR DIGITS[] = TEXT("0123456789ABCDEF");
    WCHAR hex[11];
    hex[0] = TEXT('0');
    hex[1] = TEXT('x');
    for (int i = 0; i < 8; ++i) {
        hex[2 + i] = DIGITS[(value >> (28 - 4 * i)) & 0xF];
    }
    hex[10] = 0;
    AppendText(out, room, length, hex);
}

// Tells the user why nothing happens: the processor, by its main ID, is not
// one whose clock the program knows.
static void ShowUnknownProcessor(DWORD mainId) {
    WCHAR text[256];
    size_t length = 0;
    const size_t room = sizeof(text) / sizeof(text[0]);
    AppendText(text, room, &length, NOT_PXA25X_BEFORE_ID);
    AppendHex(text, room, &length, mainId);
    AppendText(text, room, &length, NOT_PXA25X_AFTER_ID);
    MessageBoxW(NULL, text, PROGRAM_TITLE, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand) {
    (void)previousInstance;
    (void)commandLine;
    (void)showCommand;

    AppState.instance = instance;
    InitializeCriticalSection(&ClockLock);
    InitCommonControls();

    // The clock settings are the PXA25x's: on any other processor the clock
    // register and coprocessor 14 are never touched. The program says why
    // and ends, as it has nothing else to offer there.
    const DWORD mainId = ReadMainId();
    if (!IsPxa25xFamily(mainId)) {
        ShowUnknownProcessor(mainId);
        return 0;
    }

    // A missing template makes the dialog call fail; the program then ends
    // at once, as it does after Quit or a close request.
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(IDD_SETTINGS), RT_DIALOG);
    HGLOBAL dialogTemplate = LoadResource(instance, found);
    DialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)dialogTemplate, NULL, SettingsDialogProc, 0);
    // The clock lock is not deleted: a monitor may still be inside it; the
    // process ends right after this return, and every thread with it.
    return 0;
}
