// The simulated Pocket PC as the platform functions see it: the kernel, the
// windows, the shell, memory, the clock hardware, the program's module and
// the process running it. Every member is used with the kernel's mutex
// held (a platform call holds it; a driver takes it, see driver.h). The
// platform functions reach the device through Device::current(); only one
// device exists at a time in a process.
#ifndef CORVANE_SIMULATOR_DEVICE_DEVICE_H
#define CORVANE_SIMULATOR_DEVICE_DEVICE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "simulator/device/trace.h"
#include "simulator/hardware/processor.h"
#include "simulator/hardware/pxa25x_clocks.h"
#include "simulator/kernel/handles.h"
#include "simulator/kernel/kernel.h"
#include "simulator/shell/shell.h"
#include "simulator/wince/memory.h"
#include "simulator/wince/module.h"
#include "simulator/wince/window_manager.h"

namespace sim {

// The words a scenario uses for a program's own things. They are the
// program's, not its image's: a file loaded from disk carries no such names.
struct ProgramNames {
    std::vector<std::pair<std::string, int>> buttons;      // a word that clicks a control
    std::vector<std::pair<std::string, int>> check_boxes;  // expect check <name> on|off
    std::vector<std::string> state_fields;                 // expect app <field> <value>
};

// What the device needs of a program, however it was opened (built in, or
// loaded from an exe): the instance its entry is given and the resource
// functions accept, its entry, a way to reload its data to the values it
// has at load time (every start begins afresh), an optional debugger's view
// of its state, and how the platform calls the program's code it was handed
// (a dialog procedure, a thread routine). Unset calls are made directly, as
// for the built-in program.
struct ProgramImage {
    HINSTANCE instance = Module::built_in_instance();
    // Where a loaded image is mapped (its resources' data lies in it), or 0.
    std::uintptr_t image_base = 0;
    std::function<int(HINSTANCE)> entry;
    std::function<void()> load;
    std::function<std::vector<StateField>()> inspect;
    std::function<BOOL(DLGPROC, HWND, UINT, WPARAM, LPARAM)> dialog_proc;
    std::function<DWORD(LPTHREAD_START_ROUTINE, LPVOID)> thread_routine;
};

struct DeviceOptions {
    Kernel::Options kernel;
    std::vector<ResourceEntry> resources;
    ProgramImage program;
    // The input panel is up when the program starts, as a previous program
    // may have left it.
    bool input_panel_up = false;
    // The processor: its main ID and its clock hardware.
    const Processor* processor = &default_processor();
};

class Device {
  public:
    explicit Device(DeviceOptions options);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // The device the platform functions reach; fatal when there is none.
    static Device& current();

    Kernel& kernel() { return kernel_; }
    Trace& trace() { return trace_; }
    WindowManager& windows() { return windows_; }
    ShellState& shell() { return shell_; }
    VirtualMemory& memory() { return memory_; }
    Pxa25xClocks& clocks() { return clocks_; }
    const Processor& processor() const { return *processor_; }
    const Module& module() const { return module_; }
    IconTable& icons() { return icons_; }
    HandleTable& handles() { return handles_; }
    SectionTable& sections() { return sections_; }
    const ProgramImage& program() const { return program_; }
    // Calls into the program's code, as its image says they are made.
    BOOL call_dialog_proc(DLGPROC proc, HWND hwnd, UINT message, WPARAM wparam,
                          LPARAM lparam) const;
    DWORD call_thread_routine(LPTHREAD_START_ROUTINE routine, LPVOID parameter) const;
    Millis now() const { return kernel_.now(); }

    // Posts a message to a window's thread and wakes it.
    bool post_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    HANDLE open_thread_handle(const SimThread& thread) { return handles_.open(thread); }

    std::string thread_name(const SimThread* thread) const;
    // Traces the event, stamped with the time and the thread, when tracing.
    void emit(EventBody event);

    // The process: started afresh once, ended when its UI thread returns.
    void launch();
    ProgramState program_state() const { return state_; }
    std::optional<int> exit_code() const { return exit_code_; }
    using Reclaimed = sim::Reclaimed;
    Reclaimed reclaimed_at_end() const { return reclaimed_; }
    std::size_t program_threads() const;  // live threads besides the UI thread
    // The foreground window if it is a dialog on screen: the one window the
    // OK button and the touch screen's clicks reach.
    Window* foreground_dialog();

  private:
    void on_ui_thread_end(SimThread& thread);

    // The kernel, of the scheduler the options name; kernel_ is the same.
    std::unique_ptr<Kernel> owned_kernel_;
    Kernel& kernel_;
    Trace trace_;
    Module module_;
    ProgramImage program_;
    const Processor* processor_;
    WindowManager windows_;
    ShellState shell_;
    Pxa25xClocks clocks_;
    VirtualMemory memory_;
    IconTable icons_;
    HandleTable handles_;
    SectionTable sections_;

    const SimThread* ui_thread_ = nullptr;
    ProgramState state_ = ProgramState::NotStarted;
    std::optional<int> exit_code_;
    Reclaimed reclaimed_;
};

}  // namespace sim

#endif
