// The .rsrc section: the resources of a compiled resource file (.res, read by
// the simulator's parser), the resource directory (type -> name -> language)
// and, after it, every resource's data, byte for byte as the .res holds it.
#ifndef CORVANE_TOOLS_PE_RSRC_H
#define CORVANE_TOOLS_PE_RSRC_H

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/pe/resources.h"

namespace pe {

// The resources of the .res file at path, in the file's order. A file the
// parser refuses is an Error naming the file and the offset; two entries
// with the same type, name and language are an Error naming the file and
// the resource.
std::vector<sim::ResourceEntry> read_res(const std::string& path);

// The section's bytes, for a section that starts at section_rva. At each
// level of the directory the named entries come first, in ascending order of
// their names compared without regard to case, then the ordinals ascending.
// Two names that differ only in case are an Error: the loader could not
// tell them apart.
std::vector<std::uint8_t> build_rsrc(const std::vector<sim::ResourceEntry>& entries,
                                     std::uint32_t section_rva);

}  // namespace pe

#endif
