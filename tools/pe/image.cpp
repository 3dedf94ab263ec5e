#include "tools/pe/image.h"

#include <algorithm>
#include <sstream>

#include "tools/pe/bytes.h"
#include "tools/pe/layout.h"
#include "tools/pe/rsrc.h"

namespace pe {

namespace {

// A Windows CE 3.0 process has a 32 MB slot of address space, which the
// whole image must fit in.
constexpr std::uint64_t kProcessSlotSize = 0x2000000;

// The linked image's sections, in the order the linker script places them,
// and the PE section each one goes to (.bss is the uninitialised tail of
// .data).
struct SectionRule {
    const char* elf_name;
    const char* pe_name;
    std::uint32_t elf_flags;  // SHF_WRITE and SHF_EXECINSTR as the section must have them
    std::uint32_t characteristics;
};
constexpr SectionRule kRules[] = {
    {".text", ".text", elf::kExecInstr,
     sim::pe::kScnCode | sim::pe::kScnExecute | sim::pe::kScnRead},
    {".rdata", ".rdata", 0, sim::pe::kScnInitializedData | sim::pe::kScnRead},
    {".data", ".data", elf::kWrite,
     sim::pe::kScnInitializedData | sim::pe::kScnRead | sim::pe::kScnWrite},
    {".bss", ".data", elf::kWrite,
     sim::pe::kScnInitializedData | sim::pe::kScnRead | sim::pe::kScnWrite},
    {".idata", ".idata", elf::kWrite,
     sim::pe::kScnInitializedData | sim::pe::kScnRead | sim::pe::kScnWrite},
};

std::string hex(std::uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

[[noreturn]] void fail(const ElfFile& elf, const std::string& message) {
    throw Error(elf.path + ": " + message);
}

const SectionRule* rule_for(const ElfFile& elf, const ElfSection& section) {
    for (const SectionRule& rule : kRules) {
        if (section.name == rule.elf_name) {
            if ((section.flags & (elf::kWrite | elf::kExecInstr)) != rule.elf_flags) {
                fail(elf, "section " + section.name + " has the wrong access flags");
            }
            return &rule;
        }
    }
    fail(elf, "unexpected section " + section.name +
                  " in the image (the linker script puts everything in .text, .rdata, .data, "
                  ".bss and .idata)");
}

// Adds an ELF section to the PE section it belongs to, which it must
// follow directly (a new PE section starts on a page of its own).
void place(const ElfFile& elf, const ElfSection& section, const SectionRule& rule,
           std::vector<ImageSection>& sections) {
    if (section.addr < kImageBase + kSectionAlignment) {
        fail(elf,
             "section " + section.name + " lies in the headers' page, at " + hex(section.addr));
    }
    const std::uint32_t rva = section.addr - kImageBase;
    const std::uint64_t end = std::uint64_t{rva} + section.size;
    if (end > kProcessSlotSize) {
        fail(elf, "section " + section.name + " ends beyond the 32 MB process slot");
    }
    if (!sections.empty() && sections.back().name == rule.pe_name) {
        ImageSection& last = sections.back();
        if (rva != last.rva + last.virtual_size) {
            fail(elf, "section " + section.name + " does not follow the rest of " + last.name);
        }
        if (section.type != elf::kNoBits && last.contents.size() != last.virtual_size) {
            fail(elf, "section " + section.name + " has contents after uninitialised data");
        }
    } else {
        if (rva % kSectionAlignment != 0) {
            fail(elf,
                 "section " + section.name + " does not start on a page, at " + hex(section.addr));
        }
        if (!sections.empty() && rva < sections.back().rva + sections.back().virtual_size) {
            fail(elf, "section " + section.name + " overlaps " + sections.back().name);
        }
        sections.push_back(ImageSection{rule.pe_name, rva, 0, {}, rule.characteristics, {}});
    }
    ImageSection& target = sections.back();
    target.virtual_size = static_cast<std::uint32_t>(end - target.rva);
    const auto bytes = elf.contents(section);
    target.contents.insert(target.contents.end(), bytes.begin(), bytes.end());
    target.elf_sections.push_back(section.name);
}

std::vector<ImageSection> map_sections(const ElfFile& elf) {
    std::vector<ImageSection> sections;
    std::size_t next_rule = 0;
    for (const ElfSection& section : elf.sections) {
        if ((section.flags & elf::kAlloc) == 0 || section.size == 0) {
            continue;
        }
        const SectionRule* rule = rule_for(elf, section);
        if (rule < kRules + next_rule) {
            fail(elf, "section " + section.name + " is out of order");
        }
        next_rule = static_cast<std::size_t>(rule - kRules) + 1;
        place(elf, section, *rule, sections);
    }
    if (sections.empty() || sections.front().name != std::string(".text")) {
        fail(elf, "the image has no .text section");
    }
    return sections;
}

// A range between two symbols the import stubs define, inside .idata.
DataDirectory directory_between(const ElfFile& elf, const std::vector<ImageSection>& sections,
                                const char* start, const char* end) {
    const ElfSymbol* first = elf.find_symbol(start);
    const ElfSymbol* last = elf.find_symbol(end);
    if (first == nullptr || last == nullptr) {
        fail(elf, std::string("no symbol ") + (first == nullptr ? start : end) +
                      ": the image was not linked with mkpe's import tables");
    }
    const ImageSection& idata = sections.back();
    const std::uint64_t low = first->value - std::uint64_t{kImageBase};
    const std::uint64_t high = last->value - std::uint64_t{kImageBase};
    if (idata.name != ".idata" || first->value < kImageBase || low >= high || low < idata.rva ||
        high > std::uint64_t{idata.rva} + idata.contents.size()) {
        fail(elf, std::string("the symbols ") + start + " and " + end +
                      " do not delimit a range inside .idata");
    }
    return DataDirectory{static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high - low)};
}

std::uint32_t entry_rva(const ElfFile& elf, const ImageSection& text) {
    const std::uint64_t rva = elf.entry - std::uint64_t{kImageBase};
    if (elf.entry < kImageBase || rva < text.rva ||
        rva >= std::uint64_t{text.rva} + text.virtual_size) {
        fail(elf, "the entry point " + hex(elf.entry) + " is not in .text");
    }
    return static_cast<std::uint32_t>(rva);
}

// Where the next section starts: on the page after the last one's end (a
// page of its own even for an empty one), or after the headers' page.
std::uint32_t next_page(const Image& image) {
    if (image.sections.empty()) {
        return kSectionAlignment;
    }
    const ImageSection& last = image.sections.back();
    return align_up(std::uint64_t{last.rva} + std::max<std::uint32_t>(last.virtual_size, 1),
                    kSectionAlignment);
}

ImageSection section_at_next_page(const Image& image, std::string name,
                                  std::vector<std::uint8_t> contents,
                                  std::uint32_t characteristics) {
    const auto size = static_cast<std::uint32_t>(contents.size());
    return ImageSection{std::move(name),     next_page(image), size,
                        std::move(contents), characteristics,  {}};
}

}  // namespace

const ImageSection* Image::section_at(std::uint32_t rva) const {
    for (const ImageSection& section : sections) {
        if (rva >= section.rva && rva - section.rva < section.virtual_size) {
            return &section;
        }
    }
    return nullptr;
}

Image build_image(const ElfFile& elf, const std::vector<sim::ResourceEntry>& resources) {
    if (elf.type != elf::kExecutable) {
        fail(elf, "not a linked executable");
    }
    Image image;
    image.sections = map_sections(elf);
    image.entry_rva = entry_rva(elf, image.sections.front());
    image.imports = directory_between(elf, image.sections, kDescriptorsStart, kDescriptorsEnd);
    image.import_address_table = directory_between(elf, image.sections, kIatStart, kIatEnd);
    append_resources(image, resources);
    return image;
}

Image image_of_sections(const std::vector<SectionContents>& sections, std::uint32_t entry_offset) {
    if (sections.empty() || entry_offset >= sections.front().contents.size()) {
        throw Error("an image needs a first section with its entry point in it");
    }
    Image image;
    for (const SectionContents& section : sections) {
        image.sections.push_back(
            section_at_next_page(image, section.name, section.contents, section.characteristics));
    }
    image.entry_rva = image.sections.front().rva + entry_offset;
    return image;
}

std::map<std::string, std::uint32_t> append_imports(Image& image,
                                                    const std::vector<DllImports>& imports) {
    const std::uint32_t rva = next_page(image);
    ImportSection tables = import_section(imports, rva);
    const auto range = [&](const char* start, const char* end) {
        return DataDirectory{tables.labels.at(start),
                             tables.labels.at(end) - tables.labels.at(start)};
    };
    image.imports = range(kDescriptorsStart, kDescriptorsEnd);
    image.import_address_table = range(kIatStart, kIatEnd);
    image.sections.push_back(section_at_next_page(
        image, ".idata", std::move(tables.contents),
        sim::pe::kScnInitializedData | sim::pe::kScnRead | sim::pe::kScnWrite));
    return std::move(tables.labels);
}

void append_resources(Image& image, const std::vector<sim::ResourceEntry>& resources) {
    const std::uint32_t rva = next_page(image);
    image.sections.push_back(
        section_at_next_page(image, ".rsrc", build_rsrc(resources, rva),
                             sim::pe::kScnInitializedData | sim::pe::kScnRead));
    image.resources = DataDirectory{rva, image.sections.back().virtual_size};
}

}  // namespace pe
