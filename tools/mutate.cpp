// mutate: puts plausible faults into a scratch copy of the tree one at a
// time and runs the fast tests against each, to show which faults the suite
// catches.
//
//   mutate --faults FILE --source DIR --work DIR [--only NAME[,NAME...]] [--tests LABELS] [--check]
//
// The faults are data (see tests/mutation/faults.txt): for each, the file,
// the exact text to change (found exactly once), its replacement, and why a
// user would notice the fault; or "equivalent" with the reason a fault
// cannot be told apart from the original. The scratch copy is built once;
// each fault then costs an incremental build and one test run. The report
// says, per fault, which tests failed (and for the randomised test, how
// many seeds), and sums up caught, missed, equivalent and faults that do not
// build. Exit status: 0 when every non-equivalent fault was caught, 1 when
// one was missed, 2 for a bad fault list or a baseline that does not pass.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Fault {
    std::string name;
    std::string file;
    std::string find;
    std::string replace;
    std::string why;
    std::string equivalent;  // non-empty: why no test can tell it apart
    int line = 0;            // where the entry starts in the list
};

struct Options {
    fs::path faults;
    fs::path source;
    fs::path work;
    std::string only;
    std::string tests = "unit|scenario|stress|explore";
    bool check = false;  // only check that every fault applies
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "mutate: " << message << "\n";
    std::exit(2);
}

std::string unescape(const std::string& text, const std::string& where) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            fail(where + ": a lone backslash at the end of the value");
        }
        switch (text[i]) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case 's':
                out += ' ';
                break;
            default:
                fail(where + ": unknown escape \\" + std::string(1, text[i]));
        }
    }
    return out;
}

// Entries are blocks of "key value" lines separated by blank lines; '#'
// starts a comment line. Values take \n, \t, \s (a space) and \\ escapes.
std::vector<Fault> read_faults(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        fail("cannot read " + path.string());
    }
    std::vector<Fault> faults;
    std::optional<Fault> current;
    std::map<std::string, int> names;
    auto finish = [&](int line) {
        if (!current) {
            return;
        }
        const std::string where = path.string() + ":" + std::to_string(current->line);
        if (current->name.empty() || current->file.empty() || current->find.empty()) {
            fail(where + ": an entry needs fault, file and find");
        }
        if (current->why.empty()) {
            fail(where + ": fault " + current->name + " does not say why it matters");
        }
        if (current->find == current->replace) {
            fail(where + ": fault " + current->name + " changes nothing");
        }
        if (names.count(current->name) != 0) {
            fail(where + ": fault " + current->name + " is listed twice");
        }
        names[current->name] = line;
        faults.push_back(*current);
        current.reset();
    };
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.empty() || text.find_first_not_of(" \t") == std::string::npos) {
            finish(line);
            continue;
        }
        if (text[0] == '#') {
            continue;
        }
        const std::size_t space = text.find_first_of(" \t");
        const std::string key = text.substr(0, space);
        std::string value;
        if (space != std::string::npos) {
            value = text.substr(text.find_first_not_of(" \t", space));
        }
        const std::string where = path.string() + ":" + std::to_string(line);
        if (!current) {
            if (key != "fault") {
                fail(where + ": an entry begins with 'fault NAME'");
            }
            current = Fault{};
            current->line = line;
            current->name = value;
            continue;
        }
        if (key == "file") {
            current->file = value;
        } else if (key == "find") {
            current->find = unescape(value, where);
        } else if (key == "replace") {
            current->replace = unescape(value, where);
        } else if (key == "why") {
            current->why = value;
        } else if (key == "equivalent") {
            current->equivalent = value;
        } else {
            fail(where + ": unknown key '" + key + "'");
        }
    }
    finish(line);
    return faults;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail("cannot read " + path.string());
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !(out << text)) {
        fail("cannot write " + path.string());
    }
}

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// Runs a shell command with its output going to `log`; returns its status.
int run(const std::string& command, const fs::path& log) {
    const std::string line = command + " >" + quote(log.string()) + " 2>&1";
    const int status = std::system(line.c_str());
    if (status == -1) {
        fail("cannot run: " + command);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The tests ctest lists after "The following tests FAILED:".
std::vector<std::string> failed_tests(const std::string& output) {
    std::vector<std::string> names;
    const std::size_t at = output.find("The following tests FAILED:");
    if (at == std::string::npos) {
        return names;
    }
    std::istringstream lines(output.substr(at));
    std::string line;
    std::getline(lines, line);
    const std::regex entry(R"(^\s*\d+ - (\S+) )");
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, entry)) {
            names.push_back(m[1]);
        }
    }
    return names;
}

void copy_tree(const fs::path& source, const fs::path& dest) {
    // Only what git tracks (and what is staged or changed in the work tree),
    // so that no build directory or scratch copy is copied into itself.
    const fs::path list = dest.parent_path() / "files.txt";
    if (run("git -C " + quote(source.string()) +
                " ls-files -z --cached --others --exclude-standard",
            list) != 0) {
        fail("git ls-files failed in " + source.string());
    }
    const std::string names = read_file(list);
    std::size_t start = 0;
    while (start < names.size()) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        if (name.empty() || !fs::exists(source / name)) {
            continue;
        }
        const fs::path to = dest / name;
        fs::create_directories(to.parent_path());
        // Unchanged files keep their time stamps, so the scratch build stays
        // incremental between runs.
        if (!fs::exists(to) || read_file(to) != read_file(source / name)) {
            fs::copy_file(source / name, to, fs::copy_options::overwrite_existing);
        }
    }
}

// Every fault must apply to the tree as it is: a stale entry is an error in
// the list, not a fault the tests missed.
void check_applies(const fs::path& root, const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
        const fs::path file = root / f.file;
        if (!fs::exists(file)) {
            fail("fault " + f.name + ": no file " + f.file);
        }
        const std::string text = read_file(file);
        const std::size_t at = text.find(f.find);
        if (at == std::string::npos || text.find(f.find, at + 1) != std::string::npos) {
            fail("fault " + f.name + ": its text is not found exactly once in " + f.file);
        }
    }
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                fail(arg + " needs a value");
            }
            return argv[++i];
        };
        if (arg == "--faults") {
            o.faults = value();
        } else if (arg == "--source") {
            o.source = value();
        } else if (arg == "--work") {
            o.work = value();
        } else if (arg == "--only") {
            o.only = value();
        } else if (arg == "--tests") {
            o.tests = value();
        } else if (arg == "--check") {
            o.check = true;
        } else {
            fail("unknown argument " + arg +
                 "\nusage: mutate --faults FILE --source DIR --work DIR [--only NAME] [--tests "
                 "LABELS]");
        }
    }
    if (o.faults.empty() || o.source.empty() || o.work.empty()) {
        fail("usage: mutate --faults FILE --source DIR --work DIR [--only NAME] [--tests LABELS]");
    }
    o.source = fs::absolute(o.source);
    o.work = fs::absolute(o.work);
    return o;
}

struct Outcome {
    std::string status;  // caught, MISSED, equivalent, does-not-build
    std::vector<std::string> failed;
    std::size_t failing_seeds = 0;
    double seconds = 0;
};

// Keeps the faults --only names: a name, or names joined by commas. A name
// the list does not hold is an error, so that a mistyped name is not
// silently skipped.
void keep_only(std::vector<Fault>& faults, const std::string& only) {
    if (only.empty()) {
        return;
    }
    const std::string names = "," + only + ",";
    for (std::size_t at = 1; at < names.size();) {
        const std::size_t comma = names.find(',', at);
        const std::string name = names.substr(at, comma - at);
        if (std::none_of(faults.begin(), faults.end(),
                         [&](const Fault& f) { return f.name == name; })) {
            fail("no fault named " + name);
        }
        at = comma + 1;
    }
    std::erase_if(faults, [&](const Fault& f) {
        return names.find("," + f.name + ",") == std::string::npos;
    });
}

// The scratch copy of the tree and the commands that build and test it.
struct Scratch {
    fs::path src;
    fs::path build;
    fs::path log;  // the last command's output
    std::string compile;
    std::string test;
};

// Where the scratch copy lives under --work, and the commands for it.
Scratch scratch_layout(const Options& o) {
    Scratch s;
    s.src = o.work / "src";
    s.build = o.work / "build";
    s.log = o.work / "log.txt";
    s.compile = "cmake --build " + quote(s.build.string());
    s.test = "ctest --test-dir " + quote(s.build.string()) + " -L " + quote(o.tests) +
             " --timeout 120 -j2 --output-on-failure";
    return s;
}

// Brings the scratch copy up to date with the source tree, checks that
// every fault applies to it, and builds and tests it unchanged: a fault is
// only caught if the tests passed without it.
Scratch prepare_scratch(const Options& o, const std::vector<Fault>& faults) {
    const Scratch s = scratch_layout(o);
    fs::create_directories(s.src);
    copy_tree(o.source, s.src);

    check_applies(s.src, faults);

    // Warnings are not errors here: a fault that leaves a variable unused is
    // still a fault to run. Each fault relinks every program that holds the
    // file it changes, so the copy is built for that: no debug information,
    // lld, and no web page (the fast tests do not use it).
    const std::string configure = "cmake -S " + quote(s.src.string()) + " -B " +
                                  quote(s.build.string()) +
                                  " -G Ninja -DCMAKE_CXX_COMPILER=clang++ "
                                  "-DCMAKE_BUILD_TYPE=Release -DCORVANE_WEB=OFF "
                                  "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld "
                                  "-DCMAKE_CXX_FLAGS=-Wno-error";
    std::cout << "Building the scratch copy in " << o.work.string() << "\n" << std::flush;
    if (run(configure, s.log) != 0 || run(s.compile, s.log) != 0) {
        fail("the unchanged tree does not build; see " + s.log.string());
    }
    if (run(s.test, s.log) != 0) {
        fail("the unchanged tree fails its tests; see " + s.log.string());
    }
    return s;
}

// Puts one fault into the scratch copy, builds and tests it, and puts the
// original text back.
Outcome run_fault(const Scratch& s, const Fault& f) {
    static const std::regex seed_failure(R"((\d+) of \d+ seeds failed)");
    Outcome out;
    const auto started = std::chrono::steady_clock::now();
    const fs::path file = s.src / f.file;
    const std::string original = read_file(file);
    std::string mutated = original;
    mutated.replace(mutated.find(f.find), f.find.size(), f.replace);
    write_file(file, mutated);
    if (run(s.compile, s.log) != 0) {
        out.status = "does-not-build";
    } else {
        const int status = run(s.test, s.log);
        const std::string output = read_file(s.log);
        out.failed = failed_tests(output);
        std::smatch m;
        if (std::regex_search(output, m, seed_failure)) {
            out.failing_seeds = std::stoul(m[1]);
        }
        out.status = status == 0 ? "MISSED" : "caught";
    }
    write_file(file, original);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return out;
}

void print_outcome(const Fault& f, const Outcome& out) {
    std::cout << "  " << f.name << ": " << out.status;
    if (!out.failed.empty()) {
        std::cout << " by " << out.failed.size() << " test(s):";
        for (const std::string& name : out.failed) {
            std::cout << " " << name;
        }
    }
    if (out.failing_seeds > 0) {
        std::cout << " [random seeds failing: " << out.failing_seeds << "]";
    }
    std::cout << " (" << static_cast<int>(out.seconds) << " s)\n" << std::flush;
}

// Runs every fault in turn, saying how each went as it finishes; an
// equivalent fault is not run. The outcomes are in the faults' order.
std::vector<Outcome> run_faults(const Scratch& s, const std::vector<Fault>& faults) {
    std::vector<Outcome> outcomes;
    for (const Fault& f : faults) {
        if (!f.equivalent.empty()) {
            Outcome out;
            out.status = "equivalent";
            outcomes.push_back(out);
            std::cout << "  " << f.name << ": equivalent (" << f.equivalent << ")\n" << std::flush;
            continue;
        }
        outcomes.push_back(run_fault(s, f));
        print_outcome(f, outcomes.back());
    }
    // Leave the scratch build matching the unchanged tree.
    if (run(s.compile, s.log) != 0) {
        fail("the restored tree does not build; see " + s.log.string());
    }
    return outcomes;
}

struct Tally {
    int caught = 0, missed = 0, equivalent = 0, unbuilt = 0, single = 0;
};

// Prints the summary by area (the program's folders and the simulator's)
// and each missed fault with why it matters; returns the exit status: 1
// when a fault was missed, else 0.
int report(const std::vector<Fault>& faults, const std::vector<Outcome>& outcomes) {
    std::map<std::string, Tally> tallies;
    std::vector<std::string> missed;
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const std::string area =
            faults[i].file.rfind("simulator/", 0) == 0 ? "simulator" : "program";
        Tally& t = tallies[area];
        const Outcome& out = outcomes[i];
        if (out.status == "caught") {
            ++t.caught;
            const bool only_random = out.failed.size() == 1 && out.failed[0] == "random_events";
            if (only_random && out.failing_seeds <= 1) {
                ++t.single;
            }
        } else if (out.status == "MISSED") {
            ++t.missed;
            missed.push_back(faults[i].name + " (" + faults[i].file + "): " + faults[i].why);
        } else if (out.status == "equivalent") {
            ++t.equivalent;
        } else {
            ++t.unbuilt;
        }
    }
    std::cout << "\nSummary\n";
    for (const auto& [area, t] : tallies) {
        const int real = t.caught + t.missed;
        std::cout << "  " << area << ": " << t.caught << " of " << real << " caught";
        if (real > 0) {
            std::cout << " (" << (100 * t.caught / real) << " %)";
        }
        std::cout << ", " << t.missed << " missed, " << t.equivalent << " equivalent, " << t.unbuilt
                  << " do not build, " << t.single
                  << " caught only by one seed of the randomised test\n";
    }
    for (const std::string& m : missed) {
        std::cout << "  MISSED " << m << "\n";
    }
    return missed.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse_options(argc, argv);
    std::vector<Fault> faults = read_faults(o.faults);
    keep_only(faults, o.only);
    if (o.check) {
        check_applies(o.source, faults);
        std::cout << faults.size() << " faults, each applies exactly once\n";
        return 0;
    }
    const Scratch scratch = prepare_scratch(o, faults);
    const std::vector<Outcome> outcomes = run_faults(scratch, faults);
    return report(faults, outcomes);
}
