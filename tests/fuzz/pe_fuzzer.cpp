// libFuzzer target for the executable image reader. The input is read as a
// whole image file; an image that reads is then checked against the
// loader's rules and its imports and placement worked out. Nothing may
// crash, hang or read past its buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "simulator/pe/pe_image.h"
#include "simulator/pe/pe_load_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A heap copy of exactly `size` bytes, so that AddressSanitizer sees any
    // read past the end.
    const std::vector<std::uint8_t> bytes(data, data + size);
    auto image = sim::parse_pe(std::span<const std::uint8_t>(bytes));
    if (image.ok()) {
        (void)sim::check_loadable(image.value());
        (void)sim::list_imports(image.value());
        (void)sim::load_base(image.value());
        (void)sim::main_stack_reserve(image.value());
    }
    return 0;
}
