// Writes the seeds of the image fuzzers: an image like the program's, with
// the resources of the built corvane.res, and its resource section alone.
//   pe_seed CORVANE_RES OUT_DIR   writes OUT_DIR/sample.exe, OUT_DIR/sample.rsrc
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/pe_sample.h"
#include "tools/pe/bytes.h"
#include "tools/pe/rsrc.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pe_seed CORVANE_RES OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[2];
    try {
        const std::vector<sim::ResourceEntry> entries = pe::read_res(argv[1]);
        pe::write_files({{dir + "/sample.exe", pe_test::sample_image(entries).file},
                         {dir + "/sample.rsrc", pe::build_rsrc(entries, 0x3000)}});
    } catch (const pe::Error& error) {
        std::fprintf(stderr, "pe_seed: %s\n", error.what());
        return 1;
    }
    return 0;
}
