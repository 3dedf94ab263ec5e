// corvane-sim: runs Corvane on the simulated Pocket PC.
//
//   corvane-sim [--port N] [--speed X] [--res FILE]
//       runs the program in real time (device time X times faster) and
//       serves the device on http://127.0.0.1:N (default 8053; 0 picks a
//       free port). Ctrl+C stops it. A port in use is an error (exit 1).
//   corvane-sim --script FILE [--seed N] [--quiet] [--res FILE] [--trace-out FILE.json]
//              [--exe FILE.exe]
//       runs a scenario in virtual time and prints the device's trace as
//       JSON lines; exits 0 when every expectation held, 1 when one failed,
//       2 on a bad command line, script or resource file. --trace-out also
//       writes the trace in the Chrome trace event format (Perfetto,
//       chrome://tracing). With --exe the device runs that Windows CE exe
//       (the ARM lane: this simulator built for ARM, under qemu-arm) as the
//       device's loader loads it, with the resources of its own .rsrc,
//       instead of the program built in.
//   corvane-sim --script FILE --schedule CHOICES [...]
//       runs the scenario under that schedule (as the explorer prints it;
//       a "schedule" line in the script does the same), checking at every
//       step what must hold; exits 1 when an expectation or a rule broke.
//   corvane-sim --explore FILE [--preemptions K] [--no-reduce] [--exe FILE.exe]
//       runs the scenario once per schedule with at most K preemptions
//       (default 2), checking every step of each, and prints how many ran,
//       how many choices the reduction left out, the time and the first
//       violation with its schedule and trace; exits 0 when every schedule
//       held, 1 when one did not, 2 on a bad command line or script.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/chrome_trace.h"
#include "simulator/corvane_image.h"
#include "simulator/corvane_invariants.h"
#include "simulator/explore.h"
#include "simulator/read_file.h"
#include "simulator/scenario.h"
#ifndef CORVANE_HEADLESS
#include "simulator/web/runner.h"
#include "simulator/web/server.h"
#endif

namespace {

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
};

void usage() {
    std::cerr << "usage: corvane-sim [--port N] [--speed X] [--res FILE]\n"
                 "       corvane-sim --script FILE [--seed N] [--quiet] [--res FILE]"
                 " [--trace-out FILE.json] [--exe FILE.exe] [--schedule CHOICES]\n"
                 "       corvane-sim --explore FILE [--preemptions K] [--no-reduce]"
                 " [--exe FILE.exe]\n";
}

// The options that take a value.
bool takes_value(const std::string& arg) {
    return arg == "--script" || arg == "--res" || arg == "--seed" || arg == "--port" ||
           arg == "--speed" || arg == "--trace-out" || arg == "--exe" || arg == "--schedule" ||
           arg == "--explore" || arg == "--preemptions";
}

// The values of the numeric options, or nothing when the text is not one.
std::optional<std::uint64_t> seed_value(const std::string& v) {
    char* end = nullptr;
    errno = 0;
    const std::uint64_t seed = std::strtoull(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno != 0 || v[0] == '-') {
        return std::nullopt;
    }
    return seed;
}

std::optional<int> port_value(const std::string& v) {
    char* end = nullptr;
    const long port = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || port < 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<int>(port);
}

std::optional<double> speed_value(const std::string& v) {
    char* end = nullptr;
    const double speed = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(speed >= 0.01 && speed <= 10000)) {
        return std::nullopt;
    }
    return speed;
}

// Sets the option `arg` to `v`; false (and why, on stderr) when `v` is not
// a value it takes.
bool set_option(Arguments& a, const std::string& arg, const std::string& v) {
    if (arg == "--script") {
        a.script = v;
    } else if (arg == "--res") {
        a.res = v;
    } else if (arg == "--trace-out") {
        a.trace_out = v;
    } else if (arg == "--exe") {
        a.exe = v;
    } else if (arg == "--schedule") {
        a.schedule = v;
    } else if (arg == "--explore") {
        a.explore = v;
    } else if (arg == "--preemptions") {
        const auto k = port_value(v);
        if (!k || *k > 8) {
            std::cerr << "corvane-sim: --preemptions needs a bound from 0 to 8\n";
            return false;
        }
        a.preemptions = *k;
    } else if (arg == "--seed") {
        a.seed = seed_value(v);
        if (!a.seed) {
            std::cerr << "corvane-sim: --seed needs a non-negative integer\n";
            return false;
        }
    } else if (arg == "--port") {
        const auto port = port_value(v);
        if (!port) {
            std::cerr << "corvane-sim: --port needs a port number (0 to 65535)\n";
            return false;
        }
        a.port = *port;
    } else {
        const auto speed = speed_value(v);
        if (!speed) {
            std::cerr << "corvane-sim: --speed needs a factor from 0.01 to 10000\n";
            return false;
        }
        a.speed = *speed;
    }
    return true;
}

std::optional<Arguments> parse_arguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quiet" || arg == "--no-reduce") {
            (arg == "--quiet" ? a.quiet : a.reduce) = arg == "--quiet";
            continue;
        }
        if (!takes_value(arg)) {
            std::cerr << "corvane-sim: unknown argument '" << arg << "'\n";
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::cerr << "corvane-sim: " << arg << " needs a value\n";
            return std::nullopt;
        }
        if (!set_option(a, arg, argv[++i])) {
            return std::nullopt;
        }
    }
    return a;
}

// The device running the program built in (its resources, or a .res file
// given on the command line) or an exe loaded from a file.
std::optional<sim::DeviceOptions> device_options(const Arguments& args,
                                                 sim::Kernel::Options kernel) {
    auto options = sim::open_corvane({args.exe, args.res}, kernel);
    if (!options.ok()) {
        std::cerr << "corvane-sim: " << options.error().message << "\n";
        return std::nullopt;
    }
    return std::move(options.value());
}

// The commands of the script at `path`; nothing (and why, on stderr) when
// it cannot be read or a line of it is bad.
std::optional<std::vector<sim::Command>> read_script(const std::string& path) {
    const auto text = sim::read_file(path);
    if (!text.ok()) {
        std::cerr << "corvane-sim: " << text.error().message << "\n";
        return std::nullopt;
    }
    std::istringstream script(std::string(text.value().begin(), text.value().end()));
    auto parsed = sim::parse_scenario(script, path, sim::corvane_names());
    if (!parsed.ok()) {
        std::cerr << parsed.error().describe() << "\n";
        return std::nullopt;
    }
    return std::move(parsed.value());
}

// Writes the run's Chrome trace document to `file`, opened for `path`;
// false (and why, on stderr) when it cannot be written.
bool write_chrome_trace(std::ofstream& file, const std::string& path, sim::Driver& device,
                        const sim::ChromeTrace& chrome) {
    file << device.locked([&](sim::Device& d) {
        return chrome.document(d.clocks().history()).dump();
    }) << "\n";
    if (!file.flush()) {
        std::cerr << "corvane-sim: cannot write " << path << "\n";
        return false;
    }
    return true;
}

// The factory of fresh devices for the explorer and scheduled runs.
sim::DeviceFactory device_factory(const Arguments& args) {
    auto opened = sim::open_corvane({args.exe, args.res});
    if (!opened.ok()) {
        return nullptr;
    }
    return [options = std::move(opened.value())](sim::Kernel::Options kernel) {
        sim::DeviceOptions fresh = options;
        fresh.kernel = kernel;
        return fresh;
    };
}

int run_scheduled(const Arguments& args, const std::vector<sim::Command>& commands,
                  const sim::Schedule& schedule);

int run_script(const Arguments& args) {
    const auto commands = read_script(*args.script);
    if (!commands) {
        return 2;
    }
    if (args.schedule || sim::scenario_schedule(*commands) != nullptr) {
        if (args.seed) {
            std::cerr << "corvane-sim: a schedule makes every choice; --seed goes without it\n";
            return 2;
        }
        if (!args.schedule) {
            return run_scheduled(args, *commands, *sim::scenario_schedule(*commands));
        }
        auto schedule = sim::parse_schedule(*args.schedule);
        if (!schedule.ok()) {
            std::cerr << "corvane-sim: --schedule: " << schedule.error().message << "\n";
            return 2;
        }
        return run_scheduled(args, *commands, schedule.value());
    }
    sim::Kernel::Options kernel;
    kernel.seed = args.seed;
    auto options = device_options(args, kernel);
    if (!options) {
        return 2;
    }

    // The trace file is opened first: one that cannot be written runs nothing.
    std::ofstream trace_file;
    if (args.trace_out) {
        trace_file.open(*args.trace_out, std::ios::trunc);
        if (!trace_file) {
            std::cerr << "corvane-sim: cannot write " << *args.trace_out << "\n";
            return 2;
        }
    }
    auto print = [](const sim::json& j) { std::cout << j.dump() << "\n"; };
    sim::Driver device(std::move(*options));
    if (!args.quiet) {
        device.trace().add_json_sink(print);
    }
    std::optional<sim::ChromeTrace> chrome;
    if (args.trace_out) {
        chrome.emplace(device);
    }
    auto report = [&](const sim::json& j) {
        if (!args.quiet || j.contains("expect") || j.contains("result") || j.contains("state")) {
            print(j);
        }
    };
    const auto result = sim::run_scenario(device, *commands, report);
    std::cout.flush();
    if (chrome && !write_chrome_trace(trace_file, *args.trace_out, device, *chrome)) {
        return 2;
    }
    return result.failed == 0 ? 0 : 1;
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

int run_scheduled(const Arguments& args, const std::vector<sim::Command>& commands,
                  const sim::Schedule& schedule) {
    const sim::DeviceFactory make = device_factory(args);
    std::ofstream trace_file;
    if (!make || !device_options(args, {}) || !open_trace_file(args, trace_file)) {
        return 2;
    }
    // A schedule that does not fit the scenario is bad input: found by a
    // quiet run first, so that nothing is printed for it.
    sim::ReplayChooser trial(schedule);
    (void)sim::run_checked(commands, make, sim::corvane_invariants(), trial);
    if (const std::string misfit = trial.misfit(); !misfit.empty()) {
        std::cerr << "corvane-sim: the schedule does not fit the scenario: " << misfit << "\n";
        return 2;
    }
    auto print = [](const sim::json& j) { std::cout << j.dump() << "\n"; };
    std::optional<sim::ChromeTrace> chrome;
    bool written = true;
    sim::RunHooks hooks;
    hooks.attach = [&](sim::Driver& device) {
        if (!args.quiet) {
            device.trace().add_json_sink(print);
        }
        if (args.trace_out) {
            chrome.emplace(device);
        }
    };
    hooks.report = [&](const sim::json& j) {
        if (!args.quiet || !j.contains("command")) {
            print(j);
        }
    };
    hooks.finish = [&](sim::Driver& device) {
        if (chrome) {
            written = write_chrome_trace(trace_file, *args.trace_out, device, *chrome);
        }
    };
    sim::ReplayChooser replay(schedule);
    const sim::CheckedRun run =
        sim::run_checked(commands, make, sim::corvane_invariants(), replay, hooks);
    std::cout.flush();
    if (!written) {
        return 2;
    }
    return run.violation ? 1 : 0;
}

// Prints the trace of a violation's schedule, up to the violation.
void print_violation_trace(const std::vector<sim::Command>& commands,
                           const sim::DeviceFactory& make, const sim::Violation& v) {
    std::vector<sim::json> lines;
    sim::RunHooks hooks;
    hooks.attach = [&](sim::Driver& device) {
        device.trace().add_json_sink([&](const sim::json& j) { lines.push_back(j); });
    };
    sim::ReplayChooser replay(v.schedule);
    const sim::CheckedRun run =
        sim::run_checked(commands, make, sim::corvane_invariants(), replay, hooks);
    const std::size_t upto = std::min(lines.size(), run.violation_trace_events);
    for (std::size_t i = 0; i < upto; ++i) {
        std::cout << lines[i].dump() << "\n";
    }
}

int explore(const Arguments& args) {
    const auto commands = read_script(*args.explore);
    const sim::DeviceFactory make = device_factory(args);
    if (!commands || !make || !device_options(args, {})) {
        return 2;
    }
    sim::ExploreOptions options;
    options.preemptions = args.preemptions.value_or(2);
    options.reduce = args.reduce;
    options.on_fault = [&](const sim::Violation& v) {
        std::cout << sim::json{{"scenario", *args.explore},
                               {"violation", v.what},
                               {"schedule", v.schedule.to_string()},
                               {"preemptions", v.preemptions},
                               {"replay", "corvane-sim --script " + *args.explore +
                                              " --schedule '" + v.schedule.to_string() + "'"}}
                         .dump()
                  << std::endl;
        std::_Exit(1);
    };
    const sim::ExploreReport report =
        sim::explore(*commands, make, sim::corvane_invariants(), options);
    sim::json out = sim::to_json(report);
    out["scenario"] = *args.explore;
    if (report.violation) {
        out["violation"]["replay"] = "corvane-sim --script " + *args.explore + " --schedule '" +
                                     report.violation->schedule.to_string() + "'";
        std::cout << out.dump() << "\n# the trace up to the violation:\n";
        print_violation_trace(*commands, make, *report.violation);
        std::cout.flush();
        return 1;
    }
    std::cout << out.dump() << std::endl;
    return 0;
}

int serve(const Arguments& args) {
    auto options = device_options(args, {});
    if (!options) {
        return 2;
    }
#ifdef CORVANE_HEADLESS
    // The ARM lane builds the scenario runner only.
    std::cerr << "corvane-sim: this build has no web page; run a scenario with --script FILE\n";
    return 2;
#else
    // SIGINT and SIGTERM are taken by the server's thread (this one), which
    // then stops everything; the runner's and the device's threads are made
    // with them blocked, so no signal interrupts them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    sim::Module module(options->resources, options->program.instance, options->program.image_base);
    sim::web::Runner runner(std::move(*options), sim::corvane_names(), args.speed);
    sim::web::Server server(runner, std::move(module));
    const auto listening = server.listen(args.port);
    if (!listening.ok()) {
        std::cerr << "corvane-sim: " << listening.error().message << "\n";
        return 1;
    }
    // The device starts (and its first view is published) before the first
    // request is answered; requests that arrive meanwhile wait in the queue.
    runner.start();
    std::cout << "Corvane on the simulated Pocket PC: http://127.0.0.1:" << listening.value() << "/"
              << std::endl;

    server.stop_on_signals();
    pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
    server.run();
    runner.stop();
    std::cout << "stopped" << std::endl;
    return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    auto args = parse_arguments(argc, argv);
    if (!args) {
        usage();
        return 2;
    }
    if (!args->script && (args->seed || args->quiet || args->trace_out || args->schedule)) {
        std::cerr << "corvane-sim: --seed, --quiet, --trace-out and --schedule go with --script\n";
        usage();
        return 2;
    }
    if (args->explore) {
        if (args->script) {
            std::cerr << "corvane-sim: --explore runs its own scenario; --script goes without it\n";
            return 2;
        }
        return explore(*args);
    }
    if (args->preemptions || !args->reduce) {
        std::cerr << "corvane-sim: --preemptions and --no-reduce go with --explore\n";
        return 2;
    }
    return args->script ? run_script(*args) : serve(*args);
}
