#include "simulator/support/read_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace sim {

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return Error{"cannot read " + path +
                     (std::filesystem::exists(path, ec) ? ": not a file" : ": no such file")};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Error{"cannot read " + path};
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return Error{"cannot read " + path};
    }
    if (in.bad()) {
        return Error{"cannot read " + path};
    }
    return bytes;
}

}  // namespace sim
