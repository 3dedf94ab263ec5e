// An image like the program's, written by mkpe's PE writer (tools/pe), for
// the tests that read it or damage it and for the fuzzers' seeds: the file,
// where the writer put its parts, and the byte pokes the damage is done with.
#ifndef CORVANE_TESTS_SUPPORT_PE_SAMPLE_H
#define CORVANE_TESTS_SUPPORT_PE_SAMPLE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/resources.h"
#include "tools/pe/image.h"
#include "tools/pe/imports.h"
#include "tools/pe/pe_writer.h"

namespace pe_test {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

// Where the writer put things (file offsets unless named RVAs).
struct Layout {
    std::size_t pe_header = pe::kPeSignatureOffset;
    std::size_t optional_header = pe::kOptionalHeaderOffset;
    std::size_t directories = pe::kDataDirectoriesOffset;
    std::size_t section_table = pe::kSectionTableOffset;
    std::uint32_t idata_rva = 0, rsrc_rva = 0;
    std::size_t idata_offset = 0, rsrc_offset = 0;
    // The RVA of each label in .idata: __imp_<function> is the function's
    // address table slot, .Lhint_<function> its hint/name entry.
    std::map<std::string, std::uint32_t> import_labels;
};

struct Built {
    Bytes file;
    Layout layout;
};

// Three sections, as the program's linked image has them: .text (0x40
// bytes of code, the entry point 16 bytes in), .idata (imports from coredll
// by ordinal and by name, and from aygshell) and .rsrc with `resources`.
inline Built sample_image(const std::vector<sim::ResourceEntry>& resources = {}) {
    Bytes code = {0x00, 0x00, 0xA0, 0xE3, 0x1E, 0xFF, 0x2F, 0xE1};  // mov r0, #0; bx lr
    code.resize(0x40);
    pe::Image image = pe::image_of_sections(
        {{".text", code, sim::pe::kScnCode | sim::pe::kScnExecute | sim::pe::kScnRead}}, 0x10);
    Built built;
    built.layout.import_labels = pe::append_imports(
        image, {{"COREDLL.dll", {{"InterlockedExchange", 12, false}, {"Sleep", 496, true}}},
                {"aygshell.dll", {{"SHInitDialog", 56, true}}}});
    pe::append_resources(image, resources);
    const pe::FileLayout file = pe::lay_out_file(image);
    built.layout.idata_rva = image.sections[1].rva;
    built.layout.idata_offset = file.raw_offsets[1];
    built.layout.rsrc_rva = image.sections[2].rva;
    built.layout.rsrc_offset = file.raw_offsets[2];
    built.file = pe::write_pe(image);
    return built;
}

}  // namespace pe_test

#endif
