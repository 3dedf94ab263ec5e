// Virtual memory: reservations, physical mappings, release.
#include "simulator/api/platform_call.h"
#include "simulator/wince/winapi.h"

using sim::PlatformCall;

namespace {
std::string flags(DWORD value) {
    return sim::hex(value);
}
}  // namespace

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    PlatformCall call("VirtualAlloc");
    sim::VirtualMemory& memory = call.device().memory();
    std::string error;
    void* range = nullptr;
    if (address != nullptr || allocationType != MEM_RESERVE || protect != PAGE_NOACCESS) {
        error = "only fresh reservations with no access are supported";
    } else {
        auto reserved = memory.reserve(size);
        range = reserved.ok() ? reserved.value() : nullptr;
        error = reserved.ok() ? "" : reserved.error().message;
    }
    SIM_LOG_CALL(
        call,
        {address == nullptr ? "NULL" : "address", size, flags(allocationType), flags(protect)},
        memory.name_of(range), error);
    return range;
}

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    PlatformCall call("VirtualCopy");
    sim::VirtualMemory& memory = call.device().memory();
    std::string error;
    if ((protect & PAGE_PHYSICAL) == 0) {
        error = "only physical sources (PAGE_PHYSICAL) are supported";
    } else {
        // With PAGE_PHYSICAL the source is the physical address divided by 256.
        const std::uint64_t physical =
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(source)) << 8;
        auto mapped = memory.map_physical(destination, physical, size,
                                          protect & ~(DWORD{PAGE_NOCACHE} | DWORD{PAGE_PHYSICAL}));
        error = mapped.ok() ? "" : mapped.error().message;
    }
    const BOOL ok = error.empty() ? TRUE : FALSE;
    SIM_LOG_CALL(call,
                 {memory.name_of(destination), sim::hex(reinterpret_cast<std::uintptr_t>(source)),
                  size, flags(protect)},
                 ok, error);
    return ok;
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    PlatformCall call("VirtualFree");
    sim::VirtualMemory& memory = call.device().memory();
    // Named before the release, which takes the name away.
    const std::string name = call.tracing() ? memory.name_of(address) : std::string();
    std::string error;
    BOOL ok = FALSE;
    if (freeType != MEM_RELEASE || size != 0) {
        error = "only MEM_RELEASE of a whole range is supported";
    } else if (memory.release(address)) {
        ok = TRUE;
    } else {
        error = "not the start of a reserved range";
    }
    SIM_LOG_CALL(call, {name, size, flags(freeType)}, ok, error);
    return ok;
}
