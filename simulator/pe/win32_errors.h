// The Win32 error codes the simulated loader and DLLs report, with the
// SDK's values.
#ifndef CORVANE_SIMULATOR_PE_WIN32_ERRORS_H
#define CORVANE_SIMULATOR_PE_WIN32_ERRORS_H

#include <cstdint>

namespace sim::win32_error {
constexpr std::uint32_t kOutOfMemory = 14;      // ERROR_OUTOFMEMORY
constexpr std::uint32_t kModNotFound = 126;     // ERROR_MOD_NOT_FOUND
constexpr std::uint32_t kProcNotFound = 127;    // ERROR_PROC_NOT_FOUND
constexpr std::uint32_t kBadExeFormat = 193;    // ERROR_BAD_EXE_FORMAT
constexpr std::uint32_t kDllInitFailed = 1114;  // ERROR_DLL_INIT_FAILED
constexpr std::uint32_t kOldWinVersion = 1150;  // ERROR_OLD_WIN_VERSION
}  // namespace sim::win32_error

#endif
