// The executable as the PE file will describe it: its sections at their
// RVAs, the entry point and the data directories, taken from the linked
// image (platform/wince/corvane.ld put it at its PE addresses) plus the
// .rsrc section.
#ifndef CORVANE_TOOLS_PE_IMAGE_H
#define CORVANE_TOOLS_PE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/resources.h"
#include "tools/pe/elf.h"

namespace pe {

struct ImageSection {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t virtual_size = 0;
    std::vector<std::uint8_t> contents;  // initialised part; the rest of virtual_size is zero
    std::uint32_t characteristics = 0;
    std::vector<std::string> elf_sections;  // the linked image's sections in it
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct Image {
    std::uint32_t entry_rva = 0;
    std::vector<ImageSection> sections;  // ascending RVAs, .rsrc last
    DataDirectory imports;
    DataDirectory import_address_table;
    DataDirectory resources;

    // The section that holds rva, or nullptr.
    const ImageSection* section_at(std::uint32_t rva) const;
};

// Anything in the linked image that the layout does not allow (another
// section, a section not page-aligned, an entry point outside .text, no
// import tables) is an Error naming the file.
Image build_image(const ElfFile& elf, const std::vector<sim::ResourceEntry>& resources);

}  // namespace pe

#endif
