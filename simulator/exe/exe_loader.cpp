#include "simulator/exe/exe_loader.h"

#include "simulator/support/text.h"

#include <memory>
#include <sstream>

#include "simulator/exe/loaded_image.h"
#include "simulator/exe/simulated_dlls.h"
#include "simulator/pe/export_lists.h"
#include "simulator/pe/pe_image.h"
#include "simulator/pe/pe_load_rules.h"
#include "simulator/pe/symbol_map.h"
#include "simulator/support/read_file.h"

namespace sim {

namespace {

// On Windows CE 3.0 WinMain's instance is the process's handle, which the
// resource functions take for the process's own module, not the image
// base. A kernel handle value of the kind the device hands out (the handle
// table never gives the program one this high).
constexpr std::uintptr_t kProcessHandle = 0x4DE5F002;

// Every import bound to a simulated DLL's export, or the first that cannot
// be, as the loader reports it.
Result<std::vector<BoundImport>, ExeRefusal> bind_imports(const PeImage& image) {
    std::vector<BoundImport> bound;
    for (const ImportedFunction& f : list_imports(image)) {
        std::string what = "import " + printable(f.dll) + "!";
        if (f.ordinal) {
            what += '#';
            what += std::to_string(*f.ordinal);
        } else {
            what += printable(f.name);
        }
        auto found = find_export(device_export_lists(), {f.dll, f.ordinal, f.name});
        if (!found.ok()) {
            return ExeRefusal{found.error().error, what + ": " + found.error().message};
        }
        const ce::SimulatedFunction* function = ce::simulated_function(f.dll, found.value()->name);
        if (function == nullptr) {
            return ExeRefusal{win32_error::kProcNotFound, what + ": no simulated DLL exports it"};
        }
        bound.push_back(BoundImport{function, f.iat_rva});
    }
    return bound;
}

// Where the state record lies: the symbol's RVA in the map, inside a
// writable section of the image.
Result<std::uint32_t, ExeRefusal> state_record_rva(const PeImage& image,
                                                   std::optional<std::string_view> symbols,
                                                   const StateRecordLayout& state) {
    if (!symbols) {
        return ExeRefusal{0, "no symbol map"};
    }
    auto map = parse_symbol_map(*symbols, "symbol map");
    if (!map.ok()) {
        return ExeRefusal{0, map.error().describe()};
    }
    auto it = map.value().find(state.symbol);
    if (it == map.value().end() || it->second.ambiguous) {
        return ExeRefusal{0, "the symbol map names no single '" + state.symbol + "'"};
    }
    const std::uint32_t rva = it->second.rva;
    std::uint32_t extent = 0;
    for (const auto& field : state.fields) {
        extent = std::max(extent, field.offset + 4);
    }
    const PeSection* s = image.section_at(rva);
    if (s == nullptr || (s->characteristics & pe::kScnWrite) == 0 ||
        rva - s->virtual_address + std::uint64_t{extent} > s->virtual_size) {
        return ExeRefusal{0, "'" + state.symbol + "' is not in a writable section of the image"};
    }
    return rva;
}

}  // namespace

std::string ExeRefusal::describe() const {
    std::ostringstream s;
    if (!file.empty()) {
        s << file << ": ";
    }
    if (error != 0) {
        s << "the loader refuses it (error " << error << "): ";
    }
    s << message;
    return s.str();
}

Result<OpenedExe, ExeRefusal> open_exe_image(std::vector<std::uint8_t> file,
                                             std::optional<std::string_view> symbols,
                                             const StateRecordLayout& state) {
    // The headers and the section table first, with the loader's rules over
    // them, as the loader makes them before it reads any table: a truncated
    // file is refused as truncated, not for a table it cannot reach.
    auto headers = parse_pe_headers(file);
    if (!headers.ok()) {
        return ExeRefusal{win32_error::kBadExeFormat,
                          "not an image: " + headers.error().describe()};
    }
    if (auto refusal = check_headers(headers.value())) {
        return ExeRefusal{refusal->error, refusal->reason};
    }
    auto parsed = parse_pe(file);
    if (!parsed.ok()) {
        return ExeRefusal{win32_error::kBadExeFormat, "not an image: " + parsed.error().describe()};
    }
    PeImage& image = parsed.value();
    if (auto refusal = check_loadable(image)) {
        return ExeRefusal{refusal->error, refusal->reason};
    }
    auto bound = bind_imports(image);
    if (!bound.ok()) {
        return bound.error();
    }
    auto record = state_record_rva(image, symbols, state);
    if (!record.ok()) {
        return record.error();
    }
    auto loaded = LoadedImage::make(std::move(image), std::move(bound.value()));
    if (!loaded.ok()) {
        return ExeRefusal{0, loaded.error().message};
    }
    OpenedExe opened;
    opened.resources = loaded.value()->image().resources;
    opened.image =
        loaded.value()->program(reinterpret_cast<HINSTANCE>(kProcessHandle), record.value(), state);
    return opened;
}

Result<OpenedExe, ExeRefusal> open_exe(const std::string& path, const StateRecordLayout& state) {
    auto bytes = read_file(path);
    if (!bytes.ok()) {
        return ExeRefusal{0, bytes.error().message};
    }
    std::string map_path = path;
    if (const auto dot = map_path.rfind('.');
        dot != std::string::npos && map_path.find('/', dot) == std::string::npos) {
        map_path.resize(dot);
    }
    map_path += ".map";
    // A missing map is reported once the image itself has passed.
    auto map = read_file(map_path);
    const std::string text = map.ok() ? std::string(map.value().begin(), map.value().end()) : "";
    auto opened =
        open_exe_image(std::move(bytes.value()),
                       map.ok() ? std::optional<std::string_view>(text) : std::nullopt, state);
    if (!map.ok() && !opened.ok() && opened.error().error == 0) {
        return ExeRefusal{0, "cannot read the symbol map " + map_path};
    }
    if (!opened.ok()) {
        return ExeRefusal{opened.error().error, opened.error().message, path};
    }
    return opened;
}

}  // namespace sim
