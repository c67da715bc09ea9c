// Files the simulated reader must refuse: each gives one documented error
// type with a message naming the file and the line, column or key.
#include "ReaderTestSupport.h"

#include <cfloat>

using ReaderTest::CatchFrom;
using ReaderTest::Entries;
using ReaderTest::Load;

namespace {

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

struct BadFile {
    const char* what;
    std::string bytes;
    const char* fragment;  // expected in the message besides the path
};

class ReaderBadInput : public ReaderTest::ScratchTest {
protected:
    // Every case must fail with a FormatException naming the file.
    void ExpectFormatErrors(const std::vector<BadFile>& cases) {
        for (const BadFile& c : cases) {
            SCOPED_TRACE(c.what);
            const std::string path = WriteFile("bad.json", c.bytes);
            const auto caught = CatchFrom([&] { Load(path); });
            EXPECT_EQ(caught.type, "System.FormatException");
            EXPECT_NE(caught.message.find("'" + path + "'"), std::string::npos) << caught.message;
            EXPECT_NE(caught.message.find(c.fragment), std::string::npos) << caught.message;
        }
    }
};

}  // namespace

TEST_F(ReaderBadInput, MissingUnreadableAndNullPaths) {
    const std::string missing = PathIn("missing.json");
    auto caught = CatchFrom([&] { Load(missing); });
    EXPECT_EQ(caught.type, "System.IO.FileNotFoundException");
    EXPECT_NE(caught.message.find(missing), std::string::npos) << caught.message;

    caught = CatchFrom([&] { Load(folder_.string()); });
    EXPECT_EQ(caught.type, "System.IO.FileNotFoundException");
    EXPECT_NE(caught.message.find(folder_.string()), std::string::npos) << caught.message;

    caught = CatchFrom([&] { Load(""); });
    EXPECT_EQ(caught.type, "System.IO.FileNotFoundException");

    caught = CatchFrom([] { ReaderTest::MakeReader()->ReadCfgFile(Runtime::String()); });
    EXPECT_EQ(caught.type, "System.ArgumentNullException");
    EXPECT_NE(caught.message.find("path"), std::string::npos) << caught.message;
}

TEST_F(ReaderBadInput, BytesThatAreNoTextFile) {
    ExpectFormatErrors({
        {"empty", "", "empty"},
        {"NUL byte", std::string("{\n  \"FormatVersion\": 1\0}", 23), "NUL byte at line 2, column 21"},
        {"invalid UTF-8 in a string", "{\"Insoles\": [{\"Name\": \"\xC3\x28\"}, {}]}", "line 1"},
        {"invalid UTF-8 in a comment", "// \xFF\xFE\n{}", "invalid UTF-8 near line 1, column 4"},
        {"lone surrogate escape", R"({"Insoles": [{"Name": "\ud800"}, {}]})", "surrogate"},
        {"overlong form", "{}//\xC0\xAF", "invalid UTF-8 near line 1, column 5"},
        {"overlong three bytes", "{}\n//\xE0\x80\xAF", "invalid UTF-8 near line 2, column 3"},
        {"encoded surrogate", "{} // \xED\xA0\x80", "invalid UTF-8 near line 1, column 7"},
        {"beyond U+10FFFF", "{} // \xF4\x90\x80\x80", "invalid UTF-8 near line 1, column 7"},
        {"cut at the end", "{} // \xE2\x82", "invalid UTF-8 near line 1, column 7"},
        {"lone continuation byte", "{} // a\x80", "invalid UTF-8 near line 1, column 8"},
    });
    // The longest forms and the last code point are text.
    const auto c = Load(WriteFile("text.json", "// \xF4\x8F\xBF\xBF \xEF\xBF\xBD\n"
                                               "{\"Insoles\": [{\"Name\": \"\xF0\x9F\x98\x80\xE4\xB8\xAD\xC3\xBC\"}, {}]}"));
    EXPECT_EQ((*c->InsoleName)[0], Runtime::String(u"\U0001F600\u4e2d\u00fc"));
}

TEST_F(ReaderBadInput, OversizedFileIsRefusedBeforeReading) {
    const std::string path = PathIn("huge.json");
    std::ofstream(path).close();
    std::filesystem::resize_file(path, QueltoSim::MaxConfigFileBytes + 1);  // sparse, quick
    const auto caught = CatchFrom([&] { Load(path); });
    EXPECT_EQ(caught.type, "System.FormatException");
    EXPECT_NE(caught.message.find("larger than 16777216 bytes"), std::string::npos) << caught.message;
}

TEST_F(ReaderBadInput, SyntaxErrorsNameLineAndColumn) {
    ExpectFormatErrors({
        {"trailing comma", "{\n  \"FormatVersion\": 1,\n}", "line 3, column 1"},
        {"unterminated", "{\"EfaChannels\": [", "line 1, column 18"},
        {"only spaces", "   \n  ", "line 2"},
        {"text after the object", "{} {}", "line 1, column 4"},
        {"number overflow", R"({"InsoleSampleRate_Hz": 1e999})", "number overflow parsing '1e999'"},
    });
}

TEST_F(ReaderBadInput, DuplicateKeysAndDeepNesting) {
    ExpectFormatErrors({
        {"duplicate top-level key", R"({"FormatVersion": 1, "FormatVersion": 1})", "FormatVersion: duplicate key"},
        {"duplicate nested key", R"({"AnalogOutputs": [[{}, {"SensorNum": 1, "SensorNum": 2}]]})",
         "AnalogOutputs[0][1].SensorNum: duplicate key"},
        {"deep nesting", std::string(200000, '[') + std::string(200000, ']'), "nested deeper than 32 levels"},
    });
}

TEST_F(ReaderBadInput, WrongTypesAndUnknownKeysNameTheKeyPath) {
    ExpectFormatErrors({
        {"null capture configuration", R"({"CaptureConfiguration": null})", "CaptureConfiguration: expected an object"},
        {"null transducer object", R"({"CaptureConfiguration": {"FootSwBTransducerThreshold": null}})",
         "CaptureConfiguration.FootSwBTransducerThreshold: expected an object"},
        {"null channel", R"({"EfaChannels": )" + Entries(38, 4, "null") + "}", "EfaChannels[4]: expected an object"},
        {"top level array", "[1, 2]", "top level: expected an object"},
        {"string for a number", R"({"InsoleSampleRate_Hz": "fast"})", "InsoleSampleRate_Hz: expected a number, found a string"},
        {"number for a flag", R"({"CaptureConfiguration": {"ExternalTriggerEnabled": 1}})",
         "CaptureConfiguration.ExternalTriggerEnabled: expected true or false, found 1"},
        {"fraction for an integer", R"({"EfaChannels": )" + Entries(38, 2, R"({"Type": 1.5})") + "}",
         "EfaChannels[2].Type: expected an integer from 0 to 10, found 1.5"},
        {"number for a text", R"({"ImuAgmChannels": )" + Entries(114, 113, R"({"Name": 7})") + "}",
         "ImuAgmChannels[113].Name: expected a string or null"},
        {"object for a channel list", R"({"ImuChannels": {}})", "ImuChannels: expected an array of 38 entries"},
        {"list for a channel", R"({"ImuChannels": )" + Entries(38, 0, "[]") + "}", "ImuChannels[0]: expected an object"},
        {"bad colour", R"({"EfaChannels": )" + Entries(38, 1, R"({"LineColor": "#12345"})") + "}",
         "EfaChannels[1].LineColor: expected a colour"},
        {"colour with a sign", R"({"EfaChannels": )" + Entries(38, 1, R"({"LineColor": "#-12345"})") + "}",
         "EfaChannels[1].LineColor"},
        {"named colour", R"({"EfaChannels": )" + Entries(38, 1, R"({"LineColor": "red"})") + "}",
         "EfaChannels[1].LineColor"},
        {"unknown top-level key", R"({"EfaChanels": []})", "EfaChanels: unknown key"},
        {"unknown channel key", R"({"AccFswMapChannels": )" + Entries(38, 9, R"({"Colour": "#FFFFFF"})") + "}",
         "AccFswMapChannels[9].Colour: unknown key"},
        {"unknown transducer", R"({"CaptureConfiguration": {"FootSwATransducerEnabled": {"T_X": true}}})",
         "CaptureConfiguration.FootSwATransducerEnabled.T_X: unknown key"},
        {"other format version", R"({"FormatVersion": 2})", "FormatVersion: 2 is out of range 1 to 1"},
    });
}

TEST_F(ReaderBadInput, NumbersOutsideTheirRange) {
    ExpectFormatErrors({
        {"channel type 11", R"({"EfaChannels": )" + Entries(38, 5, R"({"Type": 11})") + "}",
         "EfaChannels[5].Type: 11 is out of range 0 to 10"},
        {"negative side", R"({"ImuChannels": )" + Entries(38, 0, R"({"Side": -1})") + "}",
         "ImuChannels[0].Side: -1 is out of range 0 to 2"},
        {"insole size 5", R"({"Insoles": [{}, {"Size": 5}]})", "Insoles[1].Size: 5 is out of range 0 to 4"},
        {"foot-switch protocol 3", R"({"CaptureConfiguration": {"FootSwProtocol": 3}})",
         "CaptureConfiguration.FootSwProtocol: 3 is out of range 0 to 2"},
        {"sensor mode 65536", R"({"SensorConfiguration": )" + Entries(38, 37, R"({"SensorMode": 65536})") + "}",
         "SensorConfiguration[37].SensorMode: 65536 is out of range 0 to 65535"},
        {"delay beyond 32 bits", R"({"CaptureConfiguration": {"Analog_ChannelDelay_ms": 4294967296}})",
         "CaptureConfiguration.Analog_ChannelDelay_ms: 4294967296 is out of range 0 to 4294967295"},
        {"enumeration beyond int32", R"({"CaptureConfiguration": {"IMU_AcqPType": -2147483649}})",
         "CaptureConfiguration.IMU_AcqPType: -2147483649 is out of range"},
        {"huge unsigned", R"({"AnalogOutputs": [)" + Entries(40, 3, R"({"ChannelAxis": 18446744073709551615})") +
                              ", " + Entries(40) + "]}",
         "AnalogOutputs[0][3].ChannelAxis: 18446744073709551615 is out of range"},
        {"float beyond 32 bits", R"({"EfaChannels": )" + Entries(38, 0, R"({"Scale": 1e39})") + "}",
         "EfaChannels[0].Scale: 1e+39 is out of the 32-bit float range"},
        {"float that rounds to infinity", R"({"EfaChannels": )" + Entries(38, 0, R"({"FullScale": -3.4028236e38})") + "}",
         "EfaChannels[0].FullScale: -3.4028236e+38 is out of the 32-bit float range"},
        {"negative sample rate", R"({"InsoleImuSampleRate_Hz": -1})", "InsoleImuSampleRate_Hz: -1 is negative"},
    });
    // The limits themselves are accepted.
    const auto c = Load(WriteFile("limits.json", R"({"CaptureConfiguration": {"Analog_ChannelDelay_ms": 4294967295,
        "IMU_AcqPType": -2147483648}, "EfaChannels": )" + Entries(38, 0, R"({"FullScale": 3.4028235e38})") +
                                                     R"(, "AnalogOutputs": [)" + Entries(40, 39, R"({"ChannelAxis": 2147483647})") +
                                                     ", " + Entries(40) + "]}"));
    EXPECT_EQ(c->CaptureConfiguration->get_Analog_ChannelDelay_ms(), 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(c->CaptureConfiguration->get_IMU_AcqPType()), -2147483647 - 1);
    EXPECT_EQ((*c->AnalogOutputChannelAxis)(0, 39), 2147483647);
    EXPECT_EQ((*c->EfaChannelFullScale)[0], FLT_MAX);
}

// Large files of small entries: refused by their real error, or by the
// count of values, at a cost that grows with their size only (time and
// memory are measured by quelto_config_bench). Before, the duplicate-key and
// depth checks made the million objects run for minutes.
TEST_F(ReaderBadInput, HugeShallowFilesAreRefusedByTheirContent) {
    const auto objects = [](int count) {
        std::string text = R"({"EfaChannels": [{})";
        for (int i = 1; i < count; ++i) text += ",{}";
        return text + "]}";
    };
    const auto keys = [](int count, const std::string& tail = "") {
        std::string text = "{";
        for (int i = 0; i < count; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": 0";
        return text + tail + "}";
    };
    std::string nested = R"({"AnalogOutputs": [)" + Entries(40);
    for (int i = 1; i < 30000; ++i) nested += ", [[]]";
    ExpectFormatErrors({
        {"90,000 empty objects", objects(90000), "EfaChannels: expected 38 entries, found 90000"},
        {"50,000 unknown keys", keys(50000), "k0: unknown key"},
        {"a duplicate after 50,000 keys", keys(50000, R"(, "k49999": 1)"), "k49999: duplicate key"},
        {"30,000 nested lists", nested + "]}", "AnalogOutputs: expected 2 entries, found 30000"},
        {"a million empty objects", objects(1000000), "the file holds more than 100000 values"},
        {"100,000 unknown keys", keys(100000), "the file holds more than 100000 values"},
    });
}

TEST_F(ReaderBadInput, ArraysOfTheWrongLength) {
    ExpectFormatErrors({
        {"37 Efa channels", R"({"EfaChannels": )" + Entries(37) + "}", "EfaChannels: expected 38 entries, found 37"},
        {"39 Efa channels", R"({"EfaChannels": )" + Entries(39) + "}", "EfaChannels: expected 38 entries, found 39"},
        {"113 ImuAgm channels", R"({"ImuAgmChannels": )" + Entries(113) + "}",
         "ImuAgmChannels: expected 114 entries, found 113"},
        {"3 insoles", R"({"Insoles": [{}, {}, {}]})", "Insoles: expected 2 entries, found 3"},
        {"41 analog outputs", R"({"AnalogOutputs": [)" + Entries(40) + ", " + Entries(41) + "]}",
         "AnalogOutputs[1]: expected 40 entries, found 41"},
        {"31 analog channel flags",
         R"({"CaptureConfiguration": {"EnabledAnalogChannel": [false)" + Repeat(", false", 30) + "]}}",
         "CaptureConfiguration.EnabledAnalogChannel: expected 32 entries, found 31"},
        {"flag that is not a flag", R"({"CaptureConfiguration": {"EnabledInsole": [true, "yes"]}})",
         "CaptureConfiguration.EnabledInsole[1]: expected true or false"},
    });
}
