#include "simulator/exe/simulated_dlls.h"

#include <strings.h>
#include <cstring>

#include "simulator/exe/ce_boundary.h"
#include "simulator/hardware/hwapi.h"
#include "simulator/pe/export_lists.h"
#include "simulator/shell/shellapi.h"
#include "simulator/wince/winapi.h"

namespace sim {

// The lists as embedded by the build (tools/embed).
std::span<const std::uint8_t> coredll_exports();
std::span<const std::uint8_t> aygshell_exports();
std::span<const std::uint8_t> commctrl_exports();

namespace {
ExportList built_in(std::span<const std::uint8_t> bytes, std::string_view file) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    auto list = parse_export_list(text, file);
    if (!list.ok()) {
        fatal("the built-in export list does not parse: " + list.error().describe());
    }
    return std::move(list.value());
}
}  // namespace

const std::vector<ExportList>& device_export_lists() {
    static const std::vector<ExportList> lists = {
        built_in(coredll_exports(), "coredll.exports"),
        built_in(aygshell_exports(), "aygshell.exports"),
        built_in(commctrl_exports(), "commctrl.exports"),
    };
    return lists;
}

}  // namespace sim

namespace sim::ce {

namespace {

#if defined(__arm__)
template <auto F>
void* wrapped() {
    return reinterpret_cast<void*>(&Guarded<F>::call);
}
#endif

// memset is coredll's on the device, a plain function rather than a
// platform call (no scheduling point, no trace), as in the built-in program.
void* coredll_memset(void* dest, int c, std::size_t count) {
    return std::memset(dest, c, count);
}

// The wrapper exists in the ARM lane only, where the image's code runs;
// elsewhere the table still says what the simulated DLLs provide.
#if defined(__arm__)
#define SIMULATED(dll, name, function) \
    { dll, name, wrapped<&function>() }
#else
#define SIMULATED(dll, name, function) \
    { dll, name, (static_cast<void>(&function), nullptr) }
#endif

void* coredll_memcpy(void* dest, const void* source, std::size_t count) {
    return std::memcpy(dest, source, count);
}

const SimulatedFunction kFunctions[] = {
    SIMULATED("coredll.dll", "FindResourceW", FindResourceW),
    SIMULATED("coredll.dll", "LoadResource", LoadResource),
    SIMULATED("coredll.dll", "LoadIconW", LoadIconW),
    SIMULATED("coredll.dll", "LoadImageW", LoadImageW),
    SIMULATED("coredll.dll", "DestroyIcon", DestroyIcon),
    SIMULATED("coredll.dll", "DialogBoxIndirectParamW", DialogBoxIndirectParamW),
    SIMULATED("coredll.dll", "EndDialog", EndDialog),
    SIMULATED("coredll.dll", "ShowWindow", ShowWindow),
    SIMULATED("coredll.dll", "SetForegroundWindow", SetForegroundWindow),
    SIMULATED("coredll.dll", "SendDlgItemMessageW", SendDlgItemMessageW),
    SIMULATED("coredll.dll", "MessageBoxW", MessageBoxW),
    SIMULATED("coredll.dll", "CreateThread", CreateThread),
    SIMULATED("coredll.dll", "ExitThread", ExitThread),
    SIMULATED("coredll.dll", "GetLastError", GetLastError),
    SIMULATED("coredll.dll", "SetLastError", SetLastError),
    SIMULATED("coredll.dll", "CloseHandle", CloseHandle),
    SIMULATED("coredll.dll", "Sleep", Sleep),
    SIMULATED("coredll.dll", "GetTickCount", GetTickCount),
    SIMULATED("coredll.dll", "InterlockedIncrement", InterlockedIncrement),
    SIMULATED("coredll.dll", "InterlockedTestExchange", InterlockedTestExchange),
    SIMULATED("coredll.dll", "InitializeCriticalSection", InitializeCriticalSection),
    SIMULATED("coredll.dll", "DeleteCriticalSection", DeleteCriticalSection),
    SIMULATED("coredll.dll", "EnterCriticalSection", EnterCriticalSection),
    SIMULATED("coredll.dll", "LeaveCriticalSection", LeaveCriticalSection),
    SIMULATED("coredll.dll", "VirtualAlloc", VirtualAlloc),
    SIMULATED("coredll.dll", "VirtualCopy", VirtualCopy),
    SIMULATED("coredll.dll", "VirtualFree", VirtualFree),
    SIMULATED("coredll.dll", "Shell_NotifyIcon", Shell_NotifyIcon),
    SIMULATED("coredll.dll", "memset", coredll_memset),
    SIMULATED("coredll.dll", "memcpy", coredll_memcpy),
    SIMULATED("aygshell.dll", "SHInitDialog", SHInitDialog),
    SIMULATED("aygshell.dll", "SHNotificationAdd", SHNotificationAdd),
    SIMULATED("aygshell.dll", "SHNotificationRemove", SHNotificationRemove),
    SIMULATED("commctrl.dll", "InitCommonControls", InitCommonControls),
};
#undef SIMULATED

}  // namespace

std::span<const SimulatedFunction> simulated_functions() {
    return kFunctions;
}

const SimulatedFunction* simulated_function(std::string_view dll, std::string_view name) {
    for (const SimulatedFunction& f : kFunctions) {
        if (dll.size() == std::strlen(f.dll) && strncasecmp(f.dll, dll.data(), dll.size()) == 0 &&
            name == f.name) {
            return &f;
        }
    }
    return nullptr;
}

}  // namespace sim::ce
