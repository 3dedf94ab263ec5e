// The simulated Pocket PC as a whole, and the driver API through which
// tests, the scenario runner and the web page use it.
//
// The device owns the kernel, the windows, the shell, memory, the clock
// hardware and the program's resources. The platform functions reach it
// through Device::current(); only one device exists at a time in a process.
//
// Driver calls are made from one driver thread. They touch the device only
// while no program thread runs; by default each one then lets the program
// run until every thread is blocked again (auto-settle).
#ifndef CORVANE_SIMULATOR_DEVICE_H
#define CORVANE_SIMULATOR_DEVICE_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simulator/hardware/pxa25x_clocks.h"
#include "simulator/kernel/kernel.h"
#include "simulator/shell/shell.h"
#include "simulator/trace.h"
#include "simulator/wince/memory.h"
#include "simulator/wince/resources.h"
#include "simulator/wince/window_manager.h"

namespace sim {

// What the device needs of a program: its entry, a way to reload its data
// to the values it has at load time (every start begins afresh), and an
// optional debugger's view of its state.
struct ProgramImage {
    std::function<int(HINSTANCE)> entry;
    std::function<void()> load;
    std::function<json()> inspect;
};

// The program's compiled resources, read-only once loaded.
class Module {
  public:
    explicit Module(std::vector<ResourceEntry> entries) : entries_(std::move(entries)) {}
    static HINSTANCE instance() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x10000}); }
    const ResourceEntry* find(const ResId& type, const ResId& name) const;
    // The resource whose data begins at `data` (what LoadResource returned).
    const ResourceEntry* entry_at(const void* data) const;
    const std::vector<ResourceEntry>& entries() const { return entries_; }

  private:
    std::vector<ResourceEntry> entries_;
};

// The image of icon `resource` nearest the size asked for (the larger on a
// tie), as LoadIcon and LoadImage choose it; nullopt and why when there is
// none.
std::optional<IconImage> find_icon_image(const Module& module, std::uint16_t resource, int width,
                                         int height, std::string& error);

struct LoadedIcon {
    std::uint16_t resource = 0;  // the icon group's id
    IconImage image;
};

struct DeviceOptions {
    Kernel::Options kernel;
    std::vector<ResourceEntry> resources;
    ProgramImage program;
};

enum class ProgramState { NotStarted, Running, Ended, Terminated };
const char* to_string(ProgramState state);

class Device {
  public:
    explicit Device(DeviceOptions options);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // The device the platform functions reach; aborts when there is none.
    static Device& current();

    // --- Subsystems, for the platform functions (kernel mutex held) -------
    Kernel& kernel() { return kernel_; }
    Trace& trace() { return trace_; }
    WindowManager& windows() { return windows_; }
    ShellState& shell() { return shell_; }
    VirtualMemory& memory() { return memory_; }
    Pxa25xClocks& clocks() { return clocks_; }
    const Module& module() const { return module_; }
    Millis now() const { return kernel_.now(); }

    // Posts a message to a window's thread and wakes it.
    bool post_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    // Icons, loaded once per (resource, size) and shared, like LR_SHARED.
    HICON load_icon(std::uint16_t resource, int width, int height, std::string& error);
    const LoadedIcon* icon(HICON handle) const;

    // Thread handles handed to the program.
    HANDLE open_thread_handle(const SimThread& thread);
    bool close_handle(HANDLE handle);
    std::size_t open_handles() const { return thread_handles_.size(); }

    // Critical sections the program created.
    struct SectionState {
        std::uint64_t serial = 0;
        const SimThread* owner = nullptr;
        int depth = 0;
    };
    SectionState* create_section();
    SectionState* section(void* handle);
    void delete_section(void* handle);

    std::string thread_name(const SimThread* thread) const;
    void emit(json event);  // adds time and thread, when tracing

    // --- Driver --------------------------------------------------------------
    // Loads the program afresh and runs it until every thread is blocked.
    void start();
    void set_auto_settle(bool on) { auto_settle_ = on; }
    void settle();
    void wait(Millis duration);
    void advance_to(Millis t, bool run_last = true);
    std::optional<Millis> next_deadline();
    Millis time();

    // Input. Each returns false, changing nothing, when what it would touch
    // is not on the screen.
    bool press_ok();             // the OK button in the navigation bar
    bool click_control(int id);  // a control of the dialog on screen
    bool request_close();        // the system asks the program to close
    bool tap_tray();             // one touch on the (first) tray icon
    bool double_tap_tray();      // two quick touches
    // Another program posts a message to the program's window.
    bool post_to_program(UINT message, WPARAM wparam, LPARAM lparam);

    // The world around the program.
    void power_cycle();
    void foreign_cccr(std::uint32_t word);
    void foreign_turbo_off();
    void fail_next_mappings(int n);
    void fail_next_reservations(int n);
    void fail_next_thread_creations(int n);  // CreateThread fails, like a host out of threads

    // --- Observation (driver thread; takes the lock) ------------------------
    json snapshot();
    // Runs `f` with the device locked, for reads that the helpers above do
    // not cover.
    template <class F>
    auto inspect(F&& f) {
        Lock lock(kernel_.mutex());
        return f(*this);
    }
    ProgramState program_state();
    std::optional<int> exit_code();
    std::size_t program_threads();  // live threads besides the UI thread

  private:
    void on_ui_thread_end(SimThread& thread);
    bool after_input(bool delivered);
    bool touch_tray(const char* input, std::initializer_list<LPARAM> touches);
    Window* dialog_on_screen();
    json snapshot_locked();

    Kernel kernel_;
    Trace trace_;
    Module module_;
    ProgramImage program_;
    WindowManager windows_;
    ShellState shell_;
    Pxa25xClocks clocks_;
    VirtualMemory memory_;

    std::map<std::uintptr_t, LoadedIcon> icons_;
    std::map<std::tuple<std::uint16_t, int, int>, std::uintptr_t> icon_cache_;
    std::uintptr_t next_icon_ = 0x20000;
    std::map<std::uintptr_t, const SimThread*> thread_handles_;
    std::uintptr_t next_handle_ = 0x400;
    std::map<void*, std::unique_ptr<SectionState>> sections_;
    std::uint64_t next_section_ = 1;

    const SimThread* ui_thread_ = nullptr;
    ProgramState state_ = ProgramState::NotStarted;
    std::optional<int> exit_code_;
    bool auto_settle_ = true;
};

}  // namespace sim

#endif
