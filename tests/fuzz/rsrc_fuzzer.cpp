// libFuzzer target for an image's resource tree on its own. The input is
// the data of a resource section at RVA 0x3000 with the tree's root at its
// start (as the seed writer lays one out). Nothing may crash, hang or read
// past its buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "simulator/pe/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    (void)sim::parse_resource_directory(bytes, 0x3000, 0x3000);
    return 0;
}
