// Helpers of the C API tests: temporary folders, files, the simulated
// device's control.
#pragma once

#include "QueltoBridge.h"
#include "SimControl.h"

#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace CApiTest {

namespace fs = std::filesystem;

// Folders made by TempFolder, removed when the test program ends. Libraries
// loaded from them stay mapped; where the platform keeps such files busy
// (Windows), they are left behind.
class TempFolders {
public:
    static TempFolders& Instance() {
        static TempFolders folders;
        return folders;
    }
    void Add(const fs::path& dir) { dirs_.push_back(dir); }
    ~TempFolders() {
        for (const auto& dir : dirs_) {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    }

private:
    std::vector<fs::path> dirs_;
};

inline fs::path TempFolder(const std::string& name) {
    fs::path dir = fs::path(::testing::TempDir()) / ("quelto_" + name + "_" + std::to_string(TestPlatform::ProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    TempFolders::Instance().Add(dir);
    return dir;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The control of the simulated device library the bridge has loaded: the
// native SDK's Quelto.dll, or the managed SDK's shim.
inline QueltoSim::IControl& SimControl() {
    void* get = TestPlatform::SymbolOfLoaded(QUELTO_SIM_CONTROL_LIBRARY, QUELTO_SIM_CONTROL_ENTRY);
    if (!get) throw std::runtime_error("the simulated device library is not loaded");
    return *reinterpret_cast<QueltoSimGetControlFn>(get)();
}

// Points the error log at a fresh folder for the life of the object.
class LogFolder {
public:
    explicit LogFolder(const std::string& name) : dir_(TempFolder(name)) {
        TestPlatform::SetEnv("QUELTO_BRIDGE_LOG_DIR", dir_.string());
    }
    ~LogFolder() { TestPlatform::UnsetEnv("QUELTO_BRIDGE_LOG_DIR"); }
    fs::path LogFile() const { return dir_ / "LOG" / "ErrorLog.txt"; }
    std::string Text() const { return ReadFile(LogFile()); }
    const fs::path& Dir() const { return dir_; }

private:
    fs::path dir_;
};

}  // namespace CApiTest
