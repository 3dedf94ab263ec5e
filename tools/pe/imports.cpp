#include "tools/pe/imports.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "tools/pe/bytes.h"
#include "tools/pe/layout.h"

namespace pe {

namespace {

// Where the line "<first> ..." of `words` words (its comment left out)
// stands in an export list, as "path:line", for messages: the parser names
// the line of what it refuses, but what it returns has no lines. The
// library line has two words and an export three, so in a list the parser
// accepted exactly one line has that form.
std::string where(const std::string& path, const std::string& text, const std::string& first,
                  std::size_t words) {
    std::istringstream lines(text);
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::istringstream in(line.substr(0, line.find('#')));
        std::vector<std::string> found;
        for (std::string word; in >> word;) {
            found.push_back(word);
        }
        if (found.size() == words && found[0] == first) {
            return path + ":" + std::to_string(number);
        }
    }
    return path;
}

// A DLL name: letters, digits, '_', '-' and '.', as a file name on the device.
bool is_dll_name(const std::string& word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const char* mode_name(const sim::DllExport& function) {
    return function.by_name ? "by-name" : "by-ordinal";
}

// An RVA, as the assembler writes it: the address less the image base.
std::string rva(const std::string& symbol) {
    std::ostringstream text;
    text << symbol << " - 0x" << std::hex << kImageBase;
    return text.str();
}

// A stub per function: the program's call lands here and jumps through the
// function's import address table slot, which the loader fills in.
void write_stubs(std::ostringstream& out, const std::vector<DllImports>& imports) {
    for (const DllImports& dll : imports) {
        for (const sim::DllExport& function : dll.functions) {
            const std::string& name = function.name;
            out << "\n    .section .text.imp." << name << ",\"ax\",%progbits\n"
                << "    .global " << name << "\n"
                << "    .type " << name << ", %function\n"
                << "    .balign 4\n"
                << name << ":\n"
                << "    ldr ip, [pc, #0]\n"
                << "    ldr pc, [ip]\n"
                << "    .word __imp_" << name << "\n"
                << "    .size " << name << ", . - " << name << "\n";
        }
    }
}

// The import descriptors: one per DLL, each with its lookup table
// (OriginalFirstThunk: the CE loader stops at a descriptor without one),
// its name and its address table; a zero descriptor ends them.
void write_descriptors(std::ostringstream& out, const std::vector<DllImports>& imports) {
    out << "    .global " << kDescriptorsStart << ", " << kDescriptorsEnd << "\n"
        << kDescriptorsStart << ":\n";
    for (std::size_t i = 0; i < imports.size(); ++i) {
        const std::string n = std::to_string(i);
        out << "    .word " << rva(".Llookup" + n) << "  @ " << imports[i].dll << "\n"
            << "    .word 0, 0\n"
            << "    .word " << rva(".Ldll" + n) << "\n"
            << "    .word " << rva(".Laddress" + n) << "\n";
    }
    out << "    .word 0, 0, 0, 0, 0\n" << kDescriptorsEnd << ":\n";
}

// A lookup or address table entry: the RVA of the hint/name entry, or the
// ordinal with bit 31 set.
std::string thunk(const sim::DllExport& function) {
    if (!function.by_name) {
        std::ostringstream text;
        text << "0x" << std::hex << (0x80000000u | function.ordinal);
        return text.str();
    }
    return rva(".Lhint_" + function.name);
}

void write_lookup_tables(std::ostringstream& out, const std::vector<DllImports>& imports) {
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out << ".Llookup" << i << ":\n";
        for (const sim::DllExport& function : imports[i].functions) {
            out << "    .word " << thunk(function) << "\n";
        }
        out << "    .word 0\n";
    }
}

void write_address_tables(std::ostringstream& out, const std::vector<DllImports>& imports) {
    out << "    .global " << kIatStart << ", " << kIatEnd << "\n" << kIatStart << ":\n";
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out << ".Laddress" << i << ":\n";
        for (const sim::DllExport& function : imports[i].functions) {
            const std::string slot = "__imp_" + function.name;
            out << "    .global " << slot << "\n"
                << "    .type " << slot << ", %object\n"
                << "    .size " << slot << ", 4\n"
                << slot << ":\n"
                << "    .word " << thunk(function) << "\n";
        }
        out << "    .word 0\n";
    }
    out << kIatEnd << ":\n";
}

// Hint/name entries (hint 0: the loader then looks the name up) and the DLL names.
void write_names(std::ostringstream& out, const std::vector<DllImports>& imports) {
    for (const DllImports& dll : imports) {
        for (const sim::DllExport& function : dll.functions) {
            if (function.by_name) {
                out << "    .balign 2\n"
                    << ".Lhint_" << function.name << ":\n"
                    << "    .hword 0\n"
                    << "    .asciz \"" << function.name << "\"\n";
            }
        }
    }
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out << ".Ldll" << i << ":\n    .asciz \"" << imports[i].dll << "\"\n";
    }
}

}  // namespace

std::vector<sim::ExportList> read_export_lists(const std::vector<std::string>& paths) {
    std::vector<sim::ExportList> lists;
    std::vector<std::string> texts;            // each list's text, for the lines in messages
    std::map<std::string, std::size_t> owner;  // function -> the list that has it
    std::set<std::string> dlls;                // in lower case
    for (const std::string& path : paths) {
        const std::vector<std::uint8_t> bytes = read_file(path);
        const std::string& text = texts.emplace_back(bytes.begin(), bytes.end());
        auto parsed = sim::parse_export_list(text, path);
        if (!parsed.ok()) {
            throw Error(parsed.error().describe());
        }
        sim::ExportList& list = parsed.value();
        if (!is_dll_name(list.dll)) {
            throw Error(where(path, text, "library", 2) + ": '" + list.dll +
                        "' is not a DLL name (letters, digits, '_', '-' and '.')");
        }
        if (!dlls.insert(lower(list.dll)).second) {
            throw Error(path + ": " + list.dll + " has a list already");
        }
        for (const sim::DllExport& entry : list.exports) {
            const auto [it, added] = owner.emplace(entry.name, lists.size());
            if (!added) {
                throw Error(where(path, text, entry.name, 3) + ": " + entry.name +
                            " is listed for another DLL too, at " +
                            where(paths[it->second], texts[it->second], entry.name, 3));
            }
        }
        lists.push_back(std::move(list));
    }
    return lists;
}

std::vector<DllImports> plan_imports(const std::vector<std::string>& undefined,
                                     const std::vector<sim::ExportList>& lists) {
    std::map<std::string, DllImports> by_dll;
    std::string missing;
    for (const std::string& symbol : undefined) {
        bool found = false;
        for (const sim::ExportList& list : lists) {
            for (const sim::DllExport& entry : list.exports) {
                if (entry.name == symbol) {
                    DllImports& dll = by_dll[list.dll];
                    dll.dll = list.dll;
                    dll.functions.push_back(entry);
                    found = true;
                }
            }
        }
        if (!found) {
            missing += (missing.empty() ? "" : "\n") + std::string("undefined symbol ") + symbol +
                       " is exported by no DLL in the lists";
        }
    }
    if (!missing.empty()) {
        throw Error(missing);
    }
    std::vector<DllImports> imports;
    for (auto& [name, dll] : by_dll) {
        std::sort(dll.functions.begin(), dll.functions.end(),
                  [](const sim::DllExport& a, const sim::DllExport& b) { return a.name < b.name; });
        imports.push_back(std::move(dll));
    }
    return imports;
}

std::string import_assembly(const std::vector<DllImports>& imports) {
    std::ostringstream out;
    out << "@ The executable's imports, written by mkpe from the export lists.\n"
        << "    .syntax unified\n    .arch armv5t\n    .arm\n";
    write_stubs(out, imports);
    out << "\n    .section .idata,\"aw\",%progbits\n    .balign 4\n";
    write_descriptors(out, imports);
    write_lookup_tables(out, imports);
    write_address_tables(out, imports);
    write_names(out, imports);
    // The stubs need no executable stack.
    out << "\n    .section .note.GNU-stack,\"\",%progbits\n";
    return out.str();
}

std::string import_listing(const std::vector<DllImports>& imports) {
    std::ostringstream out;
    out << "# The executable's imports: <dll> <function> <by-name|by-ordinal> <ordinal>\n";
    for (const DllImports& dll : imports) {
        for (const sim::DllExport& function : dll.functions) {
            out << dll.dll << " " << function.name << " " << mode_name(function) << " "
                << function.ordinal << "\n";
        }
    }
    return out.str();
}

}  // namespace pe
