// Corvane as a program the simulated device can load: its entry, its data
// image, and its compiled resources.
#ifndef CORVANE_SIMULATOR_CORVANE_CORVANE_IMAGE_H
#define CORVANE_SIMULATOR_CORVANE_CORVANE_IMAGE_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "simulator/device/device.h"
#include "simulator/device/snapshot.h"
#include "simulator/exe/exe_loader.h"

namespace sim {

// The program: WinMain as the entry; loading restores its state record to
// the values it has when the image is loaded.
ProgramImage corvane_program();

// What scenarios call the program's controls and state fields.
ProgramNames corvane_names();

// Where a debugger finds the state record's fields in a loaded corvane.exe,
// given the symbol map's address of AppState.
StateRecordLayout corvane_state_layout();

// The program's state record as a snapshot read it, with the program's own
// field names; the handles it holds (instance, icon) are not read and stay
// null. Fatal when the snapshot has no record (the program never started).
AppStateRecord corvane_state(const ProgramView& program);

// corvane.res as built with the program.
std::span<const std::uint8_t> corvane_res();

// The built resources, parsed; fatal if they do not parse (a build fault).
std::vector<ResourceEntry> corvane_resources();

// Device options for running Corvane with its own resources.
DeviceOptions corvane_device_options(Kernel::Options kernel = {});

// Where the program comes from: built in (with its own resources, or those
// of a .res file), or corvane.exe, loaded from its file as the device's
// loader loads it.
struct ProgramSource {
    std::optional<std::string> exe;
    std::optional<std::string> res;
};

// The one way to open Corvane, whichever image it is: the device options
// that run it, or why it cannot be opened ("cannot read ...", the file's
// parse error, the loader's refusal).
Result<DeviceOptions> open_corvane(const ProgramSource& source, Kernel::Options kernel = {});

}  // namespace sim

#endif
