// Blocks, configuration objects and configuration files as the managed
// assemblies read and write them: fields and properties by name.
#include "BlockGenerator.h"
#include "ConfigFile.h"
#include "ConfigurationClasses.h"
#include "SdkBlockFields.h"
#include "ShimSupport.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <variant>

namespace D = Quelto::Common::Definitions;
using QueltoSimShim::Guard;

namespace {

// ------------------------------------------------------------- blocks

using E = D::DataAvailableEventArgs;
using BlockMember =
    std::variant<int32_t E::*, uint16_t E::*, bool E::*, Runtime::ArrayRef<float, 1> E::*,
                 Runtime::ArrayRef<float, 2> E::*, Runtime::ArrayRef<float, 3> E::*,
                 Runtime::ArrayRef<int16_t, 1> E::*, Runtime::ArrayRef<uint16_t, 1> E::*>;

struct BlockField {
    const char* name;
    BlockMember member;
};

// In the order of the SDK's data event, from the one list of its fields.
#define QSS_FIELD(Name, ...) BlockField{#Name, &E::Name},
const BlockField kBlockFields[] = {QUELTO_BLOCK_FIELDS(QSS_FIELD, QSS_FIELD, QSS_FIELD, QUELTO_BLOCK_SKIP)};
#undef QSS_FIELD
constexpr int kBlockFieldCount = static_cast<int>(std::size(kBlockFields));

const BlockField* FieldAt(int field) {
    return field >= 0 && field < kBlockFieldCount ? &kBlockFields[field] : nullptr;
}

template <class T>
struct IsArrayRef : std::false_type {};
template <class T, int R>
struct IsArrayRef<Runtime::ArrayRef<T, R>> : std::true_type {};

template <class T, int R>
Runtime::ArrayRef<T, R> MakeArray(const int32_t* x) {
    if constexpr (R == 1) return Runtime::NewArray<T>(x[0]);
    else if constexpr (R == 2) return Runtime::NewArray<T>(x[0], x[1]);
    else return Runtime::NewArray<T>(x[0], x[1], x[2]);
}

template <class T, int R>
void AssignArray(Runtime::ArrayRef<T, R>& target, int rank, const int32_t* extents, const void* data) {
    if (rank < 0) {
        target.reset();
        return;
    }
    if (rank != R) throw Runtime::ArgumentException("The array has rank " + std::to_string(R) + ".");
    auto a = MakeArray<T, R>(extents);
    if (a->Length()) std::memcpy(a->Data(), data, a->Length() * sizeof(T));
    target = std::move(a);
}

// ------------------------------------------------- configuration objects

template <class T>
double ToNumber(T v) {
    if constexpr (std::is_enum_v<T>) return static_cast<double>(static_cast<int64_t>(v));
    else if constexpr (std::is_same_v<T, bool>) return v ? 1.0 : 0.0;
    else return static_cast<double>(v);
}

template <class T>
T FromNumber(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else if constexpr (std::is_same_v<T, bool>) {
        return v != 0;
    } else {
        const int64_t n = std::isfinite(v) && std::fabs(v) < 9.0e18 ? static_cast<int64_t>(v) : 0;
        if constexpr (std::is_enum_v<T>) return static_cast<T>(static_cast<int32_t>(n));
        else return static_cast<T>(n);
    }
}

template <class I>
struct NumberProperty {
    const char* name;
    double (*get)(const I&);
    void (*set)(I&, double);
};

#define QSS_NUMBER(I, Name)                                                             \
    NumberProperty<I> {                                                                 \
        #Name, [](const I& c) { return ToNumber(c.get_##Name()); },                     \
            [](I& c, double v) { c.set_##Name(FromNumber<decltype(c.get_##Name())>(v)); } \
    }

using Cap = D::ICaptureConfiguration;
const NumberProperty<Cap> kCaptureNumbers[] = {
    QSS_NUMBER(Cap, ExternalTriggerEnabled),     QSS_NUMBER(Cap, ExternalTriggerActiveLevel),
    QSS_NUMBER(Cap, ExternalTriggerStopDisabled), QSS_NUMBER(Cap, ExternalEventActiveLevel),
    QSS_NUMBER(Cap, IMU_AcqPType),               QSS_NUMBER(Cap, EMG_AcqPType),
    QSS_NUMBER(Cap, IMU_AcqXType),               QSS_NUMBER(Cap, EMG_AcqXType),
    QSS_NUMBER(Cap, EMG_IMU_AcqXType),           QSS_NUMBER(Cap, IMU_AcqBType),
    QSS_NUMBER(Cap, EMG_AcqBType),               QSS_NUMBER(Cap, Insole_BtAcqType),
    QSS_NUMBER(Cap, Insole_RfAcqType),           QSS_NUMBER(Cap, Analog_AcqType),
    QSS_NUMBER(Cap, Insole_RfProtocol),          QSS_NUMBER(Cap, Insole_AccelerometerFullScale),
    QSS_NUMBER(Cap, Insole_GyroscopeFullScale),  QSS_NUMBER(Cap, Analog_TriggerMode),
    QSS_NUMBER(Cap, Analog_VoltageFullScale),    QSS_NUMBER(Cap, Analog_ChannelDelay_ms),
    QSS_NUMBER(Cap, FootSwProtocol),
};
using Sen = D::ISensorConfiguration;
const NumberProperty<Sen> kSensorNumbers[] = {
    QSS_NUMBER(Sen, SensorModel),
    QSS_NUMBER(Sen, SensorMode),
    QSS_NUMBER(Sen, AccelerometerFullScale),
    QSS_NUMBER(Sen, GyroscopeFullScale),
};
using FsE = D::IFootSwTransducerEnabled;
const NumberProperty<FsE> kEnabledNumbers[] = {QSS_NUMBER(FsE, T_A), QSS_NUMBER(FsE, T_1), QSS_NUMBER(FsE, T_5),
                                              QSS_NUMBER(FsE, T_T)};
using FsT = D::IFootSwTransducerThreshold;
const NumberProperty<FsT> kThresholdNumbers[] = {QSS_NUMBER(FsT, T_A), QSS_NUMBER(FsT, T_1), QSS_NUMBER(FsT, T_5),
                                                QSS_NUMBER(FsT, T_T)};
#undef QSS_NUMBER

// The capture configuration's object properties.
struct ObjectProperty {
    const char* name;
    Runtime::Ref<Runtime::Object> (*get)(const Cap&);
    void (*set)(Cap&, bool makeNew);  // false: null
};
#define QSS_OBJECT(Name, Class)                                                                     \
    ObjectProperty {                                                                                \
        #Name, [](const Cap& c) -> Runtime::Ref<Runtime::Object> { return c.get_##Name(); },        \
            [](Cap& c, bool makeNew) { c.set_##Name(makeNew ? std::make_shared<Class>() : nullptr); } \
    }
const ObjectProperty kCaptureObjects[] = {
    QSS_OBJECT(FootSwATransducerEnabled, QueltoSim::FootSwTransducerEnabled),
    QSS_OBJECT(FootSwBTransducerEnabled, QueltoSim::FootSwTransducerEnabled),
    QSS_OBJECT(FootSwATransducerThreshold, QueltoSim::FootSwTransducerThreshold),
    QSS_OBJECT(FootSwBTransducerThreshold, QueltoSim::FootSwTransducerThreshold),
};
#undef QSS_OBJECT

[[noreturn]] void NoProperty(std::string_view name) {
    throw Runtime::ArgumentException("No property '" + std::string(name) + "'.");
}

template <class I, size_t N>
const NumberProperty<I>* FindNumber(const NumberProperty<I> (&table)[N], std::string_view name) {
    for (const auto& p : table) {
        if (name == p.name) return &p;
    }
    return nullptr;
}

const ObjectProperty& FindObject(std::string_view name) {
    for (const auto& p : kCaptureObjects) {
        if (name == p.name) return p;
    }
    NoProperty(name);
}

// Applies `f` to the number property `name` of `o` ("Object.Property"
// reaches into a capture configuration's objects).
template <class F>
void WithNumber(const Runtime::Ref<Runtime::Object>& o, std::string_view name, F&& f) {
    if (const auto dot = name.find('.'); dot != std::string_view::npos) {
        auto cap = std::dynamic_pointer_cast<Cap>(o);
        if (!cap) NoProperty(name);
        auto inner = FindObject(name.substr(0, dot)).get(*cap);
        if (!inner) throw Runtime::NullReferenceException();
        return WithNumber(inner, name.substr(dot + 1), f);
    }
    if (auto c = std::dynamic_pointer_cast<Cap>(o)) {
        if (auto p = FindNumber(kCaptureNumbers, name)) return f(*c, *p);
    } else if (auto s = std::dynamic_pointer_cast<Sen>(o)) {
        if (auto p = FindNumber(kSensorNumbers, name)) return f(*s, *p);
    } else if (auto e = std::dynamic_pointer_cast<FsE>(o)) {
        if (auto p = FindNumber(kEnabledNumbers, name)) return f(*e, *p);
    } else if (auto t = std::dynamic_pointer_cast<FsT>(o)) {
        if (auto p = FindNumber(kThresholdNumbers, name)) return f(*t, *p);
    }
    NoProperty(name);
}

Cap& CaptureOf(const QueltoSimShim_Object* object) {
    auto* c = dynamic_cast<Cap*>(object->o.get());
    if (!c) throw Runtime::InvalidCastException("The object is not a capture configuration.");
    return *c;
}

Runtime::ArrayRef<bool> FlagsOf(const QueltoSimShim_Object* object, std::string_view name) {
    const Cap& c = CaptureOf(object);
    if (name == "EnabledInsole") return c.get_EnabledInsole();
    if (name == "EnabledAnalogChannel") return c.get_EnabledAnalogChannel();
    NoProperty(name);
}

// ------------------------------------------------- configuration export

using X = D::ConfigurationExportBase;
template <class T>
using XArr = Runtime::ArrayRef<T, 1> X::*;
using ConfigMember =
    std::variant<XArr<bool>, XArr<Runtime::String>, XArr<float>, XArr<X::ChannelType>, XArr<X::ChannelSide>,
                 XArr<X::Color>, XArr<D::InsoleSize>, Runtime::ArrayRef<X::ChannelType, 2> X::*,
                 Runtime::ArrayRef<int32_t, 2> X::*, float X::*>;
struct ConfigField {
    const char* name;
    ConfigMember member;
};

#define QSS_CFG(Name) ConfigField{#Name, &X::Name}
#define QSS_CHANNELS(P)                                                                                    \
    QSS_CFG(Installed##P##Channels), QSS_CFG(Enabled##P##Channels), QSS_CFG(P##ChannelName),                \
        QSS_CFG(P##ChannelUnit), QSS_CFG(P##ChannelScale), QSS_CFG(P##ChannelType), QSS_CFG(P##ChannelSide), \
        QSS_CFG(P##ChannelLineColor), QSS_CFG(P##ChannelFullScale)
const ConfigField kConfigFields[] = {
    QSS_CHANNELS(Efa), QSS_CHANNELS(Imu), QSS_CHANNELS(AccFswMap), QSS_CHANNELS(ImuAgm),
    QSS_CFG(AnalogOutputChannelType), QSS_CFG(AnalogOutputSensorNum), QSS_CFG(AnalogOutputChannelAxis),
    QSS_CFG(InstalledInsoles), QSS_CFG(EnabledInsoles), QSS_CFG(PlottingEnabledInsoles), QSS_CFG(InsoleName),
    QSS_CFG(InsoleUnit), QSS_CFG(InsoleScale), QSS_CFG(InsoleSide), QSS_CFG(InsoleSize), QSS_CFG(InsoleFullScale),
    QSS_CFG(EnabledInsoleImuChannels), QSS_CFG(InsoleSampleRate_Hz), QSS_CFG(InsoleImuSampleRate_Hz),
};
#undef QSS_CHANNELS
#undef QSS_CFG

const ConfigField* FindConfig(const char* name) {
    if (!name) return nullptr;
    for (const auto& f : kConfigFields) {
        if (std::strcmp(f.name, name) == 0) return &f;
    }
    return nullptr;
}

// One element of a configuration array as the 32-bit or byte value copied out.
template <class T>
void PutElement(void* target, size_t i, const T& v) {
    if constexpr (std::is_same_v<T, bool>) {
        static_cast<uint8_t*>(target)[i] = v ? 1 : 0;
    } else if constexpr (std::is_same_v<T, float>) {
        static_cast<float*>(target)[i] = v;
    } else if constexpr (std::is_same_v<T, X::Color>) {
        static_cast<uint32_t*>(target)[i] = v.ToArgb();
    } else if constexpr (std::is_enum_v<T>) {
        static_cast<int32_t*>(target)[i] = static_cast<int32_t>(v);
    } else if constexpr (std::is_same_v<T, int32_t>) {
        static_cast<int32_t*>(target)[i] = v;
    } else {
        throw Runtime::ArgumentException("The field holds text.");
    }
}

}  // namespace

extern "C" {

// ------------------------------------------------------------- blocks

int QueltoSimShim_BlockFieldId(const char* name) {
    for (int i = 0; name && i < kBlockFieldCount; ++i) {
        if (std::strcmp(kBlockFields[i].name, name) == 0) return i;
    }
    return -1;
}

int64_t QueltoSimShim_BlockScalar(const QueltoSimShim_Block* block, int field) {
    const BlockField* f = FieldAt(field);
    if (!f || !block || !block->e) return 0;
    return std::visit(
        [&](auto m) -> int64_t {
            using T = std::remove_cvref_t<decltype(block->e.get()->*m)>;
            if constexpr (IsArrayRef<T>::value) return 0;
            else return static_cast<int64_t>(block->e.get()->*m);
        },
        f->member);
}

int QueltoSimShim_BlockShape(const QueltoSimShim_Block* block, int field, int32_t extents[3]) {
    const BlockField* f = FieldAt(field);
    if (!f || !block || !block->e) return -2;
    return std::visit(
        [&](auto m) -> int {
            using T = std::remove_cvref_t<decltype(block->e.get()->*m)>;
            if constexpr (!IsArrayRef<T>::value) {
                return -2;
            } else {
                const auto& a = block->e.get()->*m;
                if (!a) return -1;
                constexpr int rank = T::element_type::rank;
                for (int d = 0; d < 3; ++d) extents[d] = d < rank ? a->GetLength(d) : 0;
                return rank;
            }
        },
        f->member);
}

int QueltoSimShim_BlockCopy(const QueltoSimShim_Block* block, int field, void* target, int64_t bytes) {
    const BlockField* f = FieldAt(field);
    if (!f || !block || !block->e) return -1;
    return std::visit(
        [&](auto m) -> int {
            using T = std::remove_cvref_t<decltype(block->e.get()->*m)>;
            if constexpr (!IsArrayRef<T>::value) {
                return -1;
            } else {
                const auto& a = block->e.get()->*m;
                const int64_t size = a ? static_cast<int64_t>(a->Length() * sizeof(typename T::element_type::value_type)) : 0;
                if (size != bytes) return -1;
                if (size) std::memcpy(target, a->Data(), static_cast<size_t>(size));
                return 0;
            }
        },
        f->member);
}

void QueltoSimShim_BlockFree(QueltoSimShim_Block* block) { delete block; }

QueltoSimShim_Block* QueltoSimShim_BlockNew(void) {
    return new QueltoSimShim_Block{std::make_shared<D::DataAvailableEventArgs>()};
}

int QueltoSimShim_BlockSetScalar(QueltoSimShim_Block* block, int field, int64_t value) {
    return Guard([&] {
        const BlockField* f = FieldAt(field);
        if (!f) throw Runtime::ArgumentOutOfRangeException("No block field " + std::to_string(field) + ".");
        std::visit(
            [&](auto m) {
                using T = std::remove_cvref_t<decltype(block->e.get()->*m)>;
                if constexpr (IsArrayRef<T>::value) {
                    throw Runtime::ArgumentException(std::string("The field is an array: ") + f->name);
                } else {
                    block->e.get()->*m = static_cast<T>(value);
                }
            },
            f->member);
    });
}

int QueltoSimShim_BlockSetArray(QueltoSimShim_Block* block, int field, int rank, const int32_t* extents,
                                const void* data) {
    return Guard([&] {
        const BlockField* f = FieldAt(field);
        if (!f) throw Runtime::ArgumentOutOfRangeException("No block field " + std::to_string(field) + ".");
        std::visit(
            [&](auto m) {
                using T = std::remove_cvref_t<decltype(block->e.get()->*m)>;
                if constexpr (!IsArrayRef<T>::value) {
                    throw Runtime::ArgumentException(std::string("The field is no array: ") + f->name);
                } else {
                    AssignArray(block->e.get()->*m, rank, extents, data);
                }
            },
            f->member);
    });
}

// ---------------------------------------------------------- generator

struct QueltoSimShim_Generator {
    explicit QueltoSimShim_Generator(uint64_t seed) : generator(seed) {}
    QueltoSim::BlockGenerator generator;
};

int QueltoSimShim_GeneratorCreate(uint64_t seed, QueltoSimShim_Object* capture, int32_t period,
                                  QueltoSimShim_Generator** generator) {
    return Guard([&] {
        const auto numbers =
            capture ? QueltoSim::CaptureNumbers::From(CaptureOf(capture)) : QueltoSim::CaptureNumbers::Defaults();
        auto g = std::make_unique<QueltoSimShim_Generator>(seed);
        const std::array<QueltoSim::SensorNumbers, QueltoSim::Sensors> sensors{};
        g->generator.Start(QueltoSim::DevicePlan::Resolve(numbers, sensors),
                           QueltoSim::BlockPeriod(static_cast<D::DataAvailableEventPeriod>(period)));
        *generator = g.release();
    });
}

QueltoSimShim_Block* QueltoSimShim_GeneratorNext(QueltoSimShim_Generator* generator) {
    return new QueltoSimShim_Block{generator->generator.Next()};
}

void QueltoSimShim_GeneratorFree(QueltoSimShim_Generator* generator) { delete generator; }

// ------------------------------------------------- configuration objects

int QueltoSimShim_ObjectNew(const char* className, int32_t insoles, int32_t analogChannels,
                            QueltoSimShim_Object** object) {
    return Guard([&] {
        std::string_view name = className ? className : "";
        if (name.starts_with("Quelto.Common.Definitions.")) name.remove_prefix(26);
        Runtime::Ref<Runtime::Object> o;
        if (name == "CaptureConfiguration") o = std::make_shared<QueltoSim::CaptureConfiguration>(insoles, analogChannels);
        else if (name == "SensorConfiguration") o = std::make_shared<QueltoSim::SensorConfiguration>();
        else if (name == "FootSwTransducerEnabled") o = std::make_shared<QueltoSim::FootSwTransducerEnabled>();
        else if (name == "FootSwTransducerThreshold") o = std::make_shared<QueltoSim::FootSwTransducerThreshold>();
        else throw Runtime::TypeLoadException("No configuration class '" + std::string(name) + "'.");
        *object = new QueltoSimShim_Object{std::move(o)};
    });
}

void QueltoSimShim_ObjectFree(QueltoSimShim_Object* object) { delete object; }

int QueltoSimShim_ObjectSet(QueltoSimShim_Object* object, const char* property, double value) {
    return Guard([&] {
        WithNumber(object->o, property ? property : "", [&](auto& o, const auto& p) { p.set(o, value); });
    });
}

int QueltoSimShim_ObjectGet(const QueltoSimShim_Object* object, const char* property, double* value) {
    return Guard([&] {
        WithNumber(object->o, property ? property : "", [&](const auto& o, const auto& p) { *value = p.get(o); });
    });
}

int QueltoSimShim_ObjectHas(const QueltoSimShim_Object* object, const char* property) {
    int has = 0;
    const int rc = Guard([&] { has = FindObject(property ? property : "").get(CaptureOf(object)) ? 1 : 0; });
    return rc == 0 ? has : -1;
}

int QueltoSimShim_ObjectSetNull(QueltoSimShim_Object* object, const char* property) {
    return Guard([&] { FindObject(property ? property : "").set(CaptureOf(object), false); });
}

int QueltoSimShim_ObjectSetNew(QueltoSimShim_Object* object, const char* property) {
    return Guard([&] { FindObject(property ? property : "").set(CaptureOf(object), true); });
}

int QueltoSimShim_ObjectFlagCount(const QueltoSimShim_Object* object, const char* property) {
    int count = -1;
    const int rc = Guard([&] {
        auto a = FlagsOf(object, property ? property : "");
        count = a ? static_cast<int>(a->Length()) : -1;
    });
    return rc == 0 ? count : -2;
}

int QueltoSimShim_ObjectGetFlags(const QueltoSimShim_Object* object, const char* property, uint8_t* flags,
                                 int32_t count) {
    return Guard([&] {
        auto a = FlagsOf(object, property ? property : "");
        for (int32_t i = 0; a && i < count && static_cast<size_t>(i) < a->Length(); ++i) flags[i] = (*a)[i] ? 1 : 0;
    });
}

int QueltoSimShim_ObjectSetFlags(QueltoSimShim_Object* object, const char* property, const uint8_t* flags,
                                 int32_t count) {
    return Guard([&] {
        auto a = FlagsOf(object, property ? property : "");
        for (int32_t i = 0; a && i < count && static_cast<size_t>(i) < a->Length(); ++i) (*a)[i] = flags[i] != 0;
    });
}

// ------------------------------------------------- configuration file

int QueltoSimShim_ConfigRead(const char* path, QueltoSimShim_Config** config) {
    return Guard([&] {
        if (!path) throw Runtime::ArgumentNullException("Value cannot be null.\nParameter name: path");
        *config = new QueltoSimShim_Config{QueltoSim::ReadConfigFile(path, QueltoSimShim::Activator())};
    });
}

void QueltoSimShim_ConfigFree(QueltoSimShim_Config* config) { delete config; }

int QueltoSimShim_ConfigShape(const QueltoSimShim_Config* config, const char* field, int32_t extents[2]) {
    const ConfigField* f = FindConfig(field);
    if (!f || !config || !config->c) return -2;
    return std::visit(
        [&](auto m) -> int {
            using T = std::remove_cvref_t<decltype(config->c.get()->*m)>;
            if constexpr (!IsArrayRef<T>::value) {
                return 0;
            } else {
                const auto& a = config->c.get()->*m;
                if (!a) return -1;
                constexpr int rank = T::element_type::rank;
                for (int d = 0; d < 2; ++d) extents[d] = d < rank ? a->GetLength(d) : 0;
                return rank;
            }
        },
        f->member);
}

int QueltoSimShim_ConfigCopy(const QueltoSimShim_Config* config, const char* field, void* target, int32_t count) {
    return Guard([&] {
        const ConfigField* f = FindConfig(field);
        if (!f) throw Runtime::ArgumentException("No configuration field '" + std::string(field ? field : "") + "'.");
        std::visit(
            [&](auto m) {
                using T = std::remove_cvref_t<decltype(config->c.get()->*m)>;
                if constexpr (!IsArrayRef<T>::value) {
                    throw Runtime::ArgumentException(std::string("The field is no array: ") + f->name);
                } else {
                    const auto& a = config->c.get()->*m;
                    if (!a || a->Length() != static_cast<size_t>(count)) {
                        throw Runtime::ArgumentException(std::string("Element count differs: ") + f->name);
                    }
                    for (size_t i = 0; i < a->Length(); ++i) PutElement(target, i, a->Data()[i]);
                }
            },
            f->member);
    });
}

int QueltoSimShim_ConfigString(const QueltoSimShim_Config* config, const char* field, int32_t index, uint16_t* text,
                               int32_t capacity) {
    const ConfigField* f = FindConfig(field);
    if (!f || !config || !config->c) return -2;
    const auto* member = std::get_if<XArr<Runtime::String>>(&f->member);
    if (!member) return -2;
    const auto& a = config->c.get()->**member;
    if (!a || index < 0 || static_cast<size_t>(index) >= a->Length()) return -2;
    const Runtime::String& s = (*a)[index];
    if (!s) return -1;
    for (size_t i = 0; text && i < s->size() && i < static_cast<size_t>(std::max(capacity, 0)); ++i) text[i] = (*s)[i];
    return static_cast<int>(s->size());
}

int QueltoSimShim_ConfigFloat(const QueltoSimShim_Config* config, const char* field, float* value) {
    return Guard([&] {
        const ConfigField* f = FindConfig(field);
        const auto* member = f ? std::get_if<float X::*>(&f->member) : nullptr;
        if (!member) throw Runtime::ArgumentException("No number field '" + std::string(field ? field : "") + "'.");
        *value = config->c.get()->**member;
    });
}

QueltoSimShim_Object* QueltoSimShim_ConfigObject(const QueltoSimShim_Config* config, const char* field, int32_t index) {
    if (!config || !config->c || !field) return nullptr;
    Runtime::Ref<Runtime::Object> o;
    if (std::strcmp(field, "CaptureConfiguration") == 0) {
        o = config->c->CaptureConfiguration;
    } else if (std::strcmp(field, "SensorConfiguration") == 0) {
        const auto& a = config->c->SensorConfiguration;
        if (a && index >= 0 && static_cast<size_t>(index) < a->Length()) o = (*a)[index];
    }
    return o ? new QueltoSimShim_Object{std::move(o)} : nullptr;
}

}  // extern "C"
