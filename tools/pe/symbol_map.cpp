#include "tools/pe/symbol_map.h"

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

#include "tools/pe/bytes.h"
#include "tools/pe/layout.h"

namespace pe {

namespace {

struct MapLine {
    std::uint32_t rva;
    std::string section;
    std::string name;
};

bool is_mapped(const ElfSymbol& symbol) {
    return (symbol.type == elf::kFunc || symbol.type == elf::kObject) && !symbol.name.empty() &&
           symbol.section != elf::kUndefined && symbol.section < elf::kFirstReserved;
}

// A name the map can hold: one word of printable characters.
bool is_writable_name(const std::string& name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code > 0x20 && code != 0x7F;
    });
}

}  // namespace

std::string symbol_map(const ElfFile& elf, const Image& image, const std::string& exe_name) {
    std::vector<MapLine> lines;
    for (const ElfSymbol& symbol : elf.symbols) {
        if (!is_mapped(symbol)) {
            continue;
        }
        const ImageSection* section =
            symbol.value >= kImageBase ? image.section_at(symbol.value - kImageBase) : nullptr;
        if (section == nullptr) {
            throw Error(elf.path + ": symbol " + symbol.name +
                        " lies outside the image's sections");
        }
        if (!is_writable_name(symbol.name)) {
            throw Error(elf.path + ": a symbol's name has a space or control character in it");
        }
        lines.push_back(MapLine{symbol.value - kImageBase, section->name, symbol.name});
    }
    std::sort(lines.begin(), lines.end(), [](const MapLine& a, const MapLine& b) {
        return std::tie(a.rva, a.name) < std::tie(b.rva, b.name);
    });
    char base[16];
    std::snprintf(base, sizeof base, "0x%08X", kImageBase);
    std::string text = "# Symbol map of " + exe_name + " (ImageBase " + base +
                       "): one symbol a line, <RVA> <section> <symbol>\n";
    for (const MapLine& line : lines) {
        char rva[16];
        std::snprintf(rva, sizeof rva, "%08X", line.rva);
        text += std::string(rva) + " " + line.section + " " + line.name + "\n";
    }
    return text;
}

}  // namespace pe
