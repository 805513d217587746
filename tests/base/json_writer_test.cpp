#include "base/json_writer.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace zorvane {
namespace {

TEST(JsonWriterTest, NestedDocumentInOneLineAndIndented) {
  for (const int indent : {0, 2}) {
    JsonWriter json(indent);
    const std::uint8_t raw[] = {0x00, 0x1B, 0xFF};
    json.BeginObject()
        .Key("drive")
        .String("ZORVANE")
        .Key("profiles")
        .BeginArray()
        .Number(std::int64_t{0x1B})
        .Number(std::int64_t{-1})
        .EndArray()
        .Key("empty")
        .BeginArray()
        .EndArray()
        .Key("none")
        .BeginObject()
        .EndObject()
        .Key("speed")
        .Number(8.5)
        .Key("ok")
        .Bool(true)
        .Key("nan")
        .Number(std::nan(""))
        .Key("raw")
        .Hex(raw, sizeof raw)
        .EndObject();
    EXPECT_TRUE(json.Complete());
    if (indent == 0) {
      EXPECT_EQ(json.Text(),
                R"({"drive":"ZORVANE","profiles":[27,-1],"empty":[],"none":{},"speed":8.5,)"
                R"("ok":true,"nan":null,"raw":"001bff"})");
    } else {
      EXPECT_EQ(json.Text().rfind("{\n  \"drive\": \"ZORVANE\",\n  \"profiles\": [", 0), 0U);
      EXPECT_NE(json.Text().find("\"profiles\": [\n    27,\n    -1\n  ],"), std::string::npos);
    }
  }
}

TEST(JsonWriterTest, NumbersReadBackExactly) {
  JsonWriter json(0);
  json.BeginArray().Number(0.1).Number(1e21).Number(-0.0).Number(1.0 / 3).Unsigned(
      std::numeric_limits<std::uint64_t>::max());
  // Whole numbers (a speed factor of 40.0) as their digits, not "4e+01".
  json.Number(std::numeric_limits<double>::infinity()).Number(40.0).Number(1500.0).EndArray();
  EXPECT_EQ(json.Text(), "[0.1,1e+21,-0,0.3333333333333333,18446744073709551615,null,40,1500]");
}

// Drive strings hold any bytes: every one comes out as valid JSON, nothing dropped.
TEST(JsonQuoteTest, EveryByteSequenceGivesAValidString) {
  EXPECT_EQ(JsonQuote("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(JsonQuote(std::string("\0\x01\n\t\x7F", 5)), R"("\u0000\u0001\n\t\u007f")");
  EXPECT_EQ(JsonQuote("光碟"), "\"光碟\"");  // valid UTF-8 passes through
  // Stray bytes stand for their Latin-1 characters: 0xE9 is é, 0xFF is ÿ.
  EXPECT_EQ(JsonQuote("caf\xE9"), "\"café\"");
  EXPECT_EQ(JsonQuote("\xFF\xC0\x80"), "\"ÿÀ\xC2\x80\"");
  // A surrogate's and an overlong form's bytes are not UTF-8 either; a cut sequence neither.
  EXPECT_EQ(JsonQuote("\xED\xA0\x80"), "\"í\xC2\xA0\xC2\x80\"");
  EXPECT_EQ(JsonQuote("\xE5\x85"), "\"å\xC2\x85\"");
}

}  // namespace
}  // namespace zorvane
