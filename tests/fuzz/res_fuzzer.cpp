// libFuzzer target for the resource parsers. The input is read as a whole
// .res file, and each resource in it with the parser its type calls for;
// the raw input is also given to the template and icon parsers directly so
// that they are fuzzed on their own. Nothing may crash, hang or read past
// its buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "simulator/pe/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A heap copy of exactly `size` bytes, so that AddressSanitizer sees any
    // read past the end.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::span<const std::uint8_t> input(bytes);

    auto file = sim::parse_res_file(input);
    if (file.ok()) {
        for (const sim::ResourceEntry& e : file.value()) {
            if (e.type == sim::ResId::number(sim::rt::kDialog)) {
                (void)sim::parse_dialog_template(e.data);
            } else if (e.type == sim::ResId::number(sim::rt::kGroupIcon)) {
                (void)sim::parse_icon_group(e.data);
            } else if (e.type == sim::ResId::number(sim::rt::kIcon)) {
                (void)sim::parse_icon_image(e.data);
            }
        }
    }
    (void)sim::parse_dialog_template(input);
    (void)sim::parse_icon_group(input);
    (void)sim::parse_icon_image(input);
    return 0;
}
