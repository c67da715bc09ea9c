#include "StrictJson.h"

#include <unordered_set>
#include <utility>
#include <vector>

namespace QueltoSim::StrictJson {

std::string Member(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }
std::string Element(const std::string& path, std::size_t index) { return path + "[" + std::to_string(index) + "]"; }

std::string LineColumn(std::string_view bytes, std::size_t offset) {
    std::size_t line = 1, lineStart = 0;
    for (std::size_t i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

namespace {

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF), or
// npos when all are well formed.
std::size_t FirstInvalidUtf8(std::string_view s) {
    const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto continuation = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = byte(i);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0) low = 0xA0;   // overlong
            if (b == 0xED) high = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0) low = 0x90;   // overlong
            if (b == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return i;
        }
        if (i + 1 >= s.size() || byte(i + 1) < low || byte(i + 1) > high) return i;
        for (std::size_t k = 2; k < len; ++k) {
            if (!continuation(i + k)) return i;
        }
        i += len;
    }
    return std::string_view::npos;
}

// Builds the document from the parser's events. Objects are filled without
// the container's own key search (which would cost the object's size for
// every key); each open object keeps a hash set of its keys instead.
class Builder final : public nlohmann::json_sax<Json> {
public:
    Builder(std::size_t maxDepth, std::size_t maxValues) : maxDepth_(maxDepth), maxValues_(maxValues) {}

    Json Take() { return std::move(root_); }

    bool null() override { return Put(Json(nullptr)); }
    bool boolean(bool v) override { return Put(Json(v)); }
    bool number_integer(number_integer_t v) override { return Put(Json(v)); }
    bool number_unsigned(number_unsigned_t v) override { return Put(Json(v)); }
    bool number_float(number_float_t v, const string_t&) override { return Put(Json(v)); }
    bool string(string_t& v) override { return Put(Json(std::move(v))); }
    bool binary(binary_t&) override { return false; }  // not produced by the text parser

    bool start_object(std::size_t) override { return Open(Json::object(), true); }
    bool start_array(std::size_t) override { return Open(Json::array(), false); }

    bool key(string_t& key) override {
        Frame& top = frames_.back();
        if (!top.keys.insert(key).second) throw Error(Member(Where(), key) + ": duplicate key");
        top.key = key;
        auto& members = static_cast<Json::object_t::Container&>(top.value->get_ref<Json::object_t&>());
        members.emplace_back(std::move(key), Json());
        top.slot = &members.back().second;
        return true;
    }

    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
        std::string what = e.what();
        if (const std::size_t close = what.find("] "); what.rfind("[json.exception.", 0) == 0 && close != std::string::npos) {
            what.erase(0, close + 2);
        }
        throw Error(what);
    }

private:
    struct Frame {
        Json* value;
        bool object;
        Json* slot = nullptr;  // objects: the value of the last key
        std::string key;       // objects: the last key, for messages
        std::unordered_set<std::string> keys;
    };

    // The key path of the value being parsed inside the innermost container.
    std::string Where() const {
        std::string path;
        for (std::size_t i = 0; i + 1 < frames_.size(); ++i) {
            const Frame& f = frames_[i];
            path = f.object ? Member(path, f.key) : Element(path, f.value->size() - 1);
        }
        return path;
    }

    // Places `v` where the parser is: the root, the last key's value or the
    // end of the innermost list. Returns where it went.
    Json* Place(Json&& v) {
        if (++values_ > maxValues_) throw Error("the file holds more than " + std::to_string(maxValues_) + " values");
        if (frames_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        Frame& top = frames_.back();
        if (top.object) {
            *top.slot = std::move(v);
            return top.slot;
        }
        auto& items = top.value->get_ref<Json::array_t&>();
        items.push_back(std::move(v));
        return &items.back();
    }

    bool Put(Json&& v) {
        Place(std::move(v));
        return true;
    }

    bool Open(Json&& container, bool object) {
        Json* at = Place(std::move(container));
        frames_.push_back(Frame{at, object, nullptr, {}, {}});
        if (frames_.size() > maxDepth_) {
            throw Error(Where() + ": nested deeper than " + std::to_string(maxDepth_) + " levels");
        }
        return true;
    }

    bool Close() {
        frames_.pop_back();
        return true;
    }

    std::size_t maxDepth_;
    std::size_t maxValues_;
    std::size_t values_ = 0;
    Json root_;
    std::vector<Frame> frames_;
};

}  // namespace

void CheckBytes(std::string_view bytes) {
    if (bytes.empty()) throw Error("the file is empty");
    if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
        throw Error("NUL byte at " + LineColumn(bytes, nul));
    }
    if (const std::size_t bad = FirstInvalidUtf8(bytes); bad != std::string_view::npos) {
        throw Error("invalid UTF-8 near " + LineColumn(bytes, bad));
    }
}

Json Parse(std::string_view bytes, std::size_t maxDepth, std::size_t maxValues) {
    Builder builder(maxDepth, maxValues);
    if (!Json::sax_parse(bytes, &builder, nlohmann::json::input_format_t::json, /*strict=*/true,
                         /*ignore_comments=*/true)) {
        throw Error("the text could not be parsed");  // every refusal above throws first
    }
    return builder.Take();
}

}  // namespace QueltoSim::StrictJson
