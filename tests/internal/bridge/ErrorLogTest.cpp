// The error log as hostile or unlucky surroundings leave it: a FIFO or a
// link where the file should be, several processes reporting at once, a full
// disk. Each report lands whole or not at all, and the host never waits.
#include "ErrorReport.h"
#include "Runtime.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A fresh folder that QUELTO_BRIDGE_LOG_DIR points at for the test.
class ErrorLog : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("quelto_log_" + std::string(info->name()) + "_" + std::to_string(TestPlatform::ProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "LOG");
        TestPlatform::SetEnv("QUELTO_BRIDGE_LOG_DIR", dir_.string());
    }
    void TearDown() override {
        TestPlatform::UnsetEnv("QUELTO_BRIDGE_LOG_DIR");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path LogFile() const { return dir_ / "LOG" / "ErrorLog.txt"; }

    fs::path dir_;
};

// Sets an environment variable for one scope, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        TestPlatform::SetEnv(name, value);
    }
    ~ScopedEnv() {
        if (old_) TestPlatform::SetEnv(name_, *old_);
        else TestPlatform::UnsetEnv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

#ifdef _WIN32
constexpr const char* kUserStateVariable = "LOCALAPPDATA";
#else
constexpr const char* kUserStateVariable = "XDG_STATE_HOME";
#endif

}  // namespace

TEST_F(ErrorLog, ReportsFollowEachOtherWithTwoLineFeeds) {
    ASSERT_EQ(ErrorReport::ErrorLogPath(), (dir_ / "LOG" / "ErrorLog.txt").string());
    fs::remove_all(dir_ / "LOG");  // made when missing
    EXPECT_TRUE(ErrorReport::AppendToErrorLog("first"));
    EXPECT_TRUE(ErrorReport::AppendToErrorLog(std::string(100000, 'x')));
    EXPECT_EQ(ReadAll(LogFile()), "first\n\n" + std::string(100000, 'x') + "\n\n");
}

// A log folder that cannot be made, for root as well (it would sit under a
// regular file): the report goes to the user's state folder, and standard
// error says where.
TEST_F(ErrorLog, AnUnwritableLogFolderFallsBackToTheUsersStateFolder) {
    std::ofstream(dir_ / "file") << "a file, not a folder";
    const fs::path blocked = dir_ / "file" / "below";
    TestPlatform::SetEnv("QUELTO_BRIDGE_LOG_DIR", blocked.string());
    const ScopedEnv state(kUserStateVariable, (dir_ / "state").string());
    const fs::path user = dir_ / "state" / "quelto-bridge" / "LOG" / "ErrorLog.txt";
    EXPECT_EQ(fs::path(ErrorReport::UserErrorLogPath()), user);

    std::string written;
    testing::internal::CaptureStderr();
    const bool appended = ErrorReport::AppendToErrorLog("report", &written);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(appended) << said;
    EXPECT_EQ(fs::path(written), user);
    EXPECT_EQ(ReadAll(user), "report\n\n");
    EXPECT_NE(said.find(ErrorReport::ErrorLogPath()), std::string::npos) << said;
    EXPECT_NE(said.find("reported in " + written), std::string::npos) << said;

    // A log that can be written again is used again, and nothing is said.
    TestPlatform::SetEnv("QUELTO_BRIDGE_LOG_DIR", dir_.string());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(ErrorReport::AppendToErrorLog("second", &written));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fs::path(written), LogFile());
    EXPECT_EQ(ReadAll(LogFile()), "second\n\n");
    EXPECT_EQ(ReadAll(user), "report\n\n");
}

TEST_F(ErrorLog, NeitherPlaceWritableKeepsNothingAndSaysSo) {
    std::ofstream(dir_ / "file") << "a file, not a folder";
    TestPlatform::SetEnv("QUELTO_BRIDGE_LOG_DIR", (dir_ / "file" / "log").string());
    const ScopedEnv state(kUserStateVariable, (dir_ / "file" / "state").string());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ErrorReport::AppendToErrorLog("report"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("not kept"), std::string::npos) << said;
    EXPECT_TRUE(fs::is_regular_file(dir_ / "file"));
}

#ifndef _WIN32

TEST_F(ErrorLog, WithoutXdgStateHomeTheUsersFolderIsUnderHome) {
    const ScopedEnv home("HOME", (dir_ / "home").string());
    const ScopedEnv relative("XDG_STATE_HOME", "relative/state");  // ignored, as XDG says
    EXPECT_EQ(ErrorReport::UserErrorLogPath(), (dir_ / "home" / ".local/state/quelto-bridge/LOG/ErrorLog.txt").string());
    TestPlatform::UnsetEnv("XDG_STATE_HOME");
    EXPECT_EQ(ErrorReport::UserErrorLogPath(), (dir_ / "home" / ".local/state/quelto-bridge/LOG/ErrorLog.txt").string());
}

TEST_F(ErrorLog, AFifoWithoutReaderIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(LogFile().c_str(), 0600), 0);
    auto append = std::async(std::launch::async, [] { return ErrorReport::AppendToErrorLog("report"); });
    if (append.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Stuck in open(): a reader lets it go, so that the test can end.
        const int reader = open(LogFile().c_str(), O_RDONLY | O_NONBLOCK);
        append.wait();
        close(reader);
        FAIL() << "appending to a FIFO without a reader waited for one";
    }
    EXPECT_FALSE(append.get());
    struct stat st {};
    ASSERT_EQ(lstat(LogFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // With a reader the FIFO is still no log: nothing is written into it.
    const int reader = open(LogFile().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(ErrorReport::AppendToErrorLog("report"));
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
}

TEST_F(ErrorLog, ALinkAtTheLogIsNotFollowed) {
    const fs::path target = dir_ / "elsewhere.txt";
    fs::create_symlink(target, LogFile());  // dangling
    EXPECT_FALSE(ErrorReport::AppendToErrorLog("report"));
    EXPECT_FALSE(fs::exists(target));

    std::ofstream(target) << "kept";
    EXPECT_FALSE(ErrorReport::AppendToErrorLog("report"));
    EXPECT_EQ(ReadAll(target), "kept");
    EXPECT_TRUE(fs::is_symlink(LogFile()));
}

// Reports far longer than a pipe or stdio buffer, from four processes at
// once: each is one append, so none is cut by another's.
TEST_F(ErrorLog, LongReportsOfSeveralProcessesNeverInterleave) {
    constexpr int processes = 4, reports = 60;
    constexpr std::size_t length = 96 * 1024;
    pid_t children[processes];
    for (int p = 0; p < processes; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            const std::string text(length, static_cast<char>('a' + p));
            bool ok = true;
            for (int r = 0; r < reports; ++r) ok = ErrorReport::AppendToErrorLog(text) && ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string log = ReadAll(LogFile());
    ASSERT_EQ(log.size(), processes * reports * (length + 2));
    int whole[processes] = {};
    for (std::size_t at = 0; at < log.size(); at += length + 2) {
        const char c = log[at];
        ASSERT_TRUE(c >= 'a' && c < 'a' + processes) << "at " << at;
        const bool intact = log.compare(at, length, std::string(length, c)) == 0 && log.compare(at + length, 2, "\n\n") == 0;
        ASSERT_TRUE(intact) << "report at byte " << at << " is cut";
        ++whole[c - 'a'];
    }
    for (int p = 0; p < processes; ++p) EXPECT_EQ(whole[p], reports);
}

// A file-size limit stands in for a full disk: the kernel takes part of the
// report, then refuses the rest. The part is taken back, so the next report
// does not continue a cut one; the limit's signal does not end the process.
TEST_F(ErrorLog, AReportThatDoesNotFitLeavesNoPart) {
    ASSERT_TRUE(ErrorReport::AppendToErrorLog("first"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = fs::file_size(LogFile()) + 3000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ErrorReport::AppendToErrorLog(std::string(10000, 'x'));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadAll(LogFile()), "first\n\n");
    ASSERT_TRUE(ErrorReport::AppendToErrorLog("second"));
    EXPECT_EQ(ReadAll(LogFile()), "first\n\nsecond\n\n");
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGXFSZ));
}

// Standard error a closed pipe: the text is lost, the host lives on.
TEST(StandardError, AClosedPipeNeverEndsTheProcess) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        int ends[2];
        if (pipe(ends) != 0) _exit(2);
        close(ends[0]);
        dup2(ends[1], STDERR_FILENO);
        TestPlatform::SetEnv("QUELTO_DEBUG_TRACE", "1");
        Runtime::Debug::Write("trace line\n");
        Runtime::Console::WriteError("error line\n");
        // Nothing held back for later either.
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        _exit(sigismember(&pending, SIGPIPE) ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#endif
