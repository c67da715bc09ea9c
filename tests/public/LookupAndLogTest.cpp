#include "CApiTestSupport.h"

#ifdef _WIN32
#include <tlhelp32.h>
#else
#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <future>
#include <regex>
#include <set>

using namespace CApiTest;

namespace {

// A copy of the bridge library alone in a folder of its own, loaded apart
// from the one the test links.
struct LonelyBridge {
    fs::path dir;
    void* handle = nullptr;
    void* (*create)() = nullptr;
    const char* (*lastError)() = nullptr;

    explicit LonelyBridge(const std::string& name) : dir(TempFolder(name)) {
        fs::copy_file(QUELTO_BRIDGE_FILE, dir / QUELTO_BRIDGE_FILE_NAME);
        std::string error;
        handle = TestPlatform::LoadLibraryAt((dir / QUELTO_BRIDGE_FILE_NAME).string(), error);
        if (!handle) throw std::runtime_error(error);
        create = reinterpret_cast<void* (*)()>(TestPlatform::Symbol(handle, "Quelto_Bridge_Create"));
        lastError = reinterpret_cast<const char* (*)()>(TestPlatform::Symbol(handle, "Quelto_Bridge_GetLastError"));
    }
    ~LonelyBridge() {
        // The copy stays loaded: its runtime may hold threads or handlers.
    }
};

}  // namespace

TEST(BridgeFolder, MissingSdkLibrariesGiveNullAndAFullReportEachTime) {
    TestPlatform::UnsetEnv("QUELTO_BRIDGE_LOG_DIR");
    LonelyBridge bridge("missing_sdk");
    ASSERT_NE(bridge.create, nullptr);
    EXPECT_EQ(bridge.create(), nullptr);
    const fs::path logFile = bridge.dir / "LOG" / "ErrorLog.txt";
    const std::string first = ReadFile(logFile);
    const std::string expected =
        "System.IO.FileNotFoundException: Could not load file or assembly "
        "'Quelto, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null'";
    EXPECT_EQ(first.rfind(expected, 0), 0u) << first;
    EXPECT_NE(first.find("\n   at "), std::string::npos) << first;  // the stack
    // The text says where the library was looked for.
    EXPECT_NE(first.find("(the program's folder), '" + bridge.dir.string() + "' (beside the bridge library)"),
              std::string::npos)
        << first;
    // And what to do about it.
    EXPECT_NE(first.find("quelto_bridge_deploy_sdk"), std::string::npos) << first;
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first.substr(first.size() - 2), "\n\n");
    ASSERT_NE(bridge.lastError(), nullptr);

    EXPECT_EQ(bridge.create(), nullptr);
    const std::string second = ReadFile(logFile);
    EXPECT_EQ(second.substr(0, first.size()), first);
    EXPECT_EQ(second.substr(first.size()).rfind(expected, 0), 0u);
}

TEST(BridgeFolder, SdkFoundBesideTheBridgeWhenTheHostLivesElsewhere) {
    // This test program lives in another folder than the bridge and the SDK.
    void* a = Quelto_Bridge_Create();
    void* b = Quelto_Bridge_Create();
    ASSERT_NE(a, nullptr) << Quelto_Bridge_GetLastError();
    ASSERT_NE(b, nullptr);
    Quelto_Bridge_Destroy(a);
    Quelto_Bridge_Destroy(b);
    // The device library is mapped once, from the bridge folder.
    std::set<std::string> paths;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
        if (_wcsicmp(module.szModule, L"Quelto.dll") == 0) paths.insert(fs::path(module.szExePath).string());
    }
    CloseHandle(snapshot);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_TRUE(fs::equivalent(*paths.begin(), QUELTO_LIB_DIR "/Quelto.dll")) << *paths.begin();
#else
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("/Quelto.dll") != std::string::npos) paths.insert(line.substr(line.find('/')));
    }
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(*paths.begin(), fs::canonical(QUELTO_LIB_DIR "/Quelto.dll").string());
#endif
}

// A bridge folder where LOG cannot be made (as for a user under a system
// install; a file in its place stops root too): the report goes to the
// user's state folder instead. When that cannot be written either, the
// failure is still contained and still reaches the last error.
TEST(BridgeFolder, AnUnwritableLogFolderFallsBackToTheUsersStateFolder) {
#ifdef _WIN32
    const char* variable = "LOCALAPPDATA";
#else
    const char* variable = "XDG_STATE_HOME";
#endif
    const char* old = std::getenv(variable);
    const std::string saved = old ? old : "";
    TestPlatform::UnsetEnv("QUELTO_BRIDGE_LOG_DIR");
    LonelyBridge bridge("bad_log");
    std::ofstream(bridge.dir / "LOG") << "not a folder";
    const fs::path state = TempFolder("bad_log_state");
    TestPlatform::SetEnv(variable, state.string());
    EXPECT_EQ(bridge.create(), nullptr);
    const std::string report = ReadFile(state / "quelto-bridge" / "LOG" / "ErrorLog.txt");
    EXPECT_EQ(report.rfind("System.IO.FileNotFoundException: ", 0), 0u) << report;
    EXPECT_TRUE(fs::is_regular_file(bridge.dir / "LOG"));

    TestPlatform::SetEnv(variable, (bridge.dir / "LOG" / "state").string());
    EXPECT_EQ(bridge.create(), nullptr);
    EXPECT_TRUE(fs::is_regular_file(bridge.dir / "LOG"));
    ASSERT_NE(bridge.lastError(), nullptr);
    if (old) TestPlatform::SetEnv(variable, saved);
    else TestPlatform::UnsetEnv(variable);
}

#ifndef _WIN32
// A host that loads the bridge by a relative path and then changes directory:
// the SDK is still looked for beside the bridge, never in a folder of that
// name under the new current directory, where anyone may have put a library.
TEST(BridgeFolder, ARelativeLoadKeepsTheFolderOfTheLoadAfterAChangeOfDirectory) {
    TestPlatform::UnsetEnv("QUELTO_BRIDGE_LOG_DIR");
    const fs::path home = TempFolder("relative_home");
    const fs::path decoy = TempFolder("relative_decoy");
    fs::create_directories(home / "lib");
    fs::copy_file(QUELTO_BRIDGE_FILE, home / "lib" / QUELTO_BRIDGE_FILE_NAME);  // no SDK beside it
    fs::create_directories(decoy / "lib");
    for (const char* sdk : {"Quelto.dll", "Quelto.Common.dll", "PellimorCfgReader.dll"}) {
        fs::copy_file(fs::path(QUELTO_LIB_DIR) / sdk, decoy / "lib" / sdk);
    }
    const fs::path start = fs::current_path();
    fs::current_path(home);
    std::string error;
    void* library = TestPlatform::LoadLibraryAt(std::string("lib/") + QUELTO_BRIDGE_FILE_NAME, error);
    fs::current_path(decoy);
    ASSERT_NE(library, nullptr) << error;
    auto create = reinterpret_cast<void* (*)()>(TestPlatform::Symbol(library, "Quelto_Bridge_Create"));
    void* device = create();
    fs::current_path(start);
    EXPECT_EQ(device, nullptr) << "the SDK was loaded from the new current directory";
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        EXPECT_EQ(line.find(decoy.string()), std::string::npos) << line;
    }
    // The failure is logged beside the bridge as well.
    EXPECT_TRUE(fs::is_regular_file(home / "lib" / "LOG" / "ErrorLog.txt"));
    EXPECT_FALSE(fs::exists(decoy / "lib" / "LOG"));
}

// A FIFO where the error log should be: Create reports the failure without
// waiting for a reader that never comes.
TEST(BridgeFolder, AFifoAtTheErrorLogDoesNotHoldCreate) {
    LonelyBridge bridge("fifo_log");
    fs::create_directories(bridge.dir / "LOG");
    const fs::path log = bridge.dir / "LOG" / "ErrorLog.txt";
    ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
    // The last error belongs to the thread that called Create.
    auto create = std::async(std::launch::async, [&bridge] {
        void* device = bridge.create();
        return std::make_pair(device, bridge.lastError() != nullptr);
    });
    if (create.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        const int reader = open(log.c_str(), O_RDONLY | O_NONBLOCK);  // lets it go
        create.wait();
        close(reader);
        FAIL() << "Quelto_Bridge_Create waited for a reader of the error log";
    }
    const auto [device, reported] = create.get();
    EXPECT_EQ(device, nullptr);
    EXPECT_TRUE(reported);
}

// On Windows the export table is checked from the build machine (tests/windows).
TEST(Exports, OnlyTheCFunctionsAndThePublicClassesLeaveTheLibrary) {
    const std::string command = "nm -D --defined-only " QUELTO_BRIDGE_FILE;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> cNames;
    std::vector<std::string> others;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string address, type, name;
        in >> address >> type >> name;
        if (name.empty() || type == "A") continue;  // version nodes
        if (name.rfind("_Z", 0) != 0) {
            cNames.insert(name);
            continue;
        }
        int status = 0;
        char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
        others.push_back(status == 0 ? demangled : name);
        std::free(demangled);
    }
    pclose(pipe);
    const std::set<std::string> expected = {
        "Quelto_Bridge_Create", "Quelto_Bridge_Destroy", "Quelto_Bridge_StartCapturing",
        "Quelto_Bridge_StopCapturing", "Quelto_Bridge_RegisterDataCallback", "Quelto_Bridge_UnregisterDataCallback",
        "Quelto_Bridge_ConfigureCapture", "Quelto_Bridge_ConfigureSensor", "Quelto_Bridge_CalibrateImuOffset",
        "Quelto_Bridge_CalibrateGyroscopeOffset", "Quelto_Bridge_CalibrateAccelerometerOffset",
        "Quelto_Bridge_CalibrateEMGOffset", "Quelto_Bridge_UpdateDisplay", "Quelto_Bridge_SaveCurrentRxConfiguration",
        "Quelto_Bridge_GetdeviceState", "Quelto_Bridge_GetLastError", "Quelto_Bridge_RegisterBlockCallback",
        "Quelto_Bridge_UnregisterBlockCallback", "Quelto_Bridge_StartCapturingWithPeriod",
        "Quelto_Bridge_GenerateInternalStartTrigger", "Quelto_Bridge_GenerateInternalStopTrigger",
        "Quelto_Bridge_ApplyConfigurationFile", "Quelto_Bridge_GetSoftwareVersion"};
    std::set<std::string> extras;
    for (const auto& n : cNames)
        if (!expected.count(n) && n.rfind("Quelto_Bridge_GetVersion", 0) != 0) extras.insert(n);
    for (const auto& n : expected) EXPECT_TRUE(cNames.count(n)) << "missing " << n;
    EXPECT_TRUE(extras.empty()) << "unexpected C symbol " << *extras.begin();
    bool facadeFound = false, exceptionTypeFound = false;
    // The public classes, and the runtime's exception types that hosts catch.
    const std::regex exceptionType(R"(^((typeinfo|typeinfo name|vtable) for )?Runtime::\w*Exception\b.*)");
    for (const auto& n : others) {
        EXPECT_TRUE(n.rfind("Quelto_", 0) == 0 || n.find(" for Quelto_") != std::string::npos ||
                    std::regex_match(n, exceptionType))
            << n;
        facadeFound |= n.rfind("Quelto_DaqSystem::Quelto_DaqSystem()", 0) == 0;
        exceptionTypeFound |= n == "typeinfo for Runtime::Exception";
    }
    EXPECT_TRUE(facadeFound);
    EXPECT_TRUE(exceptionTypeFound);
}
#endif
