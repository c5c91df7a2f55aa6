#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include "platform/com/com_error.h"
#include "platform/com/guid.h"

namespace varnolt {
namespace {

struct IntCase {
  const char* name;
  Variant value;
  int32_t expected;
};

TEST(VariantTest, ConvertsToInt32) {
  const IntCase cases[] = {
      {"empty", Variant(), 0},
      {"int16", Variant::Int16(-7), -7},
      {"int32", Variant::Int32(2147483647), 2147483647},
      {"plain text", Variant::Text("2"), 2},
      {"blanks around", Variant::Text("  42 "), 42},
      {"half to even down", Variant::Text(" 2.5 "), 2},
      {"half to even up", Variant::Text("3.5"), 4},
      {"negative half", Variant::Text("-2.5"), -2},
      {"fraction", Variant::Text("1.6"), 2},
      {"sign", Variant::Text("+12"), 12},
      {"leading dot", Variant::Text(".5"), 0},
      {"exponent", Variant::Text("1e3"), 1000},
      {"lowest", Variant::Text("-2147483648"), -2147483647 - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, c.value.ToInt32());
  }
}

TEST(VariantTest, ConversionFailuresCarryTheirNumberAndText) {
  struct Case {
    Variant value;
    int32_t number;
    const char* description;
  } cases[] = {
      {Variant::Text("abc"), 13, "Type mismatch"},
      {Variant::Text(""), 13, "Type mismatch"},
      {Variant::Text("   "), 13, "Type mismatch"},
      {Variant::Text("2 3"), 13, "Type mismatch"},
      {Variant::Text("1e"), 13, "Type mismatch"},
      {Variant::Bool(true), 13, "Type mismatch"},
      {Variant::Text("2147483648"), 6, "Overflow"},
      {Variant::Text("-2147483649"), 6, "Overflow"},
      {Variant::Text("1e400"), 6, "Overflow"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.ToText());
    try {
      c.value.ToInt32();
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(c.number, e.number());
      EXPECT_EQ(c.description, e.description());
    }
  }
}

TEST(VariantTest, ConvertsToText) {
  EXPECT_EQ("", Variant().ToText());
  EXPECT_EQ("0", Variant::Int16(0).ToText());
  EXPECT_EQ("-12", Variant::Int32(-12).ToText());
  EXPECT_EQ("True", Variant::Bool(true).ToText());
  EXPECT_EQ("Junk; Spam", Variant::Text("Junk; Spam").ToText());
}

TEST(ComErrorTest, StatusRoundTripKeepsTheDescription) {
  const ComError original(-2147217895, "Object or data matching the name could not be found.");
  try {
    ThrowIfFailed(ReturnError(original));
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(original.number(), e.number());
    EXPECT_EQ(original.description(), e.description());
  }
  try {
    ThrowIfFailed(HResultFromErrorNumber(76));
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(76, e.number());
    EXPECT_EQ("Path not found", e.description());
  }
  EXPECT_NO_THROW(ThrowIfFailed(S_OK));
}

TEST(GuidTest, ParsesAndPrints) {
  const auto g = Guid::Parse("{315cb529-fd59-4e93-b342-4959ef4b20b8}");
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ("{315CB529-FD59-4E93-B342-4959EF4B20B8}", g->ToString());
  EXPECT_EQ(g, Guid::Parse("315CB529-FD59-4E93-B342-4959EF4B20B8"));
  EXPECT_FALSE(Guid::Parse("{315CB529-FD59-4E93-B342-4959EF4B20BX}").has_value());
  EXPECT_FALSE(Guid::Parse("").has_value());
}

}  // namespace
}  // namespace varnolt
