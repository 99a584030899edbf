#include "Platform/Core/FastJson.h"

#include <array>

namespace vt::json {

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw JsonError(message);
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr std::string_view byteOrderMarkText = "\xEF\xBB\xBF";

// The position of the first quote or backslash in text from at (or its end).
std::size_t skipPlainText(std::string_view text, std::size_t at) {
    while (at < text.size() && text[at] != '"' && text[at] != '\\')
        ++at;
    return at;
}

// The position of the first quote or bracket in text from at (or its end).
std::size_t skipInnerText(std::string_view text, std::size_t at) {
    static constexpr auto marks = [] {
        std::array<bool, 256> table{};
        for (unsigned char c : std::string_view("\"[]{}"))
            table[c] = true;
        return table;
    }();
    while (at < text.size() && !marks[static_cast<unsigned char>(text[at])])
        ++at;
    return at;
}

} // namespace

FastDocument::FastDocument(std::string_view text) {
    auto parsed = parser.parse(text.data(), text.size(), true);
    if (parsed.error())
        fail(std::string("The data is not valid JSON: ") + simdjson::error_message(parsed.error()));
    rootValue = parsed.value_unsafe();
}

void FastDocument::parsePadded(const simdjson::padded_string& text) {
    auto parsed = parser.parse(text);
    if (parsed.error())
        fail(std::string("The data is not valid JSON: ") + simdjson::error_message(parsed.error()));
    rootValue = parsed.value_unsafe();
}

std::optional<simdjson::padded_string> readPaddedFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    auto loaded = simdjson::padded_string::load(path.string());
    if (loaded.error())
        return std::nullopt;
    return std::move(loaded).value_unsafe();
}

double toDouble(FastValue value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
        return value.get_double().value_unsafe();
    default:
        fail("Expected a number");
    }
}

float toFloat(FastValue value) {
    return floatFromDouble(toDouble(value));
}

std::int64_t toInt(FastValue value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return value.get_int64().value_unsafe();
    case simdjson::dom::element_type::UINT64:
        return integerFromUnsigned(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
        return integerFromDouble(value.get_double().value_unsafe());
    default:
        fail("Expected an integer");
    }
}

bool toBool(FastValue value) {
    if (!value.is_bool())
        fail("Expected true or false");
    return value.get_bool().value_unsafe();
}

std::string toString(FastValue value) {
    if (!value.is_string())
        fail("Expected a string");
    return std::string(value.get_string().value_unsafe());
}

Uuid toUuid(FastValue value) {
    if (!value.is_string())
        fail("Expected a string");
    auto uuid = Uuid::parse(value.get_string().value_unsafe());
    if (!uuid)
        fail("Expected a UUID string");
    return *uuid;
}

std::vector<float> toFloats(FastValue value) {
    auto elements = requireArray(value);
    std::vector<float> result;
    result.reserve(elements.size());
    for (FastValue element : elements)
        result.push_back(toFloat(element));
    return result;
}

simdjson::dom::array requireArray(FastValue value) {
    if (!value.is_array())
        fail("Expected an array");
    return value.get_array().value_unsafe();
}

simdjson::dom::object requireObject(FastValue value) {
    if (!value.is_object())
        fail("Expected an object");
    return value.get_object().value_unsafe();
}

FastObjectReader::FastObjectReader(FastValue value) : object(requireObject(value)) {}

std::optional<FastValue> FastObjectReader::find(std::string_view key) const {
    std::optional<FastValue> found;
    for (auto field : object)
        if (field.key == key)
            found = field.value;
    if (found && found->is_null())
        return std::nullopt;
    return found;
}

FastValue FastObjectReader::require(std::string_view key) const {
    auto value = find(key);
    if (!value)
        fail("Missing key \"" + std::string(key) + "\"");
    return *value;
}

std::optional<double> FastObjectReader::optionalDouble(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toDouble(*value)) : std::nullopt;
}

std::optional<bool> FastObjectReader::optionalBool(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toBool(*value)) : std::nullopt;
}

std::optional<std::string> FastObjectReader::optionalString(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toString(*value)) : std::nullopt;
}

// MARK: Splitting a document into its pieces

JsonSplitter::JsonSplitter(Container container) : container(container) {}

void JsonSplitter::beginPiece() {
    current.assign(container == Container::array ? " " : "{");
    pieceHasValue = false;
    state = State::inPiece;
}

void JsonSplitter::endPiece() {
    if (!pieceHasValue)
        fail("The data is not valid JSON: a value is missing");
    if (container == Container::object)
        current += '}';
    pieceReady = true;
}

std::size_t JsonSplitter::take(std::string_view text) {
    if (pieceReady) {
        pieceReady = false;
        if (state == State::inPiece)
            beginPiece();
    }
    const char opener = container == Container::array ? '[' : '{';
    const char closer = container == Container::array ? ']' : '}';
    std::size_t i = 0;
    // Bytes of the piece are copied in runs: from runStart up to the byte being looked at.
    std::size_t runStart = 0;
    auto flushRun = [&](std::size_t end) {
        if (state == State::inPiece && end > runStart)
            current.append(text.data() + runStart, end - runStart);
    };
    while (i < text.size()) {
        const char c = text[i];
        switch (state) {
        case State::start:
            // A byte order mark may open the text, as the strict reader allows.
            if (!startedText && byteOrderMark < byteOrderMarkText.size() &&
                c == byteOrderMarkText[byteOrderMark]) {
                ++byteOrderMark;
                ++i;
                continue;
            }
            if (byteOrderMark % byteOrderMarkText.size() != 0)
                fail("The data is not valid JSON: a broken byte order mark");
            startedText = true;
            if (c == opener) {
                state = State::open;
            } else if (!isWhiteSpace(c)) {
                fail(container == Container::array ? "Expected an array" : "Expected an object");
            }
            ++i;
            continue;
        case State::open:
            if (isWhiteSpace(c)) {
                ++i;
                continue;
            }
            if (c == closer) {
                state = State::closed;
                ++i;
                continue;
            }
            beginPiece();
            runStart = i;
            continue; // the byte belongs to the piece
        case State::closed:
            if (!isWhiteSpace(c))
                fail("The data is not valid JSON: text after the end");
            ++i;
            continue;
        case State::inPiece:
            break;
        }
        if (inString) {
            inString = continuesString(c, escaped);
            ++i;
            if (!escaped && inString)
                i = skipPlainText(text, i);
            continue;
        }
        if (depth > 0 && pieceHasValue) {
            // Inside a value only brackets and strings matter: the rest is skipped in one go.
            i = skipInnerText(text, i);
            if (i == text.size())
                break;
        }
        const char structural = text[i];
        switch (structural) {
        case '"':
            inString = true;
            pieceHasValue = true;
            break;
        case '[':
        case '{':
            ++depth;
            pieceHasValue = true;
            break;
        case ']':
        case '}':
        case ',':
            if (depth > 0) {
                if (structural != ',')
                    --depth;
                break;
            }
            if (structural != ',' && structural != closer)
                fail("The data is not valid JSON: a bracket does not match");
            flushRun(i);
            endPiece();
            if (structural == closer)
                state = State::closed;
            return i + 1;
        default:
            if (!isWhiteSpace(structural))
                pieceHasValue = true;
            break;
        }
        ++i;
    }
    flushRun(i);
    return i;
}

void JsonSplitter::finish() const {
    if (state != State::closed)
        fail("The data is not valid JSON: it ends too early");
}

std::optional<FastValue> JsonPieceReader::readFast() {
    std::string& text = splitter.piece();
    const std::size_t length = text.size();
    // The parser reads a little past the end of its text.
    text.append(simdjson::SIMDJSON_PADDING, ' ');
    auto parsed = parser.parse(text.data(), length, false);
    text.resize(length);
    if (parsed.error())
        return std::nullopt;
    return parsed.value_unsafe();
}

} // namespace vt::json
