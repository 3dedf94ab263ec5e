// The layout every Corvane executable has, shared by the import stubs, the
// PE writer and platform/wince/corvane.ld (which must agree with it).
#ifndef CORVANE_TOOLS_PE_LAYOUT_H
#define CORVANE_TOOLS_PE_LAYOUT_H

#include <cstdint>

namespace pe {

// Where the Windows CE loader puts an executable in its process slot. The
// image has no base relocations, so it only runs there.
constexpr std::uint32_t kImageBase = 0x10000;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kFileAlignment = 0x200;

// The symbols the import stubs define for the PE writer: the import
// descriptors and the import address table, each with its end.
constexpr const char* kDescriptorsStart = "__import_descriptors";
constexpr const char* kDescriptorsEnd = "__import_descriptors_end";
constexpr const char* kIatStart = "__import_address_table";
constexpr const char* kIatEnd = "__import_address_table_end";

}  // namespace pe

#endif
