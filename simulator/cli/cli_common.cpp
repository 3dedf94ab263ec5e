// What corvane-sim's commands share: opening the program, reading a script,
// writing the Chrome trace.
#include <iostream>
#include <sstream>

#include "simulator/cli/cli.h"
#include "simulator/corvane/corvane_image.h"
#include "simulator/support/read_file.h"

namespace sim::cli {

// The device running the program built in (its resources, or a .res file
// given on the command line) or an exe loaded from a file.
std::optional<DeviceOptions> device_options(const Arguments& args, Kernel::Options kernel) {
    auto options = open_corvane({args.exe, args.res}, kernel);
    if (!options.ok()) {
        std::cerr << "corvane-sim: " << options.error().message << "\n";
        return std::nullopt;
    }
    if (args.cpu != nullptr) {
        options.value().processor = args.cpu;
    }
    return std::move(options.value());
}

std::optional<Arguments> with_script_processor(const Arguments& args,
                                               const std::vector<Command>& commands) {
    const Processor* scripted = scenario_processor(commands);
    if (scripted == nullptr) {
        return args;
    }
    if (args.cpu != nullptr && args.cpu != scripted) {
        std::cerr << "corvane-sim: the script's cpu line says " << scripted->name << ", --cpu says "
                  << args.cpu->name << "\n";
        return std::nullopt;
    }
    Arguments with = args;
    with.cpu = scripted;
    return with;
}

// The commands of the script at `path`; nothing (and why, on stderr) when
// it cannot be read or a line of it is bad.
std::optional<std::vector<Command>> read_script(const std::string& path) {
    const auto text = read_file(path);
    if (!text.ok()) {
        std::cerr << "corvane-sim: " << text.error().message << "\n";
        return std::nullopt;
    }
    std::istringstream script(std::string(text.value().begin(), text.value().end()));
    auto parsed = parse_scenario(script, path, corvane_names());
    if (!parsed.ok()) {
        std::cerr << parsed.error().describe() << "\n";
        return std::nullopt;
    }
    return std::move(parsed.value());
}

// Writes the run's Chrome trace document to `file`, opened for `path`;
// false (and why, on stderr) when it cannot be written.
bool write_chrome_trace(std::ofstream& file, const std::string& path, Driver& device,
                        const ChromeTrace& chrome) {
    file << device.locked([&](Device& d) { return chrome.document(d.clocks().history()).dump(); })
         << "\n";
    if (!file.flush()) {
        std::cerr << "corvane-sim: cannot write " << path << "\n";
        return false;
    }
    return true;
}

// The factory of fresh devices for the explorer and scheduled runs.
DeviceFactory device_factory(const Arguments& args) {
    auto opened = open_corvane({args.exe, args.res});
    if (!opened.ok()) {
        return nullptr;
    }
    if (args.cpu != nullptr) {
        opened.value().processor = args.cpu;
    }
    return [options = std::move(opened.value())](Kernel::Options kernel) {
        DeviceOptions fresh = options;
        fresh.kernel = kernel;
        return fresh;
    };
}

// Opens the trace file first: one that cannot be written runs nothing.
bool open_trace_file(const Arguments& args, std::ofstream& file) {
    if (args.trace_out) {
        file.open(*args.trace_out, std::ios::trunc);
        if (!file) {
            std::cerr << "corvane-sim: cannot write " << *args.trace_out << "\n";
            return false;
        }
    }
    return true;
}

}  // namespace sim::cli
