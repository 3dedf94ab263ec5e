// mkpe: makes Corvane's Windows CE executable from what GNU ld links.
//
//   mkpe imports OBJECT EXPORT_LIST... --asm IMPORTS.s --list IMPORTS.txt
//       Matches the undefined symbols of OBJECT (the program's objects
//       linked with ld -r) against the export lists and writes the import
//       stubs and tables as assembly, and the imports as a list.
//   mkpe write IMAGE RES --exe CORVANE.exe --map CORVANE.map
//       Turns IMAGE (linked by platform/wince/corvane.ld at the PE layout)
//       and the compiled resources RES into the PE file, and writes its
//       symbol map.
//
// Input files are read as untrusted: anything malformed is refused with a
// message naming the file, and then nothing is written. Exit status 0 on
// success, 1 for a refusal, 2 for a bad command line.
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/pe/bytes.h"
#include "tools/pe/elf.h"
#include "tools/pe/image.h"
#include "tools/pe/imports.h"
#include "tools/pe/pe_writer.h"
#include "tools/pe/rsrc.h"
#include "tools/pe/symbol_map.h"

namespace {

constexpr const char* kUsage =
    "usage: mkpe imports OBJECT EXPORT_LIST... --asm IMPORTS.s --list IMPORTS.txt\n"
    "       mkpe write IMAGE RES --exe CORVANE.exe --map CORVANE.map\n";

struct CommandLine {
    std::vector<std::string> files;
    std::map<std::string, std::string> options;  // --name -> value
};

// The positional arguments and the options' values; an option given twice
// or without a value, or one not in `known`, is a usage error.
bool parse(int argc, char** argv, const std::vector<std::string>& known, CommandLine& line) {
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) != 0) {
            line.files.push_back(word);
            continue;
        }
        bool is_known = false;
        for (const std::string& option : known) {
            is_known = is_known || option == word;
        }
        if (!is_known || i + 1 >= argc || !line.options.emplace(word, argv[i + 1]).second) {
            return false;
        }
        ++i;
    }
    return line.options.size() == known.size();
}

int run_imports(const CommandLine& line) {
    if (line.files.size() < 2) {
        throw std::invalid_argument("imports needs an object and at least one export list");
    }
    const pe::ElfFile object = pe::read_elf(line.files[0]);
    if (object.type != pe::elf::kRelocatable) {
        throw pe::Error(object.path + ": not a relocatable object (link it with ld -r)");
    }
    const std::vector<sim::ExportList> lists =
        pe::read_export_lists(std::vector<std::string>(line.files.begin() + 1, line.files.end()));
    const std::vector<pe::DllImports> imports =
        pe::plan_imports(pe::undefined_symbols(object), lists);
    pe::write_files({{line.options.at("--asm"), pe::to_bytes(pe::import_assembly(imports))},
                     {line.options.at("--list"), pe::to_bytes(pe::import_listing(imports))}});
    return 0;
}

int run_write(const CommandLine& line) {
    if (line.files.size() != 2) {
        throw std::invalid_argument("write needs the linked image and the resource file");
    }
    const pe::ElfFile elf = pe::read_elf(line.files[0]);
    const std::vector<sim::ResourceEntry> resources = pe::read_res(line.files[1]);
    const pe::Image image = pe::build_image(elf, resources);
    const std::string& exe = line.options.at("--exe");
    const std::string name = std::filesystem::path(exe).filename().string();
    pe::write_files({{exe, pe::write_pe(image)},
                     {line.options.at("--map"), pe::to_bytes(pe::symbol_map(elf, image, name))}});
    return 0;
}

void report(const std::string& message) {
    std::istringstream lines(message);
    for (std::string text; std::getline(lines, text);) {
        std::cerr << "mkpe: " << text << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    CommandLine line;
    try {
        if (command == "imports" && parse(argc, argv, {"--asm", "--list"}, line)) {
            return run_imports(line);
        }
        if (command == "write" && parse(argc, argv, {"--exe", "--map"}, line)) {
            return run_write(line);
        }
    } catch (const std::invalid_argument& error) {
        report(error.what());
    } catch (const std::exception& error) {
        report(error.what());
        return 1;
    }
    std::cerr << kUsage;
    return 2;
}
