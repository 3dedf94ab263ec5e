// corvane-sim: runs Corvane on the simulated Pocket PC.
//
//   corvane-sim --script FILE [--seed N] [--quiet] [--res FILE]
//       runs a scenario in virtual time and prints the device's trace as
//       JSON lines; exits 0 when every expectation held, 1 when one failed,
//       2 on a bad command line, script or resource file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "simulator/corvane_image.h"
#include "simulator/scenario.h"

namespace {

struct Arguments {
    std::optional<std::string> script;
    std::optional<std::uint64_t> seed;
    std::optional<std::string> res;
    bool quiet = false;
};

void usage() {
    std::cerr << "usage: corvane-sim --script FILE [--seed N] [--quiet] [--res FILE]\n";
}

std::optional<Arguments> parse_arguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::cerr << "corvane-sim: " << arg << " needs a value\n";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--script") {
            if (!(a.script = value())) {
                return std::nullopt;
            }
        } else if (arg == "--res") {
            if (!(a.res = value())) {
                return std::nullopt;
            }
        } else if (arg == "--seed") {
            auto v = value();
            if (!v) {
                return std::nullopt;
            }
            char* end = nullptr;
            errno = 0;
            const unsigned long long seed = std::strtoull(v->c_str(), &end, 10);
            if (v->empty() || *end != '\0' || errno != 0 || (*v)[0] == '-') {
                std::cerr << "corvane-sim: --seed needs a non-negative integer\n";
                return std::nullopt;
            }
            a.seed = seed;
        } else if (arg == "--quiet") {
            a.quiet = true;
        } else {
            std::cerr << "corvane-sim: unknown argument '" << arg << "'\n";
            return std::nullopt;
        }
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    auto args = parse_arguments(argc, argv);
    if (!args || !args->script) {
        usage();
        return 2;
    }

    std::ifstream script(*args->script);
    if (!script) {
        std::cerr << "corvane-sim: cannot read " << *args->script << "\n";
        return 2;
    }
    auto parsed = sim::parse_scenario(script, *args->script);
    if (auto* error = std::get_if<sim::ScenarioError>(&parsed)) {
        std::cerr << error->describe() << "\n";
        return 2;
    }

    sim::Kernel::Options kernel;
    kernel.seed = args->seed;
    sim::DeviceOptions options = sim::corvane_device_options(kernel);
    if (args->res) {
        std::ifstream in(*args->res, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        auto resources = sim::parse_res_file(bytes);
        if (!in.eof() && in.fail()) {
            std::cerr << "corvane-sim: cannot read " << *args->res << "\n";
            return 2;
        }
        if (!resources.ok()) {
            std::cerr << "corvane-sim: " << *args->res << ": " << resources.error().describe()
                      << "\n";
            return 2;
        }
        options.resources = std::move(resources.value());
    }

    auto print = [](const sim::json& j) { std::cout << j.dump() << "\n"; };
    sim::Device device(std::move(options));
    if (!args->quiet) {
        device.trace().add_sink(print);
    }
    auto report = [&](const sim::json& j) {
        if (!args->quiet || j.contains("expect") || j.contains("result") || j.contains("state")) {
            print(j);
        }
    };
    const auto result =
        sim::run_scenario(device, std::get<std::vector<sim::Command>>(parsed), report);
    std::cout.flush();
    return result.failed == 0 ? 0 : 1;
}
