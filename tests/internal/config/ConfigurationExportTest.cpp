// The configuration export record and its conversions.
#include "AllocationCounter.h"
#include "ConfigTestSupport.h"

#include <cstdlib>
#include <new>

namespace {

using namespace ConfigTest;

// Bytes [from, to) of the record, by offset.
bool AllZero(const Quelto_ConfigurationExportBase& r, std::size_t from, std::size_t to) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    for (std::size_t i = from; i < to; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

template <class T, std::size_t N>
bool AllEmpty(const T (&texts)[N]) {
    for (const auto& t : texts) {
        if (!t.empty()) return false;
    }
    return true;
}

class ExportRecord : public testing::Test {
protected:
    void SetUp() override { TestSupport::UseBuildLibraryFolder(); }

    static Quelto_ConfigurationExportBase Convert(const Runtime::Ref<D::ConfigurationExportBase>& m) {
        Quelto_ConfigurationExportBase record;
        testing::internal::CaptureStdout();
        try {
            Quelto_ConfigurationExportBaseHelper::ToNative(m, record);
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        testing::internal::GetCapturedStdout();
        return record;
    }
};

TEST_F(ExportRecord, DefaultIsZeroWithEmptyTextsAndAllocatesNothing) {
    AllocationCount count;
    auto* record = new (std::malloc(sizeof(Quelto_ConfigurationExportBase))) Quelto_ConfigurationExportBase;
    // Every byte outside the texts and the record's own padding (the
    // embedded records' padding included).
    EXPECT_TRUE(AllZero(*record, 0, 876));
    EXPECT_TRUE(AllZero(*record, 3312, 3996));
    EXPECT_TRUE(AllZero(*record, 6432, 7116));
    EXPECT_TRUE(AllZero(*record, 9552, 10388));
    EXPECT_TRUE(AllZero(*record, 17688, 20318));
    EXPECT_TRUE(AllZero(*record, 20448, 20476));
    EXPECT_TRUE(AllZero(*record, 20608, 20708));
    EXPECT_TRUE(AllZero(*record, 23144, 23672));
    EXPECT_TRUE(AllZero(*record, 25720, 26104));
    EXPECT_TRUE(AllEmpty(record->EfaChannelName) && AllEmpty(record->ImuAgmChannelUnit) &&
                AllEmpty(record->InsoleName) && AllEmpty(record->Spare38Text2) && AllEmpty(record->Spare32Text2));
    record->~Quelto_ConfigurationExportBase();
    std::free(record);
    EXPECT_EQ(count.Stop(), 0u);
}

TEST_F(ExportRecord, MoveHandsOverTextsWithoutAllocating) {
    Quelto_ConfigurationExportBase source;
    source.EfaChannelName[5] = "a name longer than fifteen characters";
    source.ImuAgmChannelUnit[113] = "short";
    source.Spare32Text2[31] = "spare text that lives on the heap";
    source.AnalogOutputSensorNum[1][0] = 42;
    source.SensorConfiguration[37].SensorMode = Quelto_SensorMode{7};
    const char* heapBlock = source.EfaChannelName[5].data();

    AllocationCount count;
    Quelto_ConfigurationExportBase target(std::move(source));
    EXPECT_EQ(count.Stop(), 0u);

    EXPECT_EQ(target.EfaChannelName[5], "a name longer than fifteen characters");
    EXPECT_EQ(target.EfaChannelName[5].data(), heapBlock);
    EXPECT_EQ(target.ImuAgmChannelUnit[113], "short");
    EXPECT_EQ(target.Spare32Text2[31], "spare text that lives on the heap");
    EXPECT_EQ(target.AnalogOutputSensorNum[1][0], 42);
    EXPECT_EQ(target.SensorConfiguration[37].SensorMode, 7);
    EXPECT_TRUE(source.EfaChannelName[5].empty());
    EXPECT_TRUE(source.Spare32Text2[31].empty());
}

TEST_F(ExportRecord, ToNativeFillsEveryMappedMember) {
    const auto m = FilledExport();
    Quelto_ConfigurationExportBase record = Convert(m);
    ExpectMatches(*m, record);
    EXPECT_EQ(record.EfaChannelName[37], "Efa channel name number 37");
    EXPECT_EQ(record.PlottingEnabledInsoles[0], true);
    EXPECT_EQ(BytesOf(record.EfaChannelLineColor[1]), (std::array<unsigned char, 4>{0x80, 0x10, 0x20, 0x31}));
    // Spares are not touched.
    EXPECT_TRUE(AllZero(record, 23144, 23600));
    EXPECT_TRUE(AllEmpty(record.Spare2Text1));
}

TEST_F(ExportRecord, MissingPlottingFlagsLeaveZeros) {
    const auto m = FilledExport({.plottingEnabled = false});
    const Quelto_ConfigurationExportBase record = Convert(m);
    EXPECT_EQ(BytesOf(record.PlottingEnabledInsoles), (std::array<unsigned char, 2>{0, 0}));
    EXPECT_EQ(record.InsoleName[0], "Left insole with a long name");
    EXPECT_EQ(record.InsoleImuSampleRate_Hz, 50.0f);
}

TEST_F(ExportRecord, ArraysMustHoldTheFixedCount) {
    EXPECT_THROW(Convert(FilledExport({.efaNames = 37})), Runtime::IndexOutOfRangeException);

    const Quelto_ConfigurationExportBase longer = Convert(FilledExport({.efaNames = 40}));
    EXPECT_EQ(longer.EfaChannelName[37], "Efa channel name number 37");
    EXPECT_EQ(longer.EfaChannelUnit[0], "u0");  // the next member is not overrun

    auto shortTable = FilledExport();
    shortTable->AnalogOutputSensorNum = Runtime::NewArray<int32_t>(2, 39);
    EXPECT_THROW(Convert(shortTable), Runtime::IndexOutOfRangeException);
}

TEST_F(ExportRecord, NullsAreNullReferencesExceptTextsAndSensors) {
    EXPECT_THROW(Convert(nullptr), Runtime::NullReferenceException);

    auto noCapture = FilledExport();
    noCapture->CaptureConfiguration = nullptr;
    EXPECT_THROW(Convert(noCapture), Runtime::NullReferenceException);

    auto noArray = FilledExport();
    noArray->ImuAgmChannelSide = nullptr;
    EXPECT_THROW(Convert(noArray), Runtime::NullReferenceException);

    auto noSensor = FilledExport();
    (*noSensor->SensorConfiguration)[20] = nullptr;
    EXPECT_THROW(Convert(noSensor), Runtime::ArgumentNullException);

    auto nullText = FilledExport();
    (*nullText->ImuChannelName)[3] = std::nullopt;
    const Quelto_ConfigurationExportBase record = Convert(nullText);
    EXPECT_TRUE(record.ImuChannelName[3].empty());
    EXPECT_EQ(record.ImuChannelName[4], "Imu channel name number 4");
}

TEST_F(ExportRecord, TextsEndAtTheirFirstNul) {
    EXPECT_EQ(Quelto_ConfigurationExportBaseHelper::ToStdString(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(Quelto_ConfigurationExportBaseHelper::ToStdString(std::nullopt), "");
    EXPECT_EQ(Quelto_ConfigurationExportBaseHelper::ToStdString(u"plain"), "plain");

    const auto m = FilledExport();
    Quelto_ConfigurationExportBase record = Convert(m);
    record.InsoleUnit[1] = std::string("N\0ignored", 9);
    const auto back = Quelto_ConfigurationExportBaseHelper::ToManaged(record);
    EXPECT_EQ(*(*back->InsoleUnit)[1], u"N");
}

TEST_F(ExportRecord, EnumerationsAreStoredUncheckedButRebuiltChecked) {
    auto m = FilledExport();
    (*m->EfaChannelType)[2] = R::ChannelType{11};
    (*m->ImuChannelSide)[0] = R::ChannelSide{-1};
    (*m->InsoleSize)[1] = D::InsoleSize{0x10004};
    Quelto_ConfigurationExportBase record = Convert(m);
    EXPECT_EQ(record.EfaChannelType[2], 11);
    EXPECT_EQ(record.ImuChannelSide[0], 65535);
    EXPECT_EQ(record.InsoleSize[1], 4);

    testing::internal::CaptureStdout();
    EXPECT_THROW(Quelto_ConfigurationExportBaseHelper::ToManaged(record), Runtime::ArgumentOutOfRangeException);
    record.EfaChannelType[2] = Quelto_ChannelType{10};
    EXPECT_THROW(Quelto_ConfigurationExportBaseHelper::ToManaged(record), Runtime::ArgumentOutOfRangeException);
    record.ImuChannelSide[0] = Quelto_ChannelSide{2};
    EXPECT_NO_THROW(Quelto_ConfigurationExportBaseHelper::ToManaged(record));
    record.AnalogOutputChannelType[1][39] = Quelto_ChannelType{11};
    EXPECT_THROW(Quelto_ConfigurationExportBaseHelper::ToManaged(record), Runtime::ArgumentOutOfRangeException);
    record.AnalogOutputChannelType[1][39] = Quelto_ChannelType{0};
    record.InsoleSize[0] = Quelto_InsoleSize{5};
    EXPECT_THROW(Quelto_ConfigurationExportBaseHelper::ToManaged(record), Runtime::ArgumentOutOfRangeException);
    testing::internal::GetCapturedStdout();
}

TEST_F(ExportRecord, ToManagedRebuildsTheSource) {
    const auto m = FilledExport();
    Quelto_ConfigurationExportBase record = Convert(m);
    PokeByte(record.InstalledImuAgmChannels[112], 2);
    PokeByte(record.PlottingEnabledInsoles[1], 255);
    const auto back = Quelto_ConfigurationExportBaseHelper::ToManaged(record);
    EXPECT_TRUE((*back->InstalledImuAgmChannels)[112]);
    EXPECT_TRUE((*back->PlottingEnabledInsoles)[1]);
    PokeByte(record.InstalledImuAgmChannels[112], 1);
    PokeByte(record.PlottingEnabledInsoles[1], 1);

    testing::internal::CaptureStdout();
    ExpectMatches(*back, record);
    ExpectMatches(*m, record);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ((*back->AnalogOutputChannelAxis)(1, 0), -1000);
}

}  // namespace
