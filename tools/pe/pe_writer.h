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

// The PE checksum of a file whose checksum field is at checksum_offset: the
// 16-bit one's complement sum of the file (that field taken as 0) plus its length.
std::uint32_t pe_checksum(std::span<const std::uint8_t> file, std::size_t checksum_offset);

}  // namespace pe

#endif
