// The executable's imports: the export lists of platform/wince/exports/
// (read by the simulator's parser, which the simulated DLLs are built from
// too), the program's undefined symbols matched against them, and the
// assembly that provides them (a stub per function in .text and the import
// tables in .idata, laid out as the PE format has them), and the same
// tables assembled in memory for an image that is not linked.
#ifndef CORVANE_TOOLS_PE_IMPORTS_H
#define CORVANE_TOOLS_PE_IMPORTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simulator/pe/export_lists.h"

namespace pe {

// Reads every list. A list the parser refuses is an Error naming the file
// and line; so is a DLL name that is not a plain file name (it becomes an
// assembler string), a DLL listed twice (names compared without regard to
// case, as the loader does) and a function listed for two DLLs.
std::vector<sim::ExportList> read_export_lists(const std::vector<std::string>& paths);

struct DllImports {
    std::string dll;
    std::vector<sim::DllExport> functions;  // in the tables' order (plan_imports sorts by name)
};

// One entry per DLL that anything is imported from, sorted by DLL name.
// A symbol that no list holds is an Error naming it (all of them, one a line).
std::vector<DllImports> plan_imports(const std::vector<std::string>& undefined,
                                     const std::vector<sim::ExportList>& lists);

// GNU as source (ARM) for the stubs and the import tables.
std::string import_assembly(const std::vector<DllImports>& imports);

// The import tables of import_assembly, byte for byte, assembled for a
// section at section_rva: its contents and the RVA of every label in it
// (the kDescriptors and kIat bounds, each function's slot __imp_<name>,
// and the assembly's local labels, such as .Lhint_<name>).
struct ImportSection {
    std::vector<std::uint8_t> contents;
    std::map<std::string, std::uint32_t> labels;
};
ImportSection import_section(const std::vector<DllImports>& imports, std::uint32_t section_rva);

// The imports as text, one a line: "<dll> <function> <by-name|by-ordinal> <ordinal>".
std::string import_listing(const std::vector<DllImports>& imports);

}  // namespace pe

#endif
