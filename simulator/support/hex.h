// Hexadecimal formatting for traces and snapshots: "0x2C1".
#ifndef CORVANE_SIMULATOR_SUPPORT_HEX_H
#define CORVANE_SIMULATOR_SUPPORT_HEX_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

inline std::string hex(std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
    return buf;
}

}  // namespace sim

#endif
