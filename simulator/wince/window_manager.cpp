#include "simulator/wince/window_manager.h"

#include <algorithm>

namespace sim {

std::string narrow(const std::u16string& s) {
    // UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

const char* to_string(ControlKind kind) {
    switch (kind) {
        case ControlKind::Dialog:
            return "dialog";
        case ControlKind::PushButton:
            return "push-button";
        case ControlKind::CheckBox:
            return "check-box";
        case ControlKind::AutoCheckBox:
            return "auto-check-box";
        case ControlKind::GroupBox:
            return "group-box";
        case ControlKind::Text:
            return "text";
        case ControlKind::Icon:
            return "icon";
        case ControlKind::Other:
            return "other";
    }
    return "other";
}

bool Window::shown() const {
    for (const Window* w = this; w != nullptr; w = w->parent) {
        if (!w->visible) {
            return false;
        }
    }
    return true;
}

namespace {

constexpr std::uint32_t kButtonTypeMask = 0xF;
constexpr std::uint32_t kStaticTypeMask = 0x1F;

void classify(Window& w, const DialogItem& item) {
    if (item.window_class == ResId::number(kButtonClass)) {
        switch (item.style & kButtonTypeMask) {
            case 0x0:
            case 0x1:
                w.kind = ControlKind::PushButton;
                break;
            case 0x2:
                w.kind = ControlKind::CheckBox;
                break;
            case 0x3:
                w.kind = ControlKind::AutoCheckBox;
                break;
            case 0x7:
                w.kind = ControlKind::GroupBox;
                break;
            default:
                w.kind = ControlKind::Other;
        }
    } else if (item.window_class == ResId::number(kStaticClass)) {
        switch (item.style & kStaticTypeMask) {
            case 0x0:
                w.kind = ControlKind::Text;
                w.alignment = 'l';
                break;
            case 0x1:
                w.kind = ControlKind::Text;
                w.alignment = 'c';
                break;
            case 0x2:
                w.kind = ControlKind::Text;
                w.alignment = 'r';
                break;
            case 0x3:
                w.kind = ControlKind::Icon;
                break;
            default:
                w.kind = ControlKind::Other;
        }
    }
}

}  // namespace

Window& WindowManager::create_dialog(const DialogTemplate& t, const SimThread* thread,
                                     DLGPROC proc) {
    auto make = [&] {
        auto w = std::make_unique<Window>();
        w->handle = next_handle_;
        next_handle_ += 0x10;
        Window& ref = *w;
        windows_[ref.handle] = std::move(w);
        return &ref;
    };
    Window* dialog = make();
    dialog->kind = ControlKind::Dialog;
    dialog->window_class = t.window_class.value_or(ResId::text(u"#32770"));
    dialog->style = t.style;
    dialog->ex_style = t.ex_style;
    dialog->rect = Rect{dlu_to_px_x(t.x), kNavBarHeight + dlu_to_px_y(t.y), dlu_to_px_x(t.cx),
                        dlu_to_px_y(t.cy)};
    dialog->text = t.title;
    dialog->thread = thread;
    dialog->proc = proc;
    dialog->visible = false;  // a modal dialog shows after WM_INITDIALOG
    for (const DialogItem& item : t.items) {
        Window* c = make();
        c->window_class = item.window_class;
        c->style = item.style;
        c->ex_style = item.ex_style;
        c->id = static_cast<std::int16_t>(item.id);
        c->rect = Rect{dlu_to_px_x(item.x), dlu_to_px_y(item.y), dlu_to_px_x(item.cx),
                       dlu_to_px_y(item.cy)};
        if (item.title.ordinal) {
            c->icon_resource = *item.title.ordinal;
        } else {
            c->text = item.title.name;
        }
        c->parent = dialog;
        c->visible = (item.style & WS_VISIBLE) != 0;
        c->thread = thread;
        classify(*c, item);
        dialog->children.push_back(c);
    }
    return *dialog;
}

void WindowManager::destroy(Window& window) {
    for (Window* c : std::vector<Window*>(window.children)) {
        destroy(*c);
    }
    if (window.parent != nullptr) {
        auto& siblings = window.parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), &window), siblings.end());
    }
    if (foreground_ == &window) {
        foreground_ = nullptr;
    }
    windows_.erase(window.handle);
}

Window* WindowManager::find(HWND hwnd) {
    auto it = windows_.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == windows_.end() ? nullptr : it->second.get();
}

const Window* WindowManager::find(HWND hwnd) const {
    auto it = windows_.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == windows_.end() ? nullptr : it->second.get();
}

Window* WindowManager::child(Window& dialog, int id) {
    for (Window* c : dialog.children) {
        if (c->id == id) {
            return c;
        }
    }
    return nullptr;
}

std::vector<Window*> WindowManager::top_level() {
    std::vector<Window*> out;
    for (auto& [handle, w] : windows_) {
        if (w->parent == nullptr) {
            out.push_back(w.get());
        }
    }
    return out;
}

bool WindowManager::post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    if (w == nullptr || w->thread == nullptr || w->thread->finished()) {
        return false;
    }
    queues_[w->thread].push_back(Message{hwnd, message, wparam, lparam});
    return true;
}

}  // namespace sim
