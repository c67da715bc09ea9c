// Checked enumerations, colours and the foot-switch value records.
#include "ConfigTestSupport.h"

#include <bit>
#include <cmath>
#include <limits>

namespace {

using namespace ConfigTest;

// Every number the checked classes see, in both directions, against their
// accepted maximum.
template <class Helper, class Native, class Managed>
void ExpectCheckedRange(int max) {
    for (int n = 0; n <= max; ++n) {
        EXPECT_EQ(Helper::ToNative(Managed{n}), n);
        EXPECT_EQ(static_cast<int32_t>(Helper::ToManaged(static_cast<Native>(n))), n);
    }
    EXPECT_THROW(Helper::ToNative(Managed{max + 1}), Runtime::ArgumentOutOfRangeException);
    EXPECT_THROW(Helper::ToManaged(static_cast<Native>(max + 1)), Runtime::ArgumentOutOfRangeException);
    EXPECT_THROW(Helper::ToNative(Managed{-1}), Runtime::ArgumentOutOfRangeException);
    EXPECT_THROW(Helper::ToNative(Managed{65536}), Runtime::ArgumentOutOfRangeException);
    // Widened without sign: never wraps to -1 or 0.
    EXPECT_THROW(Helper::ToManaged(static_cast<Native>(65535)), Runtime::ArgumentOutOfRangeException);
}

TEST(CheckedEnumerations, AcceptExactlyTheirRanges) {
    {
        SCOPED_TRACE("channel type");
        ExpectCheckedRange<Quelto_ChannelTypeHelper, Quelto_ChannelType, R::ChannelType>(10);
    }
    {
        SCOPED_TRACE("channel side");
        ExpectCheckedRange<Quelto_ChannelSideHelper, Quelto_ChannelSide, R::ChannelSide>(2);
    }
    {
        SCOPED_TRACE("insole size");
        ExpectCheckedRange<Quelto_InsoleSizeHelper, Quelto_InsoleSize, D::InsoleSize>(4);
    }
    {
        SCOPED_TRACE("foot-switch protocol");
        ExpectCheckedRange<Quelto_FootSwProtocolhelper, Quelto_FootSwProtocol, D::FootSwProtocol>(2);
    }
}

TEST(CheckedEnumerations, OutOfRangeCarriesTheRuntimeDefaultMessage) {
    try {
        Quelto_ChannelTypeHelper::ToManaged(static_cast<Quelto_ChannelType>(11));
        FAIL() << "no exception";
    } catch (const Runtime::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.Message(), Runtime::ArgumentOutOfRangeException().Message());
    }
}

TEST(Colours, ComponentsKeepTheirPlaces) {
    const unsigned char bytes[4] = {0x80, 0x10, 0x20, 0x30};
    Quelto_Color native;
    std::memcpy(&native, bytes, 4);
    const System::Drawing::Color managed = Quelto_DefinitionsHelper::ToSystemDrawingColor(native);
    EXPECT_EQ(managed.A(), 128);
    EXPECT_EQ(managed.R(), 16);
    EXPECT_EQ(managed.G(), 32);
    EXPECT_EQ(managed.B(), 48);
    const Quelto_Color back = Quelto_DefinitionsHelper::ToQueltoColor(managed);
    EXPECT_EQ(std::memcmp(&back, bytes, 4), 0);

    const Quelto_Color white = Quelto_DefinitionsHelper::ToQueltoColor(System::Drawing::Color::FromArgb(0xFFFFFFFFu));
    EXPECT_EQ(BytesOf(white), (std::array<unsigned char, 4>{255, 255, 255, 255}));
}

class FootSwRecords : public testing::Test {
protected:
    void SetUp() override { TestSupport::UseBuildLibraryFolder(); }
};

TEST_F(FootSwRecords, AnyNonzeroFlagByteIsOn) {
    // In place at an odd offset, as inside the capture record.
    alignas(8) unsigned char storage[8] = {};
    auto* flags = reinterpret_cast<Quelto_FootSwTransducerEnabled*>(storage + 3);
    PokeByte(flags->T_A, 2);
    PokeByte(flags->T_1, 0);
    PokeByte(flags->T_5, 255);
    PokeByte(flags->T_T, 1);
    auto managed = Quelto_FootSwTransducerEnabledHelper::ToManaged(*flags);
    EXPECT_TRUE(managed->get_T_A());
    EXPECT_FALSE(managed->get_T_1());
    EXPECT_TRUE(managed->get_T_5());
    EXPECT_TRUE(managed->get_T_T());

    const Quelto_FootSwTransducerEnabled back = Quelto_FootSwTransducerEnabledHelper::ToNative(managed);
    EXPECT_EQ(BytesOf(back), (std::array<unsigned char, 4>{1, 0, 1, 1}));
}

TEST_F(FootSwRecords, ThresholdsRoundTripBitForBit) {
    Quelto_FootSwTransducerThreshold native;
    native.T_A = std::bit_cast<double>(uint64_t{0x7FF0000000000123});  // signalling NaN with payload
    native.T_1 = -0.0;
    native.T_5 = std::bit_cast<double>(uint64_t{0xFFF8DEADBEEF0001});  // quiet NaN, sign set
    native.T_T = std::numeric_limits<double>::denorm_min();
    const auto managed = Quelto_FootSwTransducerThresholdHelper::ToManaged(native);
    EXPECT_EQ(std::bit_cast<uint64_t>(managed->get_T_A()), 0x7FF0000000000123u);
    EXPECT_TRUE(std::signbit(managed->get_T_1()));
    const Quelto_FootSwTransducerThreshold back = Quelto_FootSwTransducerThresholdHelper::ToNative(managed);
    EXPECT_EQ(BytesOf(back), BytesOf(native));
}

TEST_F(FootSwRecords, NullObjectsAreNullReferences) {
    EXPECT_THROW(Quelto_FootSwTransducerEnabledHelper::ToNative(nullptr), Runtime::NullReferenceException);
    EXPECT_THROW(Quelto_FootSwTransducerThresholdHelper::ToNative(nullptr), Runtime::NullReferenceException);
}

}  // namespace
