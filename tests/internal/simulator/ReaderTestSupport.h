// Helpers of the configuration reader tests: a scratch folder, the reader
// made through the runtime, and error capture.
#pragma once

#include "ConfigFile.h"
#include "ConfigurationExport.h"
#include "SdkTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace ReaderTest {

namespace D = Quelto::Common::Definitions;
using Config = D::ConfigurationExportBase;

inline Runtime::Ref<D::ICfgReader> MakeReader() {
    TestSupport::UseBuildLibraryFolder();
    return Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICfgReader>(D::CfgReaderAssemblyName,
                                                                             D::CfgReaderClass);
}

// Reads `path` (UTF-8) through a new reader.
inline Runtime::Ref<Config> Load(const std::string& path) {
    return MakeReader()->ReadCfgFile(Runtime::Text::FromUtf8(path));
}

inline std::string SampleFile(const std::string& name) { return std::string(QUELTO_SOURCE_DIR) + "/configs/" + name; }

// A folder of its own per test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  (std::string("quelto_reader_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string PathIn(const std::string& name) const { return (folder_ / name).string(); }

    // Writes `bytes` as they are to a file in the scratch folder.
    std::string WriteFile(const std::string& name, const std::string& bytes) const {
        const std::string path = PathIn(name);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path folder_;
};

// The runtime type name and message of what `action` throws; a failure of
// the test when it throws nothing or something else.
struct Caught {
    std::string type;
    std::string message;
};
inline Caught CatchFrom(const std::function<void()>& action) {
    try {
        action();
    } catch (const Runtime::Exception& e) {
        return {e.TypeName(), e.Message()};
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not a runtime exception: " << e.what();
        return {"std::exception", e.what()};
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

// `count` channel objects "{}", entry `at` replaced by `entry`.
inline std::string Entries(int count, int at = -1, const std::string& entry = "{}") {
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
        if (i) out += ", ";
        out += i == at ? entry : "{}";
    }
    return out + "]";
}

}  // namespace ReaderTest
