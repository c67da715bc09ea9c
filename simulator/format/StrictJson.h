// The strict JSON layer under the configuration file: checks the raw bytes
// and parses them into a document, refusing what the parser alone would let
// through or merge (NUL bytes, invalid UTF-8 in comments, duplicate keys,
// deep nesting). Time and memory are linear in the input's size.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace QueltoSim::StrictJson {

// Objects keep the order of their keys in the file.
using Json = nlohmann::ordered_json;

// Every problem of the text; what() is "<where>: <what>" or a position, as
// the file format's error table gives it.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Key paths as messages write them: "EfaChannels[5].Scale".
std::string Member(const std::string& path, const std::string& key);
std::string Element(const std::string& path, std::size_t index);

// "line L, column C" of a byte offset; both count from 1, columns in bytes.
std::string LineColumn(std::string_view bytes, std::size_t offset);

// Refuses empty input, NUL bytes and invalid UTF-8 anywhere.
void CheckBytes(std::string_view bytes);

// Parses one JSON value; comments are allowed. Refuses syntax errors (the
// parser's message), a key given twice in one object and containers nested
// more than `maxDepth` levels, both named by their key path, and documents
// of more than `maxValues` values (containers count too), which bounds the
// memory the document takes whatever the input.
Json Parse(std::string_view bytes, std::size_t maxDepth, std::size_t maxValues);

}  // namespace QueltoSim::StrictJson
