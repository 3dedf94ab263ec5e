// What binds a loaded exe to the simulated DLLs: the export lists the device
// build shares with the simulator, the look-up of an import in them, and
// the symbol map a debugger reads the state record through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "simulator/exe/simulated_dlls.h"
#include "simulator/pe/export_lists.h"
#include "simulator/pe/symbol_map.h"

namespace {

TEST(ExportLists, ABadLineIsRefusedNamingFileAndLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"Sleep 496 by-name\n", "x.exports:1: expected 'library <name>.dll' first"},
        {"library a.dll\nSleep 496\n", "x.exports:2: expected '<name> <ordinal>"},
        {"library a.dll\n# c\nSleep 0 by-name\n", "x.exports:3: '0' is not an ordinal"},
        {"library a.dll\nSleep 70000 by-name\n", "x.exports:2: '70000' is not an ordinal"},
        {"library a.dll\nSleep 4x by-name\n", "x.exports:2: '4x' is not an ordinal"},
        {"library a.dll\nSleep 4 by-number\n", "x.exports:2: 'by-number' is neither"},
        {"library a.dll\n9Sleep 4 by-name\n", "x.exports:2: '9Sleep' is not a function name"},
        {"library a.dll\nA 4 by-name\nA 5 by-name\n", "x.exports:3: 'A' is listed twice"},
        {"library a.dll\nA 4 by-name\nB 4 by-name\n", "x.exports:3: ordinal 4 is listed twice"},
        {"# nothing\n", "x.exports: no 'library' line"},
    };
    for (const auto& c : cases) {
        auto parsed = sim::parse_export_list(c.text, "x.exports");
        ASSERT_FALSE(parsed.ok()) << c.text;
        EXPECT_EQ(parsed.error().describe().rfind(c.error, 0), 0u) << parsed.error().describe();
    }
}

TEST(ExportLists, AnImportFindsItsExportByNameOrOrdinalInAnyCaseOfTheDll) {
    auto list = sim::parse_export_list(
        "library coredll.dll  # the core\nSleep 496 by-name # [CE3]\nFoo 7 by-ordinal\n", "c");
    ASSERT_TRUE(list.ok()) << list.error().describe();
    const std::vector<sim::ExportList> lists = {list.value()};

    auto by_name = sim::find_export(lists, {"COREDLL.DLL", std::nullopt, "Sleep"});
    ASSERT_TRUE(by_name.ok());
    EXPECT_EQ(by_name.value()->ordinal, 496);
    auto by_ordinal = sim::find_export(lists, {"coredll.dll", 7, ""});
    ASSERT_TRUE(by_ordinal.ok());
    EXPECT_EQ(by_ordinal.value()->name, "Foo");
    EXPECT_FALSE(by_ordinal.value()->by_name);

    auto no_name = sim::find_export(lists, {"coredll.dll", std::nullopt, "sleep"});
    ASSERT_FALSE(no_name.ok());
    EXPECT_EQ(no_name.error().error, 127u);  // ERROR_PROC_NOT_FOUND: names are exact
    auto no_ordinal = sim::find_export(lists, {"coredll.dll", 8, ""});
    ASSERT_FALSE(no_ordinal.ok());
    EXPECT_EQ(no_ordinal.error().message, "coredll.dll exports no ordinal 8");
    auto no_dll = sim::find_export(lists, {"coredll2.dll", std::nullopt, "Sleep"});
    ASSERT_FALSE(no_dll.ok());
    EXPECT_EQ(no_dll.error().error, 126u);  // ERROR_MOD_NOT_FOUND
}

// Every export the built-in lists hold (platform/wince/exports/*.exports),
// one row each: the ordinal, how the exe imports it, and whether an import
// of it binds to a simulated function or the loader refuses it.
enum Import { kByName, kByOrdinal };
enum Binding { kBound, kRefused };

struct ExpectedExport {
    const char* dll;
    const char* name;
    std::uint16_t ordinal;
    Import import;
    Binding binding;
};

const ExpectedExport kDeviceExports[] = {
    {"coredll.dll", "InitializeCriticalSection", 2, kByName, kBound},
    {"coredll.dll", "DeleteCriticalSection", 3, kByName, kBound},
    {"coredll.dll", "EnterCriticalSection", 4, kByName, kBound},
    {"coredll.dll", "LeaveCriticalSection", 5, kByName, kBound},
    {"coredll.dll", "ExitThread", 6, kByName, kBound},
    {"coredll.dll", "InterlockedTestExchange", 9, kByName, kBound},
    {"coredll.dll", "InterlockedIncrement", 10, kByName, kBound},
    {"coredll.dll", "InterlockedDecrement", 11, kByName, kRefused},
    {"coredll.dll", "InterlockedExchange", 12, kByName, kRefused},
    {"coredll.dll", "CreateThread", 492, kByName, kBound},
    {"coredll.dll", "Sleep", 496, kByName, kBound},
    {"coredll.dll", "CloseHandle", 553, kByName, kBound},
    {"coredll.dll", "VirtualAlloc", 524, kByName, kBound},
    {"coredll.dll", "VirtualFree", 525, kByName, kBound},
    {"coredll.dll", "VirtualCopy", 560, kByName, kBound},
    {"coredll.dll", "FindResourceW", 532, kByName, kBound},
    {"coredll.dll", "LoadResource", 533, kByName, kBound},
    {"coredll.dll", "LoadIconW", 728, kByName, kBound},
    {"coredll.dll", "LoadImageW", 730, kByName, kBound},
    {"coredll.dll", "ShowWindow", 266, kByName, kBound},
    {"coredll.dll", "SendDlgItemMessageW", 685, kByName, kBound},
    {"coredll.dll", "MessageBoxW", 858, kByName, kBound},
    {"coredll.dll", "DialogBoxIndirectParamW", 690, kByName, kBound},
    {"coredll.dll", "EndDialog", 691, kByName, kBound},
    {"coredll.dll", "SetForegroundWindow", 702, kByName, kBound},
    {"coredll.dll", "Shell_NotifyIcon", 481, kByName, kBound},
    {"coredll.dll", "memcpy", 1044, kByName, kBound},
    {"coredll.dll", "memset", 1047, kByName, kBound},
    {"aygshell.dll", "SHInitDialog", 56, kByName, kBound},
    {"aygshell.dll", "SHNotificationAdd", 155, kByOrdinal, kBound},
    {"aygshell.dll", "SHNotificationRemove", 157, kByOrdinal, kBound},
    {"commctrl.dll", "InitCommonControls", 17, kByName, kBound},
};

std::string export_name(std::string_view dll, std::string_view name) {
    return std::string(dll) + "!" + std::string(name);
}

// The device build writes the exe's imports from these lists; the loader
// binds an import by finding the export under its name or ordinal, then the
// simulated function of that export's name.
TEST(ExportLists, EachBuiltInExportHasItsOrdinalImportAndBinding) {
    const auto& lists = sim::device_export_lists();
    for (const ExpectedExport& row : kDeviceExports) {
        SCOPED_TRACE(export_name(row.dll, row.name));
        auto by_name = sim::find_export(lists, {row.dll, std::nullopt, row.name});
        if (!by_name.ok()) {
            ADD_FAILURE() << "not in the lists: " << by_name.error().message;
            continue;
        }
        EXPECT_EQ(by_name.value()->ordinal, row.ordinal);
        EXPECT_EQ(by_name.value()->by_name, row.import == kByName);

        auto by_ordinal = sim::find_export(lists, {row.dll, row.ordinal, ""});
        if (!by_ordinal.ok()) {
            ADD_FAILURE() << "no export under its ordinal: " << by_ordinal.error().message;
            continue;
        }
        EXPECT_EQ(by_ordinal.value()->name, row.name);

        // The exe's import names it one way or the other; the loader binds
        // whichever export that finds.
        const sim::DllExport* imported =
            row.import == kByName ? by_name.value() : by_ordinal.value();
        const bool bound = sim::ce::simulated_function(row.dll, imported->name) != nullptr;
        EXPECT_EQ(bound ? kBound : kRefused, row.binding)
            << (bound ? "the simulator provides it" : "the simulator does not provide it");
    }
    // Nor do the lists hold an export the table lacks.
    for (const sim::ExportList& list : lists) {
        for (const sim::DllExport& e : list.exports) {
            EXPECT_TRUE(std::any_of(std::begin(kDeviceExports), std::end(kDeviceExports),
                                    [&](const ExpectedExport& row) {
                                        return row.dll == list.dll && row.name == e.name;
                                    }))
                << export_name(list.dll, e.name) << " #" << e.ordinal << " is not in the table";
        }
    }
}

TEST(SimulatedDlls, EachFunctionIsFoundByItsDllInAnyCaseAndItsExactName) {
    for (const sim::ce::SimulatedFunction& f : sim::ce::simulated_functions()) {
        EXPECT_EQ(sim::ce::simulated_function(f.dll, f.name), &f) << export_name(f.dll, f.name);
    }
    EXPECT_NE(sim::ce::simulated_function("AYGSHELL.DLL", "SHNotificationAdd"), nullptr);
    EXPECT_EQ(sim::ce::simulated_function("coredll.dll", "sleep"), nullptr);
    EXPECT_EQ(sim::ce::simulated_function("coredll.dll", "ExitProcess"), nullptr);
}

TEST(SymbolMap, ReadsRvasAndRefusesMalformedLines) {
    auto map = sim::parse_symbol_map(
        "# corvane.exe, ImageBase 0x00010000\n00001000 .text WinMain\n"
        "00003000 .data AppState\n00002010 .rdata kTable\n00002020 .rdata kTable\n",
        "m");
    ASSERT_TRUE(map.ok()) << map.error().describe();
    EXPECT_EQ(map.value().at("AppState").rva, 0x3000u);
    EXPECT_EQ(map.value().at("AppState").section, ".data");
    EXPECT_FALSE(map.value().at("WinMain").ambiguous);
    EXPECT_TRUE(map.value().at("kTable").ambiguous);  // two file-local symbols

    for (const char* bad : {"1000 .text WinMain\n", "0000100g .text WinMain\n",
                            "00001000 WinMain\n", "00001000 .text WinMain extra\n"}) {
        auto refused = sim::parse_symbol_map(bad, "m");
        ASSERT_FALSE(refused.ok()) << bad;
        EXPECT_EQ(refused.error().describe().rfind("m:1: expected", 0), 0u) << bad;
    }
}

}  // namespace
