#include "tools/pe/imports.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
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

// A word of the tables: a number, or the RVA of a label.
struct Word {
    Word(std::uint32_t value) : number(value) {}
    static Word rva_of(std::string label) {
        Word word(0);
        word.label = std::move(label);
        return word;
    }
    std::uint32_t number = 0;
    std::string label;
};

// The tables as an assembler is given them. They are walked once for each
// form: GNU as source for the linked image, or bytes for an image made in
// memory; so both forms have the same layout.
class TableSink {
  public:
    virtual ~TableSink() = default;
    virtual void globals(const char* first, const char* second) = 0;
    virtual void label(const std::string& name) = 0;
    // A global data symbol of one word here: a function's address table slot.
    virtual void slot(const std::string& name) = 0;
    virtual void words(std::initializer_list<Word> words, const std::string& comment) = 0;
    virtual void align(std::uint32_t alignment) = 0;
    virtual void half(std::uint16_t value) = 0;
    virtual void asciz(const std::string& text) = 0;
};

// A lookup or address table entry: the RVA of the hint/name entry, or the
// ordinal with bit 31 set.
Word thunk(const sim::DllExport& function) {
    if (!function.by_name) {
        return 0x80000000u | function.ordinal;
    }
    return Word::rva_of(".Lhint_" + function.name);
}

// The tables in the order they lie in .idata. The import descriptors: one
// per DLL, each with its lookup table (OriginalFirstThunk: the CE loader
// stops at a descriptor without one), its name and its address table; a
// zero descriptor ends them. Then the lookup tables, the address tables
// (each entry the slot __imp_<function> that the function's stub jumps
// through), the hint/name entries (hint 0: the loader then looks the name
// up) and the DLL names.
void walk_tables(const std::vector<DllImports>& imports, TableSink& out) {
    out.globals(kDescriptorsStart, kDescriptorsEnd);
    out.label(kDescriptorsStart);
    for (std::size_t i = 0; i < imports.size(); ++i) {
        const std::string n = std::to_string(i);
        out.words({Word::rva_of(".Llookup" + n)}, imports[i].dll);
        out.words({0, 0}, "");
        out.words({Word::rva_of(".Ldll" + n)}, "");
        out.words({Word::rva_of(".Laddress" + n)}, "");
    }
    out.words({0, 0, 0, 0, 0}, "");
    out.label(kDescriptorsEnd);
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out.label(".Llookup" + std::to_string(i));
        for (const sim::DllExport& function : imports[i].functions) {
            out.words({thunk(function)}, "");
        }
        out.words({0}, "");
    }
    out.globals(kIatStart, kIatEnd);
    out.label(kIatStart);
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out.label(".Laddress" + std::to_string(i));
        for (const sim::DllExport& function : imports[i].functions) {
            out.slot("__imp_" + function.name);
            out.words({thunk(function)}, "");
        }
        out.words({0}, "");
    }
    out.label(kIatEnd);
    for (const DllImports& dll : imports) {
        for (const sim::DllExport& function : dll.functions) {
            if (function.by_name) {
                out.align(2);
                out.label(".Lhint_" + function.name);
                out.half(0);
                out.asciz(function.name);
            }
        }
    }
    for (std::size_t i = 0; i < imports.size(); ++i) {
        out.label(".Ldll" + std::to_string(i));
        out.asciz(imports[i].dll);
    }
}

class AssemblySink : public TableSink {
  public:
    explicit AssemblySink(std::ostringstream& out) : out_(out) {}

    void globals(const char* first, const char* second) override {
        out_ << "    .global " << first << ", " << second << "\n";
    }
    void label(const std::string& name) override { out_ << name << ":\n"; }
    void slot(const std::string& name) override {
        out_ << "    .global " << name << "\n"
             << "    .type " << name << ", %object\n"
             << "    .size " << name << ", 4\n"
             << name << ":\n";
    }
    void words(std::initializer_list<Word> words, const std::string& comment) override {
        out_ << "    .word ";
        const char* separator = "";
        for (const Word& word : words) {
            out_ << separator;
            if (!word.label.empty()) {
                out_ << rva(word.label);
            } else if (word.number == 0) {
                out_ << "0";
            } else {
                out_ << "0x" << std::hex << word.number << std::dec;
            }
            separator = ", ";
        }
        if (!comment.empty()) {
            out_ << "  @ " << comment;
        }
        out_ << "\n";
    }
    void align(std::uint32_t alignment) override { out_ << "    .balign " << alignment << "\n"; }
    void half(std::uint16_t value) override { out_ << "    .hword " << value << "\n"; }
    void asciz(const std::string& text) override { out_ << "    .asciz \"" << text << "\"\n"; }

  private:
    std::ostringstream& out_;
};

// Assembles the tables at section_rva. The first walk finds where the
// labels are (`known` null: the words that refer to them are left 0), the
// second, given them, writes those words.
class ByteSink : public TableSink {
  public:
    ByteSink(std::uint32_t section_rva, const std::map<std::string, std::uint32_t>* known)
        : section_rva_(section_rva), known_(known) {}

    void globals(const char*, const char*) override {}
    void label(const std::string& name) override {
        const std::uint64_t at = std::uint64_t{section_rva_} + out_.size();
        if (at > 0xFFFFFFFFu) {
            throw Error("the import tables do not fit in 32 bits");
        }
        if (!labels_.emplace(name, static_cast<std::uint32_t>(at)).second) {
            throw Error("the import tables have " + name +
                        " twice (a function imported from two DLLs?)");
        }
    }
    void slot(const std::string& name) override { label(name); }
    void words(std::initializer_list<Word> words, const std::string&) override {
        for (const Word& word : words) {
            std::uint32_t value = word.number;  // 0 for a label's, in the first walk
            if (!word.label.empty() && known_ != nullptr) {
                value = known_->at(word.label);
            }
            out_.u32(value);
        }
    }
    void align(std::uint32_t alignment) override { out_.align(alignment); }
    void half(std::uint16_t value) override { out_.u16(value); }
    void asciz(const std::string& text) override {
        out_.bytes(to_bytes(text));
        out_.u8(0);
    }

    const std::map<std::string, std::uint32_t>& labels() const { return labels_; }
    ImportSection take() { return ImportSection{std::move(out_.data()), std::move(labels_)}; }

  private:
    std::uint32_t section_rva_;
    const std::map<std::string, std::uint32_t>* known_;
    Writer out_;
    std::map<std::string, std::uint32_t> labels_;
};

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
            // Appended piece by piece: GCC 12 at -O3 takes a chain of
            // operator+ on a temporary here for an overlapping copy
            // (a -Wrestrict false positive).
            if (!missing.empty()) {
                missing += '\n';
            }
            missing.append("undefined symbol ")
                .append(symbol)
                .append(" is exported by no DLL in the lists");
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
    AssemblySink tables(out);
    walk_tables(imports, tables);
    // The stubs need no executable stack.
    out << "\n    .section .note.GNU-stack,\"\",%progbits\n";
    return out.str();
}

ImportSection import_section(const std::vector<DllImports>& imports, std::uint32_t section_rva) {
    ByteSink first(section_rva, nullptr);
    walk_tables(imports, first);
    ByteSink second(section_rva, &first.labels());
    walk_tables(imports, second);
    return second.take();
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
