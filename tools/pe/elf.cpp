#include "tools/pe/elf.h"

#include <algorithm>

#include "tools/pe/bytes.h"

namespace pe {

namespace {

constexpr std::size_t kHeaderSize = 52;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kSymbolSize = 16;
constexpr std::uint16_t kMachineArm = 40;
constexpr std::uint32_t kSymbolTable = 2;  // SHT_SYMTAB
constexpr std::uint32_t kStringTable = 3;  // SHT_STRTAB

struct RawSection {
    ElfSection section;
    std::uint32_t name_offset = 0;
    std::uint32_t link = 0;
    std::uint32_t entry_size = 0;
};

void check_identity(const Reader& in) {
    if (in.size() < kHeaderSize || in.u32(0) != 0x464C457Fu) {
        in.fail(0, "not an ELF file");
    }
    if (in.u8(4) != 1 || in.u8(5) != 1) {
        in.fail(4, "not a 32-bit little-endian ELF file");
    }
    if (in.u16(18) != kMachineArm) {
        in.fail(18, "not an ARM ELF file");
    }
}

// A NUL-terminated name inside a string table section.
std::string name_in(const Reader& in, const RawSection& table, std::uint32_t offset) {
    if (table.section.type != kStringTable) {
        in.fail(table.section.offset, "the string table is not of type STRTAB");
    }
    if (offset >= table.section.size) {
        in.fail(table.section.offset, "a name lies outside its string table");
    }
    const auto chars = in.bytes(table.section.offset + offset, table.section.size - offset);
    const auto end = std::find(chars.begin(), chars.end(), std::uint8_t{0});
    if (end == chars.end()) {
        in.fail(table.section.offset + offset, "a name runs past its string table");
    }
    return std::string(chars.begin(), end);
}

RawSection read_section_header(const Reader& in, std::size_t at) {
    RawSection raw;
    raw.name_offset = in.u32(at);
    raw.section.type = in.u32(at + 4);
    raw.section.flags = in.u32(at + 8);
    raw.section.addr = in.u32(at + 12);
    raw.section.offset = in.u32(at + 16);
    raw.section.size = in.u32(at + 20);
    raw.link = in.u32(at + 24);
    raw.entry_size = in.u32(at + 36);
    if (raw.section.type != elf::kNoBits && !in.contains(raw.section.offset, raw.section.size)) {
        in.fail(at, "a section's contents lie outside the file");
    }
    return raw;
}

std::vector<RawSection> read_sections(const Reader& in) {
    const std::uint32_t table = in.u32(32);
    const std::uint16_t entry_size = in.u16(46);
    const std::uint16_t count = in.u16(48);
    const std::uint16_t names = in.u16(50);
    if (count == 0 || entry_size != kSectionHeaderSize) {
        in.fail(32, "no section header table of the expected form");
    }
    if (!in.contains(table, std::size_t{count} * kSectionHeaderSize)) {
        in.fail(32, "the section header table lies outside the file");
    }
    if (names >= count) {
        in.fail(50, "the section name table index is out of range");
    }
    std::vector<RawSection> raw;
    for (std::size_t i = 0; i < count; ++i) {
        raw.push_back(read_section_header(in, table + i * kSectionHeaderSize));
    }
    for (RawSection& section : raw) {
        section.section.name = name_in(in, raw[names], section.name_offset);
    }
    return raw;
}

ElfSymbol read_symbol(const Reader& in, const RawSection& strings, std::size_t at,
                      std::size_t section_count) {
    ElfSymbol symbol;
    symbol.name = name_in(in, strings, in.u32(at));
    symbol.value = in.u32(at + 4);
    symbol.size = in.u32(at + 8);
    const std::uint8_t info = in.u8(at + 12);
    symbol.type = info & 0xF;
    symbol.binding = info >> 4;
    symbol.section = in.u16(at + 14);
    if (symbol.section >= section_count && symbol.section < elf::kFirstReserved) {
        in.fail(at, "symbol '" + symbol.name + "' names a section that does not exist");
    }
    if (symbol.section == 0xFFFF) {
        in.fail(at, "extended section indexes are not supported");
    }
    return symbol;
}

std::vector<ElfSymbol> read_symbols(const Reader& in, const std::vector<RawSection>& raw) {
    std::vector<ElfSymbol> symbols;
    for (const RawSection& table : raw) {
        if (table.section.type != kSymbolTable) {
            continue;
        }
        if (table.entry_size != kSymbolSize || table.section.size % kSymbolSize != 0 ||
            table.link >= raw.size()) {
            in.fail(table.section.offset, "the symbol table is not of the expected form");
        }
        // Entry 0 is the null symbol.
        for (std::size_t at = kSymbolSize; at < table.section.size; at += kSymbolSize) {
            symbols.push_back(
                read_symbol(in, raw[table.link], table.section.offset + at, raw.size()));
        }
    }
    return symbols;
}

}  // namespace

std::span<const std::uint8_t> ElfFile::contents(const ElfSection& section) const {
    if (section.type == elf::kNoBits) {
        return {};
    }
    // read_elf checked that every section's contents lie inside the file.
    return std::span<const std::uint8_t>(bytes).subspan(section.offset, section.size);
}

const ElfSymbol* ElfFile::find_symbol(const std::string& name) const {
    for (const ElfSymbol& symbol : symbols) {
        if (symbol.name == name && symbol.section != elf::kUndefined) {
            return &symbol;
        }
    }
    return nullptr;
}

ElfFile parse_elf(const std::string& path, std::vector<std::uint8_t> bytes) {
    ElfFile file;
    file.path = path;
    file.bytes = std::move(bytes);
    const Reader in(file.bytes, path);
    check_identity(in);
    file.type = in.u16(16);
    file.entry = in.u32(24);
    const std::vector<RawSection> raw = read_sections(in);
    for (const RawSection& section : raw) {
        file.sections.push_back(section.section);
    }
    file.symbols = read_symbols(in, raw);
    return file;
}

ElfFile read_elf(const std::string& path) {
    return parse_elf(path, read_file(path));
}

std::vector<std::string> undefined_symbols(const ElfFile& file) {
    std::vector<std::string> names;
    for (const ElfSymbol& symbol : file.symbols) {
        if (symbol.section == elf::kUndefined && !symbol.name.empty() &&
            symbol.binding != elf::kLocal) {
            names.push_back(symbol.name);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace pe
