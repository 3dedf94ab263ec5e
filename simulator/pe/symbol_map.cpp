#include "simulator/pe/symbol_map.h"

#include <charconv>
#include <vector>

#include "simulator/support/text.h"

namespace sim {

Result<SymbolMap> parse_symbol_map(std::string_view text, std::string_view file) {
    SymbolMap symbols;
    auto lines = worded_lines(text);
    if (!lines.ok()) {
        Error error = lines.error();
        error.file = file;
        return error;
    }
    for (const auto& [number, w] : lines.value()) {
        std::uint32_t rva = 0;
        const auto [stop, ec] = std::from_chars(w[0].data(), w[0].data() + w[0].size(), rva, 16);
        if (w.size() != 3 || w[0].size() != 8 || ec != std::errc{} ||
            stop != w[0].data() + w[0].size()) {
            return Error::at_line(std::string(file), number,
                                  "expected '<RVA, 8 hex digits> <section> <symbol>'");
        }
        auto [it, added] = symbols.emplace(std::string(w[2]), MappedSymbol{rva, std::string(w[1])});
        if (!added) {
            it->second.ambiguous = true;
        }
    }
    return symbols;
}

}  // namespace sim
