// What the Windows CE 3.0 loader makes of a readable executable image:
// whether it starts a process from it, and if not, the error it reports
// (CreateProcess fails, GetLastError gives it); where the image goes; what
// it imports.
//
// The rules are those of the CE 3.0 kernel loader's source (loader.c:
// LoadE32, CreateNewProc, LoadO32, DoImports, CalcStackSize), each noted
// where it is checked. Where that loader accepts something an image made
// for the device should not rely on, the check is stricter and says so.
#ifndef CORVANE_SIMULATOR_PE_PE_LOAD_RULES_H
#define CORVANE_SIMULATOR_PE_PE_LOAD_RULES_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/win32_errors.h"

namespace sim {

namespace ce_loader {
// The version of Windows CE the device runs.
constexpr std::uint16_t kVersionMajor = 3;
constexpr std::uint16_t kVersionMinor = 0;
// An image with relocations loads here; one without loads at its own base,
// which must lie in [kLowestBase, kHighestBase].
constexpr std::uint32_t kRelocatedBase = 0x10000;
constexpr std::uint32_t kLowestBase = 0x10000;
constexpr std::uint32_t kHighestBase = 0x400000;
// The grain an image base keeps (the PE format: a multiple of 64 KB).
constexpr std::uint32_t kBaseAlignment = 0x10000;
// The process's slot: 32 MB from address 0.
constexpr std::uint32_t kSlotSize = 0x2000000;
// The main thread's stack reserve lies in [kMinStack, kMaxStack].
constexpr std::uint32_t kMinStack = 16 * 1024;
constexpr std::uint32_t kMaxStack = 1024 * 1024;
// The stack an image made for a CE before 2.02 gets, whatever it asks.
constexpr std::uint32_t kOldImageStack = 64 * 1024;
// The loader copies a DLL's name into a buffer of 32 characters.
constexpr std::size_t kMaxDllName = 31;
constexpr std::uint32_t kPageSize = 0x1000;
}  // namespace ce_loader

struct LoadRefusal {
    std::uint32_t error = 0;  // the Win32 error the loader reports
    std::string reason;
    std::string describe() const;
};

// Why the loader would not start a process from `image`; nothing when it
// would. The first rule broken, in the order the loader checks them.
std::optional<LoadRefusal> check_loadable(const PeImage& image);
// The rules of the headers and the section table alone, which the loader
// applies before it reads the import or resource tables (parse_pe_headers
// gives what they need).
std::optional<LoadRefusal> check_headers(const PeImage& image);

// Where the loader puts the image: its own base without relocations, the
// first address of the process's slot above the reserved 64 KB with them.
std::uint32_t load_base(const PeImage& image);

// The stack the loader reserves for the main thread (CalcStackSize): the
// header's reserve (64 KB for an image made for a CE before 2.02), rounded
// up to a page, within [16 KB, 1 MB].
std::uint32_t main_stack_reserve(const PeImage& image);

// One imported function, with the DLL it comes from.
struct ImportedFunction {
    std::string dll;
    std::optional<std::uint16_t> ordinal;  // by ordinal, or by name with its hint
    std::string name;
    std::uint16_t hint = 0;
    std::uint32_t iat_rva = 0;  // the slot the loader writes the address into
};

// Every imported function, descriptor by descriptor, as the loader binds
// them.
std::vector<ImportedFunction> list_imports(const PeImage& image);

}  // namespace sim

#endif
