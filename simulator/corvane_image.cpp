#include "simulator/corvane_image.h"

#include <cstring>

#include "app/app_state.h"
#include "resources/resource.h"

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
    image.names.buttons = {
        {"quit", IDCANCEL}, {"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    image.names.check_boxes = {{"allow100", IDC_ALLOW_100}, {"notify", IDC_SHOW_NOTIFICATION}};
    for (const StateField& f : kStateFields) {
        image.names.state_fields.push_back(f.name);
    }
    return image;
}

std::vector<ResourceEntry> corvane_resources() {
    auto parsed = parse_res_file(corvane_res());
    if (!parsed.ok()) {
        fatal("the built corvane.res does not parse: " + parsed.error().describe());
    }
    return std::move(parsed.value());
}

DeviceOptions corvane_device_options(Kernel::Options kernel) {
    DeviceOptions options;
    options.kernel = kernel;
    options.resources = corvane_resources();
    options.program = corvane_program();
    return options;
}

}  // namespace sim
