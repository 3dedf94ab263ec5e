// The PE file of an Image: the headers a Windows CE 3.0 loader accepts for
// an ARM executable (machine 0x1C0, subsystem Windows CE GUI 3.00, no base
// relocations, loaded at 0x10000) and the sections, file-aligned.
#ifndef CORVANE_TOOLS_PE_PE_WRITER_H
#define CORVANE_TOOLS_PE_PE_WRITER_H

#include <cstdint>
#include <span>
#include <vector>

#include "tools/pe/image.h"

namespace pe {

std::vector<std::uint8_t> write_pe(const Image& image);

// Where write_pe puts the headers, the same in every file: the PE signature
// right after the DOS header (no DOS stub), the file header, the optional
// header with its data directories, then the section table.
constexpr std::uint32_t kPeSignatureOffset = 0x40;
constexpr std::uint32_t kOptionalHeaderOffset = kPeSignatureOffset + 4 + 20;
constexpr std::uint32_t kDataDirectoriesOffset = kOptionalHeaderOffset + 96;
constexpr std::uint32_t kSectionTableOffset = kOptionalHeaderOffset + sim::pe::kOptionalHeaderSize;

// And where it puts the rest of the image's file.
struct FileLayout {
    std::uint32_t headers_size = 0;
    std::vector<std::uint32_t> raw_offsets;  // per section, 0 when it has no raw data
    std::vector<std::uint32_t> raw_sizes;
    std::uint32_t file_size = 0;
    std::uint32_t image_size = 0;
};
FileLayout lay_out_file(const Image& image);

// The PE checksum of a file whose checksum field is at checksum_offset: the
// 16-bit one's complement sum of the file (that field taken as 0) plus its length.
std::uint32_t pe_checksum(std::span<const std::uint8_t> file, std::size_t checksum_offset);

}  // namespace pe

#endif
