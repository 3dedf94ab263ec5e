// What binds a loaded exe to the simulated DLLs: the export lists the device
// build shares with the simulator, the look-up of an import in them, and
// the symbol map a debugger reads the state record through.
#include <gtest/gtest.h>

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

// The lists built in are the device build's; what they name and the
// simulator provides is what an exe can be bound to.
TEST(ExportLists, TheDevicesListsParseAndTheSimulatorProvidesWhatTheyName) {
    const auto& lists = sim::device_export_lists();
    ASSERT_EQ(lists.size(), 3u);
    std::size_t provided = 0;
    for (const sim::ExportList& list : lists) {
        for (const sim::DllExport& e : list.exports) {
            provided += sim::ce::simulated_function(list.dll, e.name) != nullptr ? 1 : 0;
        }
    }
    EXPECT_GE(provided, 25u);
    for (const sim::ce::SimulatedFunction& f : sim::ce::simulated_functions()) {
        EXPECT_EQ(sim::ce::simulated_function(f.dll, f.name), &f);
    }
    EXPECT_NE(sim::ce::simulated_function("AYGSHELL.DLL", "SHNotificationAdd"), nullptr);
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
