// Reading a whole file the command line names: a regular file only (a
// directory or a device is refused, not read as empty), with any read error
// a refusal rather than an exception.
#ifndef CORVANE_SIMULATOR_SUPPORT_READ_FILE_H
#define CORVANE_SIMULATOR_SUPPORT_READ_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/support/result.h"

namespace sim {

// The file's bytes, or "cannot read PATH" with the reason.
Result<std::vector<std::uint8_t>> read_file(const std::string& path);

}  // namespace sim

#endif
