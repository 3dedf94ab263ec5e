// The export lists of the device's DLLs (platform/wince/exports/*.exports):
// each function's name and fixed ordinal, and whether the exe imports it by
// name or by ordinal. The device build reads the same files to write the
// exe's imports; the simulated DLLs export exactly what they list and the
// simulator implements.
#ifndef CORVANE_SIMULATOR_PE_EXPORT_LISTS_H
#define CORVANE_SIMULATOR_PE_EXPORT_LISTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/support/result.h"

namespace sim {

struct DllExport {
    std::string name;
    std::uint16_t ordinal = 0;
    bool by_name = true;  // the exe imports it by name (else by ordinal)
};

struct ExportList {
    std::string dll;  // as the list spells it, e.g. "coredll.dll"
    std::vector<DllExport> exports;
};

// Parses one list; `file` names it in errors ("coredll.exports:7: ...").
Result<ExportList> parse_export_list(std::string_view text, std::string_view file);

// What an import of the image names: a DLL and a function, by name or by
// ordinal.
struct ImportName {
    std::string dll;
    std::optional<std::uint16_t> ordinal;  // by ordinal, else by name
    std::string name;
};

// The export an import binds to, or why the loader refuses it: the DLL is
// not one of the lists (ERROR_MOD_NOT_FOUND), or it exports no such name or
// ordinal (ERROR_PROC_NOT_FOUND). DLL names match case-insensitively.
struct BindRefusal {
    std::uint32_t error = 0;
    std::string message;
};
Result<const DllExport*, BindRefusal> find_export(const std::vector<ExportList>& lists,
                                                  const ImportName& import);

// The lists built into the simulator (the project's platform/wince/exports;
// simulated_dlls.cpp).
const std::vector<ExportList>& device_export_lists();

}  // namespace sim

#endif
