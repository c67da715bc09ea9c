// Data of the SDK that is not of the types the bridge reads: each fails as
// the runtime's exception, none passes as a number it is not. Blocks with
// the test SDK beside this program (IllTypedBlocks); a device whose State is
// a text with the test SDK built that way (IllTypedMembers, its own folder).
#include "ManagedRuntime.h"
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

using namespace ManagedTest;

namespace {

struct Seen {
    std::mutex mutex;
    std::vector<int> scans;
    std::atomic<int> count{0};
};

void Record(const Quelto_DataAvailableEventArgs_C* e, void* context) {
    auto* seen = static_cast<Seen*>(context);
    std::lock_guard lock(seen->mutex);
    seen->scans.push_back(e->ScanNumber);
    ++seen->count;
}

}  // namespace

// The first of three blocks is ill-typed; it is reported with the runtime's
// exception and skipped, the next two arrive. Before: an int[,] of samples
// passed as float bits (a ushort[] in a short[] field is refused the same
// way), a long scan number of 4294967295 as -1; a block of no
// event arguments was reported without saying so.
TEST(IllTypedBlocks, EachIsReportedAsTheRuntimesExceptionAndSkipped) {
    struct Case {
        const char* kind;
        std::string reported;
    };
    const Case cases[] = {
        {"int[,]", "System.InvalidCastException: A DataAvailableEventArgs array has an unexpected type: EmgSamples."},
        {"ushort-as-short",
         "System.InvalidCastException: A DataAvailableEventArgs array has an unexpected type: SensorStates."},
        {"long", "System.InvalidCastException: A DataAvailableEventArgs number does not fit its field: ScanNumber is "
                 "4294967295."},
        {"null", "System.NullReferenceException: The SDK raised DataAvailable with no event arguments (null)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Env blocks("QUELTO_FAKE_BLOCKS", "3");
        Env odd("QUELTO_FAKE_ODD_ARRAY", c.kind);
        void* device = Quelto_Bridge_Create();
        ASSERT_NE(device, nullptr) << LastError();
        Seen seen;
        Quelto_Bridge_RegisterDataCallback(device, &Record, &seen);
        testing::internal::CaptureStderr();
        Quelto_Bridge_StartCapturing(device);
        const bool two = TestPlatform::PollUntil([&] { return seen.count >= 2; }, std::chrono::seconds(30));
        Quelto_Bridge_Destroy(device);
        const std::string reported = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(two);
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.scans, (std::vector<int>{1, 2}));
        EXPECT_NE(reported.find("a block could not be delivered: "), std::string::npos) << reported;
        EXPECT_NE(reported.find(c.reported), std::string::npos) << reported;
    }
}

// A member the bridge reads as a number that the SDK declares as a text:
// the call fails with InvalidCastException and lets the text go. Before:
// State read as 0 (NotInitialized) and every call left a handle to the text.
TEST(IllTypedMembers, ATextWhereANumberIsReadFailsAndIsLetGo) {
    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    for (int call = 0; call < 20; ++call) {
        SCOPED_TRACE(call);
        EXPECT_EQ(Quelto_Bridge_GetdeviceState(device), QUELTO_BRIDGE_STATE_UNKNOWN);
        EXPECT_EQ(LastError().rfind("Quelto_Bridge_GetdeviceState: System.InvalidCastException: The SDK's "
                                    "Quelto.Interfaces.IDaqSystem.State is not a number.",
                                    0),
                  0u)
            << LastError();
    }
    Hosting::Managed::Collect();
    Quelto_SoftwareVersion version{};
    ASSERT_EQ(Quelto_Bridge_GetSoftwareVersion(device, &version), 0) << LastError();
    // Revision: the texts State made that are still alive. Mono scans stacks
    // conservatively, so a stale slot may keep one or two.
    EXPECT_LE(version.Revision, 3) << "texts kept alive by handles";
    Quelto_Bridge_Destroy(device);
}
