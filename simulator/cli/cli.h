// corvane-sim's commands (main.cpp reads the command line): each runs with
// the options it was given and returns the process's exit status.
#ifndef CORVANE_SIMULATOR_CLI_CLI_H
#define CORVANE_SIMULATOR_CLI_CLI_H

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "simulator/device/chrome_trace.h"
#include "simulator/explore/explore.h"
#include "simulator/script/scenario.h"

namespace sim::cli {

struct Arguments {
    std::optional<std::string> script;
    std::optional<std::uint64_t> seed;
    std::optional<std::string> res;
    std::optional<std::string> trace_out;
    std::optional<std::string> exe;
    std::optional<std::string> schedule;
    std::optional<std::string> explore;
    std::optional<int> preemptions;  // the explorer's bound
    bool reduce = true;
    bool quiet = false;
    int port = 8053;
    double speed = 1.0;
    const Processor* cpu = nullptr;  // --cpu; the default processor when none
};

// --script: the scenario, under the device's own scheduling or under a
// schedule (--schedule, or the script's schedule line).
int run_script(const Arguments& args);
// --explore: every schedule of the scenario up to the bound.
int explore(const Arguments& args);

// What the commands share. Each says why on stderr when it fails.
std::optional<DeviceOptions> device_options(const Arguments& args, Kernel::Options kernel);
DeviceFactory device_factory(const Arguments& args);
std::optional<std::vector<Command>> read_script(const std::string& path);
// The arguments with the script's cpu line in force; nothing (and why, on
// stderr) when it and --cpu name different processors.
std::optional<Arguments> with_script_processor(const Arguments& args,
                                               const std::vector<Command>& commands);
bool open_trace_file(const Arguments& args, std::ofstream& file);
bool write_chrome_trace(std::ofstream& file, const std::string& path, Driver& device,
                        const ChromeTrace& chrome);

}  // namespace sim::cli

#endif
