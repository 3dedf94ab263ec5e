// The symbol map written beside the executable, as a device toolchain's
// linker map lists the image's symbols, in a form the simulator reads:
//
//   # <what the file is, with the image base>
//   <RVA, 8 hex digits> <PE section> <symbol>
//
// one line per function and data symbol of the linked image (global and
// static alike, with their ELF names), sorted by RVA.
#ifndef CORVANE_TOOLS_PE_SYMBOL_MAP_H
#define CORVANE_TOOLS_PE_SYMBOL_MAP_H

#include <string>

#include "tools/pe/elf.h"
#include "tools/pe/image.h"

namespace pe {

std::string symbol_map(const ElfFile& elf, const Image& image, const std::string& exe_name);

}  // namespace pe

#endif
