// A Windows CE exe opened as the device's loader opens it: the image read
// and checked (what the Windows CE 3.0 loader refuses is refused, with its
// reason), every import bound to the simulated coredll, aygshell and
// commctrl, the module's resources taken from the image's own .rsrc; then,
// at every start of the program, the sections mapped at the image's address
// with their protections and the entry called as the device calls it. The
// result is a ProgramImage like the built-in program's.
//
// Running the image needs its own machine: the ARM lane (qemu-arm). Other
// builds open and check an exe but refuse to run it.
#ifndef CORVANE_SIMULATOR_EXE_EXE_LOADER_H
#define CORVANE_SIMULATOR_EXE_EXE_LOADER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simulator/device/device.h"

namespace sim {

// What a debugger knows of a program's state record, given only the
// symbol map: the record's symbol and the offsets of its 32-bit fields.
struct StateRecordLayout {
    struct Field {
        std::string name;
        std::uint32_t offset = 0;
        bool is_signed = true;
    };
    std::string symbol;
    std::vector<Field> fields;
};

struct OpenedExe {
    ProgramImage image;
    std::vector<ResourceEntry> resources;
};

// Why an exe cannot be run: the loader's refusal (its Win32 error code and
// reason), or a file that cannot be read.
struct ExeRefusal {
    ExeRefusal(std::uint32_t e, std::string m, std::string f = {})
        : error(e), message(std::move(m)), file(std::move(f)) {}
    std::uint32_t error;  // the Win32 error the device would report, or 0
    std::string message;
    std::string file;  // the exe, when it was read from one
    std::string describe() const;
};

// Opens `path`, with its symbol map beside it (the same name ending in
// .map), for a program whose state record is laid out as `state` says.
Result<OpenedExe, ExeRefusal> open_exe(const std::string& path, const StateRecordLayout& state);

// Opens an image already in memory (the loader's checks and bindings, no
// file access); `symbols` is the map's text, if there is one.
Result<OpenedExe, ExeRefusal> open_exe_image(std::vector<std::uint8_t> file,
                                             std::optional<std::string_view> symbols,
                                             const StateRecordLayout& state);

}  // namespace sim

#endif
