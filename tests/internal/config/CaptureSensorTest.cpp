// Capture and sensor records against the SDK's configuration objects.
#include "ConfigTestSupport.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace ConfigTest;

class CaptureConversion : public testing::Test {
protected:
    void SetUp() override { TestSupport::UseBuildLibraryFolder(); }

    // Every field distinct and nonzero; booleans 0 or 1, padding 0.
    static Quelto_CaptureConfiguration Filled() {
        Quelto_CaptureConfiguration c;
        std::memset(&c, 0, sizeof c);
        c.ExternalTriggerEnabled = true;
        c.ExternalTriggerActiveLevel = -7;
        c.ExternalTriggerStopDisabled = true;
        c.ExternalEventActiveLevel = 0x7FFFFFFF;
        c.IMU_AcqPType = Quelto_ImuAcqPType{101};
        c.EMG_AcqPType = Quelto_EmgAcqPType{102};
        c.IMU_AcqXType = Quelto_ImuAcqXType{103};
        c.EMG_AcqXType = Quelto_EmgAcqXType{104};
        c.EMG_IMU_AcqXType = Quelto_EmgImuAcqXType{105};
        c.IMU_AcqBType = Quelto_ImuAcqBType{106};
        c.EMG_AcqBType = Quelto_EmgAcqBType{107};
        c.Insole_BtAcqType = Quelto_InsoleBtAcqType{108};
        c.Insole_RfAcqType = Quelto_InsoleRfAcqType{109};
        c.Analog_AcqType = Quelto_AnalogAcqType{110};
        c.Insole_RfProtocol = Quelto_InsoleRfProtocol{111};
        c.Insole_AccelerometerFullScale = Quelto_AccelerometerFullScale{112};
        c.Insole_GyroscopeFullScale = Quelto_GyroscopeFullScale{113};
        c.Analog_TriggerMode = Quelto_AnalogTriggerMode{114};
        c.Analog_VoltageFullScale = Quelto_VoltageFullScale{115};
        c.Insole_RfProtocol = Quelto_InsoleRfProtocol{-2};  // unchecked: any number passes
        c.EnabledInsole[0] = true;
        for (int i = 0; i < 32; i += 3) c.EnabledAnalogChannel[i] = true;
        c.FootSwATransducerEnabled = {true, false, true, false};
        c.FootSwBTransducerEnabled = {false, true, false, true};
        c.FootSwATransducerThreshold = {0.25, 0.5, -0.0, 1e300};
        c.FootSwBTransducerThreshold = {1.0, 2.0, 3.0, 4.0};
        c.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(2);
        c.Analog_ChannelDelay_ms = 4294967295u;
        return c;
    }

    static Quelto_CaptureConfiguration ToNativeQuietly(const Runtime::Ref<D::ICaptureConfiguration>& m) {
        testing::internal::CaptureStdout();
        Quelto_CaptureConfiguration native{};
        try {
            native = Quelto_CaptureConfigurationHelper::ToNative(m);
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        testing::internal::GetCapturedStdout();
        return native;
    }
};

TEST_F(CaptureConversion, RoundTripKeepsAll192Bytes) {
    const Quelto_CaptureConfiguration original = Filled();
    const auto managed = Quelto_CaptureConfigurationHelper::ToManaged(original);
    EXPECT_EQ(managed->get_Analog_ChannelDelay_ms(), 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(managed->get_Insole_RfProtocol()), -2);
    EXPECT_EQ(static_cast<int32_t>(managed->get_Analog_VoltageFullScale()), 115);
    EXPECT_EQ(BytesOf(ToNativeQuietly(managed)), BytesOf(original));

    // Each protocol the SDK accepts survives too.
    for (uint16_t protocol : {0, 1}) {
        Quelto_CaptureConfiguration c = Filled();
        c.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(protocol);
        EXPECT_EQ(BytesOf(ToNativeQuietly(Quelto_CaptureConfigurationHelper::ToManaged(c))), BytesOf(c));
    }
}

TEST_F(CaptureConversion, ToNativeStartsFromZeroBytes) {
    auto managed = std::make_shared<QueltoSim::CaptureConfiguration>();
    managed->set_ExternalTriggerEnabled(true);
    managed->set_ExternalTriggerStopDisabled(true);
    managed->set_FootSwProtocol(D::FootSwProtocol{1});
    const auto bytes = BytesOf(ToNativeQuietly(managed));
    for (std::size_t padding : {1, 2, 3, 9, 10, 11, 110, 111, 178, 179}) EXPECT_EQ(bytes[padding], 0) << padding;
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[8], 1);
}

TEST_F(CaptureConversion, AnyNonzeroFlagByteReachesTheSdkAsTrue) {
    Quelto_CaptureConfiguration c = Filled();
    PokeByte(c.EnabledAnalogChannel[5], 2);
    PokeByte(c.EnabledAnalogChannel[6], 255);
    PokeByte(c.EnabledInsole[1], 0x80);
    PokeByte(c.ExternalTriggerEnabled, 2);
    PokeByte(c.FootSwBTransducerEnabled.T_A, 7);
    const auto managed = Quelto_CaptureConfigurationHelper::ToManaged(c);
    EXPECT_TRUE((*managed->get_EnabledAnalogChannel())[5]);
    EXPECT_TRUE((*managed->get_EnabledAnalogChannel())[6]);
    EXPECT_FALSE((*managed->get_EnabledAnalogChannel())[7]);
    EXPECT_TRUE((*managed->get_EnabledInsole())[1]);
    EXPECT_TRUE(managed->get_ExternalTriggerEnabled());
    EXPECT_TRUE(managed->get_FootSwBTransducerEnabled()->get_T_A());

    // The way back writes 1.
    const auto bytes = BytesOf(ToNativeQuietly(managed));
    EXPECT_EQ(bytes[70 + 5], 1);
    EXPECT_EQ(bytes[70 + 6], 1);
    EXPECT_EQ(bytes[69], 1);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[106], 1);
}

TEST_F(CaptureConversion, ToNativePrintsBothInsoleLinesInOrder) {
    auto managed = std::make_shared<QueltoSim::CaptureConfiguration>();
    (*managed->get_EnabledInsole())[0] = true;
    (*managed->get_EnabledInsole())[1] = false;
    testing::internal::CaptureStdout();
    const Quelto_CaptureConfiguration native = Quelto_CaptureConfigurationHelper::ToNative(managed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "EnabledInsole[0] = True\nEnabledInsole[1] = False\n");
    const auto bytes = BytesOf(native);
    EXPECT_EQ(bytes[68], 1);
    EXPECT_EQ(bytes[69], 0);
}

TEST_F(CaptureConversion, SdkArraysConvertTheirFixedCountsOnly) {
    auto longer = std::make_shared<QueltoSim::CaptureConfiguration>(3, 40);
    for (int i = 0; i < 40; ++i) (*longer->get_EnabledAnalogChannel())[i] = i >= 31;
    const Quelto_CaptureConfiguration native = ToNativeQuietly(longer);
    const auto bytes = BytesOf(native);
    for (int i = 0; i < 31; ++i) EXPECT_EQ(bytes[70 + i], 0) << i;
    EXPECT_EQ(bytes[70 + 31], 1);
    EXPECT_EQ(bytes[102], 0);  // element 32 went nowhere

    // ToManaged leaves the elements past 32 as the constructor made them.
    Quelto_CaptureConfiguration c = Filled();
    std::memset(c.EnabledAnalogChannel, 1, sizeof c.EnabledAnalogChannel);
    const auto managed = Quelto_CaptureConfigurationHelper::ToManaged(c);
    EXPECT_EQ((*managed->get_EnabledAnalogChannel()).Length(), 32u);

    auto shortAnalog = std::make_shared<QueltoSim::CaptureConfiguration>(2, 31);
    EXPECT_THROW(ToNativeQuietly(shortAnalog), Runtime::IndexOutOfRangeException);
    auto shortInsoles = std::make_shared<QueltoSim::CaptureConfiguration>(1, 32);
    EXPECT_THROW(ToNativeQuietly(shortInsoles), Runtime::IndexOutOfRangeException);
}

TEST_F(CaptureConversion, ProtocolOutsideZeroToTwoFailsBothWays) {
    Quelto_CaptureConfiguration c = Filled();
    c.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(3);
    EXPECT_THROW(Quelto_CaptureConfigurationHelper::ToManaged(c), Runtime::ArgumentOutOfRangeException);
    c.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(65535);
    EXPECT_THROW(Quelto_CaptureConfigurationHelper::ToManaged(c), Runtime::ArgumentOutOfRangeException);

    auto managed = std::make_shared<QueltoSim::CaptureConfiguration>();
    managed->set_FootSwProtocol(D::FootSwProtocol{-1});
    EXPECT_THROW(ToNativeQuietly(managed), Runtime::ArgumentOutOfRangeException);
    managed->set_FootSwProtocol(D::FootSwProtocol{3});
    EXPECT_THROW(ToNativeQuietly(managed), Runtime::ArgumentOutOfRangeException);
}

TEST_F(CaptureConversion, NullObjectIsANullReference) {
    EXPECT_THROW(Quelto_CaptureConfigurationHelper::ToNative(nullptr), Runtime::NullReferenceException);
}

class SensorConversion : public testing::Test {
protected:
    void SetUp() override { TestSupport::UseBuildLibraryFolder(); }
};

TEST_F(SensorConversion, ModeIsSixteenBitsEachWay) {
    Quelto_SensorConfiguration native;
    std::memset(&native, 0, sizeof native);
    native.SensorModel = static_cast<Quelto_SensorModel>(-5);
    native.SensorMode = static_cast<Quelto_SensorMode>(65535);
    native.AccelerometerFullScale = static_cast<Quelto_AccelerometerFullScale>(16);
    native.GyroscopeFullScale = static_cast<Quelto_GyroscopeFullScale>(2000);
    const auto managed = Quelto_SensorConfigurationHelper::ToManaged(native);
    EXPECT_EQ(static_cast<int32_t>(managed->get_SensorMode()), 65535);
    EXPECT_EQ(BytesOf(Quelto_SensorConfigurationHelper::ToNative(managed)), BytesOf(native));

    managed->set_SensorMode(D::SensorMode{65536});
    EXPECT_EQ(Quelto_SensorConfigurationHelper::ToNative(managed).SensorMode, 0);
    managed->set_SensorMode(D::SensorMode{-1});
    EXPECT_EQ(Quelto_SensorConfigurationHelper::ToNative(managed).SensorMode, 65535);
    managed->set_SensorMode(D::SensorMode{0x12345});
    const auto bytes = BytesOf(Quelto_SensorConfigurationHelper::ToNative(managed));
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 0x2345);
    EXPECT_EQ(bytes[6], 0);
    EXPECT_EQ(bytes[7], 0);
}

TEST_F(SensorConversion, NullObjectIsAnArgumentNull) {
    try {
        Quelto_SensorConfigurationHelper::ToNative(nullptr);
        FAIL() << "no exception";
    } catch (const Runtime::ArgumentNullException& e) {
        EXPECT_EQ(e.Message(), Runtime::ArgumentNullException().Message());
    }
}

}  // namespace
