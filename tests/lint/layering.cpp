// The layering check: every quoted #include in the tree goes from a folder
// to one that the table (layers.txt) lets it use, or is one of the table's
// named exceptions; and the tree tracks no file of a kind it must not hold.
//
//   layering TABLE [ROOT]     (ROOT defaults to the current directory)
//
// The table's lines:
//   FOLDER: USES...        the folders (or single files) FOLDER's files may
//                          include besides their own folder's; "*" for any
//   exception FILE -> INCLUDED: WHY
//                          one include that runs against the layering
//   forbid PATTERN         no tracked file may match (a name ending such as
//                          ".pyc", or a folder name ending in "/")
// A FOLDER may also name one file, which is then a unit of its own. A file
// belongs to the longest FOLDER that holds it. Every tracked C++ or
// assembly file under a listed folder's top (simulator/, the program's
// folders, platform/, tools/) must belong to one. An exception that no
// include uses any more is an error too, so the list stays true.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Table {
    std::map<std::string, std::vector<std::string>> uses;  // folder -> folders or files
    std::map<std::pair<std::string, std::string>, std::string> exceptions;
    std::vector<std::string> forbidden;
};

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

bool read_table(const std::string& path, Table& t) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << path << ": cannot read\n";
        return false;
    }
    std::string line;
    int n = 0;
    bool ok = true;
    while (std::getline(in, line)) {
        ++n;
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        if (line.rfind("exception ", 0) == 0) {
            const auto arrow = line.find(" -> ");
            const auto colon = line.find(": ", arrow == std::string::npos ? 0 : arrow);
            if (arrow == std::string::npos || colon == std::string::npos ||
                trim(line.substr(colon + 2)).empty()) {
                std::cerr << path << ":" << n
                          << ": an exception is 'exception FILE -> INCLUDED: WHY'\n";
                ok = false;
                continue;
            }
            t.exceptions[{trim(line.substr(10, arrow - 10)),
                          trim(line.substr(arrow + 4, colon - arrow - 4))}] =
                trim(line.substr(colon + 2));
        } else if (line.rfind("forbid ", 0) == 0) {
            t.forbidden.push_back(trim(line.substr(7)));
        } else if (const auto colon = line.find(':'); colon != std::string::npos) {
            std::istringstream words(line.substr(colon + 1));
            std::vector<std::string>& uses = t.uses[trim(line.substr(0, colon))];
            for (std::string w; words >> w;) {
                uses.push_back(w);
            }
        } else {
            std::cerr << path << ":" << n << ": not a line of the table: " << line << "\n";
            ok = false;
        }
    }
    return ok;
}

std::vector<std::string> tracked_files(const std::string& root) {
    std::vector<std::string> files;
    const std::string command = "git -C '" + root + "' ls-files";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return files;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string f = buffer;
        if (!f.empty() && f.back() == '\n') {
            f.pop_back();
        }
        files.push_back(f);
    }
    pclose(pipe);
    return files;
}

bool under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// The longest listed folder that holds `path`, or "".
std::string folder_of(const Table& t, const std::string& path) {
    std::string best;
    for (const auto& [folder, uses] : t.uses) {
        if ((path == folder || under(path, folder)) && folder.size() > best.size()) {
            best = folder;
        }
    }
    return best;
}

bool is_source(const std::string& f) {
    for (const char* ext : {".h", ".cpp", ".S"}) {
        const std::string e = ext;
        if (f.size() > e.size() && f.compare(f.size() - e.size(), e.size(), e) == 0) {
            return true;
        }
    }
    return false;
}

// The quoted includes of a file, with their lines.
std::vector<std::pair<int, std::string>> includes_of(const std::string& path) {
    std::vector<std::pair<int, std::string>> found;
    std::ifstream in(path);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        const std::string t = trim(line);
        if (t.rfind("#include \"", 0) == 0) {
            const auto end = t.find('"', 10);
            if (end != std::string::npos) {
                found.emplace_back(n, t.substr(10, end - 10));
            }
        }
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: layering TABLE [ROOT]\n";
        return 2;
    }
    Table table;
    if (!read_table(argv[1], table)) {
        return 2;
    }
    const std::string root = argc == 3 ? argv[2] : ".";
    const std::vector<std::string> files = tracked_files(root);
    if (files.empty()) {
        std::cerr << "no tracked files under " << root << " (is it a git work tree?)\n";
        return 2;
    }
    const std::set<std::string> tracked(files.begin(), files.end());
    std::set<std::string> tops;  // the first component of each listed folder
    for (const auto& [folder, uses] : table.uses) {
        tops.insert(folder.substr(0, folder.find('/')));
    }

    int failures = 0;
    int includes = 0;
    std::set<std::pair<std::string, std::string>> exceptions_used;
    for (const std::string& file : files) {
        for (const std::string& pattern : table.forbidden) {
            const bool folder = !pattern.empty() && pattern.back() == '/';
            const bool hit = folder ? ("/" + file).find("/" + pattern) != std::string::npos
                                    : file.size() >= pattern.size() &&
                                          file.compare(file.size() - pattern.size(), pattern.size(),
                                                       pattern) == 0;
            if (hit) {
                std::cout << file << ": a tracked file of a kind the tree must not hold ("
                          << pattern << ")\n";
                ++failures;
            }
        }
        if (!is_source(file) || !tops.count(file.substr(0, file.find('/')))) {
            continue;
        }
        const std::string from = folder_of(table, file);
        if (from.empty()) {
            std::cout << file << ": in no folder of the table\n";
            ++failures;
            continue;
        }
        const std::vector<std::string>& uses = table.uses.at(from);
        const bool any = std::find(uses.begin(), uses.end(), "*") != uses.end();
        for (const auto& [line, name] : includes_of(root + "/" + file)) {
            // Root-relative, as the tree writes them; "../" ones from the file's folder.
            std::string target = name;
            if (name.rfind("../", 0) == 0 || name.rfind("./", 0) == 0) {
                target = std::filesystem::path(std::filesystem::path(file).parent_path() / name)
                             .lexically_normal()
                             .string();
            }
            if (!tracked.count(target) && !std::filesystem::exists(root + "/" + target)) {
                continue;  // a generated file, or one the build puts on the path
            }
            ++includes;
            const std::string to = folder_of(table, target);
            if (any || to == from || under(to, from) ||
                std::find(uses.begin(), uses.end(), to) != uses.end() ||
                std::find(uses.begin(), uses.end(), target) != uses.end()) {
                continue;
            }
            if (table.exceptions.count({file, target})) {
                exceptions_used.insert({file, target});
                continue;
            }
            std::cout << file << ":" << line << ": includes " << target << ", but " << from
                      << "/ may use only: " << (uses.empty() ? "(nothing)" : "");
            for (std::size_t i = 0; i < uses.size(); ++i) {
                std::cout << (i ? ", " : "") << uses[i];
            }
            std::cout << "\n";
            ++failures;
        }
    }
    for (const auto& [key, why] : table.exceptions) {
        if (!exceptions_used.count(key)) {
            std::cout << "exception " << key.first << " -> " << key.second
                      << ": no longer needed (remove it from the table)\n";
            ++failures;
        }
    }
    std::cout << files.size() << " files, " << includes << " includes checked; "
              << exceptions_used.size() << " upward includes named in the table\n";
    for (const auto& [key, why] : table.exceptions) {
        if (exceptions_used.count(key)) {
            std::cout << "  " << key.first << " -> " << key.second << ": " << why << "\n";
        }
    }
    if (failures != 0) {
        std::cout << failures << " layering failures\n";
        return 1;
    }
    return 0;
}
