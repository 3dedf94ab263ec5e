#include "simulator/pe/pe_image.h"

#include <algorithm>

#include "simulator/support/hex.h"
#include "simulator/support/text.h"

namespace sim {

const PeSection* PeImage::section_at(std::uint32_t rva) const {
    for (const PeSection& s : sections) {
        if (s.contains(rva)) {
            return &s;
        }
    }
    return nullptr;
}

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
// Bounds on the names in the import tables. The loader copies a DLL's name
// into a buffer of 32 characters (loader.c, DoImports), and the load rules
// refuse a name it would cut short; these bounds only stop a read that runs
// on through a section looking for a terminator.
constexpr std::size_t kMaxDllName = 256;
constexpr std::size_t kMaxFunctionName = 512;
// A bound of this reader's, not the loader's: import descriptors may share
// one lookup table, so a small hostile file could otherwise ask for
// millions of bindings. The program imports 28 functions.
constexpr std::size_t kMaxImportedFunctions = 65536;

// What the parser knows besides the image: the file, and where the data
// directories are (for errors about what they point at).
struct Context {
    std::span<const std::uint8_t> file;
    std::size_t directories_offset = 0;
    PeImage image;
};

using Step = Result<void>;

// The DOS header, the signature and the COFF file header. Returns the
// offset of the optional header. The loader reads only e_lfanew from the
// DOS header; the MZ signature is checked here as well, as every linker
// writes it.
Result<std::size_t> read_file_header(Context& c, std::uint16_t& section_count) {
    Reader r(c.file);
    if (r.u16("DOS header") != kDosMagic || r.failed()) {
        return Error::at_byte(0, "not an executable image (no MZ signature)");
    }
    r.seek(kLfanewOffset, "e_lfanew");
    const std::uint32_t lfanew = r.u32("e_lfanew");
    r.seek(lfanew, "the PE header e_lfanew points at");
    if (r.failed()) {
        return *r.error();
    }
    if (r.u32("PE signature") != kPeSignature || r.failed()) {
        return Error::at_byte(lfanew, "no PE signature where e_lfanew points");
    }
    Reader coff = r.sub(r.pos(), kCoffHeaderSize, "COFF file header");
    c.image.machine = coff.u16("machine");
    section_count = coff.u16("number of sections");
    coff.skip(12, "COFF file header");
    c.image.size_of_optional_header = coff.u16("size of optional header");
    c.image.characteristics = coff.u16("characteristics");
    if (coff.failed()) {
        return *coff.error();
    }
    if (c.image.size_of_optional_header < pe::kOptionalHeaderSize) {
        return Error::at_byte(coff.offset() - 4,
                              "optional header of " +
                                  std::to_string(c.image.size_of_optional_header) +
                                  " bytes; the loader reads 224");
    }
    return coff.offset();
}

Step read_optional_header(Context& c, std::size_t at) {
    Reader r = Reader(c.file).sub(at, pe::kOptionalHeaderSize, "optional header");
    PeImage& image = c.image;
    if (r.u16("optional header magic") != pe::kOptionalMagicPe32 && !r.failed()) {
        return Error::at_byte(at, "not a PE32 optional header (magic 0x10B expected)");
    }
    r.skip(14, "optional header");
    image.entry_point = r.u32("entry point");
    r.skip(8, "optional header");
    image.image_base = r.u32("image base");
    image.section_alignment = r.u32("section alignment");
    image.file_alignment = r.u32("file alignment");
    r.skip(8, "optional header");
    image.subsystem_major = r.u16("subsystem major version");
    image.subsystem_minor = r.u16("subsystem minor version");
    r.skip(4, "optional header");
    image.size_of_image = r.u32("size of image");
    image.size_of_headers = r.u32("size of headers");
    r.skip(4, "checksum");
    image.subsystem = r.u16("subsystem");
    r.skip(2, "DLL characteristics");
    image.stack_reserve = r.u32("stack reserve");
    image.stack_commit = r.u32("stack commit");
    r.skip(12, "optional header");
    image.number_of_rva_and_sizes = r.u32("number of data directories");
    c.directories_offset = r.offset();
    for (DataDirectory& d : image.directories) {
        d.rva = r.u32("data directory");
        d.size = r.u32("data directory");
    }
    if (r.failed()) {
        return *r.error();
    }
    return {};
}

PeSection read_section(Reader& h, std::span<const std::uint8_t> file) {
    PeSection s;
    const auto name = h.take(8, "section name");
    s.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
    s.virtual_size = h.u32("section virtual size");
    s.virtual_address = h.u32("section virtual address");
    s.raw_size = h.u32("section raw data size");
    s.raw_offset = h.u32("section raw data offset");
    h.skip(12, "section header");
    s.characteristics = h.u32("section characteristics");
    const std::uint64_t raw_end = std::uint64_t{s.raw_offset} + s.raw_size;
    s.raw_in_file = s.raw_size == 0 || raw_end <= file.size();
    if (s.raw_in_file && s.raw_size > 0) {
        const auto bytes = file.subspan(s.raw_offset, std::min(s.raw_size, s.virtual_size));
        s.data.assign(bytes.begin(), bytes.end());
    }
    return s;
}

Step read_sections(Context& c, std::size_t at, std::uint16_t count) {
    if (count > pe::kMaxSections) {
        return Error::at_byte(at, std::to_string(count) + " sections; an image has at most 96");
    }
    Reader file(c.file);
    Reader table = file.sub(at, std::size_t{count} * kSectionHeaderSize, "section table");
    for (std::uint16_t i = 0; i < count && !table.failed(); ++i) {
        c.image.sections.push_back(read_section(table, c.file));
    }
    if (table.failed()) {
        return *table.error();
    }
    return {};
}

// A reader over the file-backed bytes of the image from `rva` to the end of
// its section's data, reporting file offsets; none when no section's data
// holds `rva`.
std::optional<Reader> at_rva(const PeImage& image, std::uint32_t rva) {
    for (const PeSection& s : image.sections) {
        if (rva >= s.virtual_address && rva - s.virtual_address < s.data.size()) {
            const std::size_t into = rva - s.virtual_address;
            return Reader(std::span<const std::uint8_t>(s.data).subspan(into), s.raw_offset + into);
        }
    }
    return std::nullopt;
}

// A table the image names that no section's data holds: most often a file
// cut short, which is then named as such.
Error outside(const PeImage& image, std::size_t offset, const std::string& what,
              std::uint32_t rva) {
    for (const PeSection& s : image.sections) {
        const bool holds = rva >= s.virtual_address && rva - s.virtual_address < s.virtual_size;
        if (holds && !s.raw_in_file) {
            return Error::at_byte(offset, what + " (RVA " + hex(rva) + ") is in section " +
                                              printable(s.name) +
                                              ", whose raw data runs past the end of the file: "
                                              "the file is truncated");
        }
    }
    return Error::at_byte(offset,
                          what + " (RVA " + hex(rva) + ") is not in any section's data" +
                              (image.sections.empty() ? " (the image has no sections)" : ""));
}

Step read_named_entry(const PeImage& image, std::uint32_t rva, std::size_t from, PeImportEntry& e) {
    auto r = at_rva(image, rva);
    if (!r) {
        return outside(image, from, "imported function's name", rva);
    }
    e.hint = r->u16("import hint");
    e.name = r->cstring(kMaxFunctionName, "imported function's name");
    if (r->failed()) {
        return *r->error();
    }
    if (e.name.empty()) {
        return Error::at_byte(from, "an imported function has an empty name");
    }
    return {};
}

Step read_lookup_table(const PeImage& image, std::size_t from, std::size_t& total,
                       PeImportDll& dll) {
    auto t = at_rva(image, dll.lookup_rva);
    if (!t) {
        return outside(image, from, "import lookup table of " + printable(dll.dll), dll.lookup_rva);
    }
    for (std::uint64_t slot = dll.iat_rva;; slot += 4) {
        const std::size_t entry_at = t->offset();
        const std::uint32_t v = t->u32("import lookup table (no terminating 0)");
        if (t->failed()) {
            return *t->error();
        }
        if (v == 0) {
            return {};
        }
        if (++total > kMaxImportedFunctions || slot > 0xFFFFFFFCu) {
            return Error::at_byte(entry_at, "too many imported functions");
        }
        PeImportEntry e;
        e.iat_rva = static_cast<std::uint32_t>(slot);
        if (v & 0x80000000u) {
            if (v & 0x7FFF0000u) {
                return Error::at_byte(entry_at,
                                      "import by ordinal with bits set above the ordinal");
            }
            e.ordinal = static_cast<std::uint16_t>(v);
        } else if (auto named = read_named_entry(image, v, entry_at, e); !named.ok()) {
            return named;
        }
        dll.entries.push_back(std::move(e));
    }
}

// The import descriptors, up to the all-zero one that ends them.
Step read_imports(Context& c) {
    PeImage& image = c.image;
    const DataDirectory dir = image.directories[pe::kImportDirectory];
    const std::size_t dir_at = c.directories_offset + 8 * pe::kImportDirectory;
    if (dir.size == 0) {
        return {};  // the loader reads imports only when the size is not 0 (DoImports)
    }
    auto d = at_rva(image, dir.rva);
    if (!d) {
        return outside(image, dir_at, "import directory", dir.rva);
    }
    std::size_t total = 0;
    for (;;) {
        const std::size_t at = d->offset();
        PeImportDll dll;
        dll.lookup_rva = d->u32("import descriptor");
        const std::uint32_t stamp = d->u32("import descriptor");
        const std::uint32_t chain = d->u32("import descriptor");
        const std::uint32_t name_rva = d->u32("import descriptor");
        dll.iat_rva = d->u32("import descriptor");
        if (d->failed()) {
            return Error::at_byte(*d->error()->offset,
                                  "import descriptors run past their section "
                                  "without the all-zero one that ends them");
        }
        if ((dll.lookup_rva | stamp | chain | name_rva | dll.iat_rva) == 0) {
            return {};
        }
        auto name = at_rva(image, name_rva);
        if (!name) {
            return outside(image, at + 12, "imported DLL's name", name_rva);
        }
        dll.dll = name->cstring(kMaxDllName, "imported DLL's name");
        if (name->failed()) {
            return *name->error();
        }
        if (dll.lookup_rva != 0) {
            if (auto read = read_lookup_table(image, at, total, dll); !read.ok()) {
                return read;
            }
        }
        image.imports.push_back(std::move(dll));
    }
}

Step read_resources(Context& c) {
    const DataDirectory dir = c.image.directories[pe::kResourceDirectory];
    if (dir.rva == 0) {
        return {};
    }
    for (const PeSection& s : c.image.sections) {
        if (dir.rva >= s.virtual_address && dir.rva - s.virtual_address < s.data.size()) {
            auto tree = parse_resource_directory(s.data, s.virtual_address, dir.rva);
            if (!tree.ok()) {
                // The tree's offsets count from the start of the section's data.
                return Error::at_byte(s.raw_offset + *tree.error().offset, tree.error().message);
            }
            c.image.resources = std::move(tree.value());
            return {};
        }
    }
    return outside(c.image, c.directories_offset + 8 * pe::kResourceDirectory, "resource directory",
                   dir.rva);
}

}  // namespace

namespace {

// The headers and the section table.
Step read_headers(Context& c) {
    std::uint16_t section_count = 0;
    auto optional_at = read_file_header(c, section_count);
    if (!optional_at.ok()) {
        return optional_at.error();
    }
    const std::size_t at = optional_at.value();
    if (auto header = read_optional_header(c, at); !header.ok()) {
        return header.error();
    }
    // The section table follows the optional header, whose size the COFF
    // header gives (the load rules refuse any other size than 224).
    const std::size_t table_at = at + c.image.size_of_optional_header;
    return read_sections(c, table_at, section_count);
}

}  // namespace

Result<PeImage> parse_pe_headers(std::span<const std::uint8_t> file) {
    Context c{file, 0, {}};
    if (auto headers = read_headers(c); !headers.ok()) {
        return headers.error();
    }
    return std::move(c.image);
}

Result<PeImage> parse_pe(std::span<const std::uint8_t> file) {
    Context c{file, 0, {}};
    if (auto headers = read_headers(c); !headers.ok()) {
        return headers.error();
    }
    if (auto imports = read_imports(c); !imports.ok()) {
        return imports.error();
    }
    if (auto resources = read_resources(c); !resources.ok()) {
        return resources.error();
    }
    return std::move(c.image);
}

}  // namespace sim
