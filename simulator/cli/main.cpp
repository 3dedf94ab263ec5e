// corvane-sim: runs Corvane on the simulated Pocket PC.
//
//   Every form takes --cpu NAME: the device's processor (pxa255 by default;
//   pxa250, pxa26x, pxa270, sa1110; a script's "cpu" line does the same).
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

#include "simulator/cli/cli.h"
#include "simulator/corvane/corvane_image.h"
#ifndef CORVANE_HEADLESS
#include "simulator/web/runner.h"
#include "simulator/web/server.h"
#endif

namespace {

using sim::cli::Arguments;
using sim::cli::device_options;

void usage() {
    std::cerr << "usage: corvane-sim [--port N] [--speed X] [--res FILE]\n"
                 "       corvane-sim --script FILE [--seed N] [--quiet] [--res FILE]"
                 " [--trace-out FILE.json] [--exe FILE.exe] [--schedule CHOICES]\n"
                 "       corvane-sim --explore FILE [--preemptions K] [--no-reduce]"
                 " [--exe FILE.exe]\n"
                 "       (each with --cpu NAME, NAME one of "
              << sim::processor_names() << ")\n";
}

// The options that take a value.
bool takes_value(const std::string& arg) {
    return arg == "--script" || arg == "--res" || arg == "--seed" || arg == "--port" ||
           arg == "--speed" || arg == "--trace-out" || arg == "--exe" || arg == "--schedule" ||
           arg == "--explore" || arg == "--preemptions" || arg == "--cpu";
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
    } else if (arg == "--cpu") {
        a.cpu = sim::find_processor(v);
        if (a.cpu == nullptr) {
            std::cerr << "corvane-sim: --cpu needs one of " << sim::processor_names() << "\n";
            return false;
        }
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
        return sim::cli::explore(*args);
    }
    if (args->preemptions || !args->reduce) {
        std::cerr << "corvane-sim: --preemptions and --no-reduce go with --explore\n";
        return 2;
    }
    return args->script ? sim::cli::run_script(*args) : serve(*args);
}
