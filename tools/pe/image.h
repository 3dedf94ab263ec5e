// The executable as the PE file will describe it: its sections at their
// RVAs, the entry point and the data directories, taken from the linked
// image (platform/wince/corvane.ld put it at its PE addresses) plus the
// .rsrc section; or made in memory, from sections given as bytes, with the
// import tables assembled here, as a linked one is laid out.
#ifndef CORVANE_TOOLS_PE_IMAGE_H
#define CORVANE_TOOLS_PE_IMAGE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/resources.h"
#include "tools/pe/elf.h"
#include "tools/pe/imports.h"

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

// --- An image made in memory ------------------------------------------------------

struct SectionContents {
    std::string name;
    std::vector<std::uint8_t> contents;
    std::uint32_t characteristics = 0;
};

// The sections, in the order given, each on a page of its own from the
// first page after the headers' and as large as its contents; the entry
// point entry_offset bytes into the first one. No imports, no resources:
// append_imports and append_resources add them.
Image image_of_sections(const std::vector<SectionContents>& sections, std::uint32_t entry_offset);

// Adds .idata on the next page: the import tables of `imports`, assembled
// there, with the import directory and the import address table pointing
// at them. Returns the RVA of every label in the tables (ImportSection).
std::map<std::string, std::uint32_t> append_imports(Image& image,
                                                    const std::vector<DllImports>& imports);

// Adds .rsrc on the next page, with the resource directory pointing at it
// (as build_image does for a linked image).
void append_resources(Image& image, const std::vector<sim::ResourceEntry>& resources);

}  // namespace pe

#endif
