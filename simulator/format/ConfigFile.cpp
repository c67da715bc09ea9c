#include "ConfigFile.h"

#include "AtomicFile.h"
#include "ConfigurationExport.h"
#include "StrictJson.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <vector>

namespace QueltoSim {

namespace {

namespace D = Quelto::Common::Definitions;
namespace fs = std::filesystem;
using Json = StrictJson::Json;
using Config = D::ConfigurationExportBase;
using ChannelType = Config::ChannelType;
using ChannelSide = Config::ChannelSide;
using System::Drawing::Color;

constexpr int64_t Int32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t UInt32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t ChannelTypeMax = 10;
constexpr int64_t ChannelSideMax = 2;
constexpr int64_t InsoleSizeMax = 4;
constexpr int64_t FootSwProtocolMax = 2;
constexpr int64_t SensorModeMax = 65535;
constexpr int InsoleFlagCount = 2;
constexpr int AnalogChannelCount = 32;
// The format itself is four levels deep; anything far deeper is rejected
// while parsing, before it costs memory.
constexpr std::size_t MaxDepth = 32;
// A file of every key holds about 3,000 values; far more are refused while
// parsing, so that no file under the size limit costs much memory.
constexpr std::size_t MaxValues = 100000;

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Join(const std::string& path, const std::string& key) { return StrictJson::Member(path, key); }
std::string Indexed(const std::string& path, std::size_t i) { return StrictJson::Element(path, i); }

// ------------------------------------------------------ shared key tables
// One table per group of keys, used by both directions so that reader and
// writer cannot drift apart.

using ICapture = D::ICaptureConfiguration;

// A capture property held as a number; `flag` ones are JSON booleans.
struct CaptureInt {
    const char* key;
    int64_t min, max;
    int64_t (*get)(const ICapture&);
    void (*set)(ICapture&, int64_t);
    bool flag = false;
};

#define QUELTO_CAPTURE_VALUE(Name, Min, Max, Flag)                                                     \
    CaptureInt {                                                                                       \
        #Name, Min, Max, [](const ICapture& c) { return static_cast<int64_t>(c.get_##Name()); },       \
            [](ICapture& c, int64_t v) { c.set_##Name(static_cast<decltype(c.get_##Name())>(v)); }, Flag \
    }
#define QUELTO_CAPTURE_INT(Name, Min, Max) QUELTO_CAPTURE_VALUE(Name, Min, Max, false)
#define QUELTO_CAPTURE_FLAG(Name) QUELTO_CAPTURE_VALUE(Name, 0, 1, true)

// Capture keys before "EnabledInsole", in file order.
const CaptureInt CaptureInts[] = {
    QUELTO_CAPTURE_FLAG(ExternalTriggerEnabled),
    QUELTO_CAPTURE_INT(ExternalTriggerActiveLevel, Int32Min, Int32Max),
    QUELTO_CAPTURE_FLAG(ExternalTriggerStopDisabled),
    QUELTO_CAPTURE_INT(ExternalEventActiveLevel, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(IMU_AcqPType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(EMG_AcqPType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(IMU_AcqXType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(EMG_AcqXType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(EMG_IMU_AcqXType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(IMU_AcqBType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(EMG_AcqBType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Insole_BtAcqType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Insole_RfAcqType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Analog_AcqType, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Insole_RfProtocol, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Insole_AccelerometerFullScale, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Insole_GyroscopeFullScale, Int32Min, Int32Max),
};
// Capture keys after "EnabledAnalogChannel".
const CaptureInt CaptureAnalogInts[] = {
    QUELTO_CAPTURE_INT(Analog_TriggerMode, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Analog_VoltageFullScale, Int32Min, Int32Max),
    QUELTO_CAPTURE_INT(Analog_ChannelDelay_ms, 0, UInt32Max),
};
const CaptureInt CaptureProtocol = QUELTO_CAPTURE_INT(FootSwProtocol, 0, FootSwProtocolMax);
#undef QUELTO_CAPTURE_FLAG
#undef QUELTO_CAPTURE_INT
#undef QUELTO_CAPTURE_VALUE

// The four transducers of a foot switch, in file order.
const char* const TransducerKeys[] = {"T_A", "T_1", "T_5", "T_T"};

template <class Transducer, class T>
T TransducerGet(const Transducer& t, int k) {
    switch (k) {
        case 0: return t.get_T_A();
        case 1: return t.get_T_1();
        case 2: return t.get_T_5();
        default: return t.get_T_T();
    }
}
template <class Transducer, class T>
void TransducerSet(Transducer& t, int k, T v) {
    switch (k) {
        case 0: t.set_T_A(v); break;
        case 1: t.set_T_1(v); break;
        case 2: t.set_T_5(v); break;
        default: t.set_T_T(v); break;
    }
}

struct SensorInt {
    const char* key;
    int64_t min, max;
    int64_t (*get)(const D::ISensorConfiguration&);
    void (*set)(D::ISensorConfiguration&, int64_t);
};
#define QUELTO_SENSOR_INT(Name, Min, Max)                                                                     \
    SensorInt {                                                                                               \
        #Name, Min, Max, [](const D::ISensorConfiguration& s) { return static_cast<int64_t>(s.get_##Name()); }, \
            [](D::ISensorConfiguration& s, int64_t v) { s.set_##Name(static_cast<decltype(s.get_##Name())>(v)); } \
    }
const SensorInt SensorInts[] = {
    QUELTO_SENSOR_INT(SensorModel, Int32Min, Int32Max),
    QUELTO_SENSOR_INT(SensorMode, 0, SensorModeMax),
    QUELTO_SENSOR_INT(AccelerometerFullScale, Int32Min, Int32Max),
    QUELTO_SENSOR_INT(GyroscopeFullScale, Int32Min, Int32Max),
};
#undef QUELTO_SENSOR_INT

template <class T>
using Field = Config::Arr<T> Config::*;

// The nine arrays that describe one kind of channel.
struct ChannelBlock {
    const char* key;  // top-level key, also the field prefix in messages
    const char* prefix;
    int count;
    Field<bool> installed, enabled;
    Field<Runtime::String> name, unit;
    Field<float> scale;
    Field<ChannelType> type;
    Field<ChannelSide> side;
    Field<Color> color;
    Field<float> fullScale;
};

#define QUELTO_CHANNEL_BLOCK(Kind, Count)                                                                     \
    ChannelBlock {                                                                                            \
        #Kind "Channels", #Kind, Count, &Config::Installed##Kind##Channels, &Config::Enabled##Kind##Channels, \
            &Config::Kind##ChannelName, &Config::Kind##ChannelUnit, &Config::Kind##ChannelScale,              \
            &Config::Kind##ChannelType, &Config::Kind##ChannelSide, &Config::Kind##ChannelLineColor,          \
            &Config::Kind##ChannelFullScale                                                                   \
    }
const ChannelBlock ChannelBlocks[] = {
    QUELTO_CHANNEL_BLOCK(Efa, SensorCount),
    QUELTO_CHANNEL_BLOCK(Imu, SensorCount),
    QUELTO_CHANNEL_BLOCK(AccFswMap, SensorCount),
    QUELTO_CHANNEL_BLOCK(ImuAgm, ImuAgmCount),
};
#undef QUELTO_CHANNEL_BLOCK

// ---------------------------------------------------------------- reading

class Reader {
public:
    explicit Reader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw Runtime::FormatException("Configuration file '" + file_ + "': " + what);
    }
    [[noreturn]] void FailAt(const std::string& key, const std::string& what) const { Fail(key + ": " + what); }

    bool Bool(const Json& v, const std::string& key) const {
        if (!v.is_boolean()) FailAt(key, "expected true or false, found " + Describe(v));
        return v.get<bool>();
    }

    int64_t Integer(const Json& v, const std::string& key, int64_t min, int64_t max) const {
        const std::string range = std::to_string(min) + " to " + std::to_string(max);
        if (!v.is_number_integer()) FailAt(key, "expected an integer from " + range + ", found " + Describe(v));
        const bool inRange = v.is_number_unsigned() ? v.get<uint64_t>() <= static_cast<uint64_t>(max)
                                                    : v.get<int64_t>() >= min && v.get<int64_t>() <= max;
        if (!inRange) FailAt(key, v.dump() + " is out of range " + range);
        return v.get<int64_t>();
    }

    double Double(const Json& v, const std::string& key) const {
        if (!v.is_number()) FailAt(key, "expected a number, found " + Describe(v));
        const double d = v.get<double>();
        if (!std::isfinite(d)) FailAt(key, v.dump() + " is not a finite number");
        return d;
    }

    // A number that rounds to a finite float; `nonNegative` for rates.
    float Float(const Json& v, const std::string& key, bool nonNegative = false) const {
        // From here on a double rounds to infinity, not to the largest float.
        constexpr double FloatLimit = 0x1.ffffffp127;
        const double d = Double(v, key);
        if (nonNegative && d < 0) FailAt(key, v.dump() + " is negative");
        if (std::abs(d) >= FloatLimit) FailAt(key, v.dump() + " is out of the 32-bit float range");
        if (std::abs(d) > std::numeric_limits<float>::max()) {
            return std::copysign(std::numeric_limits<float>::max(), static_cast<float>(d > 0 ? 1 : -1));
        }
        return static_cast<float>(d);
    }

    Runtime::String Text(const Json& v, const std::string& key) const {
        if (v.is_null()) return std::nullopt;
        if (!v.is_string()) FailAt(key, "expected a string or null, found " + Describe(v));
        return Runtime::Text::FromUtf8(v.get_ref<const std::string&>());
    }

    Color ParseColor(const Json& v, const std::string& key) const {
        const char* expected = "expected a colour \"#RRGGBB\" or \"#AARRGGBB\"";
        if (!v.is_string()) FailAt(key, std::string(expected) + ", found " + Describe(v));
        const std::string& s = v.get_ref<const std::string&>();
        uint32_t argb = 0;
        const bool shapeOk = (s.size() == 7 || s.size() == 9) && s[0] == '#' &&
                             s.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
        if (!shapeOk || std::from_chars(s.data() + 1, s.data() + s.size(), argb, 16).ec != std::errc{}) {
            FailAt(key, std::string(expected) + ", found \"" + s + "\"");
        }
        return Color::FromArgb(s.size() == 7 ? (0xFF000000u | argb) : argb);
    }

    // An array of exactly `count` entries.
    const Json& Array(const Json& v, const std::string& key, std::size_t count) const {
        if (!v.is_array()) FailAt(key, "expected an array of " + std::to_string(count) + " entries, found " + Describe(v));
        if (v.size() != count) {
            FailAt(key, "expected " + std::to_string(count) + " entries, found " + std::to_string(v.size()));
        }
        return v;
    }

private:
    static std::string Describe(const Json& v) {
        switch (v.type()) {
            case Json::value_t::string: return "a string";
            case Json::value_t::array: return "an array";
            case Json::value_t::object: return "an object";
            default: return v.dump();
        }
    }

    std::string file_;
};

// The keys of one JSON object: each is taken at most once; whatever is left
// at the end is an unknown key.
class Fields {
public:
    Fields(const Reader& reader, const Json& object, std::string path)
        : reader_(reader), object_(object), path_(std::move(path)) {
        if (!object.is_object()) reader.FailAt(path_.empty() ? "top level" : path_, "expected an object");
    }
    const Json* Take(const char* key) {
        const auto it = object_.find(key);
        if (it == object_.end()) return nullptr;
        taken_.insert(key);
        return &*it;
    }
    std::string Path(const std::string& key) const { return Join(path_, key); }
    void Finish() const {
        for (const auto& [key, value] : object_.items()) {
            if (!taken_.count(key)) reader_.FailAt(Path(key), "unknown key");
        }
    }

private:
    const Reader& reader_;
    const Json& object_;
    std::string path_;
    std::set<std::string> taken_;
};

// Raw bytes of a file of at most MaxConfigFileBytes.
std::string LoadBytes(const std::string& path, const Reader& reader) {
    std::error_code ec;
    const fs::path p = PathOf(path);
    const fs::file_status status = fs::status(p, ec);
    if (ec || !fs::exists(status)) throw Runtime::FileNotFoundException("Could not find file '" + path + "'.");
    if (!fs::is_regular_file(status)) {
        throw Runtime::FileNotFoundException("Could not find file '" + path + "': not a regular file.");
    }
    const std::uintmax_t size = fs::file_size(p, ec);
    if (!ec && size > MaxConfigFileBytes) {
        reader.Fail("the file is larger than " + std::to_string(MaxConfigFileBytes) + " bytes");
    }
    std::ifstream in(p, std::ios::binary);
    if (!in) throw Runtime::FileNotFoundException("Could not read file '" + path + "'.");
    std::string bytes;
    if (!ec) bytes.reserve(static_cast<std::size_t>(size));
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > MaxConfigFileBytes) {
            reader.Fail("the file is larger than " + std::to_string(MaxConfigFileBytes) + " bytes");
        }
    }
    if (in.bad()) throw Runtime::FileNotFoundException("Could not read file '" + path + "'.");
    return bytes;
}

void ReadChannel(const Reader& r, const Json& v, const std::string& path, Config& c, const ChannelBlock& b, int i) {
    Fields f(r, v, path);
    if (const Json* x = f.Take("Installed")) (*(c.*b.installed))[i] = r.Bool(*x, f.Path("Installed"));
    if (const Json* x = f.Take("Enabled")) (*(c.*b.enabled))[i] = r.Bool(*x, f.Path("Enabled"));
    if (const Json* x = f.Take("Name")) (*(c.*b.name))[i] = r.Text(*x, f.Path("Name"));
    if (const Json* x = f.Take("Unit")) (*(c.*b.unit))[i] = r.Text(*x, f.Path("Unit"));
    if (const Json* x = f.Take("Scale")) (*(c.*b.scale))[i] = r.Float(*x, f.Path("Scale"));
    if (const Json* x = f.Take("Type")) {
        (*(c.*b.type))[i] = static_cast<ChannelType>(r.Integer(*x, f.Path("Type"), 0, ChannelTypeMax));
    }
    if (const Json* x = f.Take("Side")) {
        (*(c.*b.side))[i] = static_cast<ChannelSide>(r.Integer(*x, f.Path("Side"), 0, ChannelSideMax));
    }
    if (const Json* x = f.Take("LineColor")) (*(c.*b.color))[i] = r.ParseColor(*x, f.Path("LineColor"));
    if (const Json* x = f.Take("FullScale")) (*(c.*b.fullScale))[i] = r.Float(*x, f.Path("FullScale"));
    f.Finish();
}

void ReadFlags(const Reader& r, const Json& v, const std::string& path, Runtime::Array<bool, 1>& out, int count) {
    const Json& a = r.Array(v, path, static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out[i] = r.Bool(a[static_cast<std::size_t>(i)], Indexed(path, static_cast<std::size_t>(i)));
}

template <class Transducer>
Runtime::Ref<Transducer> OrNew(Runtime::Ref<Transducer> existing, Runtime::IActivator& activator, const char* className) {
    return existing ? existing : Runtime::CreateInstance<Transducer>(activator, D::CommonAssemblyName, className);
}

// `v` is null when the file leaves the key out; a JSON null is refused like
// any other value that is not an object.
void ReadCapture(const Reader& r, const Json* v, const std::string& path, ICapture& c, Runtime::IActivator& activator) {
    // A fresh object already holds transducer objects; make sure of it, so
    // that every loaded configuration has them.
    c.set_FootSwATransducerEnabled(OrNew(c.get_FootSwATransducerEnabled(), activator, D::FootSwTransducerEnabledClass));
    c.set_FootSwBTransducerEnabled(OrNew(c.get_FootSwBTransducerEnabled(), activator, D::FootSwTransducerEnabledClass));
    c.set_FootSwATransducerThreshold(
        OrNew(c.get_FootSwATransducerThreshold(), activator, D::FootSwTransducerThresholdClass));
    c.set_FootSwBTransducerThreshold(
        OrNew(c.get_FootSwBTransducerThreshold(), activator, D::FootSwTransducerThresholdClass));
    if (!v) return;

    Fields f(r, *v, path);
    const auto values = [&](const auto& table) {
        for (const CaptureInt& n : table) {
            const Json* x = f.Take(n.key);
            if (!x) continue;
            n.set(c, n.flag ? r.Bool(*x, f.Path(n.key)) : r.Integer(*x, f.Path(n.key), n.min, n.max));
        }
    };
    values(CaptureInts);
    if (const Json* x = f.Take("EnabledInsole")) {
        ReadFlags(r, *x, f.Path("EnabledInsole"), Runtime::Deref(c.get_EnabledInsole()), InsoleFlagCount);
    }
    if (const Json* x = f.Take("EnabledAnalogChannel")) {
        ReadFlags(r, *x, f.Path("EnabledAnalogChannel"), Runtime::Deref(c.get_EnabledAnalogChannel()),
                  AnalogChannelCount);
    }
    values(CaptureAnalogInts);
    const auto transducers = [&](const char* key, auto& target, auto read) {
        const Json* x = f.Take(key);
        if (!x) return;
        Fields t(r, *x, f.Path(key));
        for (int k = 0; k < 4; ++k) {
            if (const Json* y = t.Take(TransducerKeys[k])) TransducerSet(target, k, read(*y, t.Path(TransducerKeys[k])));
        }
        t.Finish();
    };
    const auto flag = [&](const Json& y, const std::string& p) { return r.Bool(y, p); };
    const auto threshold = [&](const Json& y, const std::string& p) { return r.Double(y, p); };
    transducers("FootSwATransducerEnabled", *c.get_FootSwATransducerEnabled(), flag);
    transducers("FootSwBTransducerEnabled", *c.get_FootSwBTransducerEnabled(), flag);
    transducers("FootSwATransducerThreshold", *c.get_FootSwATransducerThreshold(), threshold);
    transducers("FootSwBTransducerThreshold", *c.get_FootSwBTransducerThreshold(), threshold);
    if (const Json* x = f.Take(CaptureProtocol.key)) {
        CaptureProtocol.set(c, r.Integer(*x, f.Path(CaptureProtocol.key), CaptureProtocol.min, CaptureProtocol.max));
    }
    f.Finish();
}

void ReadSensors(const Reader& r, const Json& v, const std::string& path, Config& c) {
    const Json& a = r.Array(v, path, SensorCount);
    for (int i = 0; i < SensorCount; ++i) {
        const std::string at = Indexed(path, static_cast<std::size_t>(i));
        Fields f(r, a[static_cast<std::size_t>(i)], at);
        D::ISensorConfiguration& s = Runtime::Deref((*c.SensorConfiguration)[i]);
        for (const SensorInt& n : SensorInts) {
            if (const Json* x = f.Take(n.key)) n.set(s, r.Integer(*x, f.Path(n.key), n.min, n.max));
        }
        f.Finish();
    }
}

void ReadInsoles(const Reader& r, const Json& v, const std::string& path, Config& c) {
    const Json& a = r.Array(v, path, InsoleCount);
    int nullPlotting = 0;
    for (int j = 0; j < InsoleCount; ++j) {
        const std::string at = Indexed(path, static_cast<std::size_t>(j));
        Fields f(r, a[static_cast<std::size_t>(j)], at);
        if (const Json* x = f.Take("Installed")) (*c.InstalledInsoles)[j] = r.Bool(*x, f.Path("Installed"));
        if (const Json* x = f.Take("Enabled")) (*c.EnabledInsoles)[j] = r.Bool(*x, f.Path("Enabled"));
        if (const Json* x = f.Take("PlottingEnabled")) {
            if (x->is_null()) {
                ++nullPlotting;
            } else {
                (*c.PlottingEnabledInsoles)[j] = r.Bool(*x, f.Path("PlottingEnabled"));
            }
        }
        if (nullPlotting != 0 && nullPlotting != j + 1) {
            r.FailAt(f.Path("PlottingEnabled"), "must be null in every insole or in none");
        }
        if (const Json* x = f.Take("Name")) (*c.InsoleName)[j] = r.Text(*x, f.Path("Name"));
        if (const Json* x = f.Take("Unit")) (*c.InsoleUnit)[j] = r.Text(*x, f.Path("Unit"));
        if (const Json* x = f.Take("Scale")) (*c.InsoleScale)[j] = r.Float(*x, f.Path("Scale"));
        if (const Json* x = f.Take("Side")) {
            (*c.InsoleSide)[j] = static_cast<ChannelSide>(r.Integer(*x, f.Path("Side"), 0, ChannelSideMax));
        }
        if (const Json* x = f.Take("Size")) {
            (*c.InsoleSize)[j] = static_cast<D::InsoleSize>(r.Integer(*x, f.Path("Size"), 0, InsoleSizeMax));
        }
        if (const Json* x = f.Take("FullScale")) (*c.InsoleFullScale)[j] = r.Float(*x, f.Path("FullScale"));
        if (const Json* x = f.Take("ImuEnabled")) (*c.EnabledInsoleImuChannels)[j] = r.Bool(*x, f.Path("ImuEnabled"));
        f.Finish();
    }
    if (nullPlotting == InsoleCount) c.PlottingEnabledInsoles = nullptr;
}

void ReadAnalogOutputs(const Reader& r, const Json& v, const std::string& path, Config& c) {
    const Json& rows = r.Array(v, path, AnalogOutputRows);
    for (int a = 0; a < AnalogOutputRows; ++a) {
        const std::string rowPath = Indexed(path, static_cast<std::size_t>(a));
        const Json& row = r.Array(rows[static_cast<std::size_t>(a)], rowPath, AnalogOutputColumns);
        for (int b = 0; b < AnalogOutputColumns; ++b) {
            Fields f(r, row[static_cast<std::size_t>(b)], Indexed(rowPath, static_cast<std::size_t>(b)));
            if (const Json* x = f.Take("ChannelType")) {
                (*c.AnalogOutputChannelType)(a, b) =
                    static_cast<ChannelType>(r.Integer(*x, f.Path("ChannelType"), 0, ChannelTypeMax));
            }
            if (const Json* x = f.Take("SensorNum")) {
                (*c.AnalogOutputSensorNum)(a, b) = static_cast<int32_t>(r.Integer(*x, f.Path("SensorNum"), Int32Min, Int32Max));
            }
            if (const Json* x = f.Take("ChannelAxis")) {
                (*c.AnalogOutputChannelAxis)(a, b) =
                    static_cast<int32_t>(r.Integer(*x, f.Path("ChannelAxis"), Int32Min, Int32Max));
            }
            f.Finish();
        }
    }
}

// ---------------------------------------------------------------- writing

[[noreturn]] void Reject(const std::string& key, const std::string& what) {
    throw Runtime::ArgumentOutOfRangeException(key + ": " + what);
}

template <class T, int Rank>
const Runtime::Array<T, Rank>& Need(const Runtime::ArrayRef<T, Rank>& array, const std::string& field, int count,
                                    int columns = 1) {
    if (!array) throw Runtime::ArgumentException("ConfigurationExportBase." + field + " is null.");
    bool enough = array->GetLength(0) >= count;
    if constexpr (Rank == 2) enough = enough && array->GetLength(1) >= columns;
    if (!enough) {
        throw Runtime::ArgumentException("ConfigurationExportBase." + field + " has fewer than " +
                                         std::to_string(count * columns) + " entries.");
    }
    return *array;
}

// The shortest decimal that reads back as the same float, so that files
// show 0.1 rather than 0.10000000149011612.
Json FloatJson(float f, const std::string& key) {
    if (!std::isfinite(f)) Reject(key, "a NaN or infinite value cannot be written");
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    double d = 0;
    std::from_chars(text, end, d);
    return static_cast<float>(d) == f ? Json(d) : Json(static_cast<double>(f));
}

Json TextJson(const Runtime::String& s) { return s ? Json(Runtime::Text::ToUtf8(*s)) : Json(nullptr); }

Json ColorJson(Color c) {
    char text[10];
    if (c.A() == 0xFF) {
        std::snprintf(text, sizeof text, "#%02X%02X%02X", c.R(), c.G(), c.B());
    } else {
        std::snprintf(text, sizeof text, "#%08X", static_cast<unsigned>(c.ToArgb()));
    }
    return Json(text);
}

Json CheckedInt(int64_t value, const std::string& key, int64_t min, int64_t max) {
    if (value < min || value > max) {
        Reject(key, std::to_string(value) + " is out of range " + std::to_string(min) + " to " + std::to_string(max));
    }
    return Json(value);
}

Json WriteCapture(const ICapture& c) {
    const std::string path = "CaptureConfiguration";
    Json j = Json::object();
    const auto values = [&](const auto& table) {
        for (const CaptureInt& n : table) {
            j[n.key] = n.flag ? Json(n.get(c) != 0) : CheckedInt(n.get(c), Join(path, n.key), n.min, n.max);
        }
    };
    values(CaptureInts);
    const auto flags = [](const Runtime::ArrayRef<bool>& a, const std::string& field, int count) {
        const auto& arr = Need(a, field, count);
        Json out = Json::array();
        for (int i = 0; i < count; ++i) out.push_back(arr[i]);
        return out;
    };
    j["EnabledInsole"] = flags(c.get_EnabledInsole(), "CaptureConfiguration.EnabledInsole", InsoleFlagCount);
    j["EnabledAnalogChannel"] =
        flags(c.get_EnabledAnalogChannel(), "CaptureConfiguration.EnabledAnalogChannel", AnalogChannelCount);
    values(CaptureAnalogInts);
    const auto transducers = [&](const char* key, const auto& object, auto value) {
        if (!object) throw Runtime::ArgumentException("ConfigurationExportBase.CaptureConfiguration." + std::string(key) + " is null.");
        Json t = Json::object();
        for (int k = 0; k < 4; ++k) t[TransducerKeys[k]] = value(*object, k, Join(Join(path, key), TransducerKeys[k]));
        j[key] = std::move(t);
    };
    const auto flag = [](const D::IFootSwTransducerEnabled& t, int k, const std::string&) {
        return Json(TransducerGet<D::IFootSwTransducerEnabled, bool>(t, k));
    };
    const auto threshold = [](const D::IFootSwTransducerThreshold& t, int k, const std::string& key) {
        const double d = TransducerGet<D::IFootSwTransducerThreshold, double>(t, k);
        if (!std::isfinite(d)) Reject(key, "a NaN or infinite value cannot be written");
        return Json(d);
    };
    transducers("FootSwATransducerEnabled", c.get_FootSwATransducerEnabled(), flag);
    transducers("FootSwBTransducerEnabled", c.get_FootSwBTransducerEnabled(), flag);
    transducers("FootSwATransducerThreshold", c.get_FootSwATransducerThreshold(), threshold);
    transducers("FootSwBTransducerThreshold", c.get_FootSwBTransducerThreshold(), threshold);
    j[CaptureProtocol.key] = CheckedInt(CaptureProtocol.get(c), Join(path, CaptureProtocol.key), CaptureProtocol.min,
                                        CaptureProtocol.max);
    return j;
}

Json WriteChannels(const Config& c, const ChannelBlock& b) {
    const std::string p = b.prefix;
    const auto& installed = Need(c.*b.installed, "Installed" + p + "Channels", b.count);
    const auto& enabled = Need(c.*b.enabled, "Enabled" + p + "Channels", b.count);
    const auto& name = Need(c.*b.name, p + "ChannelName", b.count);
    const auto& unit = Need(c.*b.unit, p + "ChannelUnit", b.count);
    const auto& scale = Need(c.*b.scale, p + "ChannelScale", b.count);
    const auto& type = Need(c.*b.type, p + "ChannelType", b.count);
    const auto& side = Need(c.*b.side, p + "ChannelSide", b.count);
    const auto& color = Need(c.*b.color, p + "ChannelLineColor", b.count);
    const auto& fullScale = Need(c.*b.fullScale, p + "ChannelFullScale", b.count);
    Json out = Json::array();
    for (int i = 0; i < b.count; ++i) {
        const std::string at = Indexed(b.key, static_cast<std::size_t>(i));
        Json j = Json::object();
        j["Installed"] = installed[i];
        j["Enabled"] = enabled[i];
        j["Name"] = TextJson(name[i]);
        j["Unit"] = TextJson(unit[i]);
        j["Scale"] = FloatJson(scale[i], Join(at, "Scale"));
        j["Type"] = CheckedInt(static_cast<int64_t>(type[i]), Join(at, "Type"), 0, ChannelTypeMax);
        j["Side"] = CheckedInt(static_cast<int64_t>(side[i]), Join(at, "Side"), 0, ChannelSideMax);
        j["LineColor"] = ColorJson(color[i]);
        j["FullScale"] = FloatJson(fullScale[i], Join(at, "FullScale"));
        out.push_back(std::move(j));
    }
    return out;
}

Json WriteInsoles(const Config& c) {
    const auto& installed = Need(c.InstalledInsoles, "InstalledInsoles", InsoleCount);
    const auto& enabled = Need(c.EnabledInsoles, "EnabledInsoles", InsoleCount);
    if (c.PlottingEnabledInsoles) Need(c.PlottingEnabledInsoles, "PlottingEnabledInsoles", InsoleCount);
    const auto& name = Need(c.InsoleName, "InsoleName", InsoleCount);
    const auto& unit = Need(c.InsoleUnit, "InsoleUnit", InsoleCount);
    const auto& scale = Need(c.InsoleScale, "InsoleScale", InsoleCount);
    const auto& side = Need(c.InsoleSide, "InsoleSide", InsoleCount);
    const auto& size = Need(c.InsoleSize, "InsoleSize", InsoleCount);
    const auto& fullScale = Need(c.InsoleFullScale, "InsoleFullScale", InsoleCount);
    const auto& imu = Need(c.EnabledInsoleImuChannels, "EnabledInsoleImuChannels", InsoleCount);
    Json out = Json::array();
    for (int j = 0; j < InsoleCount; ++j) {
        const std::string at = Indexed("Insoles", static_cast<std::size_t>(j));
        Json o = Json::object();
        o["Installed"] = installed[j];
        o["Enabled"] = enabled[j];
        o["PlottingEnabled"] = c.PlottingEnabledInsoles ? Json((*c.PlottingEnabledInsoles)[j]) : Json(nullptr);
        o["Name"] = TextJson(name[j]);
        o["Unit"] = TextJson(unit[j]);
        o["Scale"] = FloatJson(scale[j], Join(at, "Scale"));
        o["Side"] = CheckedInt(static_cast<int64_t>(side[j]), Join(at, "Side"), 0, ChannelSideMax);
        o["Size"] = CheckedInt(static_cast<int64_t>(size[j]), Join(at, "Size"), 0, InsoleSizeMax);
        o["FullScale"] = FloatJson(fullScale[j], Join(at, "FullScale"));
        o["ImuEnabled"] = imu[j];
        out.push_back(std::move(o));
    }
    return out;
}

Json WriteAnalogOutputs(const Config& c) {
    const auto& type = Need(c.AnalogOutputChannelType, "AnalogOutputChannelType", AnalogOutputRows, AnalogOutputColumns);
    const auto& sensor = Need(c.AnalogOutputSensorNum, "AnalogOutputSensorNum", AnalogOutputRows, AnalogOutputColumns);
    const auto& axis = Need(c.AnalogOutputChannelAxis, "AnalogOutputChannelAxis", AnalogOutputRows, AnalogOutputColumns);
    Json rows = Json::array();
    for (int a = 0; a < AnalogOutputRows; ++a) {
        Json row = Json::array();
        for (int b = 0; b < AnalogOutputColumns; ++b) {
            const std::string at = Indexed(Indexed("AnalogOutputs", static_cast<std::size_t>(a)), static_cast<std::size_t>(b));
            Json o = Json::object();
            o["ChannelType"] = CheckedInt(static_cast<int64_t>(type(a, b)), Join(at, "ChannelType"), 0, ChannelTypeMax);
            o["SensorNum"] = sensor(a, b);
            o["ChannelAxis"] = axis(a, b);
            row.push_back(std::move(o));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string Compact(const Json& v) { return v.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::strict); }

// Indented, except that an object or list holding no other object or list
// stays on one line: one line per channel, sensor or output.
void Print(const Json& v, int depth, std::string& out) {
    const bool flat = std::none_of(v.begin(), v.end(), [](const Json& e) { return e.is_structured(); });
    if (!v.is_structured() || v.empty() || (flat && depth > 0)) {
        out += Compact(v);
        return;
    }
    const std::string inner(static_cast<std::size_t>(depth + 1) * 2, ' ');
    out += v.is_object() ? "{\n" : "[\n";
    bool first = true;
    for (const auto& item : v.items()) {
        if (!first) out += ",\n";
        first = false;
        out += inner;
        if (v.is_object()) out += Compact(Json(item.key())) + ": ";
        Print(item.value(), depth + 1, out);
    }
    out += "\n" + std::string(static_cast<std::size_t>(depth) * 2, ' ') + (v.is_object() ? "}" : "]");
}

}  // namespace

Runtime::Ref<D::ConfigurationExportBase> ReadConfigFile(const std::string& path, Runtime::IActivator& activator) {
    const Reader r(path);
    Json root;
    {
        const std::string bytes = LoadBytes(path, r);
        try {
            StrictJson::CheckBytes(bytes);
            root = StrictJson::Parse(bytes, MaxDepth, MaxValues);
        } catch (const StrictJson::Error& e) {
            r.Fail(e.what());
        }
    }

    Runtime::Ref<Config> config = NewConfigurationExport(activator);
    Config& c = *config;
    Fields top(r, root, "");
    if (const Json* x = top.Take("FormatVersion")) r.Integer(*x, "FormatVersion", ConfigFormatVersion, ConfigFormatVersion);
    ReadCapture(r, top.Take("CaptureConfiguration"), "CaptureConfiguration", Runtime::Deref(c.CaptureConfiguration),
                activator);
    if (const Json* x = top.Take("SensorConfiguration")) ReadSensors(r, *x, "SensorConfiguration", c);
    for (const ChannelBlock& b : ChannelBlocks) {
        const Json* x = top.Take(b.key);
        if (!x) continue;
        const Json& a = r.Array(*x, b.key, static_cast<std::size_t>(b.count));
        for (int i = 0; i < b.count; ++i) {
            ReadChannel(r, a[static_cast<std::size_t>(i)], Indexed(b.key, static_cast<std::size_t>(i)), c, b, i);
        }
    }
    if (const Json* x = top.Take("Insoles")) ReadInsoles(r, *x, "Insoles", c);
    if (const Json* x = top.Take("AnalogOutputs")) ReadAnalogOutputs(r, *x, "AnalogOutputs", c);
    if (const Json* x = top.Take("InsoleSampleRate_Hz")) c.InsoleSampleRate_Hz = r.Float(*x, "InsoleSampleRate_Hz", true);
    if (const Json* x = top.Take("InsoleImuSampleRate_Hz")) {
        c.InsoleImuSampleRate_Hz = r.Float(*x, "InsoleImuSampleRate_Hz", true);
    }
    top.Finish();
    return config;
}

std::string ToConfigText(const D::ConfigurationExportBase& c) {
    if (!c.CaptureConfiguration) throw Runtime::ArgumentException("ConfigurationExportBase.CaptureConfiguration is null.");
    Json root = Json::object();
    root["FormatVersion"] = ConfigFormatVersion;
    root["CaptureConfiguration"] = WriteCapture(*c.CaptureConfiguration);

    const auto& sensors = Need(c.SensorConfiguration, "SensorConfiguration", SensorCount);
    Json sensorJson = Json::array();
    for (int i = 0; i < SensorCount; ++i) {
        const std::string at = Indexed("SensorConfiguration", static_cast<std::size_t>(i));
        if (!sensors[i]) throw Runtime::ArgumentException("ConfigurationExportBase." + at + " is null.");
        Json o = Json::object();
        for (const SensorInt& n : SensorInts) o[n.key] = CheckedInt(n.get(*sensors[i]), Join(at, n.key), n.min, n.max);
        sensorJson.push_back(std::move(o));
    }
    root["SensorConfiguration"] = std::move(sensorJson);
    for (const ChannelBlock& b : ChannelBlocks) root[b.key] = WriteChannels(c, b);
    root["Insoles"] = WriteInsoles(c);
    root["AnalogOutputs"] = WriteAnalogOutputs(c);
    if (c.InsoleSampleRate_Hz < 0) Reject("InsoleSampleRate_Hz", "a sample rate cannot be negative");
    if (c.InsoleImuSampleRate_Hz < 0) Reject("InsoleImuSampleRate_Hz", "a sample rate cannot be negative");
    root["InsoleSampleRate_Hz"] = FloatJson(c.InsoleSampleRate_Hz, "InsoleSampleRate_Hz");
    root["InsoleImuSampleRate_Hz"] = FloatJson(c.InsoleImuSampleRate_Hz, "InsoleImuSampleRate_Hz");
    std::string text;
    Print(root, 0, text);
    return text + "\n";
}

void WriteConfigFile(const std::string& path, const D::ConfigurationExportBase& configuration) {
    WriteFileAtomically(path, ToConfigText(configuration), "configuration file");
}

std::string RxConfigPath(const std::string& deviceLibraryFolder) {
    if (const char* fromEnvironment = std::getenv("QUELTO_SIM_RXCONFIG"); fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    return Runtime::Path::Combine(deviceLibraryFolder, "Quelto.rxconfig.json");
}

}  // namespace QueltoSim
