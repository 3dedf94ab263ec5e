// The import tables the host tests' images carry, assembled in memory by
// tools/pe, are those GNU as and ld made of mkpe's assembly for corvane.exe:
// the same bytes at .idata's RVA, and every global label at its symbol's RVA.
//
//   import_tables PROGRAM_OBJECT IMAGE EXPORT_LIST...
//
// PROGRAM_OBJECT: the program's objects linked with ld -r; IMAGE: the
// linked corvane.elf. Exit status 0 when they agree, 1 naming each difference.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pe/bytes.h"
#include "tools/pe/elf.h"
#include "tools/pe/image.h"
#include "tools/pe/imports.h"
#include "tools/pe/layout.h"

namespace {

int compare(const pe::ImageSection& linked, const pe::ImportSection& assembled,
            const pe::ElfFile& elf) {
    int differences = 0;
    if (assembled.contents.size() != linked.contents.size()) {
        std::printf("FAIL: .idata is %zu bytes, the tables assembled in memory %zu\n",
                    linked.contents.size(), assembled.contents.size());
        ++differences;
    }
    for (std::size_t i = 0; i < std::min(linked.contents.size(), assembled.contents.size()); ++i) {
        if (linked.contents[i] != assembled.contents[i]) {
            std::printf("FAIL: .idata differs at RVA 0x%zx: 0x%02x linked, 0x%02x in memory\n",
                        linked.rva + i, linked.contents[i], assembled.contents[i]);
            ++differences;
            break;
        }
    }
    for (const auto& [label, rva] : assembled.labels) {
        if (label.rfind(".L", 0) == 0) {
            continue;  // the assembler's local labels are not in the image's symbols
        }
        const pe::ElfSymbol* symbol = elf.find_symbol(label);
        if (symbol == nullptr || symbol->value != pe::kImageBase + rva) {
            std::printf("FAIL: %s is at RVA 0x%x in memory, %s in the image\n", label.c_str(), rva,
                        symbol == nullptr ? "not" : "elsewhere");
            ++differences;
        }
    }
    return differences;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: import_tables PROGRAM_OBJECT IMAGE EXPORT_LIST...\n");
        return 2;
    }
    try {
        const std::vector<pe::DllImports> imports = pe::plan_imports(
            pe::undefined_symbols(pe::read_elf(argv[1])),
            pe::read_export_lists(std::vector<std::string>(argv + 3, argv + argc)));
        const pe::ElfFile elf = pe::read_elf(argv[2]);
        const pe::Image image = pe::build_image(elf, {});
        for (const pe::ImageSection& section : image.sections) {
            if (section.name == ".idata") {
                const int differences =
                    compare(section, pe::import_section(imports, section.rva), elf);
                if (differences == 0) {
                    std::printf("the tables assembled in memory are corvane.exe's (%zu bytes)\n",
                                section.contents.size());
                }
                return differences == 0 ? 0 : 1;
            }
        }
        std::printf("FAIL: %s has no .idata\n", argv[2]);
    } catch (const pe::Error& error) {
        std::printf("FAIL: %s\n", error.what());
    }
    return 1;
}
