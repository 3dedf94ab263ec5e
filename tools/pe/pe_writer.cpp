#include "tools/pe/pe_writer.h"

#include <algorithm>

#include "tools/pe/bytes.h"
#include "tools/pe/layout.h"

namespace pe {

namespace {

constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::size_t kChecksumOffset = kOptionalHeaderOffset + 64;

// No relocations (the exe loads at its ImageBase, 0x10000), an executable,
// no line numbers or local symbols, 32-bit. Not a DLL.
constexpr std::uint16_t kCharacteristics = sim::pe::kRelocsStripped | sim::pe::kExecutableImage |
                                           sim::pe::kLineNumsStripped |
                                           sim::pe::kLocalSymsStripped | sim::pe::k32BitMachine;
// Windows CE GUI, version 3.00: the CE 3.0 loader refuses a newer subsystem.
constexpr std::uint16_t kSubsystemMajor = 3;
constexpr std::uint16_t kSubsystemMinor = 0;
// The main thread's stack: 64 KB reserved (the loader wants 16 KB to 1 MB),
// a page committed; the process heap's defaults.
constexpr std::uint32_t kStackReserve = 0x10000;
constexpr std::uint32_t kStackCommit = 0x1000;
constexpr std::uint32_t kHeapReserve = 0x100000;
constexpr std::uint32_t kHeapCommit = 0x1000;

void dos_header(Writer& out) {
    out.u16(0x5A4D);  // "MZ"
    out.u16(0x90);    // bytes on the last page
    out.u16(3);       // pages
    out.u16(0);       // relocations
    out.u16(4);       // header paragraphs
    out.u16(0);       // minimum extra paragraphs
    out.u16(0xFFFF);  // maximum extra paragraphs
    out.u16(0);       // ss
    out.u16(0xB8);    // sp
    out.zeros(kPeSignatureOffset - 0x12 - 4);
    out.u32(kPeSignatureOffset);  // e_lfanew
}

void coff_header(Writer& out, const Image& image) {
    out.u32(0x00004550);  // "PE\0\0"
    out.u16(sim::pe::kMachineArm);
    out.u16(static_cast<std::uint16_t>(image.sections.size()));
    out.u32(0);  // TimeDateStamp: none, so that a build is reproducible
    out.u32(0);  // PointerToSymbolTable
    out.u32(0);  // NumberOfSymbols
    out.u16(sim::pe::kOptionalHeaderSize);
    out.u16(kCharacteristics);
}

std::uint32_t raw_total(const Image& image, const FileLayout& layout, bool code) {
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const bool is_code = (image.sections[i].characteristics & sim::pe::kScnCode) != 0;
        if (is_code == code) {
            total += layout.raw_sizes[i];
        }
    }
    return total;
}

void optional_header_fields(Writer& out, const Image& image, const FileLayout& layout) {
    out.u16(0x10B);  // PE32
    out.u8(1);       // linker version: mkpe's
    out.u8(0);
    out.u32(raw_total(image, layout, true));   // SizeOfCode
    out.u32(raw_total(image, layout, false));  // SizeOfInitializedData
    out.u32(0);                                // SizeOfUninitializedData: .bss is inside .data
    out.u32(image.entry_rva);
    out.u32(image.sections.front().rva);                             // BaseOfCode
    out.u32(image.sections.size() > 1 ? image.sections[1].rva : 0);  // BaseOfData
    out.u32(kImageBase);
    out.u32(kSectionAlignment);
    out.u32(kFileAlignment);
    out.u16(3);  // operating system version 3.0
    out.u16(0);
    out.u16(0);  // image version
    out.u16(0);
    out.u16(kSubsystemMajor);
    out.u16(kSubsystemMinor);
    out.u32(0);  // Win32VersionValue
    out.u32(layout.image_size);
    out.u32(layout.headers_size);
    out.u32(0);  // CheckSum, filled in last
    out.u16(sim::pe::kSubsystemWindowsCeGui);
    out.u16(0);  // DllCharacteristics
    out.u32(kStackReserve);
    out.u32(kStackCommit);
    out.u32(kHeapReserve);
    out.u32(kHeapCommit);
    out.u32(0);  // LoaderFlags
    out.u32(static_cast<std::uint32_t>(sim::pe::kDirectoryCount));
}

void data_directories(Writer& out, const Image& image) {
    for (std::size_t i = 0; i < sim::pe::kDirectoryCount; ++i) {
        DataDirectory directory;
        if (i == sim::pe::kImportDirectory) {
            directory = image.imports;
        } else if (i == sim::pe::kResourceDirectory) {
            directory = image.resources;
        } else if (i == sim::pe::kImportAddressTable) {
            directory = image.import_address_table;
        }
        out.u32(directory.rva);
        out.u32(directory.size);
    }
}

void section_headers(Writer& out, const Image& image, const FileLayout& layout) {
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const ImageSection& section = image.sections[i];
        std::uint8_t name[8] = {};
        std::copy_n(section.name.begin(), std::min<std::size_t>(8, section.name.size()), name);
        out.bytes(name);
        out.u32(section.virtual_size);
        out.u32(section.rva);
        out.u32(layout.raw_sizes[i]);
        out.u32(layout.raw_offsets[i]);
        out.u32(0);  // PointerToRelocations
        out.u32(0);  // PointerToLinenumbers
        out.u32(0);  // NumberOfRelocations, NumberOfLinenumbers
        out.u32(section.characteristics);
    }
}

}  // namespace

FileLayout lay_out_file(const Image& image) {
    FileLayout layout;
    const std::uint64_t headers =
        kSectionTableOffset + std::uint64_t{kSectionHeaderSize} * image.sections.size();
    layout.headers_size = align_up(headers, kFileAlignment);
    std::uint32_t offset = layout.headers_size;
    for (const ImageSection& section : image.sections) {
        const std::uint32_t raw = align_up(section.contents.size(), kFileAlignment);
        layout.raw_offsets.push_back(raw == 0 ? 0 : offset);
        layout.raw_sizes.push_back(raw);
        offset = align_up(std::uint64_t{offset} + raw, kFileAlignment);
    }
    layout.file_size = offset;
    const ImageSection& last = image.sections.back();
    layout.image_size = align_up(std::uint64_t{last.rva} + last.virtual_size, kSectionAlignment);
    return layout;
}

std::uint32_t pe_checksum(std::span<const std::uint8_t> file, std::size_t checksum_offset) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        std::uint32_t word = file[i];
        if (i + 1 < file.size()) {
            word |= std::uint32_t{file[i + 1]} << 8;
        }
        if (i >= checksum_offset && i < checksum_offset + 4) {
            word = 0;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

std::vector<std::uint8_t> write_pe(const Image& image) {
    const FileLayout layout = lay_out_file(image);
    Writer out;
    dos_header(out);
    coff_header(out, image);
    optional_header_fields(out, image, layout);
    data_directories(out, image);
    section_headers(out, image, layout);
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        if (layout.raw_sizes[i] != 0) {
            out.zeros(layout.raw_offsets[i] - out.size());
            out.bytes(image.sections[i].contents);
        }
    }
    out.zeros(layout.file_size - out.size());
    out.put_u32(kChecksumOffset, pe_checksum(out.data(), kChecksumOffset));
    return std::move(out.data());
}

}  // namespace pe
