#include "simulator/support/result.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
std::function<void(const std::string&)> g_handler;
}  // namespace

void set_fatal_handler(std::function<void(const std::string& what)> handler) {
    g_handler = std::move(handler);
}

void fatal(const std::string& what) {
    std::fprintf(stderr, "simulator: %s\n", what.c_str());
    if (g_handler) {
        // Once: a fault while reporting one stops at once.
        auto handler = std::move(g_handler);
        g_handler = nullptr;
        handler(what);
    }
    std::abort();
}

}  // namespace sim
