#include "simulator/device.h"

#include <cmath>
#include <cstdlib>

#include "simulator/hex.h"

namespace sim {

namespace {
Device* g_current = nullptr;
}  // namespace

const char* to_string(ProgramState state) {
    switch (state) {
        case ProgramState::NotStarted:
            return "not-started";
        case ProgramState::Running:
            return "running";
        case ProgramState::Ended:
            return "ended";
        case ProgramState::Terminated:
            return "terminated";
    }
    return "?";
}

const ResourceEntry* Module::find(const ResId& type, const ResId& name) const {
    for (const auto& e : entries_) {
        if (e.type == type && e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

const ResourceEntry* Module::entry_at(const void* data) const {
    for (const auto& e : entries_) {
        if (!e.data.empty() && e.data.data() == data) {
            return &e;
        }
    }
    return nullptr;
}

Device::Device(DeviceOptions options)
    : kernel_(options.kernel),
      module_(std::move(options.resources)),
      program_(std::move(options.program)) {
    if (g_current != nullptr) {
        fatal("only one device may exist at a time");
    }
    g_current = this;
    memory_.add_physical_page(
        PhysicalPage{kClocksManagerBase, Pxa25xClocks::kPageSize, clocks_.page_fd()});
}

Device::~Device() {
    kernel_.shutdown();
    g_current = nullptr;
}

Device& Device::current() {
    if (g_current == nullptr) {
        fatal("a platform function was called with no device");
    }
    return *g_current;
}

std::string Device::thread_name(const SimThread* thread) const {
    return thread == nullptr ? "driver" : thread->name();
}

void Device::emit(json event) {
    if (!trace_.enabled()) {
        return;
    }
    json full;
    full["t"] = now();
    if (const SimThread* self = Kernel::current()) {
        full["thread"] = self->name();
    }
    for (auto& [key, value] : event.items()) {
        full[key] = std::move(value);
    }
    trace_.emit(std::move(full));
}

bool Device::post_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* w = windows_.find(hwnd);
    if (w == nullptr || !windows_.post(hwnd, message, wparam, lparam)) {
        return false;
    }
    kernel_.notify(&windows_.queue(w->thread));
    return true;
}

std::optional<IconImage> find_icon_image(const Module& module, std::uint16_t resource, int width,
                                         int height, std::string& error) {
    const ResourceEntry* group =
        module.find(ResId::number(rt::kGroupIcon), ResId::number(resource));
    if (group == nullptr) {
        error = "no icon resource " + std::to_string(resource);
        return std::nullopt;
    }
    auto entries = parse_icon_group(group->data);
    if (!entries.ok()) {
        error =
            "corrupt icon group " + std::to_string(resource) + ": " + entries.error().describe();
        return std::nullopt;
    }
    // The image nearest the size asked for; the larger one on a tie.
    const IconDirEntry* best = nullptr;
    int best_distance = 0;
    for (const auto& e : entries.value()) {
        const int distance = std::abs(e.width - width) + std::abs(e.height - height);
        if (best == nullptr || distance < best_distance ||
            (distance == best_distance && e.width > best->width)) {
            best = &e;
            best_distance = distance;
        }
    }
    if (best == nullptr) {
        error = "icon group " + std::to_string(resource) + " holds no image";
        return std::nullopt;
    }
    const ResourceEntry* image_entry =
        module.find(ResId::number(rt::kIcon), ResId::number(best->icon_id));
    if (image_entry == nullptr) {
        error = "icon group " + std::to_string(resource) + " names a missing image";
        return std::nullopt;
    }
    auto image = parse_icon_image(image_entry->data);
    if (!image.ok()) {
        error =
            "corrupt icon image " + std::to_string(best->icon_id) + ": " + image.error().describe();
        return std::nullopt;
    }
    return std::move(image.value());
}

HICON Device::load_icon(std::uint16_t resource, int width, int height, std::string& error) {
    const auto key = std::make_tuple(resource, width, height);
    if (auto cached = icon_cache_.find(key); cached != icon_cache_.end()) {
        return reinterpret_cast<HICON>(cached->second);
    }
    auto image = find_icon_image(module_, resource, width, height, error);
    if (!image) {
        return nullptr;
    }
    const std::uintptr_t handle = next_icon_++;
    icons_[handle] = LoadedIcon{resource, std::move(*image)};
    icon_cache_[key] = handle;
    return reinterpret_cast<HICON>(handle);
}

const LoadedIcon* Device::icon(HICON handle) const {
    auto it = icons_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == icons_.end() ? nullptr : &it->second;
}

HANDLE Device::open_thread_handle(const SimThread& thread) {
    const std::uintptr_t handle = next_handle_;
    next_handle_ += 4;
    thread_handles_[handle] = &thread;
    return reinterpret_cast<HANDLE>(handle);
}

bool Device::close_handle(HANDLE handle) {
    return thread_handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
}

Device::SectionState* Device::create_section() {
    auto state = std::make_unique<SectionState>();
    state->serial = next_section_++;
    SectionState* raw = state.get();
    sections_[raw] = std::move(state);
    return raw;
}

Device::SectionState* Device::section(void* handle) {
    auto it = sections_.find(handle);
    return it == sections_.end() ? nullptr : it->second.get();
}

void Device::delete_section(void* handle) {
    sections_.erase(handle);
}

// --- Process -------------------------------------------------------------------

void Device::start() {
    Lock lock(kernel_.mutex());
    if (state_ != ProgramState::NotStarted) {
        return;
    }
    if (program_.load) {
        program_.load();
    }
    state_ = ProgramState::Running;
    emit({{"process", "start"}});
    ui_thread_ = &kernel_.spawn(
        "ui",
        [this] {
            const int code = program_.entry(Module::instance());
            return static_cast<std::uint32_t>(code);
        },
        [this](SimThread& t) { on_ui_thread_end(t); });
    kernel_.settle(lock);
}

void Device::on_ui_thread_end(SimThread& thread) {
    // The primary thread's return is the process's exit: every other thread
    // ends at its next platform call. What the program left on the screen
    // (a tray icon, a bubble) and the clock stay as they are.
    if (thread.exit_code()) {
        state_ = ProgramState::Ended;
        exit_code_ = static_cast<int>(*thread.exit_code());
    } else {
        state_ = ProgramState::Terminated;
    }
    for (Window* w : windows_.top_level()) {
        if (w->thread == &thread) {
            windows_.destroy(*w);
        }
    }
    windows_.drop_queue(&thread);
    kernel_.kill_all_except(&thread);
    // The process's address space and handles go with it, whatever its
    // threads were doing.
    const std::size_t ranges = memory_.release_all();
    const std::size_t handles = thread_handles_.size();
    thread_handles_.clear();
    json event = {{"process", to_string(state_)}};
    if (exit_code_) {
        event["exit_code"] = *exit_code_;
    }
    if (ranges > 0 || handles > 0) {
        event["released"] = {{"reservations", ranges}, {"handles", handles}};
    }
    emit(std::move(event));
}

ProgramState Device::program_state() {
    Lock lock(kernel_.mutex());
    return state_;
}

std::optional<int> Device::exit_code() {
    Lock lock(kernel_.mutex());
    return exit_code_;
}

std::size_t Device::program_threads() {
    Lock lock(kernel_.mutex());
    std::size_t n = 0;
    for (const SimThread* t : kernel_.threads()) {
        n += (t != ui_thread_ && !t->finished()) ? 1 : 0;
    }
    return n;
}

// --- Time ------------------------------------------------------------------------

void Device::settle() {
    Lock lock(kernel_.mutex());
    kernel_.settle(lock);
}

void Device::wait(Millis duration) {
    Lock lock(kernel_.mutex());
    kernel_.advance_to(lock, kernel_.now() + duration);
}

void Device::advance_to(Millis t, bool run_last) {
    Lock lock(kernel_.mutex());
    kernel_.advance_to(lock, t, run_last);
}

std::optional<Millis> Device::next_deadline() {
    Lock lock(kernel_.mutex());
    return kernel_.next_deadline();
}

Millis Device::time() {
    Lock lock(kernel_.mutex());
    return kernel_.now();
}

// --- Input -----------------------------------------------------------------------

bool Device::after_input(bool delivered) {
    if (auto_settle_) {
        Lock lock(kernel_.mutex());
        kernel_.settle(lock);
    }
    return delivered;
}

Window* Device::dialog_on_screen() {
    Window* fg = windows_.foreground();
    if (fg != nullptr && fg->kind == ControlKind::Dialog && fg->visible) {
        return fg;
    }
    for (Window* w : windows_.top_level()) {
        if (w->kind == ControlKind::Dialog && w->visible) {
            return w;
        }
    }
    return nullptr;
}

bool Device::press_ok() {
    bool delivered = false;
    {
        Lock lock(kernel_.mutex());
        Window* dialog = dialog_on_screen();
        if (dialog != nullptr && (dialog->done_button || (dialog->ex_style & WS_EX_CAPTIONOKBTN))) {
            emit({{"input", "ok"}});
            delivered = post_message(dialog->hwnd(), WM_COMMAND, IDOK, 0);
        } else {
            emit({{"input", "ok"}, {"ignored", "no OK button on screen"}});
        }
    }
    return after_input(delivered);
}

bool Device::click_control(int id) {
    bool delivered = false;
    {
        Lock lock(kernel_.mutex());
        Window* dialog = dialog_on_screen();
        Window* control = dialog == nullptr ? nullptr : windows_.child(*dialog, id);
        if (control != nullptr && control->enabled_on_screen()) {
            emit({{"input", "click"}, {"control", id}});
            delivered = post_message(control->hwnd(), WM_LBUTTONDOWN, 0, 0) &&
                        post_message(control->hwnd(), WM_LBUTTONUP, 0, 0);
        } else {
            emit({{"input", "click"}, {"control", id}, {"ignored", "control not on screen"}});
        }
    }
    return after_input(delivered);
}

bool Device::request_close() {
    bool delivered = false;
    {
        Lock lock(kernel_.mutex());
        auto windows = windows_.top_level();
        if (!windows.empty()) {
            emit({{"input", "close"}});
            delivered = post_message(windows.front()->hwnd(), WM_CLOSE, 0, 0);
        } else {
            emit({{"input", "close"}, {"ignored", "no program window"}});
        }
    }
    return after_input(delivered);
}

bool Device::touch_tray(const char* input, std::initializer_list<LPARAM> touches) {
    bool on_screen = false;
    {
        Lock lock(kernel_.mutex());
        if (!shell_.tray.empty()) {
            on_screen = true;
            const TrayIcon icon = shell_.tray.front();
            bool delivered = true;
            for (LPARAM touch : touches) {
                delivered =
                    post_message(icon.owner, icon.callback_message, icon.id, touch) && delivered;
            }
            json event = {{"input", input}};
            if (!delivered) {
                event["ignored"] = "the icon's window no longer exists";
            }
            emit(std::move(event));
        } else {
            emit({{"input", input}, {"ignored", "no tray icon"}});
        }
    }
    return after_input(on_screen);
}

bool Device::tap_tray() {
    return touch_tray("tap", {WM_LBUTTONDOWN, WM_LBUTTONUP});
}

bool Device::double_tap_tray() {
    // The shell reports the first touch of a double tap as a touch of its own.
    return touch_tray("double-tap", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

bool Device::post_to_program(UINT message, WPARAM wparam, LPARAM lparam) {
    bool delivered = false;
    {
        Lock lock(kernel_.mutex());
        auto windows = windows_.top_level();
        if (!windows.empty()) {
            delivered = post_message(windows.front()->hwnd(), message, wparam, lparam);
        }
        emit({{"input", "post"},
              {"message", message},
              {"wParam", wparam},
              {"lParam", lparam},
              {"delivered", delivered}});
    }
    return after_input(delivered);
}

// --- The world around ------------------------------------------------------------

namespace {
json clock_event_json(const ClockEvent& e) {
    json j = {{"hw", to_string(e.kind)}};
    if (e.kind == ClockEvent::Kind::CccrStore || e.kind == ClockEvent::Kind::CclkcfgWrite ||
        e.kind == ClockEvent::Kind::ForeignCccr) {
        j["value"] = hex(e.value);
    }
    j["cccr"] = hex(e.cccr);
    j["cclkcfg"] = e.cclkcfg;
    j["mhz"] = std::round(e.core_mhz * 100) / 100;
    if (!e.note.empty()) {
        j["note"] = e.note;
    }
    return j;
}
}  // namespace

void Device::power_cycle() {
    Lock lock(kernel_.mutex());
    clocks_.sleep_and_resume(kernel_.now());
    emit(clock_event_json(clocks_.history().back()));
    if (auto_settle_) {
        kernel_.settle(lock);
    }
}

void Device::foreign_cccr(std::uint32_t word) {
    Lock lock(kernel_.mutex());
    clocks_.foreign_program(kernel_.now(), word);
    emit(clock_event_json(clocks_.history().back()));
}

void Device::foreign_turbo_off() {
    Lock lock(kernel_.mutex());
    clocks_.foreign_turbo_off(kernel_.now());
    emit(clock_event_json(clocks_.history().back()));
}

void Device::fail_next_mappings(int n) {
    Lock lock(kernel_.mutex());
    memory_.fail_next_mappings(n);
    emit({{"fault", "map-fail"}, {"count", n}});
}

void Device::fail_next_reservations(int n) {
    Lock lock(kernel_.mutex());
    memory_.fail_next_reservations(n);
    emit({{"fault", "reserve-fail"}, {"count", n}});
}

// --- Snapshot ----------------------------------------------------------------------

json Device::snapshot() {
    Lock lock(kernel_.mutex());
    return snapshot_locked();
}

json Device::snapshot_locked() {
    json s;
    s["t"] = kernel_.now();

    json program = {{"state", to_string(state_)}};
    if (exit_code_) {
        program["exit_code"] = *exit_code_;
    }
    json threads = json::array();
    for (const SimThread* t : kernel_.threads()) {
        if (t->finished()) {
            continue;
        }
        json jt = {{"name", t->name()}};
        switch (t->state()) {
            case SimThread::State::Blocked:
                jt["state"] = t->wake_at() ? "sleeping" : "waiting";
                if (t->wake_at()) {
                    jt["wakes_at"] = *t->wake_at();
                }
                break;
            default:
                jt["state"] = "ready";
        }
        threads.push_back(jt);
    }
    program["threads"] = threads;
    program["open_handles"] = thread_handles_.size();
    if (program_.inspect && state_ != ProgramState::NotStarted) {
        program["state_record"] = program_.inspect();
    }
    s["program"] = program;

    json screen;
    Window* dialog = nullptr;
    for (Window* w : windows_.top_level()) {
        if (w->kind == ControlKind::Dialog) {
            dialog = w;
        }
    }
    Window* fg = windows_.foreground();
    json nav = {{"caption", fg != nullptr && fg->visible ? narrow(fg->text) : "Start"},
                {"ok_button", fg != nullptr && fg->visible && fg->kind == ControlKind::Dialog &&
                                  (fg->done_button || (fg->ex_style & WS_EX_CAPTIONOKBTN))}};
    screen["nav_bar"] = nav;
    screen["dialog"] = dialog != nullptr ? windows_.describe(*dialog) : json(nullptr);
    json tray = json::array();
    for (const TrayIcon& icon : shell_.tray) {
        json ji = {{"id", icon.id}, {"tip", narrow(icon.tip)}};
        const LoadedIcon* loaded = this->icon(icon.icon);
        ji["icon"] = loaded != nullptr ? json(loaded->resource) : json(nullptr);
        ji["owner_alive"] = windows_.find(icon.owner) != nullptr;
        tray.push_back(ji);
    }
    screen["tray"] = tray;
    json bubbles = json::array();
    for (const Bubble& b : shell_.bubbles) {
        bubbles.push_back({{"id", b.id},
                           {"clsid", clsid_string(b.clsid)},
                           {"title", narrow(b.title)},
                           {"html", narrow(b.html)},
                           {"text", narrow(html_text(b.html))},
                           {"open", b.open},
                           {"posted_at", b.posted_at},
                           {"duration_s", b.duration_s}});
    }
    screen["bubbles"] = bubbles;
    screen["input_panel_up"] = shell_.input_panel_up;
    s["screen"] = screen;

    const auto fields = cccr_fields(clocks_.cccr());
    s["hardware"] = {{"cccr", hex(clocks_.cccr())},
                     {"l", fields.l},
                     {"m", fields.m},
                     {"n", fields.n},
                     {"cclkcfg", clocks_.cclkcfg()},
                     {"turbo", clocks_.turbo()},
                     {"fcs", (clocks_.cclkcfg() & kCclkcfgFcs) != 0},
                     {"mhz", std::round(clocks_.core_mhz() * 100) / 100}};
    s["memory"] = {{"reservations", memory_.outstanding()},
                   {"failing_mappings", memory_.failing_mappings()},
                   {"failing_reservations", memory_.failing_reservations()}};
    return s;
}

}  // namespace sim
