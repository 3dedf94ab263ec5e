#include "simulator/device/device.h"

#ifdef __arm__
#include "simulator/api/arm_trap.h"
#endif

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

Device::Device(DeviceOptions options)
    : owned_kernel_(Kernel::create(options.kernel)),
      kernel_(*owned_kernel_),
      module_(std::move(options.resources), options.program.instance, options.program.image_base),
      program_(std::move(options.program)),
      processor_(options.processor) {
    if (g_current != nullptr) {
        fatal("only one device may exist at a time");
    }
    g_current = this;
    shell_.input_panel_up = options.input_panel_up;
    if (processor_->clocks != ClockHardware::Pxa25x) {
        clocks_.set_hardware(processor_->clocks);
    }
#ifdef __arm__
    // The program's CCLKCFG instructions trap (ARM lane).
    arm_trap::install();
#endif
    memory_.add_physical_page(
        PhysicalPage{kClocksManagerBase, Pxa25xClocks::kPageSize, clocks_.page()});
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

void Device::emit(EventBody event) {
    if (!trace_.enabled()) {
        return;
    }
    const SimThread* self = Kernel::current();
    trace_.emit(
        TraceEvent{now(), self != nullptr ? self->name() : std::string(), std::move(event)});
}

bool Device::post_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* w = windows_.find(hwnd);
    if (w == nullptr || !windows_.post(hwnd, message, wparam, lparam)) {
        return false;
    }
    kernel_.notify(&windows_.queue(w->thread));
    return true;
}

BOOL Device::call_dialog_proc(DLGPROC proc, HWND hwnd, UINT message, WPARAM wparam,
                              LPARAM lparam) const {
    if (program_.dialog_proc) {
        return program_.dialog_proc(proc, hwnd, message, wparam, lparam);
    }
    return proc(hwnd, message, wparam, lparam);
}

DWORD Device::call_thread_routine(LPTHREAD_START_ROUTINE routine, LPVOID parameter) const {
    if (program_.thread_routine) {
        return program_.thread_routine(routine, parameter);
    }
    return routine(parameter);
}

Window* Device::foreground_dialog() {
    // Input goes to the foreground window only: a dialog on screen behind
    // another window, or shown without being activated, gets none.
    Window* fg = windows_.foreground();
    if (fg != nullptr && fg->kind == ControlKind::Dialog && fg->visible) {
        return fg;
    }
    return nullptr;
}

void Device::launch() {
    if (state_ != ProgramState::NotStarted) {
        return;
    }
    if (program_.load) {
        program_.load();
    }
    state_ = ProgramState::Running;
    emit(ProcessEvent{.state = ProgramState::Running});
    ui_thread_ = kernel_.spawn(
        "ui",
        [this] {
            const int code = program_.entry(module_.instance());
            return static_cast<std::uint32_t>(code);
        },
        [this](SimThread& t) { on_ui_thread_end(t); });
    if (ui_thread_ == nullptr) {
        fatal("the host cannot start the program's first thread");
    }
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
    const std::size_t handles = handles_.close_all();
    const std::size_t icons = icons_.release_owned();
    reclaimed_ = Reclaimed{ranges, handles, icons};
    emit(ProcessEvent{state_, exit_code_, reclaimed_});
}

std::size_t Device::program_threads() const {
    std::size_t n = 0;
    for (const SimThread* t : kernel_.threads()) {
        n += (t != ui_thread_ && !t->finished()) ? 1 : 0;
    }
    return n;
}

}  // namespace sim
