#include "simulator/wince/exe/symbol_map.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace sim {

namespace {

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

}  // namespace

Result<SymbolMap> parse_symbol_map(std::string_view text, std::string_view file) {
    SymbolMap symbols;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const auto w = split(line);
        if (w.empty() || w[0][0] == '#') {
            continue;
        }
        std::ostringstream where;
        where << file << ":" << number << ": ";
        std::uint32_t rva = 0;
        const auto [stop, ec] = std::from_chars(w[0].data(), w[0].data() + w[0].size(), rva, 16);
        if (w.size() != 3 || w[0].size() != 8 || ec != std::errc{} ||
            stop != w[0].data() + w[0].size()) {
            return Error{where.str() + "expected '<RVA, 8 hex digits> <section> <symbol>'"};
        }
        auto [it, added] = symbols.emplace(std::string(w[2]), MappedSymbol{rva, std::string(w[1])});
        if (!added) {
            it->second.ambiguous = true;
        }
    }
    return symbols;
}

}  // namespace sim
