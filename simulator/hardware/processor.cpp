#include "simulator/hardware/processor.h"

#include <array>

namespace sim {

namespace {
// The default first; the sources of the IDs are in processor.h.
constexpr std::array kProcessors{
    Processor{"pxa255", "Intel PXA255 (A0)", 0x69052D06, ClockHardware::Pxa25x},
    Processor{"pxa250", "Intel PXA250 (B2)", 0x69052904, ClockHardware::Pxa25x},
    Processor{"pxa26x", "Intel PXA26x (A0)", 0x69052903, ClockHardware::Pxa25x},
    Processor{"pxa270", "Intel PXA270 (C5)", 0x69054117, ClockHardware::Pxa27x},
    Processor{"sa1110", "Intel StrongARM SA-1110 (B4)", 0x6901B118, ClockHardware::None},
};
}  // namespace

std::span<const Processor> processors() {
    return kProcessors;
}

const Processor& default_processor() {
    return kProcessors.front();
}

const Processor* find_processor(std::string_view name) {
    for (const Processor& p : kProcessors) {
        if (name == p.name) {
            return &p;
        }
    }
    return nullptr;
}

std::string processor_names() {
    std::string names;
    for (const Processor& p : kProcessors) {
        names += (names.empty() ? "" : ", ") + std::string(p.name);
    }
    return names;
}

}  // namespace sim
