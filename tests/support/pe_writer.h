// A small writer of Windows CE executable images for the tests and the
// fuzzers' seeds: headers, a .text section, imports (.idata) and a resource
// tree (.rsrc) built from resource entries. It writes what a linker would
// for the device; tests damage the result through the layout it reports.
#ifndef CORVANE_TESTS_SUPPORT_PE_WRITER_H
#define CORVANE_TESTS_SUPPORT_PE_WRITER_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "tests/support/pe_resource_writer.h"

namespace pe_test {

// A DLL and the functions taken from it: an ordinal, or a name (whose hint
// is its place in the list).
struct Import {
    std::string dll;
    std::vector<std::variant<std::uint16_t, std::string>> functions;
};

struct ImageShape {
    std::uint16_t machine = sim::pe::kMachineArm;
    // Relocations stripped, executable, 32-bit machine.
    std::uint16_t characteristics = 0x0103;
    std::uint16_t subsystem = sim::pe::kSubsystemWindowsCeGui;
    std::uint16_t subsystem_major = 3;
    std::uint16_t subsystem_minor = 0;
    std::uint32_t image_base = 0x10000;
    std::uint32_t stack_reserve = 0x10000;
    std::uint32_t stack_commit = 0x1000;
    // mov r0, #0; bx lr
    Bytes code = {0x00, 0x00, 0xA0, 0xE3, 0x1E, 0xFF, 0x2F, 0xE1};
    std::uint32_t entry_offset = 0;  // into the code
    std::vector<Import> imports;
    std::vector<sim::ResourceEntry> resources;
};

// Where the writer put things (file offsets unless named RVAs).
struct Layout {
    std::size_t pe_header = 0x80;
    std::size_t optional_header = 0x80 + 24;
    std::size_t directories = 0x80 + 24 + 96;
    std::size_t section_table = 0x80 + 24 + 224;
    std::uint32_t text_rva = 0x1000;
    std::uint32_t idata_rva = 0, rsrc_rva = 0;
    std::size_t idata_offset = 0, rsrc_offset = 0;
    std::vector<std::uint32_t> iat_rvas;  // each descriptor's FirstThunk
};

struct Built {
    Bytes file;
    Layout layout;
};

// The import section at `rva`: descriptors, lookup tables, address tables,
// hint/name entries, DLL names. `iats` receives each address table's RVA.
inline Bytes build_import_section(const std::vector<Import>& imports, std::uint32_t rva,
                                  std::vector<std::uint32_t>& iats) {
    const std::size_t n = imports.size();
    std::size_t off = (n + 1) * 20;
    std::vector<std::size_t> ilt(n), iat(n), dll_name(n);
    std::vector<std::vector<std::size_t>> hint_name(n);
    for (std::size_t d = 0; d < n; ++d) {
        ilt[d] = off;
        off += (imports[d].functions.size() + 1) * 4;
    }
    for (std::size_t d = 0; d < n; ++d) {
        iat[d] = off;
        off += (imports[d].functions.size() + 1) * 4;
    }
    for (std::size_t d = 0; d < n; ++d) {
        for (const auto& f : imports[d].functions) {
            hint_name[d].push_back(off);
            if (const auto* name = std::get_if<std::string>(&f)) {
                off = align_up(off + 2 + name->size() + 1, 2);
            }
        }
        dll_name[d] = off;
        off += imports[d].dll.size() + 1;
    }
    Bytes out(align_up(off, 4));
    for (std::size_t d = 0; d < n; ++d) {
        put32(out, d * 20, rva + ilt[d]);
        put32(out, d * 20 + 12, rva + dll_name[d]);
        put32(out, d * 20 + 16, rva + iat[d]);
        iats.push_back(rva + iat[d]);
        std::copy(imports[d].dll.begin(), imports[d].dll.end(), out.begin() + dll_name[d]);
        for (std::size_t j = 0; j < imports[d].functions.size(); ++j) {
            std::uint32_t entry = 0;
            if (const auto* ordinal = std::get_if<std::uint16_t>(&imports[d].functions[j])) {
                entry = 0x80000000u | *ordinal;
            } else {
                const auto& name = std::get<std::string>(imports[d].functions[j]);
                put16(out, hint_name[d][j], static_cast<std::uint32_t>(j));
                std::copy(name.begin(), name.end(), out.begin() + hint_name[d][j] + 2);
                entry = static_cast<std::uint32_t>(rva + hint_name[d][j]);
            }
            put32(out, ilt[d] + 4 * j, entry);
            put32(out, iat[d] + 4 * j, entry);
        }
    }
    return out;
}

struct SectionPlan {
    const char* name;
    std::uint32_t characteristics;
    Bytes data;
    std::uint32_t rva = 0;
    std::size_t offset = 0;
};

// The headers of an image of `sections` (laid out already).
inline void write_headers(const ImageShape& shape, const std::vector<SectionPlan>& sections,
                          const Layout& l, std::uint32_t size_of_image, Bytes& file) {
    put16(file, 0, 0x5A4D);
    put32(file, 0x3C, static_cast<std::uint32_t>(l.pe_header));
    put32(file, l.pe_header, 0x00004550);
    put16(file, l.pe_header + 4, shape.machine);
    put16(file, l.pe_header + 6, static_cast<std::uint32_t>(sections.size()));
    put16(file, l.pe_header + 20, sim::pe::kOptionalHeaderSize);
    put16(file, l.pe_header + 22, shape.characteristics);
    const std::size_t o = l.optional_header;
    put16(file, o, sim::pe::kOptionalMagicPe32);
    put32(file, o + 16, l.text_rva + shape.entry_offset);
    put32(file, o + 20, l.text_rva);
    put32(file, o + 28, shape.image_base);
    put32(file, o + 32, 0x1000);
    put32(file, o + 36, 0x200);
    put16(file, o + 40, shape.subsystem_major);
    put16(file, o + 42, shape.subsystem_minor);
    put16(file, o + 48, shape.subsystem_major);
    put16(file, o + 50, shape.subsystem_minor);
    put32(file, o + 56, size_of_image);
    put32(file, o + 60, 0x200);
    put16(file, o + 68, shape.subsystem);
    put32(file, o + 72, shape.stack_reserve);
    put32(file, o + 76, shape.stack_commit);
    put32(file, o + 80, 0x100000);
    put32(file, o + 84, 0x1000);
    put32(file, o + 92, sim::pe::kDirectoryCount);
    if (l.idata_rva != 0) {
        put32(file, l.directories + 8, l.idata_rva);
        put32(file, l.directories + 12,
              static_cast<std::uint32_t>(20 * (shape.imports.size() + 1)));
    }
    if (l.rsrc_rva != 0) {
        put32(file, l.directories + 16, l.rsrc_rva);
        put32(file, l.directories + 20, static_cast<std::uint32_t>(sections.back().data.size()));
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const SectionPlan& s = sections[i];
        const std::size_t h = l.section_table + 40 * i;
        std::copy(s.name, s.name + std::char_traits<char>::length(s.name), file.begin() + h);
        put32(file, h + 8, static_cast<std::uint32_t>(s.data.size()));
        put32(file, h + 12, s.rva);
        put32(file, h + 16, static_cast<std::uint32_t>(align_up(s.data.size(), 0x200)));
        put32(file, h + 20, static_cast<std::uint32_t>(s.offset));
        put32(file, h + 36, s.characteristics);
    }
}

// An image as the device's linker makes one: headers in the first 0x200
// bytes, sections 0x1000 apart in memory and 0x200 in the file.
inline Built build_image(const ImageShape& shape) {
    Layout l;
    std::vector<SectionPlan> sections;
    sections.push_back({".text", 0x60000020, shape.code});
    if (!shape.imports.empty()) {
        l.idata_rva = l.text_rva + static_cast<std::uint32_t>(align_up(
                                       std::max<std::size_t>(shape.code.size(), 1), 0x1000));
        sections.push_back(
            {".idata", 0xC0000040, build_import_section(shape.imports, l.idata_rva, l.iat_rvas)});
    }
    std::uint32_t rva = l.text_rva;
    std::size_t offset = 0x200;
    for (SectionPlan& s : sections) {
        s.rva = rva;
        s.offset = offset;
        rva +=
            static_cast<std::uint32_t>(align_up(std::max<std::size_t>(s.data.size(), 1), 0x1000));
        offset += align_up(s.data.size(), 0x200);
    }
    if (!shape.resources.empty()) {
        l.rsrc_rva = rva;
        sections.push_back(
            {".rsrc", 0x40000040, build_resource_section(shape.resources, rva), rva, offset});
        rva += static_cast<std::uint32_t>(align_up(sections.back().data.size(), 0x1000));
        offset += align_up(sections.back().data.size(), 0x200);
    }
    Built built{Bytes(offset), l};
    for (const SectionPlan& s : sections) {
        std::copy(s.data.begin(), s.data.end(), built.file.begin() + s.offset);
        if (s.rva == l.idata_rva) {
            built.layout.idata_offset = s.offset;
        }
        if (s.rva == l.rsrc_rva) {
            built.layout.rsrc_offset = s.offset;
        }
    }
    write_headers(shape, sections, l, rva, built.file);
    return built;
}

// An image like the program's: code with its entry point 16 bytes in,
// imports from coredll (by ordinal and by name) and aygshell, and
// `resources`.
inline ImageShape sample_shape(std::vector<sim::ResourceEntry> resources = {}) {
    ImageShape shape;
    shape.code.resize(0x40);
    shape.entry_offset = 0x10;
    shape.imports = {{"COREDLL.dll", {std::uint16_t{12}, std::string("Sleep")}},
                     {"aygshell.dll", {std::string("SHInitDialog")}}};
    shape.resources = std::move(resources);
    return shape;
}

}  // namespace pe_test

#endif
