// Windows without a .NET runtime (Wine offline): with managed SDK assemblies
// in the bridge folder, Create returns NULL and the log names why no CLR
// could be started, with the HRESULT of the step that failed.
#include "QueltoBridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TEST(ManagedOnWindows, CreateWithoutAClrReturnsNullAndLogsTheHresult) {
    const auto dir = std::filesystem::temp_directory_path() / "quelto-clr-log";
    std::filesystem::remove_all(dir);
    _putenv_s("QUELTO_BRIDGE_LOG_DIR", dir.string().c_str());
    EXPECT_EQ(Quelto_Bridge_Create(), nullptr);
    // A second Create fails the same way, without a second start attempt.
    EXPECT_EQ(Quelto_Bridge_Create(), nullptr);
    std::string log;
    {
        std::ifstream in(dir / "LOG" / "ErrorLog.txt");  // closed before the folder is removed
        std::stringstream text;
        text << in.rdbuf();
        log = text.str();
    }
    EXPECT_NE(log.find("The managed runtime could not be started: no CLR could be started: "), std::string::npos)
        << log;
    EXPECT_NE(log.find("failed with HRESULT 0x8"), std::string::npos) << log;
    std::filesystem::remove_all(dir);
}
