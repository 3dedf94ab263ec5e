// The shell services: full-screen dialogs, tray icons and bubbles.
#include <string>

#include "simulator/platform_call.h"
#include "simulator/shell/shellapi.h"
#include "simulator/view.h"

using sim::json;
using sim::PlatformCall;

namespace {

constexpr std::size_t kMaxBubbleText = 4096;

// The record sizes the shell knows; it refuses a record with any other size
// in its size field, as the device's shell does. Built for ARM (the ARM
// lane) the program's records have the device's layout, 32-bit pointers,
// and the shell knows the device's sizes only. On a 64-bit host the
// records are the host's, and so are the sizes.
#if defined(__arm__)
constexpr DWORD kTrayRecordSize = 152;
constexpr DWORD kBubbleRecordSize = 56;
#else
constexpr DWORD kTrayRecordSize = sizeof(NOTIFYICONDATA);
constexpr DWORD kBubbleRecordSize = sizeof(SHNOTIFICATIONDATA);
#endif

// A NUL-terminated wide string from the program, at most `max` characters.
std::u16string read_wide(LPCWSTR text, std::size_t max) {
    std::u16string out;
    for (std::size_t i = 0; text != nullptr && i < max && text[i] != 0; ++i) {
        out.push_back(text[i]);
    }
    return out;
}

using sim::view::hwnd_name;

}  // namespace

BOOL SHInitDialog(PSHINITDLGINFO info) {
    PlatformCall call("SHInitDialog");
    sim::Device& device = call.device();
    sim::Window* dialog = info == nullptr ? nullptr : device.windows().find(info->hDlg);
    if (info == nullptr || (info->dwMask & SHIDIM_FLAGS) == 0 || dialog == nullptr ||
        dialog->kind != sim::ControlKind::Dialog) {
        SIM_LOG_CALL(call, {info == nullptr ? "NULL" : "info"}, FALSE, "no dialog to initialise");
        return FALSE;
    }
    if (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN) {
        // The whole screen below the navigation bar; the controls keep their
        // places relative to the dialog.
        dialog->rect = sim::Rect{0, sim::kNavBarHeight, sim::kScreenWidth,
                                 sim::kScreenHeight - sim::kNavBarHeight};
    }
    if (info->dwFlags & SHIDIF_DONEBUTTON) {
        dialog->done_button = true;
    }
    const bool lowers_panel = (info->dwFlags & SHIDIF_SIPDOWN) && device.shell().input_panel_up;
    if (lowers_panel) {
        device.shell().input_panel_up = false;
    }
    SIM_LOG_CALL(call,
                 json::array({json{{"dwMask", info->dwMask},
                                   {"hDlg", hwnd_name(info->hDlg)},
                                   {"dwFlags", info->dwFlags}}}),
                 TRUE);
    if (lowers_panel) {
        device.emit({{"screen", "input-panel-down"}});
    }
    return TRUE;
}

BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data) {
    PlatformCall call("Shell_NotifyIcon");
    sim::Device& device = call.device();
    sim::ShellState& shell = device.shell();
    const char* verb = message == NIM_ADD      ? "NIM_ADD"
                       : message == NIM_MODIFY ? "NIM_MODIFY"
                       : message == NIM_DELETE ? "NIM_DELETE"
                                               : "?";
    if (data == nullptr || data->cbSize != kTrayRecordSize) {
        SIM_LOG_CALL(call,
                     {verb, data == nullptr ? json("NULL") : json({{"cbSize", data->cbSize}})},
                     FALSE, "record size must be " + std::to_string(kTrayRecordSize));
        return FALSE;
    }
    // The shell reads the tip to the end of its 64 characters; a tip with no
    // terminator within them is refused rather than read past the record.
    constexpr std::size_t kTipRoom = sizeof(data->szTip) / sizeof(data->szTip[0]);
    if ((message == NIM_ADD || message == NIM_MODIFY) && (data->uFlags & NIF_TIP) &&
        std::char_traits<WCHAR>::find(data->szTip, kTipRoom, 0) == nullptr) {
        SIM_LOG_CALL(
            call, {verb, json({{"uFlags", data->uFlags}})}, FALSE,
            "tip has no terminator within its " + std::to_string(kTipRoom) + " characters");
        return FALSE;
    }
    sim::TrayIcon incoming{data->hWnd,   data->uID,
                           data->uFlags, data->uCallbackMessage,
                           data->hIcon,  read_wide(data->szTip, kTipRoom)};
    sim::TrayIcon* existing = shell.find_icon(data->hWnd, data->uID);
    BOOL ok = FALSE;
    std::string note;
    if (message == NIM_ADD) {
        if (existing != nullptr) {
            note = "an icon with this window and id exists";
        } else {
            if (!(incoming.flags & NIF_ICON)) {
                incoming.icon = nullptr;
            }
            if (!(incoming.flags & NIF_TIP)) {
                incoming.tip.clear();
            }
            if (!(incoming.flags & NIF_MESSAGE)) {
                incoming.callback_message = 0;
            }
            shell.tray.push_back(incoming);
            ok = TRUE;
        }
    } else if (message == NIM_MODIFY || message == NIM_DELETE) {
        if (existing == nullptr) {
            note = "no icon with this window and id";
        } else if (message == NIM_MODIFY) {
            if (incoming.flags & NIF_ICON) {
                existing->icon = incoming.icon;
            }
            if (incoming.flags & NIF_TIP) {
                existing->tip = incoming.tip;
            }
            if (incoming.flags & NIF_MESSAGE) {
                existing->callback_message = incoming.callback_message;
            }
            ok = TRUE;
        } else {
            shell.tray.erase(shell.tray.begin() + (existing - shell.tray.data()));
            ok = TRUE;
        }
    } else {
        note = "unknown message";
    }
    SIM_LOG_CALL(call, {verb, sim::view::tray_icon(device, incoming)}, ok, note);
    if (ok && device.trace().enabled()) {
        device.emit({{"screen", "tray"}, {"icons", sim::view::tray(device)}});
    }
    return ok;
}

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data) {
    PlatformCall call("SHNotificationAdd");
    sim::Device& device = call.device();
    sim::ShellState& shell = device.shell();
    if (data == nullptr || data->cbStruct != kBubbleRecordSize) {
        SIM_LOG_CALL(call, {data == nullptr ? json("NULL") : json({{"cbStruct", data->cbStruct}})},
                     E_INVALIDARG, "record size must be " + std::to_string(kBubbleRecordSize));
        return E_INVALIDARG;
    }
    sim::Bubble bubble;
    bubble.clsid = data->clsid;
    bubble.id = data->dwID;
    bubble.title = read_wide(data->pszTitle, kMaxBubbleText);
    bubble.html = read_wide(data->pszHTML, kMaxBubbleText);
    bubble.icon = data->hicon;
    bubble.duration_s = data->csDuration;
    bubble.priority = static_cast<DWORD>(data->npPriority);
    bubble.flags = data->grfFlags;
    bubble.sink = data->hwndSink;
    bubble.lparam = data->lParam;
    bubble.posted_at = device.now();
    // SHNF_STRAIGHTTOTRAY: no bubble pops up; the notification waits in the
    // tray, collapsed. SHNF_CRITICAL only changes how the bubble is drawn
    // (recorded and shown); SHNF_FORCEMESSAGE and SHNF_DISPLAYON concern
    // the user's settings and the display's power, which this device does
    // not model; other bits are ignored.
    bubble.open = data->npPriority == SHNP_INFORM && !(data->grfFlags & SHNF_STRAIGHTTOTRAY);
    bubble.serial = shell.next_bubble_serial++;

    ++shell.bubbles_accepted;
    // A bubble with the same class and id is replaced by the new one.
    std::string note;
    if (sim::Bubble* existing = shell.find_bubble(bubble.clsid, bubble.id)) {
        *existing = bubble;
        note = "replaced the bubble with this id";
    } else {
        shell.bubbles.push_back(bubble);
    }
    if (bubble.open) {
        // Open for its duration, then collapsed (kept until removed).
        const std::uint64_t serial = bubble.serial;
        device.kernel().add_timer(
            device.now() + static_cast<sim::Millis>(bubble.duration_s) * 1000, [&device, serial] {
                if (sim::Bubble* b = device.shell().find_bubble_by_serial(serial)) {
                    b->open = false;
                    if (device.trace().enabled()) {
                        device.emit(
                            {{"screen", "bubble-collapsed"}, {"bubble", sim::view::bubble(*b)}});
                    }
                }
            });
    }
    // The rest only traces the call (and its text is costly to build).
    if (!call.tracing()) {
        return ERROR_SUCCESS;
    }
    json args = {{"cbStruct", data->cbStruct},
                 {"dwID", data->dwID},
                 {"npPriority", sim::hex(static_cast<DWORD>(data->npPriority))},
                 {"csDuration", data->csDuration},
                 {"clsid", sim::clsid_string(data->clsid)},
                 {"pszTitle", sim::narrow(bubble.title)},
                 {"pszHTML", sim::narrow(bubble.html)}};
    // The fields the shell reads beyond these are shown when the program
    // set them.
    if (data->grfFlags != 0) {
        args["grfFlags"] = sim::hex(data->grfFlags);
    }
    if (data->hwndSink != nullptr) {
        args["hwndSink"] = hwnd_name(data->hwndSink);
    }
    if (data->lParam != 0) {
        args["lParam"] = data->lParam;
    }
    SIM_LOG_CALL(call, json::array({args}), ERROR_SUCCESS, note);
    device.emit({{"screen", "bubble-shown"}, {"bubble", sim::view::bubble(bubble)}});
    return ERROR_SUCCESS;
}

LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id) {
    PlatformCall call("SHNotificationRemove");
    sim::ShellState& shell = call.device().shell();
    ++shell.bubble_remove_calls;
    sim::Bubble* bubble = clsid == nullptr ? nullptr : shell.find_bubble(*clsid, id);
    LRESULT result = E_INVALIDARG;
    std::string note = "no such bubble";
    if (bubble != nullptr) {
        if (call.tracing()) {
            call.device().emit(
                {{"screen", "bubble-removed"}, {"bubble", sim::view::bubble(*bubble)}});
        }
        shell.bubbles.erase(shell.bubbles.begin() + (bubble - shell.bubbles.data()));
        result = ERROR_SUCCESS;
        note.clear();
    }
    SIM_LOG_CALL(call, {clsid == nullptr ? "NULL" : sim::clsid_string(*clsid), id}, result, note);
    return result;
}
