// The shell services: full-screen dialogs, tray icons and bubbles.
#include <optional>
#include <string>

#include "simulator/api/platform_call.h"
#include "simulator/device/view.h"
#include "simulator/shell/shellapi.h"

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
        device.emit(sim::InputPanelEvent{});
    }
    return TRUE;
}

namespace {

const char* tray_verb(DWORD message) {
    switch (message) {
        case NIM_ADD:
            return "NIM_ADD";
        case NIM_MODIFY:
            return "NIM_MODIFY";
        case NIM_DELETE:
            return "NIM_DELETE";
        default:
            return "?";
    }
}

// The characters the tip field holds.
constexpr std::size_t kTipRoom = sizeof(NOTIFYICONDATA::szTip) / sizeof(WCHAR);

// Why the shell refuses a record without acting on it: what the trace shows
// of the arguments, and the note.
struct Refusal {
    json args;
    std::string note;
};

std::optional<Refusal> refuse_tray_record(DWORD message, const NOTIFYICONDATA* data) {
    const char* verb = tray_verb(message);
    if (data == nullptr || data->cbSize != kTrayRecordSize) {
        return Refusal{{verb, data == nullptr ? json("NULL") : json({{"cbSize", data->cbSize}})},
                       "record size must be " + std::to_string(kTrayRecordSize)};
    }
    // The shell reads the tip to the end of its 64 characters; a tip with no
    // terminator within them is refused rather than read past the record.
    if ((message == NIM_ADD || message == NIM_MODIFY) && (data->uFlags & NIF_TIP) &&
        std::char_traits<WCHAR>::find(data->szTip, kTipRoom, 0) == nullptr) {
        return Refusal{
            {verb, json({{"uFlags", data->uFlags}})},
            "tip has no terminator within its " + std::to_string(kTipRoom) + " characters"};
    }
    return std::nullopt;
}

// A new icon keeps only the fields its flags say are set.
void keep_flagged_fields(sim::TrayIcon& icon) {
    if (!(icon.flags & NIF_ICON)) {
        icon.icon = nullptr;
    }
    if (!(icon.flags & NIF_TIP)) {
        icon.tip.clear();
    }
    if (!(icon.flags & NIF_MESSAGE)) {
        icon.callback_message = 0;
    }
}

void modify_icon(sim::TrayIcon& icon, const sim::TrayIcon& incoming) {
    if (incoming.flags & NIF_ICON) {
        icon.icon = incoming.icon;
    }
    if (incoming.flags & NIF_TIP) {
        icon.tip = incoming.tip;
    }
    if (incoming.flags & NIF_MESSAGE) {
        icon.callback_message = incoming.callback_message;
    }
}

// Adds, modifies or deletes the icon the record names; a new icon is left
// in `incoming` as added. Returns why the change could not be made, or "".
std::string change_tray(sim::ShellState& shell, DWORD message, sim::TrayIcon& incoming) {
    sim::TrayIcon* existing = shell.find_icon(incoming.owner, incoming.id);
    switch (message) {
        case NIM_ADD:
            if (existing != nullptr) {
                return "an icon with this window and id exists";
            }
            keep_flagged_fields(incoming);
            shell.tray.push_back(incoming);
            return {};
        case NIM_MODIFY:
        case NIM_DELETE:
            if (existing == nullptr) {
                return "no icon with this window and id";
            }
            if (message == NIM_MODIFY) {
                modify_icon(*existing, incoming);
            } else {
                shell.tray.erase(shell.tray.begin() + (existing - shell.tray.data()));
            }
            return {};
        default:
            return "unknown message";
    }
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data) {
    PlatformCall call("Shell_NotifyIcon");
    sim::Device& device = call.device();
    if (auto refused = refuse_tray_record(message, data)) {
        SIM_LOG_CALL(call, std::move(refused->args), FALSE, std::move(refused->note));
        return FALSE;
    }
    sim::TrayIcon incoming{data->hWnd,   data->uID,
                           data->uFlags, data->uCallbackMessage,
                           data->hIcon,  read_wide(data->szTip, kTipRoom)};
    const std::string failed = change_tray(device.shell(), message, incoming);
    const BOOL ok = failed.empty() ? TRUE : FALSE;
    if (call.tracing()) {
        call.log({tray_verb(message), sim::view::tray_icon(sim::tray_icon_view(device, incoming))},
                 ok, failed);
        if (ok) {
            device.emit(sim::TrayEvent{sim::tray_view(device)});
        }
    }
    return ok;
}

namespace {

// The notification as the shell takes it from the record.
sim::Bubble read_bubble(const SHNOTIFICATIONDATA& data, sim::Millis now) {
    sim::Bubble bubble;
    bubble.clsid = data.clsid;
    bubble.id = data.dwID;
    bubble.title = read_wide(data.pszTitle, kMaxBubbleText);
    bubble.html = read_wide(data.pszHTML, kMaxBubbleText);
    bubble.icon = data.hicon;
    bubble.duration_s = data.csDuration;
    bubble.priority = static_cast<DWORD>(data.npPriority);
    bubble.flags = data.grfFlags;
    bubble.sink = data.hwndSink;
    bubble.lparam = data.lParam;
    bubble.posted_at = now;
    // SHNF_STRAIGHTTOTRAY: no bubble pops up; the notification waits in the
    // tray, collapsed. SHNF_CRITICAL only changes how the bubble is drawn
    // (recorded and shown); SHNF_FORCEMESSAGE and SHNF_DISPLAYON concern
    // the user's settings and the display's power, which this device does
    // not model; other bits are ignored.
    bubble.open = data.npPriority == SHNP_INFORM && !(data.grfFlags & SHNF_STRAIGHTTOTRAY);
    return bubble;
}

// An open bubble collapses after its duration (it is kept until removed).
void arm_collapse(sim::Device& device, const sim::Bubble& bubble) {
    const std::uint64_t serial = bubble.serial;
    const sim::Millis at = device.now() + static_cast<sim::Millis>(bubble.duration_s) * 1000;
    device.kernel().add_timer(at, [&device, serial] {
        if (sim::Bubble* b = device.shell().find_bubble_by_serial(serial)) {
            b->open = false;
            if (device.trace().enabled()) {
                device.emit(
                    sim::BubbleEvent{sim::BubbleEvent::Change::Collapsed, sim::bubble_view(*b)});
            }
        }
    });
}

// Puts the bubble on screen, replacing one with the same class and id.
// Returns the trace's note.
std::string post_bubble(sim::Device& device, sim::Bubble& bubble) {
    sim::ShellState& shell = device.shell();
    bubble.serial = shell.next_bubble_serial++;
    ++shell.bubbles_accepted;
    std::string note;
    if (sim::Bubble* existing = shell.find_bubble(bubble.clsid, bubble.id)) {
        *existing = bubble;
        note = "replaced the bubble with this id";
    } else {
        shell.bubbles.push_back(bubble);
    }
    if (bubble.open) {
        arm_collapse(device, bubble);
    }
    return note;
}

// The record as the trace shows it: the fields the shell reads beyond the
// first ones only when the program set them.
json bubble_args(const SHNOTIFICATIONDATA& data, const sim::Bubble& bubble) {
    json args = {{"cbStruct", data.cbStruct},
                 {"dwID", data.dwID},
                 {"npPriority", sim::hex(static_cast<DWORD>(data.npPriority))},
                 {"csDuration", data.csDuration},
                 {"clsid", sim::clsid_string(data.clsid)},
                 {"pszTitle", sim::narrow(bubble.title)},
                 {"pszHTML", sim::narrow(bubble.html)}};
    if (data.grfFlags != 0) {
        args["grfFlags"] = sim::hex(data.grfFlags);
    }
    if (data.hwndSink != nullptr) {
        args["hwndSink"] = hwnd_name(data.hwndSink);
    }
    if (data.lParam != 0) {
        args["lParam"] = data.lParam;
    }
    return json::array({args});
}

}  // namespace

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data) {
    PlatformCall call("SHNotificationAdd");
    sim::Device& device = call.device();
    if (data == nullptr || data->cbStruct != kBubbleRecordSize) {
        SIM_LOG_CALL(call, {data == nullptr ? json("NULL") : json({{"cbStruct", data->cbStruct}})},
                     E_INVALIDARG, "record size must be " + std::to_string(kBubbleRecordSize));
        return E_INVALIDARG;
    }
    sim::Bubble bubble = read_bubble(*data, device.now());
    const std::string note = post_bubble(device, bubble);
    if (call.tracing()) {
        call.log(bubble_args(*data, bubble), ERROR_SUCCESS, note);
        device.emit(sim::BubbleEvent{sim::BubbleEvent::Change::Shown, sim::bubble_view(bubble)});
    }
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
                sim::BubbleEvent{sim::BubbleEvent::Change::Removed, sim::bubble_view(*bubble)});
        }
        shell.bubbles.erase(shell.bubbles.begin() + (bubble - shell.bubbles.data()));
        result = ERROR_SUCCESS;
        note.clear();
    }
    SIM_LOG_CALL(call, {clsid == nullptr ? "NULL" : sim::clsid_string(*clsid), id}, result, note);
    return result;
}
