// The ELF files mkpe reads: the program's objects linked together (a
// relocatable file, for its undefined symbols) and the linked image (an
// executable at fixed addresses). 32-bit little-endian ARM only. The file is
// read as untrusted input: anything out of bounds or inconsistent is an
// Error naming the file.
#ifndef CORVANE_TOOLS_PE_ELF_H
#define CORVANE_TOOLS_PE_ELF_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pe {

namespace elf {
constexpr std::uint16_t kRelocatable = 1;  // ET_REL
constexpr std::uint16_t kExecutable = 2;   // ET_EXEC
constexpr std::uint32_t kNoBits = 8;       // SHT_NOBITS
constexpr std::uint32_t kWrite = 0x1;      // SHF_WRITE
constexpr std::uint32_t kAlloc = 0x2;      // SHF_ALLOC
constexpr std::uint32_t kExecInstr = 0x4;  // SHF_EXECINSTR
constexpr std::uint16_t kUndefined = 0;    // SHN_UNDEF
constexpr std::uint16_t kFirstReserved = 0xFF00;
constexpr std::uint8_t kObject = 1;  // STT_OBJECT
constexpr std::uint8_t kFunc = 2;    // STT_FUNC
constexpr std::uint8_t kLocal = 0;   // STB_LOCAL
constexpr std::uint8_t kGlobal = 1;  // STB_GLOBAL
constexpr std::uint8_t kWeak = 2;    // STB_WEAK
}  // namespace elf

struct ElfSection {
    std::string name;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint32_t addr = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct ElfSymbol {
    std::string name;
    std::uint32_t value = 0;
    std::uint32_t size = 0;
    std::uint8_t type = 0;
    std::uint8_t binding = 0;
    std::uint16_t section = 0;  // index into ElfFile::sections, or a reserved index
};

struct ElfFile {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::uint16_t type = 0;
    std::uint32_t entry = 0;
    std::vector<ElfSection> sections;
    std::vector<ElfSymbol> symbols;

    // The section's bytes in the file (empty for NOBITS).
    std::span<const std::uint8_t> contents(const ElfSection& section) const;
    const ElfSymbol* find_symbol(const std::string& name) const;
};

ElfFile read_elf(const std::string& path);
ElfFile parse_elf(const std::string& path, std::vector<std::uint8_t> bytes);

// The names of the symbols the file uses but does not define, sorted.
std::vector<std::string> undefined_symbols(const ElfFile& file);

}  // namespace pe

#endif
