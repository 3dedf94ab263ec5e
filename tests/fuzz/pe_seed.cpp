// Writes the seeds of the image fuzzers: an image like the program's, with
// the resources of the built corvane.res, and its resource section alone.
//   pe_seed CORVANE_RES OUT_DIR   writes OUT_DIR/sample.exe, OUT_DIR/sample.rsrc
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "simulator/pe/resources.h"
#include "tests/support/pe_writer.h"

namespace {

bool write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pe_seed CORVANE_RES OUT_DIR\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> res((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
    auto entries = sim::parse_res_file(res);
    if (!entries.ok()) {
        std::fprintf(stderr, "pe_seed: %s: %s\n", argv[1], entries.error().describe().c_str());
        return 1;
    }
    const std::string dir = argv[2];
    const auto image = pe_test::build_image(pe_test::sample_shape(entries.value()));
    const auto section = pe_test::build_resource_section(entries.value(), 0x3000);
    if (!write(dir + "/sample.exe", image.file) || !write(dir + "/sample.rsrc", section)) {
        std::fprintf(stderr, "pe_seed: cannot write to %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
