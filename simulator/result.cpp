#include "simulator/result.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

void fatal(const std::string& what) {
    std::fprintf(stderr, "simulator: %s\n", what.c_str());
    std::abort();
}

}  // namespace sim
