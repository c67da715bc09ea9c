// A helper assembly that does not fit this bridge, beside this program: of
// another table version, with a table four operations short, with an
// operation it leaves empty, or a helper file cut short. Which one is in
// QUELTO_TEST_HELPER (other_version, short_table, empty_slot, cut). Create
// returns NULL, and the log names the helper, its path and both tables.
#include "ManagedInterop.h"
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using ManagedTest::ReadFile;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Expected(const std::string& helper) {
    using Hosting::Managed::HelperOperationCount;
    const std::string version = std::to_string(Hosting::Managed::HelperTableVersion);
    const std::string ours = "this bridge needs table version " + version + " with " +
                             std::to_string(HelperOperationCount) + " operations";
    const std::string path = "('" + (fs::read_symlink("/proc/self/exe").parent_path() / "QueltoBridgeHost.dll").string() +
                             "')";
    const std::string named = "The managed runtime could not be started: the bridge's helper assembly "
                              "QueltoBridgeHost.dll " + path;
    if (helper == "other_version") {
        const std::string other = std::to_string(Hosting::Managed::HelperTableVersion + 1);
        return {named + " has table version " + other + " with " + std::to_string(HelperOperationCount) + " operations",
                "and refused this bridge's table", ours};
    }
    if (helper == "short_table") {
        return {named + " has table version " + version + " with " + std::to_string(HelperOperationCount - 4) +
                    " operations",
                "and refused this bridge's table", ours};
    }
    if (helper == "empty_slot") {
        return {named + ", table version " + version + " with " + std::to_string(HelperOperationCount) + " operations",
                "left operation 10 of " + std::to_string(HelperOperationCount) + " (" +
                    Hosting::Managed::HelperOperationNames[9] + ") empty",
                ours};
    }
    return {"The managed runtime could not be started: the bridge's helper assembly QueltoBridgeHost.dll " + path +
                " could not be loaded or has no entry",
            "this bridge needs a helper of table version " + version};
}

TEST(HelperTable, AHelperThatDoesNotFitMakesCreateFailWithBothTablesNamed) {
    const char* helper = std::getenv("QUELTO_TEST_HELPER");
    ASSERT_NE(helper, nullptr);
    const fs::path dir = fs::temp_directory_path() / ("quelto-helper-table-" + std::to_string(getpid()));
    setenv("QUELTO_BRIDGE_LOG_DIR", dir.c_str(), 1);
    const std::vector<std::string> expected = Expected(helper);
    // A later Create fails alike, with the same text.
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(Quelto_Bridge_Create(), nullptr);
        const char* error = Quelto_Bridge_GetLastError();
        ASSERT_NE(error, nullptr);
        for (const std::string& part : expected) EXPECT_NE(std::string(error).find(part), std::string::npos) << error;
    }
    const std::string log = ReadFile(dir / "LOG" / "ErrorLog.txt");
    for (const std::string& part : expected) EXPECT_NE(log.find(part), std::string::npos) << log;
    std::printf("%s", log.c_str());
    fs::remove_all(dir);
    unsetenv("QUELTO_BRIDGE_LOG_DIR");
}

}  // namespace
