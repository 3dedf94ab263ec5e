// Dialogs, windows and the modal message loop.
#include "simulator/api/platform_call.h"
#include "simulator/device/view.h"
#include "simulator/wince/winapi.h"

using sim::json;
using sim::PlatformCall;

namespace {

using sim::view::hwnd_name;

// A screen change as the trace shows it (events.cpp).
void screen_event(sim::Device& device, const char* what, const sim::Window& w) {
    if (device.trace().enabled()) {
        device.emit(sim::WindowEvent{what, sim::window_view(w)});
    }
}

void trace_dispatch(PlatformCall& call, const sim::Message& m) {
    if (call.tracing()) {
        call.device().emit(sim::DispatchEvent{m});
    }
}

// Calls the dialog procedure (program code) without the device lock.
BOOL call_dialog_proc(PlatformCall& call, HWND hwnd, DLGPROC proc, UINT message, WPARAM wparam,
                      LPARAM lparam) {
    sim::Device& device = call.device();
    return call.outside(
        [&] { return device.call_dialog_proc(proc, hwnd, message, wparam, lparam); });
}

// A message for the dialog itself: its procedure first, then what the
// dialog manager does by default for what the procedure left alone.
void dialog_message(PlatformCall& call, HWND hwnd, const sim::Message& m) {
    sim::Window* dialog = call.device().windows().find(hwnd);
    if (dialog == nullptr) {
        return;
    }
    const BOOL handled = call_dialog_proc(call, hwnd, dialog->proc, m.message, m.wparam, m.lparam);
    if (!handled && m.message == WM_CLOSE) {
        // An unhandled close request is a press of the Cancel button.
        call.device().post_message(hwnd, WM_COMMAND, IDCANCEL, 0);
    }
}

// A message for a control: buttons act on the release of a click, and tell
// their dialog with WM_COMMAND / BN_CLICKED.
void control_message(PlatformCall& call, sim::Window& control, const sim::Message& m) {
    if (m.message != WM_LBUTTONUP || control.parent == nullptr) {
        return;
    }
    switch (control.kind) {
        case sim::ControlKind::AutoCheckBox:
            control.check = control.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            screen_event(call.device(), "check-box-toggled", control);
            break;
        case sim::ControlKind::PushButton:
        case sim::ControlKind::CheckBox:
            break;
        default:
            return;
    }
    const HWND dialog = control.parent->hwnd();
    const WPARAM wparam = static_cast<WPARAM>(static_cast<WORD>(control.id)) |
                          (static_cast<WPARAM>(BN_CLICKED) << 16);
    sim::Message command{dialog, WM_COMMAND, wparam, reinterpret_cast<LPARAM>(control.hwnd())};
    trace_dispatch(call, command);
    dialog_message(call, dialog, command);
}

// The calling thread's next message, waited for, as a modal loop takes it.
sim::Message next_message(PlatformCall& call) {
    sim::Device& device = call.device();
    auto& queue = device.windows().queue(sim::Kernel::current());
    while (queue.empty()) {
        device.kernel().block(call.lock(), &queue, std::nullopt);
    }
    const sim::Message m = queue.front();
    queue.pop_front();
    trace_dispatch(call, m);
    return m;
}

// A message for a window other than the loop's own: its controls act on
// it; anything else is dropped, as a window of another loop's.
void dispatch(PlatformCall& call, const sim::Message& m) {
    if (sim::Window* w = call.device().windows().find(m.hwnd)) {
        control_message(call, *w, m);
    }
}

}  // namespace

namespace {

// Makes the dialog from its template and initialises it: the procedure gets
// WM_INITDIALOG, and the dialog is shown unless it already ended. nullptr,
// traced, when the template or the procedure is missing or the template is
// corrupt.
HWND create_dialog(PlatformCall& call, const json& args, LPCDLGTEMPLATEW dialogTemplate,
                   DLGPROC dialogProc, LPARAM initParam) {
    sim::Device& device = call.device();
    const sim::ResourceEntry* entry = device.module().entry_at(dialogTemplate);
    if (dialogTemplate == nullptr || entry == nullptr || dialogProc == nullptr) {
        SIM_LOG_CALL(call, args, -1,
                     dialogProc == nullptr ? "no dialog procedure" : "no dialog template");
        return nullptr;
    }
    auto parsed = sim::parse_dialog_template(entry->data);
    if (!parsed.ok()) {
        SIM_LOG_CALL(call, args, -1, "corrupt dialog template: " + parsed.error().describe());
        return nullptr;
    }
    sim::Window& created =
        device.windows().create_dialog(parsed.value(), sim::Kernel::current(), dialogProc);
    const HWND hwnd = created.hwnd();
    SIM_LOG_CALL(call, args, "running", "dialog " + hwnd_name(hwnd) + " created");
    screen_event(device, "dialog-created", created);

    call_dialog_proc(call, hwnd, dialogProc, WM_INITDIALOG, 0, initParam);
    if (sim::Window* dialog = device.windows().find(hwnd); dialog != nullptr && !dialog->ending) {
        dialog->visible = true;
        device.windows().set_foreground(dialog);
        screen_event(device, "dialog-shown", *dialog);
    }
    return hwnd;
}

// The modal loop: the thread's messages, dispatched to the dialog and its
// controls, until the dialog ends.
void run_dialog(PlatformCall& call, HWND hwnd) {
    sim::Device& device = call.device();
    for (;;) {
        sim::Window* dialog = device.windows().find(hwnd);
        if (dialog == nullptr || dialog->ending) {
            return;
        }
        const sim::Message m = next_message(call);
        if (m.hwnd == hwnd) {
            dialog_message(call, hwnd, m);
        } else {
            dispatch(call, m);
        }
    }
}

// Destroys the ended dialog; its result, or -1 when it is gone already.
int destroy_dialog(PlatformCall& call, HWND hwnd) {
    sim::Device& device = call.device();
    sim::Window* dialog = device.windows().find(hwnd);
    if (dialog == nullptr) {
        return -1;
    }
    const int result = dialog->result;
    screen_event(device, "dialog-destroyed", *dialog);
    device.windows().destroy(*dialog);
    return result;
}

}  // namespace

int DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                            DLGPROC dialogProc, LPARAM initParam) {
    PlatformCall call("DialogBoxIndirectParamW");
    (void)instance;
    const json args = {"instance", dialogTemplate == nullptr ? "NULL" : "template",
                       owner == nullptr ? "NULL" : hwnd_name(owner), "dialog procedure", initParam};
    const HWND hwnd = create_dialog(call, args, dialogTemplate, dialogProc, initParam);
    if (hwnd == nullptr) {
        return -1;
    }
    run_dialog(call, hwnd);
    const int result = destroy_dialog(call, hwnd);
    SIM_LOG_CALL(call, args, result, "dialog ended");
    return result;
}

BOOL EndDialog(HWND dialog, int result) {
    PlatformCall call("EndDialog");
    sim::Window* w = call.device().windows().find(dialog);
    BOOL ok = FALSE;
    if (w != nullptr && w->kind == sim::ControlKind::Dialog) {
        w->ending = true;
        w->result = result;
        ok = TRUE;
    }
    SIM_LOG_CALL(call, {hwnd_name(dialog), result}, ok);
    return ok;
}

BOOL ShowWindow(HWND window, int command) {
    PlatformCall call("ShowWindow");
    sim::Device& device = call.device();
    sim::Window* w = device.windows().find(window);
    BOOL was_visible = FALSE;
    std::string note;
    if (w == nullptr) {
        note = "no such window";
    } else if (command != SW_HIDE && command != SW_SHOW) {
        note = "only SW_HIDE and SW_SHOW are supported";
        was_visible = w->visible ? TRUE : FALSE;
    } else {
        was_visible = w->visible ? TRUE : FALSE;
        w->visible = command == SW_SHOW;
        if (!w->visible && device.windows().foreground() == w) {
            device.windows().set_foreground(nullptr);
        }
        if (static_cast<bool>(was_visible) != w->visible) {
            screen_event(device, w->visible ? "window-shown" : "window-hidden", *w);
        }
    }
    SIM_LOG_CALL(call,
                 {hwnd_name(window), command == SW_HIDE   ? "SW_HIDE"
                                     : command == SW_SHOW ? "SW_SHOW"
                                                          : "other"},
                 was_visible, note);
    return was_visible;
}

BOOL SetForegroundWindow(HWND window) {
    PlatformCall call("SetForegroundWindow");
    sim::Window* w = call.device().windows().find(window);
    if (w != nullptr) {
        call.device().windows().set_foreground(w);
    }
    SIM_LOG_CALL(call, {hwnd_name(window)}, w != nullptr ? TRUE : FALSE);
    return w != nullptr ? TRUE : FALSE;
}

LRESULT SendDlgItemMessageW(HWND dialog, int itemId, UINT message, WPARAM wParam, LPARAM lParam) {
    PlatformCall call("SendDlgItemMessageW");
    sim::Device& device = call.device();
    sim::Window* d = device.windows().find(dialog);
    sim::Window* item = d == nullptr ? nullptr : device.windows().child(*d, itemId);
    LRESULT result = 0;
    std::string note;
    if (item == nullptr) {
        note = "no such control";
    } else if (message == BM_GETCHECK) {
        result = item->check;
    } else {
        note = "message not supported by the simulator";
    }
    const char* name = message == BM_GETCHECK ? "BM_GETCHECK" : nullptr;
    SIM_LOG_CALL(
        call,
        {hwnd_name(dialog), itemId, name != nullptr ? json(name) : json(message), wParam, lParam},
        result, note);
    return result;
}

void InitCommonControls(void) {
    PlatformCall call("InitCommonControls");
    SIM_LOG_CALL(call, json::array(), nullptr);
}

namespace {

// The box MessageBoxW shows: the caption in the navigation bar with its OK,
// the text filling the screen below, as Pocket PC's message boxes look.
sim::DialogTemplate message_box_template(LPCWSTR text, LPCWSTR caption) {
    sim::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    t.ex_style = WS_EX_CAPTIONOKBTN;
    t.cx = 160;
    t.cy = 80;
    t.title = caption == nullptr ? u"Error" : std::u16string(caption);
    sim::DialogItem item;
    item.style = WS_CHILD | WS_VISIBLE;
    item.x = 6;
    item.y = 6;
    item.cx = 148;
    item.cy = 68;
    item.id = 0xFFFF;
    item.window_class = sim::ResId::number(sim::kStaticClass);
    item.title = sim::ResId::text(text == nullptr ? u"" : std::u16string(text));
    t.items.push_back(std::move(item));
    return t;
}

}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    PlatformCall call("MessageBoxW");
    sim::Device& device = call.device();
    const json args = {owner == nullptr ? "NULL" : hwnd_name(owner),
                       text == nullptr ? "NULL" : sim::narrow(text),
                       caption == nullptr ? "NULL" : sim::narrow(caption), type};
    // The buttons other than OK are not modelled: refused rather than shown
    // with the wrong buttons.
    if ((type & MB_TYPEMASK) != MB_OK) {
        SIM_LOG_CALL(call, args, 0, "only MB_OK boxes are modelled");
        return 0;
    }
    sim::Window& box = device.windows().create_dialog(message_box_template(text, caption),
                                                      sim::Kernel::current(), nullptr);
    box.message_box = true;
    box.visible = true;
    device.windows().set_foreground(&box);
    const HWND hwnd = box.hwnd();
    SIM_LOG_CALL(call, args, "running", "message box " + hwnd_name(hwnd) + " shown");
    screen_event(device, "message-box-shown", box);

    // Its own modal loop on the calling thread: the thread's other messages
    // are dispatched as the dialog loop does, until OK (or a close request,
    // which a box with only OK answers as OK).
    for (bool done = false; !done;) {
        const sim::Message m = next_message(call);
        if (m.hwnd == hwnd) {
            done = m.message == WM_CLOSE || (m.message == WM_COMMAND && LOWORD(m.wparam) == IDOK);
        } else {
            dispatch(call, m);
        }
    }
    if (sim::Window* ended = device.windows().find(hwnd)) {
        screen_event(device, "message-box-closed", *ended);
        device.windows().destroy(*ended);
    }
    SIM_LOG_CALL(call, args, IDOK, "message box closed");
    return IDOK;
}
