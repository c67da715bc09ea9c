// A folder with Quelto.dll but without Quelto.Common.dll: Create fails with
// the runtime's own text for the missing assembly.
#include "QueltoBridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

TEST(ManagedLookup, MissingSdkAssemblyGivesNullAndFileNotFoundText) {
    const auto dir = std::filesystem::temp_directory_path() / ("quelto-missing-log-" + std::to_string(getpid()));
    setenv("QUELTO_BRIDGE_LOG_DIR", dir.c_str(), 1);
    EXPECT_EQ(Quelto_Bridge_Create(), nullptr);
    std::ifstream in(dir / "LOG" / "ErrorLog.txt");
    std::stringstream text;
    text << in.rdbuf();
    // The runtime's own exception and text, naming the missing assembly.
    EXPECT_EQ(text.str().rfind("System.IO.FileNotFoundException: ", 0), 0u) << text.str();
    EXPECT_NE(text.str().find("'Quelto.Common, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null'"),
              std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("  at System."), std::string::npos) << text.str();
    std::filesystem::remove_all(dir);
}
