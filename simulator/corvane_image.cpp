#include "simulator/corvane_image.h"

#include <cstddef>
#include <cstring>

#include "app/app_state.h"
#include "resources/resource.h"
#include "simulator/read_file.h"

namespace sim {

namespace {
// The state record as the image holds it at load time, taken before any run.
const AppStateRecord kLoadedState = AppState;

// The state record's fields as a debugger shows them.
struct StateField {
    const char* name;
    std::int64_t (*read)();
};
const StateField kStateFields[] = {
    {"speedMode", [] { return std::int64_t{AppState.speedMode}; }},
    {"dialogVisible", [] { return std::int64_t{AppState.dialogVisible}; }},
    {"targetClockConfig", [] { return std::int64_t{AppState.targetClockConfig}; }},
    {"allow100", [] { return std::int64_t{AppState.allow100}; }},
    {"showNotifications", [] { return std::int64_t{AppState.showNotifications}; }},
    {"pendingNotifications", [] { return std::int64_t{AppState.pendingNotifications}; }},
    {"monitorRunning", [] { return std::int64_t{AppState.monitorRunning}; }},
};
}  // namespace

ProgramImage corvane_program() {
    ProgramImage image;
    image.entry = [](HINSTANCE instance) { return WinMain(instance, nullptr, nullptr, SW_SHOW); };
    image.load = [] { std::memcpy(&AppState, &kLoadedState, sizeof AppState); };
    image.inspect = [] {
        json record;
        for (const StateField& f : kStateFields) {
            record[f.name] = f.read();
        }
        return record;
    };
    return image;
}

StateRecordLayout corvane_state_layout() {
    StateRecordLayout layout;
    layout.symbol = "AppState";
    // The record is a row of 32-bit words (app_state.h), laid out alike on
    // the device and in the ARM lane, where loaded images run.
    const std::pair<const char*, std::size_t> offsets[] = {
        {"speedMode", offsetof(AppStateRecord, speedMode)},
        {"dialogVisible", offsetof(AppStateRecord, dialogVisible)},
        {"targetClockConfig", offsetof(AppStateRecord, targetClockConfig)},
        {"allow100", offsetof(AppStateRecord, allow100)},
        {"showNotifications", offsetof(AppStateRecord, showNotifications)},
        {"pendingNotifications", offsetof(AppStateRecord, pendingNotifications)},
        {"monitorRunning", offsetof(AppStateRecord, monitorRunning)},
    };
    for (const auto& [name, offset] : offsets) {
        const bool is_signed = std::string_view(name) != "targetClockConfig";
        layout.fields.push_back({name, static_cast<std::uint32_t>(offset), is_signed});
    }
    return layout;
}

ProgramNames corvane_names() {
    ProgramNames names;
    names.buttons = {
        {"quit", IDCANCEL}, {"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    names.check_boxes = {{"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    for (const StateField& f : kStateFields) {
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
