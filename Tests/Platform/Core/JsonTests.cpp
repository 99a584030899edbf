#include "Platform/Core/Json.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::json;

TEST(StrictJson, IntegersAcceptOnlyIntegralNumbersInRange) {
    EXPECT_EQ(toInt(parse("42")), 42);
    EXPECT_EQ(toInt(parse("2.0")), 2);
    EXPECT_EQ(toInt(parse("-9223372036854775808")), INT64_MIN);
    EXPECT_THROW(toInt(parse("2.5")), JsonError);
    EXPECT_THROW(toInt(parse("9223372036854775808")), JsonError);
    EXPECT_THROW(toInt(parse("1e300")), JsonError);
    EXPECT_THROW(toInt(parse("\"3\"")), JsonError);
    EXPECT_THROW(toInt(parse("true")), JsonError);
}

TEST(StrictJson, DoublesAcceptEveryNumberAndNothingElse) {
    EXPECT_EQ(toDouble(parse("44100")), 44100.0);
    EXPECT_EQ(toDouble(parse("44100.5")), 44100.5);
    EXPECT_EQ(toDouble(parse("18446744073709551615")), 18446744073709551615.0);
    EXPECT_THROW(toDouble(parse("null")), JsonError);
    EXPECT_THROW(toDouble(parse("\"1\"")), JsonError);
    EXPECT_THROW(toFloat(parse("1e300")), JsonError);
}

TEST(StrictJson, ObjectReaderTreatsNullAsAbsentOnlyForOptionalKeys) {
    auto document = parse(R"({"a": null, "b": 1, "u": "0a1b2c3d-4e5f-6789-abcd-ef0123456789"})");
    ObjectReader reader(document);
    EXPECT_FALSE(reader.has("a"));
    EXPECT_EQ(reader.optionalDouble("a"), std::nullopt);
    EXPECT_THROW(reader.requireDouble("a"), JsonError);
    EXPECT_THROW(reader.requireDouble("missing"), JsonError);
    EXPECT_THROW(reader.optionalString("b"), JsonError);
    EXPECT_EQ(reader.requireUuid("u").string(), "0A1B2C3D-4E5F-6789-ABCD-EF0123456789");
    EXPECT_THROW(ObjectReader(parse("[1]")), JsonError);
    EXPECT_THROW(parse("{\"a\": 1"), JsonError);
}

TEST(StrictJson, FloatsAreWrittenInShortestFloatFormAndNonFiniteIsRefused) {
    Json array = floats({0.1f, 1.0f, 0.333333f, 1e-7f});
    EXPECT_EQ(dump(array), "[0.1,1.0,0.333333,1e-07]");
    EXPECT_EQ(toFloats(parse(dump(array))), (std::vector<float>{0.1f, 1.0f, 0.333333f, 1e-7f}));
    EXPECT_THROW(number(std::nan("")), JsonError);
    EXPECT_THROW(number(INFINITY), JsonError);
    EXPECT_THROW(floats({1.0f, -INFINITY}), JsonError);
}

TEST(StrictJson, DumpReplacesInvalidUtf8InsteadOfThrowing) {
    Json value = std::string("a\xff"
                             "b");
    EXPECT_NO_THROW(dump(value));
}
