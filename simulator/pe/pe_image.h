// A Windows CE executable image (PE32), read from its file without loading
// it: the headers the loader reads, the sections, the imports and the
// resource tree.
//
// The file is untrusted. Every offset, RVA, size and count in it is checked
// before use; a file that cannot be read as an image is an Error with
// the file offset of the fault. Whether the device would load a readable
// image is a separate question (pe_load_rules.h).
//
// The layouts are those of Microsoft's PE format documentation
// (learn.microsoft.com/windows/win32/debug/pe-format), read as the Windows
// CE 3.0 kernel loader (loader.c, LoadE32 and LoadO32) reads them.
#ifndef CORVANE_SIMULATOR_PE_PE_IMAGE_H
#define CORVANE_SIMULATOR_PE_PE_IMAGE_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simulator/pe/byte_reader.h"
#include "simulator/pe/resources.h"

namespace sim {

namespace pe {
constexpr std::uint16_t kMachineArm = 0x01C0;
// COFF characteristics.
constexpr std::uint16_t kRelocsStripped = 0x0001;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kLineNumsStripped = 0x0004;
constexpr std::uint16_t kLocalSymsStripped = 0x0008;
constexpr std::uint16_t k32BitMachine = 0x0100;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint16_t kSubsystemWindowsCeGui = 9;
constexpr std::uint16_t kOptionalMagicPe32 = 0x10B;
// The optional header the loader reads: the fixed fields and 16 data
// directories.
constexpr std::uint16_t kOptionalHeaderSize = 0xE0;
constexpr std::size_t kDirectoryCount = 16;
// Data directories.
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kRelocationDirectory = 5;
constexpr std::size_t kImportAddressTable = 12;
constexpr std::size_t kComDescriptor = 14;
// Section characteristics.
constexpr std::uint32_t kScnCode = 0x00000020;
constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnDiscardable = 0x02000000;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;
// The most sections an image may have (the PE format's loader limit).
constexpr std::size_t kMaxSections = 96;
}  // namespace pe

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    bool empty() const { return rva == 0 && size == 0; }
    bool operator==(const DataDirectory&) const = default;
};

struct PeSection {
    std::string name;  // up to 8 characters, the padding removed
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_offset = 0;  // PointerToRawData
    std::uint32_t raw_size = 0;    // SizeOfRawData
    std::uint32_t characteristics = 0;
    // Whether all raw_size bytes from raw_offset lie inside the file.
    bool raw_in_file = true;
    // What the loader copies into the section: the first
    // min(raw_size, virtual_size) bytes of its raw data (empty when they do
    // not lie in the file). The rest of the section is zero.
    std::vector<std::uint8_t> data;

    bool contains(std::uint32_t rva) const {
        return rva >= virtual_address && rva - virtual_address < virtual_size;
    }
};

// One function a descriptor imports.
struct PeImportEntry {
    std::optional<std::uint16_t> ordinal;  // by ordinal (bit 31 of the lookup entry)
    std::string name;                      // by name, with its hint
    std::uint16_t hint = 0;
    std::uint32_t iat_rva = 0;  // the address table slot the loader fills
};

// One import descriptor.
struct PeImportDll {
    std::string dll;
    std::uint32_t lookup_rva = 0;        // OriginalFirstThunk; 0 when the descriptor has none
    std::uint32_t iat_rva = 0;           // FirstThunk
    std::vector<PeImportEntry> entries;  // empty without a lookup table
};

struct PeImage {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t size_of_optional_header = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t subsystem_major = 0;
    std::uint16_t subsystem_minor = 0;
    std::uint32_t image_base = 0;
    std::uint32_t entry_point = 0;  // an RVA
    std::uint32_t size_of_image = 0;
    std::uint32_t size_of_headers = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t file_alignment = 0;
    std::uint32_t stack_reserve = 0;
    std::uint32_t stack_commit = 0;
    std::uint32_t number_of_rva_and_sizes = 0;
    // All 16, as the loader reads them whatever NumberOfRvaAndSizes says.
    std::array<DataDirectory, pe::kDirectoryCount> directories{};
    std::vector<PeSection> sections;
    std::vector<PeImportDll> imports;
    // The resource tree's leaves, each with the RVA of its data.
    std::vector<ResourceEntry> resources;

    // The section holding `rva`, if any (the first one, should they overlap).
    const PeSection* section_at(std::uint32_t rva) const;
};

Result<PeImage> parse_pe(std::span<const std::uint8_t> file);
// The headers and the section table only, without the import and resource
// tables: what the loader's first checks look at (check_headers).
Result<PeImage> parse_pe_headers(std::span<const std::uint8_t> file);

// The resource tree (type, name, language) of an image's resource
// directory. `section` is the data of the section holding it, which begins
// at `section_rva`; the tree's root is at `directory_rva`. Every table,
// string and data entry must lie in the section, every table is reached
// once, and the data may not add up to more than the section holds. Error
// offsets are offsets in `section`.
Result<std::vector<ResourceEntry>> parse_resource_directory(std::span<const std::uint8_t> section,
                                                            std::uint32_t section_rva,
                                                            std::uint32_t directory_rva);

}  // namespace sim

#endif
