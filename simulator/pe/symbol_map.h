// The symbol map the device build writes beside the exe (corvane.map), as
// a device toolchain's linker map gives a debugger the addresses of the
// program's symbols: "<RVA, 8 hex digits> <section> <symbol>" per line,
// '#' comments.
#ifndef CORVANE_SIMULATOR_PE_SYMBOL_MAP_H
#define CORVANE_SIMULATOR_PE_SYMBOL_MAP_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "simulator/support/result.h"

namespace sim {

struct MappedSymbol {
    std::uint32_t rva = 0;
    std::string section;
    // Another symbol of the same name is in the map too (file-local names
    // of two sources): the name does not say which one is meant.
    bool ambiguous = false;
};

using SymbolMap = std::map<std::string, MappedSymbol, std::less<>>;

// Parses a map; `file` names it in errors ("corvane.map:12: ...").
Result<SymbolMap> parse_symbol_map(std::string_view text, std::string_view file);

}  // namespace sim

#endif
