#include "simulator/corvane/corvane_image.h"

#include <cstddef>
#include <cstring>

#include "app/app_state.h"
#include "resources/resource.h"
#include "simulator/support/read_file.h"

namespace sim {

namespace {
// The state record as the image holds it at load time, taken before any run.
const AppStateRecord kLoadedState = AppState;

// The state record's fields as a debugger shows them: each a 32-bit word
// (app_state.h), laid out alike on the device and in the ARM lane, where
// loaded images run.
struct FieldWord {
    const char* name;
    std::size_t offset;
    bool is_signed;
};
const FieldWord kStateFields[] = {
    {"speedMode", offsetof(AppStateRecord, speedMode), true},
    {"dialogVisible", offsetof(AppStateRecord, dialogVisible), true},
    {"targetClockConfig", offsetof(AppStateRecord, targetClockConfig), false},
    {"allow100", offsetof(AppStateRecord, allow100), true},
    {"showNotifications", offsetof(AppStateRecord, showNotifications), true},
    {"pendingNotifications", offsetof(AppStateRecord, pendingNotifications), true},
    {"monitorRunning", offsetof(AppStateRecord, monitorRunning), true},
};

std::int64_t read_word(const AppStateRecord& record, const FieldWord& f) {
    std::uint32_t v = 0;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&record) + f.offset, sizeof v);
    return f.is_signed ? std::int64_t{static_cast<std::int32_t>(v)} : std::int64_t{v};
}
}  // namespace

ProgramImage corvane_program() {
    ProgramImage image;
    image.entry = [](HINSTANCE instance) { return WinMain(instance, nullptr, nullptr, SW_SHOW); };
    image.load = [] { std::memcpy(&AppState, &kLoadedState, sizeof AppState); };
    image.inspect = [] {
        std::vector<StateField> record;
        for (const FieldWord& f : kStateFields) {
            record.push_back({f.name, read_word(AppState, f)});
        }
        return record;
    };
    return image;
}

StateRecordLayout corvane_state_layout() {
    StateRecordLayout layout;
    layout.symbol = "AppState";
    for (const FieldWord& f : kStateFields) {
        layout.fields.push_back({f.name, static_cast<std::uint32_t>(f.offset), f.is_signed});
    }
    return layout;
}

AppStateRecord corvane_state(const ProgramView& program) {
    if (!program.state_record) {
        fatal("the program has no state record to read");
    }
    AppStateRecord record{};
    for (const FieldWord& f : kStateFields) {
        const auto value = program.field(f.name);
        if (!value) {
            fatal(std::string("the state record has no field ") + f.name);
        }
        const auto word = static_cast<std::uint32_t>(*value);
        std::memcpy(reinterpret_cast<unsigned char*>(&record) + f.offset, &word, sizeof word);
    }
    return record;
}

ProgramNames corvane_names() {
    ProgramNames names;
    names.buttons = {
        {"quit", IDCANCEL}, {"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    names.check_boxes = {{"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    for (const FieldWord& f : kStateFields) {
        names.state_fields.push_back(f.name);
    }
    return names;
}

std::vector<ResourceEntry> corvane_resources() {
    auto parsed = parse_res_file(corvane_res());
    if (!parsed.ok()) {
        fatal("the built corvane.res does not parse: " + parsed.error().describe());
    }
    return std::move(parsed.value());
}

namespace {
// The resources of a .res file.
Result<std::vector<ResourceEntry>> read_resources(const std::string& path) {
    const auto bytes = read_file(path);
    if (!bytes.ok()) {
        return bytes.error();
    }
    auto resources = parse_res_file(bytes.value());
    if (!resources.ok()) {
        return Error{path + ": " + resources.error().describe()};
    }
    return std::move(resources.value());
}
}  // namespace

Result<DeviceOptions> open_corvane(const ProgramSource& source, Kernel::Options kernel) {
    DeviceOptions options = corvane_device_options(kernel);
    if (source.exe) {
        if (source.res) {
            return Error{"an exe brings its own resources; --res goes without --exe"};
        }
        auto opened = open_exe(*source.exe, corvane_state_layout());
        if (!opened.ok()) {
            return Error{opened.error().describe()};
        }
        options.program = std::move(opened.value().image);
        options.resources = std::move(opened.value().resources);
    } else if (source.res) {
        auto resources = read_resources(*source.res);
        if (!resources.ok()) {
            return resources.error();
        }
        options.resources = std::move(resources.value());
    }
    return options;
}

DeviceOptions corvane_device_options(Kernel::Options kernel) {
    DeviceOptions options;
    options.kernel = kernel;
    options.resources = corvane_resources();
    options.program = corvane_program();
    return options;
}

}  // namespace sim
