// Threads, time, interlocked operations and critical sections.
#include "simulator/api/platform_call.h"
#include "simulator/wince/winapi.h"

using sim::json;
using sim::PlatformCall;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    PlatformCall call("CreateThread");
    (void)attributes;
    (void)stackSize;
    sim::SimThread* self = sim::Kernel::current();
    if (startAddress == nullptr || creationFlags != 0) {
        self->last_error = ERROR_INVALID_PARAMETER;
        SIM_LOG_CALL(call, {nullptr, stackSize, "routine", creationFlags}, nullptr,
                     startAddress == nullptr ? "no start routine" : "creation flags not supported");
        return nullptr;
    }
    sim::Device& device = call.device();
    sim::Kernel& kernel = device.kernel();
    // A failure asked for by the driver, or a host that cannot make another
    // thread: no thread, no handle, and the reason in the last error.
    sim::SimThread* thread = nullptr;
    if (!kernel.take_creation_failure()) {
        thread = kernel.spawn("thread " + std::to_string(kernel.next_thread_id()),
                              [&device, startAddress, parameter] {
                                  return static_cast<std::uint32_t>(
                                      device.call_thread_routine(startAddress, parameter));
                              });
    }
    if (thread == nullptr) {
        self->last_error = ERROR_NOT_ENOUGH_MEMORY;
        SIM_LOG_CALL(call, {nullptr, stackSize, "routine", creationFlags}, nullptr,
                     "no thread: out of resources");
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = thread->id();
    }
    HANDLE handle = device.open_thread_handle(*thread);
    SIM_LOG_CALL(call, {nullptr, stackSize, "routine", creationFlags},
                 sim::hex(reinterpret_cast<std::uintptr_t>(handle)), "started " + thread->name());
    return handle;
}

void ExitThread(DWORD exitCode) {
    {
        PlatformCall call("ExitThread");
        SIM_LOG_CALL(call, {exitCode}, nullptr);
    }
    throw sim::ThreadExit{exitCode};
}

DWORD GetLastError(void) {
    PlatformCall call("GetLastError");
    const DWORD error = sim::Kernel::current()->last_error;
    SIM_LOG_CALL(call, json::array(), error);
    return error;
}

void SetLastError(DWORD error) {
    PlatformCall call("SetLastError");
    sim::Kernel::current()->last_error = error;
    SIM_LOG_CALL(call, {error}, nullptr);
}

BOOL CloseHandle(HANDLE handle) {
    PlatformCall call("CloseHandle");
    const BOOL ok = call.device().handles().close(handle) ? TRUE : FALSE;
    SIM_LOG_CALL(call, {sim::hex(reinterpret_cast<std::uintptr_t>(handle))}, ok);
    return ok;
}

void Sleep(DWORD milliseconds) {
    PlatformCall call("Sleep");
    SIM_LOG_CALL(call, {milliseconds}, nullptr);
    sim::Kernel& kernel = call.device().kernel();
    kernel.block(call.lock(), nullptr, kernel.now() + static_cast<sim::Millis>(milliseconds));
}

DWORD GetTickCount(void) {
    PlatformCall call("GetTickCount");
    const DWORD now = static_cast<DWORD>(call.device().now());
    SIM_LOG_CALL(call, json::array(), now);
    return now;
}

// The interlocked operations are atomic on the host too, so that they stay
// correct when threads run truly in parallel.
LONG InterlockedIncrement(LPLONG addend) {
    PlatformCall call("InterlockedIncrement");
    LONG result = 0;
    call.visible([&] { result = __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST); });
    SIM_LOG_CALL(call, json::array(), result);
    return result;
}

namespace {
// Stores `exchange` if the word holds `comparand`; the word as it was.
LONG compare_exchange(PlatformCall& call, LPLONG destination, LONG exchange, LONG comparand) {
    LONG expected = comparand;
    call.visible([&] {
        __atomic_compare_exchange_n(destination, &expected, exchange, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_SEQ_CST);
    });
    return expected;
}
}  // namespace

LONG InterlockedCompareExchange(LPLONG destination, LONG exchange, LONG comparand) {
    PlatformCall call("InterlockedCompareExchange");
    const LONG was = compare_exchange(call, destination, exchange, comparand);
    SIM_LOG_CALL(call, {exchange, comparand}, was);
    return was;
}

LONG InterlockedTestExchange(LPLONG target, LONG oldValue, LONG newValue) {
    PlatformCall call("InterlockedTestExchange");
    const LONG was = compare_exchange(call, target, newValue, oldValue);
    SIM_LOG_CALL(call, {oldValue, newValue}, was);
    return was;
}

namespace {
sim::Section& section_of(PlatformCall& call, LPCRITICAL_SECTION section, const char* what) {
    sim::Section* state =
        section == nullptr ? nullptr : call.device().sections().find(section->simulatorLock);
    if (state == nullptr) {
        sim::program_fault(std::string(what) + " on a critical section never initialised");
    }
    return *state;
}
std::string section_name(const sim::Section& s) {
    return "cs#" + std::to_string(s.serial);
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    PlatformCall call("InitializeCriticalSection");
    sim::Section* state = call.device().sections().create();
    section->simulatorLock = state;
    SIM_LOG_CALL(call, {section_name(*state)}, nullptr);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    PlatformCall call("DeleteCriticalSection");
    sim::Section& state = section_of(call, section, "DeleteCriticalSection");
    SIM_LOG_CALL(call, {section_name(state)}, nullptr);
    call.device().sections().remove(section->simulatorLock);
    section->simulatorLock = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    PlatformCall call("EnterCriticalSection");
    sim::Section& state = section_of(call, section, "EnterCriticalSection");
    const sim::SimThread* self = sim::Kernel::current();
    SIM_LOG_CALL(call, {section_name(state)}, nullptr);
    if (state.owner == self) {
        ++state.depth;
        return;
    }
    while (state.owner != nullptr) {
        call.device().kernel().block(call.lock(), &state, std::nullopt);
    }
    state.owner = self;
    state.depth = 1;
    call.visible([&] { sim::tsan::acquire(section); });
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    PlatformCall call("LeaveCriticalSection");
    sim::Section& state = section_of(call, section, "LeaveCriticalSection");
    if (state.owner != sim::Kernel::current()) {
        sim::program_fault("LeaveCriticalSection by a thread that does not own " +
                           section_name(state));
    }
    SIM_LOG_CALL(call, {section_name(state)}, nullptr);
    if (--state.depth == 0) {
        call.visible([&] { sim::tsan::release(section); });
        state.owner = nullptr;
        call.device().kernel().notify(&state);
    }
}
