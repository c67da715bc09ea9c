#include "AppDomain.h"

#include <gtest/gtest.h>

using namespace Runtime;

namespace {
const std::string kResolveDir = std::string(QUELTO_FIXTURE_DIR) + "/resolve";
}

TEST(AppDomain, SimpleNameIsTheFirstCommaPieceUntrimmed) {
    EXPECT_EQ(SimpleNameOf("Quelto.Common, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null"), "Quelto.Common");
    EXPECT_EQ(SimpleNameOf("Quelto"), "Quelto");
    EXPECT_EQ(SimpleNameOf(" Quelto ,x"), " Quelto ");
}

TEST(AppDomain, MissingLibraryFailsWithItsFullName) {
    const std::string name = "Quelto.Absent, Version=9.9.9.9, Culture=neutral, PublicKeyToken=null";
    try {
        AppDomain::CurrentDomain().CreateInstance(name, "Quelto.Absent.Thing");
        FAIL() << "expected FileNotFoundException";
    } catch (const FileNotFoundException& e) {
        const std::string text = e.ToString();
        EXPECT_EQ(text.rfind("System.IO.FileNotFoundException: Could not load file or assembly '" + name + "'", 0), 0u)
            << text;
        EXPECT_NE(text.find("\n   at "), std::string::npos) << text;
    }
}

TEST(AppDomain, MissingLibraryTextNamesTheFoldersSearched) {
    auto& domain = AppDomain::CurrentDomain();
    const int silent = domain.AddAssemblyResolve([](const std::string&) -> AssemblyRef { return nullptr; });
    const int told = domain.AddAssemblyResolve([](const std::string&) -> AssemblyRef { return nullptr; },
                                               [] { return std::string("'/opt/sdk' (beside the bridge library)"); });
    std::string text;
    try {
        domain.Load("Quelto.Absent, Version=9.9.9.9");
    } catch (const FileNotFoundException& e) {
        text = e.Message();
    }
    domain.RemoveAssemblyResolve(silent);
    domain.RemoveAssemblyResolve(told);
    EXPECT_NE(text.find("Looked for Quelto.Absent.dll in '" + AppDomain::ApplicationBase() +
                        "' (the program's folder), '/opt/sdk' (beside the bridge library). "),
              std::string::npos)
        << text;
    // What to do about it: copy the SDK there, or let the package's CMake
    // function do it.
    EXPECT_NE(text.find("Copy the SDK libraries beside the program"), std::string::npos) << text;
    EXPECT_NE(text.find("quelto_bridge_deploy_sdk(<target>)"), std::string::npos) << text;
}

TEST(AppDomain, ClassFromLibraryFoundOnlyThroughResolveHandler) {
    auto& domain = AppDomain::CurrentDomain();
    std::vector<std::string> requests;
    const int token = domain.AddAssemblyResolve([&](const std::string& fullName) -> AssemblyRef {
        requests.push_back(fullName);
        const std::string path = Path::Combine(kResolveDir, SimpleNameOf(fullName) + ".dll");
        return File::Exists(path) ? domain.LoadFrom(path) : nullptr;
    });
    const std::string name = "Quelto.TestModule, Version=2.0.0.0, Culture=neutral, PublicKeyToken=null";
    auto object = domain.CreateInstance(name, "Quelto.TestModule.Greeter");
    ASSERT_TRUE(object);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], name);
    // Loaded once: a second request is served from the loaded library.
    domain.CreateInstance(name, "Quelto.TestModule.Greeter");
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_THROW(domain.CreateInstance(name, "Quelto.TestModule.Nothing"), TypeLoadException);
    domain.RemoveAssemblyResolve(token);
}

TEST(AppDomain, FileThatIsNotALibraryNamesFileAndReason) {
    const std::string path = kResolveDir + "/Quelto.NotALibrary.dll";
    try {
        AppDomain::CurrentDomain().LoadFrom(path);
        FAIL();
    } catch (const BadImageFormatException& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
}

TEST(AppDomain, LibraryWithoutEntryPointNamesFileAndReason) {
    const std::string path = kResolveDir + "/Quelto.NoEntry.dll";
    try {
        AppDomain::CurrentDomain().LoadFrom(path);
        FAIL();
    } catch (const EntryPointNotFoundException& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos);
        EXPECT_NE(e.Message().find("QueltoSdk_RegisterAssembly"), std::string::npos);
    }
}

TEST(AppDomain, LoadFromMissingFileIsFileNotFound) {
    EXPECT_THROW(AppDomain::CurrentDomain().LoadFrom(kResolveDir + "/Nope.dll"), FileNotFoundException);
}
