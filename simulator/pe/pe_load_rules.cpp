#include "simulator/pe/pe_load_rules.h"

#include <algorithm>

#include "simulator/support/hex.h"
#include "simulator/support/text.h"

namespace sim {

std::string LoadRefusal::describe() const {
    const char* name = "error";
    switch (error) {
        case win32_error::kOutOfMemory:
            name = "ERROR_OUTOFMEMORY";
            break;
        case win32_error::kModNotFound:
            name = "ERROR_MOD_NOT_FOUND";
            break;
        case win32_error::kBadExeFormat:
            name = "ERROR_BAD_EXE_FORMAT";
            break;
        case win32_error::kDllInitFailed:
            name = "ERROR_DLL_INIT_FAILED";
            break;
        case win32_error::kOldWinVersion:
            name = "ERROR_OLD_WIN_VERSION";
            break;
    }
    return reason + " (" + name + ", " + std::to_string(error) + ")";
}

namespace {

using Check = std::optional<LoadRefusal>;

LoadRefusal bad_format(std::string reason) {
    return {win32_error::kBadExeFormat, std::move(reason)};
}

bool managed(const PeImage& image) {
    return !image.directories[pe::kComDescriptor].empty();
}

// The loader takes the stack reserve from an image made for CE 2.02 or
// later only (LoadE32).
bool reads_stack_reserve(const PeImage& image) {
    return image.subsystem_major > 2 || (image.subsystem_major == 2 && image.subsystem_minor >= 2);
}

// LoadE32: the machine must be the device's. It skips this for an image
// with a COM descriptor, which com() refuses later. Strict: a loader built
// with Thumb support also takes 0x1C2 (Thumb); that is refused here.
Check machine(const PeImage& image) {
    if (image.machine != pe::kMachineArm && !managed(image)) {
        return bad_format("machine " + hex(image.machine) + " is not ARM (0x1C0)");
    }
    return std::nullopt;
}

// Strict: LoadE32 takes an image of another subsystem for one made for CE
// 1.0 and goes on; an image made for the device says it is a CE GUI one.
Check subsystem(const PeImage& image) {
    if (image.subsystem != pe::kSubsystemWindowsCeGui) {
        return bad_format("subsystem " + std::to_string(image.subsystem) +
                          " is not Windows CE GUI (9)");
    }
    return std::nullopt;
}

// LoadE32: an image made for a later CE than the device runs.
Check version(const PeImage& image) {
    const bool later = image.subsystem_major > ce_loader::kVersionMajor ||
                       (image.subsystem_major == ce_loader::kVersionMajor &&
                        image.subsystem_minor > ce_loader::kVersionMinor);
    if (later) {
        return LoadRefusal{win32_error::kOldWinVersion,
                           "made for Windows CE " + std::to_string(image.subsystem_major) + "." +
                               std::to_string(image.subsystem_minor) + "; the device runs 3.0"};
    }
    return std::nullopt;
}

// LoadE32 reads a fixed header: a 224-byte optional header with 16 data
// directories, the section table right after it. Strict: a header that
// says otherwise is refused, as the loader would read the directories or
// the section table from the wrong place.
Check header_shape(const PeImage& image) {
    if (image.size_of_optional_header != pe::kOptionalHeaderSize) {
        return bad_format("optional header of " + std::to_string(image.size_of_optional_header) +
                          " bytes; the loader reads the sections after 224");
    }
    if (image.number_of_rva_and_sizes < pe::kDirectoryCount) {
        return bad_format(std::to_string(image.number_of_rva_and_sizes) +
                          " data directories; the loader reads 16");
    }
    return std::nullopt;
}

// CreateNewProc refuses a DLL. Strict: an image without the executable
// flag (a failed link, says the PE format) is refused too; loader.c does
// not look at it.
Check kind(const PeImage& image) {
    if (image.characteristics & pe::kDll) {
        return bad_format("a DLL, not a program");
    }
    if (!(image.characteristics & pe::kExecutableImage)) {
        return bad_format("not marked as an executable image");
    }
    return std::nullopt;
}

// CreateNewProc: without relocations the image loads at its own base,
// which must lie in 0x10000..0x400000; then the whole image is reserved in
// the process's 32 MB slot, which fails (ERROR_OUTOFMEMORY) past its end.
Check placement(const PeImage& image) {
    const bool fixed = image.characteristics & pe::kRelocsStripped;
    if (fixed &&
        (image.image_base < ce_loader::kLowestBase || image.image_base > ce_loader::kHighestBase)) {
        return bad_format("no relocations, and its base " + hex(image.image_base) +
                          " is outside 0x10000..0x400000");
    }
    // The PE format: an image's base is a multiple of 64 KB. The process's
    // regions are reserved on that grain; an image placed off it would not
    // begin its reservation.
    if (fixed && image.image_base % ce_loader::kBaseAlignment != 0) {
        return bad_format("no relocations, and its base " + hex(image.image_base) +
                          " is not a multiple of 64 KB");
    }
    const std::uint64_t end = std::uint64_t{load_base(image)} + image.size_of_image;
    if (image.size_of_image == 0 || end > ce_loader::kSlotSize) {
        return LoadRefusal{win32_error::kOutOfMemory, "an image of " + hex(image.size_of_image) +
                                                          " bytes at " + hex(load_base(image)) +
                                                          " does not fit the 32 MB process slot"};
    }
    return std::nullopt;
}

// LoadO32 refuses raw data past the end of the file. Strict: a section
// that is empty, lies in the headers or past SizeOfImage, overlaps the one
// before (or comes before it), or does not begin on a page is refused; the
// loader would commit it anyway, and a page shared by two sections gets
// the protection of whichever is set last.
Check sections(const PeImage& image) {
    if (image.sections.empty()) {
        return bad_format("no sections");
    }
    std::uint64_t previous_end = 0;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const PeSection& s = image.sections[i];
        const std::string which =
            "section " + std::to_string(i + 1) + " (" + printable(s.name) + ")";
        const std::uint64_t end = std::uint64_t{s.virtual_address} + s.virtual_size;
        if (!s.raw_in_file) {
            return bad_format("the file is truncated: " + which + "'s raw data (" +
                              hex(s.raw_size) + " bytes at offset " + hex(s.raw_offset) +
                              ") runs past the end of the file");
        }
        if (s.virtual_size == 0) {
            return bad_format(which + " is empty");
        }
        if (s.virtual_address < image.size_of_headers || end > image.size_of_image) {
            return bad_format(which +
                              " lies outside the image (below its headers or past "
                              "SizeOfImage)");
        }
        if (s.virtual_address % ce_loader::kPageSize != 0) {
            return bad_format(which + " does not begin on a page");
        }
        if (s.virtual_address < previous_end) {
            return bad_format(which + " overlaps the section before it");
        }
        previous_end = end;
    }
    return std::nullopt;
}

// DoImports stops at the first descriptor without a lookup table, leaving
// it and those after it unbound. Strict: such a descriptor is refused, as
// the program would call through slots never filled; so is a slot outside
// the sections (the loader would fault writing it). A DLL's name is cut to
// 31 characters before the DLL is looked for, and no DLL of the device has
// such a cut name.
Check imports(const PeImage& image) {
    for (std::size_t i = 0; i < image.imports.size(); ++i) {
        const PeImportDll& d = image.imports[i];
        const std::string which =
            "import descriptor " + std::to_string(i + 1) + " (" + printable(d.dll) + ")";
        if (d.lookup_rva == 0) {
            return bad_format(which + " has no lookup table");
        }
        if (d.dll.size() > ce_loader::kMaxDllName) {
            return LoadRefusal{win32_error::kModNotFound,
                               which + ": the loader cuts a DLL's name to 31 characters"};
        }
        for (const PeImportEntry& e : d.entries) {
            if (image.section_at(e.iat_rva) == nullptr ||
                image.section_at(e.iat_rva + 3) != image.section_at(e.iat_rva)) {
                return bad_format(which + ": address table slot " + hex(e.iat_rva) +
                                  " is not in a section");
            }
        }
    }
    return std::nullopt;
}

// CalcStackSize clamps the reserve into [16 KB, 1 MB]. Strict: refused
// outside it, so that no image depends on the clamp. For an image made for
// a CE before 2.02 the loader ignores the field (64 KB).
Check stack(const PeImage& image) {
    if (reads_stack_reserve(image) && (image.stack_reserve < ce_loader::kMinStack ||
                                       image.stack_reserve > ce_loader::kMaxStack)) {
        return bad_format("stack reserve of " + std::to_string(image.stack_reserve) +
                          " bytes is outside 16 KB..1 MB");
    }
    return std::nullopt;
}

// CreateNewProc hands an image with a COM descriptor to mscoree.dll's
// _CorExeMain. The device has no such runtime: ERROR_DLL_INIT_FAILED.
Check com(const PeImage& image) {
    if (managed(image)) {
        return LoadRefusal{win32_error::kDllInitFailed,
                           "a managed image (COM descriptor); the device has no mscoree.dll"};
    }
    return std::nullopt;
}

// Strict: FindEntryPoint takes the entry point as it is (its test of the
// section always holds); here it must lie in an executable section.
Check entry(const PeImage& image) {
    const PeSection* s = image.section_at(image.entry_point);
    if (s == nullptr || !(s->characteristics & pe::kScnExecute)) {
        return bad_format("entry point " + hex(image.entry_point) +
                          " is not in an executable section");
    }
    return std::nullopt;
}

}  // namespace

std::optional<LoadRefusal> check_headers(const PeImage& image) {
    for (Check (*rule)(const PeImage&) :
         {machine, subsystem, version, header_shape, kind, placement, sections}) {
        if (auto refusal = rule(image)) {
            return refusal;
        }
    }
    return std::nullopt;
}

std::optional<LoadRefusal> check_loadable(const PeImage& image) {
    for (Check (*rule)(const PeImage&) : {machine, subsystem, version, header_shape, kind,
                                          placement, sections, imports, stack, com, entry}) {
        if (auto refusal = rule(image)) {
            return refusal;
        }
    }
    return std::nullopt;
}

std::uint32_t load_base(const PeImage& image) {
    return (image.characteristics & pe::kRelocsStripped) ? image.image_base
                                                         : ce_loader::kRelocatedBase;
}

std::uint32_t main_stack_reserve(const PeImage& image) {
    const std::uint64_t asked =
        reads_stack_reserve(image) ? image.stack_reserve : ce_loader::kOldImageStack;
    const std::uint64_t rounded =
        (asked + ce_loader::kPageSize - 1) / ce_loader::kPageSize * ce_loader::kPageSize;
    return static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(rounded, ce_loader::kMinStack, ce_loader::kMaxStack));
}

std::vector<ImportedFunction> list_imports(const PeImage& image) {
    std::vector<ImportedFunction> out;
    for (const PeImportDll& d : image.imports) {
        for (const PeImportEntry& e : d.entries) {
            out.push_back({d.dll, e.ordinal, e.name, e.hint, e.iat_rva});
        }
    }
    return out;
}

}  // namespace sim
