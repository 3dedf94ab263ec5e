#include "simulator/pe/export_lists.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <sstream>

#include "simulator/pe/win32_errors.h"
#include "simulator/support/text.h"

namespace sim {

namespace {

bool is_identifier(std::string_view w) {
    if (w.empty() || std::isdigit(static_cast<unsigned char>(w[0]))) {
        return false;
    }
    for (char c : w) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
            return false;
        }
    }
    return true;
}

// `word` in quotes before `what`. Appended, not "'" + ...: GCC 12 at -O2
// and above warns (-Wrestrict) about the inlined insert at the front of a
// temporary string, a known false positive.
Error quoted(std::string_view word, std::string_view what) {
    std::string out = "'";
    out += word;
    out += "' ";
    out += what;
    return Error{out};
}

// One export line: "<name> <ordinal> by-name|by-ordinal".
Result<DllExport> parse_export(const std::vector<std::string>& w) {
    if (w.size() != 3) {
        return Error{"expected '<name> <ordinal> by-name|by-ordinal'"};
    }
    if (!is_identifier(w[0])) {
        return quoted(w[0], "is not a function name");
    }
    unsigned ordinal = 0;
    const auto [end, ec] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), ordinal);
    if (ec != std::errc{} || end != w[1].data() + w[1].size() || ordinal == 0 || ordinal > 0xFFFF) {
        return quoted(w[1], "is not an ordinal (1 to 65535)");
    }
    if (w[2] != "by-name" && w[2] != "by-ordinal") {
        return quoted(w[2], "is neither by-name nor by-ordinal");
    }
    return DllExport{std::string(w[0]), static_cast<std::uint16_t>(ordinal), w[2] == "by-name"};
}

// Checks a parsed line against the ones before it.
std::optional<std::string> duplicate(const ExportList& list, const DllExport& e) {
    for (const DllExport& other : list.exports) {
        if (other.name == e.name) {
            return "'" + e.name + "' is listed twice";
        }
        if (other.ordinal == e.ordinal) {
            std::string twice = "ordinal ";
            twice += std::to_string(e.ordinal);
            twice += " is listed twice";
            return twice;
        }
    }
    return std::nullopt;
}

bool same_dll(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<ExportList> parse_export_list(std::string_view text, std::string_view file) {
    ExportList list;
    auto lines = worded_lines(text);
    if (!lines.ok()) {
        Error error = lines.error();
        error.file = file;
        return error;
    }
    for (const auto& [line, w] : lines.value()) {
        if (list.dll.empty()) {
            if (w.size() != 2 || w[0] != "library") {
                return Error::at_line(std::string(file), line,
                                      "expected 'library <name>.dll' first");
            }
            list.dll = std::string(w[1]);
            continue;
        }
        auto e = parse_export(w);
        if (!e.ok()) {
            return Error::at_line(std::string(file), line, e.error().message);
        }
        if (auto twice = duplicate(list, e.value())) {
            return Error::at_line(std::string(file), line, *twice);
        }
        list.exports.push_back(std::move(e.value()));
    }
    if (list.dll.empty()) {
        return Error{.message = "no 'library' line", .file = std::string(file)};
    }
    return list;
}

Result<const DllExport*, BindRefusal> find_export(const std::vector<ExportList>& lists,
                                                  const ImportName& import) {
    for (const ExportList& list : lists) {
        if (!same_dll(list.dll, import.dll)) {
            continue;
        }
        for (const DllExport& e : list.exports) {
            if (import.ordinal ? e.ordinal == *import.ordinal : e.name == import.name) {
                return &e;
            }
        }
        std::ostringstream what;
        what << list.dll << " exports no ";
        if (import.ordinal) {
            what << "ordinal " << *import.ordinal;
        } else {
            what << "function '" << printable(import.name) << "'";
        }
        return BindRefusal{win32_error::kProcNotFound, what.str()};
    }
    return BindRefusal{win32_error::kModNotFound,
                       "no DLL '" + printable(import.dll) + "' on the device"};
}

}  // namespace sim
