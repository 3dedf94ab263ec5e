// Corvane as a program the simulated device can load: its entry, its data
// image, and its compiled resources.
#ifndef CORVANE_SIMULATOR_CORVANE_IMAGE_H
#define CORVANE_SIMULATOR_CORVANE_IMAGE_H

#include <cstdint>
#include <span>
#include <vector>

#include "simulator/device.h"
#include "simulator/wince/exe/exe_loader.h"

namespace sim {

// The program: WinMain as the entry; loading restores its state record to
// the values it has when the image is loaded.
ProgramImage corvane_program();

// What scenarios call the program's controls and state fields.
ProgramNames corvane_names();

// Where a debugger finds the state record's fields in a loaded corvane.exe,
// given the symbol map's address of AppState.
StateRecordLayout corvane_state_layout();

// corvane.res as built with the program.
std::span<const std::uint8_t> corvane_res();

// The built resources, parsed; fatal if they do not parse (a build fault).
std::vector<ResourceEntry> corvane_resources();

// Device options for running Corvane with its own resources.
DeviceOptions corvane_device_options(Kernel::Options kernel = {});

}  // namespace sim

#endif
