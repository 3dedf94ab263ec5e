#include "shell/tray.h"

#include <string.h>

BOOL TrayIconUpdate(HWND hwnd, DWORD message, UINT iconId, HICON icon, LPCWSTR tip) {
    NOTIFYICONDATA record;
    record.cbSize = sizeof(record);
    record.hWnd = hwnd;
    record.uID = iconId;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = WM_TRAY_CALLBACK;
    record.hIcon = icon;
    // Copy the tip, cut to the record's room, always terminated.
    const size_t room = sizeof(record.szTip) / sizeof(record.szTip[0]);
    size_t length = 0;
    while (length + 1 < room && tip[length] != 0) {
        record.szTip[length] = tip[length];
        ++length;
    }
    memset(&record.szTip[length], 0, (room - length) * sizeof(record.szTip[0]));
    return Shell_NotifyIcon(message, &record);
}

BOOL TrayIconAdd(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip) {
    return TrayIconUpdate(hwnd, NIM_ADD, iconId, icon, tip);
}

BOOL TrayIconModify(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip) {
    return TrayIconUpdate(hwnd, NIM_MODIFY, iconId, icon, tip);
}

BOOL TrayIconDelete(HWND hwnd, UINT iconId, HICON icon, LPCWSTR tip) {
    return TrayIconUpdate(hwnd, NIM_DELETE, iconId, icon, tip);
}
