// Files the simulated device reads and writes, named by the environment:
// the receiver configuration it saves and the recording it replays. Only
// regular files are written or read; anything else is refused and left as
// it was.
#include "SimTestSupport.h"

// FIFOs and symbolic links as tests make them: POSIX only.
#ifndef _WIN32

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using namespace SimTest;
namespace fs = std::filesystem;

namespace {

fs::path FreshFolder(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("quelto_device_files_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string Text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The message of the IOException that saving throws, or "" when it succeeds.
std::string SaveFailure(Quelto::Interfaces::IDaqSystem& device) {
    try {
        device.QL_SaveCurrentRxConfiguration();
        return {};
    } catch (const Runtime::IOException& e) {
        return e.Message();
    }
}

}  // namespace

// ------------------------------------------------- saving the configuration

TEST(RxConfigSave, ConcurrentSavesAllSucceedAndLeaveOneWholeFile) {
    const fs::path dir = FreshFolder("race");
    const fs::path target = dir / "rx.json";
    ScopedEnv where("QUELTO_SIM_RXCONFIG", target.string());
    auto first = MakeDevice();
    first->QL_SaveCurrentRxConfiguration();
    const std::string whole = Text(target);
    ASSERT_FALSE(whole.empty());

    constexpr int Writers = 4, Saves = 100;
    std::atomic<int> failures{0};
    std::string firstFailure;
    std::mutex m;
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&] {
            auto device = MakeDevice();  // the same defaults: the same text
            for (int i = 0; i < Saves; ++i) {
                const std::string failure = SaveFailure(*device);
                if (failure.empty()) continue;
                std::lock_guard lock(m);
                if (failures++ == 0) firstFailure = failure;
            }
            device->Dispose();
        });
    }
    for (auto& t : writers) t.join();
    first->Dispose();
    EXPECT_EQ(failures.load(), 0) << firstFailure;
    EXPECT_EQ(Text(target), whole);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"rx.json"}) << "temporary files left behind";
}

TEST(RxConfigSave, ATargetThatIsNotARegularFileIsRefusedAndLeftAlone) {
    const fs::path dir = FreshFolder("special");
    const fs::path fifo = dir / "rx.fifo", folder = dir / "rx.folder";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    fs::create_symlink(fifo, dir / "rx.link-to-fifo");
    for (const fs::path& target : {fifo, folder, dir / "rx.link-to-fifo"}) {
        SCOPED_TRACE(target.string());
        ScopedEnv where("QUELTO_SIM_RXCONFIG", target.string());
        auto device = MakeDevice();
        const std::string failure = SaveFailure(*device);
        EXPECT_NE(failure.find("'" + target.string() + "'"), std::string::npos) << failure;
        EXPECT_NE(failure.find("regular file"), std::string::npos) << failure;
        device->Dispose();
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "rx.link-to-fifo")));
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"rx.fifo", "rx.folder", "rx.link-to-fifo"}));
}

TEST(RxConfigSave, ASymbolicLinkKeepsPointingAtTheFileItNames) {
    const fs::path dir = FreshFolder("link");
    fs::create_directory(dir / "real");
    const fs::path real = dir / "real" / "rx.json", link = dir / "rx.json";
    std::ofstream(real) << "old";
    fs::create_symlink(real, link);
    ScopedEnv where("QUELTO_SIM_RXCONFIG", link.string());
    auto device = MakeDevice();
    EXPECT_EQ(SaveFailure(*device), "");
    device->Dispose();
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_NE(Text(real).find("\"FormatVersion\""), std::string::npos);
    EXPECT_EQ(Names(dir / "real"), std::vector<std::string>{"rx.json"});
}

// ---------------------------------------------------------------- playback

TEST(PlaybackFile, AnythingButARegularFileIsRefusedWithoutWaiting) {
    const fs::path dir = FreshFolder("playback");
    const fs::path fifo = dir / "recording.edf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& source : {fifo, dir}) {
        SCOPED_TRACE(source.string());
        ScopedEnv playback("QUELTO_SIM_PLAYBACK", source.string());
        auto made = std::async(std::launch::async, [] { return MakeDevice(); });
        if (made.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "making the device waits for a writer";
            // Lets the blocked open go on, so that the test can end.
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
        }
        auto device = made.get();
        EXPECT_EQ(device->get_State(), D::DeviceState::Error);
        try {
            device->StartCapturing(D::DataAvailableEventPeriod{0});
            ADD_FAILURE() << "capture started";
        } catch (const Runtime::InvalidOperationException& e) {
            EXPECT_EQ(e.Message(), "Playback file '" + source.string() + "' is not a regular file.");
        }
        device->Dispose();
    }
}

#endif  // _WIN32
