// The device-to-host clock against arrival times made from a known line
// plus transfer delays.
#include "SampleClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Capture::SampleClock;

// Blocks of `period` device seconds arriving at offset + end * (1 + drift)
// plus a delay: `late` seconds for the first, then 0.2 ms to `jitter`.
SampleClock Feed(double seconds, double period, double offset, double drift, double jitter, double late = 0,
                 unsigned seed = 1) {
    SampleClock clock;
    std::mt19937 random(seed);
    std::exponential_distribution<double> delay(1.0 / std::max(jitter, 1e-9));
    for (int k = 0; (k + 1) * period <= seconds + 1e-9; ++k) {
        const double end = (k + 1) * period;
        const double extra = k == 0 ? late : 0.0002 + std::min(delay(random), 0.05);
        clock.Observe(end, offset + end * (1 + drift) + extra);
    }
    return clock;
}

TEST(SampleClock, TheLowerEdgeOfTheArrivalsIsTheLineAndALateFirstBlockDoesNotShiftIt) {
    const SampleClock clock = Feed(30, 0.1, 1000.0, 0, 0.003, 0.004);
    EXPECT_TRUE(clock.Ready());
    EXPECT_FALSE(clock.FreeRunning());
    // The window minima sit about 0.2 ms above the line.
    EXPECT_NEAR(clock.HostTime(0), 1000.0, 0.0006);
    EXPECT_NEAR(clock.HostTime(30), 1030.0, 0.0006);
    EXPECT_NEAR(clock.Drift(), 0, 2e-5);
    EXPECT_NEAR(clock.DeviceTime(clock.HostTime(12.345)), 12.345, 1e-9);
}

TEST(SampleClock, FollowsTheDriftOfTheDevicesClock) {
    for (double drift : {-100e-6, 50e-6, 300e-6}) {
        const SampleClock clock = Feed(120, 0.01, 50.0, drift, 0.002, 0.003, 7);
        EXPECT_NEAR(clock.Drift(), drift, 1e-5) << drift;
        // Two minutes in, the stamps are still on the device's line.
        EXPECT_NEAR(clock.HostTime(120), 50.0 + 120 * (1 + drift), 0.0008) << drift;
    }
}

TEST(SampleClock, ForgetsWhatIsOlderThanItsHistory) {
    // A step of the host's clock by 20 ms: after a minute only the new
    // line is left.
    SampleClock clock;
    for (int k = 1; k <= 2000; ++k) {
        const double end = k * 0.1;
        clock.Observe(end, 10.0 + end + (end > 100 ? 0.02 : 0.0) + 0.0002);
    }
    EXPECT_NEAR(clock.HostTime(200), 210.02, 0.0005);
    EXPECT_NEAR(clock.Drift(), 0, 1e-5);
}

TEST(SampleClock, LateArrivalsOfAStalledLinkOnlyRaiseTheEdge) {
    SampleClock clock;
    for (int k = 1; k <= 300; ++k) {
        const double end = k * 0.1;
        // 5 s into the capture the link stalls for 2 s, then delivers the
        // blocks it held in a burst.
        double arrival = 5.0 + end + 0.0003;
        if (end > 5 && end < 7) arrival = 5.0 + 7.0 + 0.0003 + (end - 5) * 1e-4;
        clock.Observe(end, arrival);
    }
    EXPECT_FALSE(clock.FreeRunning());
    EXPECT_NEAR(clock.HostTime(20), 25.0, 0.001);
}

TEST(SampleClock, ADeviceFarAheadOfRealTimeKeepsItsOwnPace) {
    // A fast replay: a second of data every 40 ms.
    SampleClock clock;
    for (int k = 1; k <= 100; ++k) clock.Observe(k * 0.1, 3.0 + k * 0.004);
    EXPECT_TRUE(clock.FreeRunning());
    EXPECT_EQ(clock.Drift(), 0);
    EXPECT_NEAR(clock.HostTime(10) - clock.HostTime(0), 10.0, 1e-12);
}

TEST(SampleClock, DriftIsBoundedBeyondAnyCrystal) {
    const SampleClock clock = Feed(60, 0.1, 0, 0.02, 0.0005);  // 2 % (but not ahead of real time)
    EXPECT_FALSE(clock.FreeRunning());
    EXPECT_DOUBLE_EQ(clock.Drift(), SampleClock::MaxDrift);
}

}  // namespace
