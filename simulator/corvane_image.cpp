#include "simulator/corvane_image.h"

#include <cstring>

#include "app/app_state.h"

namespace sim {

namespace {
// The state record as the image holds it at load time, taken before any run.
const AppStateRecord kLoadedState = AppState;
}  // namespace

ProgramImage corvane_program() {
    ProgramImage image;
    image.entry = [](HINSTANCE instance) { return WinMain(instance, nullptr, nullptr, SW_SHOW); };
    image.load = [] { std::memcpy(&AppState, &kLoadedState, sizeof AppState); };
    image.inspect = [] {
        return json{{"speedMode", AppState.speedMode},
                    {"dialogVisible", AppState.dialogVisible},
                    {"targetClockConfig", AppState.targetClockConfig},
                    {"allow100", AppState.allow100},
                    {"showNotifications", AppState.showNotifications},
                    {"pendingNotifications", AppState.pendingNotifications},
                    {"monitorRunning", AppState.monitorRunning}};
    };
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
