#include "BridgeFolder.h"

#include <gtest/gtest.h>

using namespace Hosting;

namespace {
#ifdef _WIN32
constexpr const char* kSep = "\\";
#else
constexpr const char* kSep = "/";
#endif
std::string In(const std::string& folder, const std::string& file) { return folder + kSep + file; }
}  // namespace

TEST(BridgeLookup, FullNameWithVersionCultureAndTokenMapsToSimpleNameDll) {
    EXPECT_EQ(LibraryPathFor("Quelto.Common, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null", "/opt/q"),
              In("/opt/q", "Quelto.Common.dll"));
    EXPECT_EQ(LibraryPathFor("PellimorCfgReader", "/opt/q"), In("/opt/q", "PellimorCfgReader.dll"));
    EXPECT_EQ(LibraryPathFor(" Quelto ,Version=1", "/opt/q"), In("/opt/q", " Quelto .dll"));  // untrimmed
}

TEST(BridgeLookup, FolderIsTextBeforeTheLastSeparator) {
    EXPECT_EQ(FolderOfModulePath(u"C:\\Program Files\\Lab\\Quelto.bridge.dll"), u"C:\\Program Files\\Lab");
    EXPECT_EQ(FolderOfModulePath(u"C:\\Lab/bin/Quelto.bridge.dll"), u"C:\\Lab/bin");
    EXPECT_EQ(FolderOfModulePath(u"Quelto.bridge.dll"), u"Quelto.bridge.dll");
    EXPECT_EQ(FolderOfModulePath(std::u16string(u"/a/b.dll\0/junk/x", 16)), u"/a");
}

TEST(BridgeLookup, PathsLongerThan259CharactersKeepTheirWholeFolder) {
    std::u16string folder = u"/data";
    while (folder.size() < 400) folder += u"/a-rather-long-folder-name";
    EXPECT_EQ(FolderOfModulePath(folder + u"/libQuelto.bridge.so"), folder);
}

TEST(BridgeLookup, SetupSubscribesOnceAndAnswersForLibrariesInTheFolderOnly) {
    auto& domain = Runtime::AppDomain::CurrentDomain();
    const std::size_t before = domain.AssemblyResolveCount();
    SetupBridgeAssemblyResolve();
    SetupBridgeAssemblyResolve();
    EXPECT_LE(domain.AssemblyResolveCount(), before + 1);
    // Internal tests link the bridge's code into the test program, whose
    // folder holds no SDK library: nothing is answered.
    EXPECT_EQ(ResolveAssembly("Quelto.Absent, Version=1.0.0.0"), nullptr);
    EXPECT_FALSE(BridgeFolder().empty());
}
