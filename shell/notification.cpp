#include "shell/notification.h"

#include "app/app_state.h"
#include "resources/resource.h"

// {28060BDA-86BD-428C-BD69-E93846CFBCA4}, generated once for this program.
const CLSID NOTIFICATION_CLASS = {
    0x28060BDA, 0x86BD, 0x428C, {0xBD, 0x69, 0xE9, 0x38, 0x46, 0xCF, 0xBC, 0xA4}};

// The bubble's icon, loaded at the first bubble and kept for the life of the
// process: LoadImage without LR_SHARED makes a new icon at every call, and
// one per bubble would pile up over months in the tray. Bubbles are posted
// with ClockLock held, so the first load happens once.
static HICON BubbleIcon(void) {
    if (AppState.bubbleIcon == NULL) {
        AppState.bubbleIcon =
            (HICON)LoadImageW(AppState.instance, MAKEINTRESOURCE(IDI_APP), IMAGE_ICON, 16, 16, 0);
    }
    return AppState.bubbleIcon;
}

void ShowSpeedNotification(LPCWSTR title, LPCWSTR html) {
    if (AppState.showNotifications == 0) {
        return;
    }
    SHNOTIFICATIONDATA record;
    record.cbStruct = sizeof(record);
    record.dwID = NOTIFICATION_ID;
    record.npPriority = SHNP_INFORM;
    record.csDuration = NOTIFICATION_DURATION_S;
    record.hicon = BubbleIcon();
    record.grfFlags = 0;
    record.clsid = NOTIFICATION_CLASS;
    record.hwndSink = NULL;
    record.pszHTML = html;
    record.pszTitle = title;
    record.lParam = 0;
    SHNotificationAdd(&record);
    InterlockedIncrement(&AppState.pendingNotifications);
}

BOOL RetireSpeedNotification(void) {
    // Take one from the count only if it is above 0, so that the count never
    // goes negative and every removal stands for a bubble really posted. The
    // count changes only under ClockLock, which the caller holds, so the
    // plain read is current; the exchange keeps the change itself atomic.
    LONG pending = AppState.pendingNotifications;
    while (pending > 0) {
        const LONG seen =
            InterlockedCompareExchange(&AppState.pendingNotifications, pending - 1, pending);
        if (seen == pending) {
            SHNotificationRemove(&NOTIFICATION_CLASS, NOTIFICATION_ID);
            return TRUE;
        }
        pending = seen;
    }
    return FALSE;
}
