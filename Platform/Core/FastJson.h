#pragma once
// The fast JSON reader for the library's two large files, over simdjson's document model. It
// keeps the strict rules of Json.h and offers the same conversions and object reader, so the
// records' decoders are written once and read either document.

#include "Platform/Core/Json.h"

#include <concepts>
#include <filesystem>
#include <optional>
#include <simdjson.h>
#include <string_view>

namespace vt::json {

using FastValue = simdjson::dom::element;

// A parsed document; its values live as long as it does.
class FastDocument {
public:
    // Throws JsonError when the text is not JSON this reader takes (the caller may then ask the
    // other reader, which has the last word on what is valid).
    explicit FastDocument(std::string_view text);
    // The same over text that already carries the padding the parser reads past its end: no copy.
    // (Only for that type itself: other text converts to the string view.)
    template <typename Text>
    requires std::same_as<Text, simdjson::padded_string>
    explicit FastDocument(const Text& text) { parsePadded(text); }
    FastDocument(const FastDocument&) = delete;
    FastDocument& operator=(const FastDocument&) = delete;

    FastValue root() const { return rootValue; }

private:
    void parsePadded(const simdjson::padded_string& text);

    simdjson::dom::parser parser;
    FastValue rootValue;
};

// The whole of a regular file with that padding; nothing when it is missing or unreadable.
std::optional<simdjson::padded_string> readPaddedFile(const std::filesystem::path& path);

// The conversions of Json.h for this reader; each throws JsonError on a wrong type or range.
double toDouble(FastValue value);
float toFloat(FastValue value);
std::int64_t toInt(FastValue value);
bool toBool(FastValue value);
std::string toString(FastValue value);
Uuid toUuid(FastValue value);
std::vector<float> toFloats(FastValue value);
simdjson::dom::array requireArray(FastValue value);
simdjson::dom::object requireObject(FastValue value);

// The object reader of Json.h for this reader. A key given twice reads as its last value, as
// the other reader has it.
class FastObjectReader {
public:
    explicit FastObjectReader(FastValue value);

    bool has(std::string_view key) const { return find(key).has_value(); }
    FastValue require(std::string_view key) const;
    std::optional<FastValue> find(std::string_view key) const;

    double requireDouble(std::string_view key) const { return toDouble(require(key)); }
    std::int64_t requireInt(std::string_view key) const { return toInt(require(key)); }
    bool requireBool(std::string_view key) const { return toBool(require(key)); }
    std::string requireString(std::string_view key) const { return toString(require(key)); }
    Uuid requireUuid(std::string_view key) const { return toUuid(require(key)); }
    std::vector<float> requireFloats(std::string_view key) const { return toFloats(require(key)); }

    std::optional<double> optionalDouble(std::string_view key) const;
    std::optional<bool> optionalBool(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;

private:
    simdjson::dom::object object;
};

// One byte of a JSON string's text after its opening quote: notes a backslash escape, and is
// false at the closing quote.
inline bool continuesString(char c, bool& escaped) {
    if (escaped) {
        escaped = false;
        return true;
    }
    if (c == '\\') {
        escaped = true;
        return true;
    }
    return c != '"';
}

// Splits the text of one JSON array into its elements, or of one object into its members, as the
// text arrives. It checks only the container's own grammar (its brackets, commas and the white
// space around them) and leaves each piece to a reader: a document whose pieces all read is valid
// JSON, and a valid document splits into its own elements, so reading the pieces one by one takes
// exactly what reading the whole document takes, in memory near the size of one piece.
class JsonSplitter {
public:
    enum class Container { array, object };
    explicit JsonSplitter(Container container);

    // Takes bytes from the front of text, up to the end of the next whole piece or all of them,
    // and returns how many. Once a piece ends, hasPiece() holds and piece() is its text framed to
    // read on its own (an element after a space, a member between braces), until the next call.
    // Throws JsonError where the container's grammar breaks.
    std::size_t take(std::string_view text);
    bool hasPiece() const { return pieceReady; }
    std::string& piece() { return current; }
    // Throws JsonError unless the container was closed (white space may follow it).
    void finish() const;

private:
    enum class State { start, open, inPiece, closed };
    void beginPiece();
    void endPiece();

    Container container;
    State state = State::start;
    std::string current;
    bool pieceReady = false;
    bool pieceHasValue = false;
    bool inString = false;
    bool escaped = false;
    std::size_t depth = 0;
    std::size_t byteOrderMark = 0; // bytes of a byte order mark at the very start
    bool startedText = false;
};

// Reads the pieces of one array or object, each as it becomes whole: with this reader, or with
// the strict one where this one refuses a piece (the strict reader has the last word).
class JsonPieceReader {
public:
    void finish() const { splitter.finish(); }

protected:
    explicit JsonPieceReader(JsonSplitter::Container container) : splitter(container) {}
    // The piece read by this reader; nothing when it refuses it.
    std::optional<FastValue> readFast();

    JsonSplitter splitter;
    simdjson::dom::parser parser;
};

// The elements of one JSON array: feed() calls onElement(value) for each one that became whole,
// value being a FastValue or a Json. Throws JsonError when the text is no array or an element is
// not JSON; onElement's own exceptions pass through.
class JsonArrayReader : public JsonPieceReader {
public:
    JsonArrayReader() : JsonPieceReader(JsonSplitter::Container::array) {}

    template <typename OnElement> void feed(std::string_view text, OnElement&& onElement) {
        while (!text.empty()) {
            text.remove_prefix(splitter.take(text));
            if (!splitter.hasPiece())
                continue;
            if (auto value = readFast())
                onElement(*value);
            else
                onElement(parse(splitter.piece()));
        }
    }
};

// The members of one JSON object: feed() calls onMember(key, value) for each one that became
// whole, in the document's order (a repeated key comes again). As JsonArrayReader otherwise.
class JsonObjectReader : public JsonPieceReader {
public:
    JsonObjectReader() : JsonPieceReader(JsonSplitter::Container::object) {}

    template <typename OnMember> void feed(std::string_view text, OnMember&& onMember) {
        while (!text.empty()) {
            text.remove_prefix(splitter.take(text));
            if (!splitter.hasPiece())
                continue;
            if (auto value = readFast()) {
                for (auto field : requireObject(*value))
                    onMember(field.key, field.value);
            } else {
                const Json member = parse(splitter.piece());
                for (const auto& [key, field] : member.items())
                    onMember(std::string_view(key), field);
            }
        }
    }
};

// The object reader that fits each document.
inline ObjectReader readObject(const Json& value) {
    return ObjectReader(value);
}
inline FastObjectReader readObject(FastValue value) {
    return FastObjectReader(value);
}

} // namespace vt::json
