// The functions the simulated coredll, aygshell and commctrl provide to a
// loaded image, each as its guarded wrapper (ce_boundary.h). Which of them
// an import may bind to, and under which ordinal, the export lists say.
#ifndef CORVANE_SIMULATOR_EXE_SIMULATED_DLLS_H
#define CORVANE_SIMULATOR_EXE_SIMULATED_DLLS_H

#include <span>
#include <string_view>

namespace sim::ce {

struct SimulatedFunction {
    const char* dll;  // lower case, as in the export lists
    const char* name;
    void* code;  // its guarded wrapper (the ARM lane), else null
};

std::span<const SimulatedFunction> simulated_functions();

// `dll`'s function `name` (the DLL name in any case), or null when the
// simulator has none.
const SimulatedFunction* simulated_function(std::string_view dll, std::string_view name);

}  // namespace sim::ce

#endif
