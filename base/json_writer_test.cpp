// The JSON text scripts read: nesting, separators, empty containers and escapes, in both
// layouts.

#include "json_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonWriter, WritesMembersInOrderWithStableIndent) {
  JsonWriter j;
  j.BeginObject();
  j.String("name", "a\"b\\c\n");
  j.Int("n", -5);
  j.Number("rate_hz", 46545.4546);
  j.BeginArray("list");
  j.Int({}, 1);
  j.Bool({}, false);
  j.Null({});
  j.EndArray();
  j.BeginArray("empty");
  j.EndArray();
  j.BeginObject("inner");
  j.EndObject();
  j.EndObject();
  EXPECT_EQ(j.Text(),
            "{\n"
            "  \"name\": \"a\\\"b\\\\c\\u000A\",\n"
            "  \"n\": -5,\n"
            "  \"rate_hz\": 46545.455,\n"
            "  \"list\": [\n"
            "    1,\n"
            "    false,\n"
            "    null\n"
            "  ],\n"
            "  \"empty\": [],\n"
            "  \"inner\": {}\n"
            "}\n");
}

// An event stream reader takes a line as one event, so nothing inside may break it.
TEST(JsonWriter, OneLineEventsKeepEverythingOnTheirLine) {
  JsonWriter j(JsonLayout::kOneLine, JsonEscapes::kShort);
  j.BeginObject().String("event", "start").Bool("emulated", true).BeginArray("operations");
  j.String({}, "write").String({}, "verify").EndArray().BeginArray("none").EndArray();
  j.BeginObject("volts").Number("write_vdd", 5.5).EndObject().Int("exit", 0).EndObject();
  EXPECT_EQ(j.Text(),
            "{\"event\":\"start\",\"emulated\":true,\"operations\":[\"write\",\"verify\"],"
            "\"none\":[],\"volts\":{\"write_vdd\":5.500},\"exit\":0}\n");
}

TEST(JsonQuote, EscapesWhatJsonRequires) {
  EXPECT_EQ(JsonQuote("a\"b\\c\n\t\x01", JsonEscapes::kShort), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
  EXPECT_EQ(JsonQuote("caf\xc3\xa9", JsonEscapes::kShort), "\"caf\xc3\xa9\"");
  EXPECT_EQ(JsonQuote("\x1f\t"), "\"\\u001F\\u0009\"");
}

struct Utf8Case {
  const char* name;
  const char* in;
  const char* out;  // between the quotes
};

// A file name in another encoding must not make the document invalid: each byte outside
// well-formed UTF-8 becomes U+FFFD, and well-formed UTF-8 of every length passes unchanged.
const Utf8Case kUtf8Cases[] = {
    {"two bytes", "caf\xc3\xa9", "caf\xc3\xa9"},
    {"three bytes", "\xe2\x82\xac 1", "\xe2\x82\xac 1"},
    {"four bytes", "\xf0\x9f\x8e\xb5", "\xf0\x9f\x8e\xb5"},
    {"U+10FFFF", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
    {"latin-1 name", "lat\xe9.bin", "lat\\ufffd.bin"},
    {"lone continuation", "a\x80", "a\\ufffd"},
    {"cut at the end", "\xe2\x82", "\\ufffd\\ufffd"},
    {"cut by ASCII", "\xc3" "A", "\\ufffdA"},
    {"overlong two bytes", "\xc0\xaf", "\\ufffd\\ufffd"},
    {"overlong three bytes", "\xe0\x80\xaf", "\\ufffd\\ufffd\\ufffd"},
    {"overlong four bytes", "\xf0\x8f\xbf\xbf", "\\ufffd\\ufffd\\ufffd\\ufffd"},
    {"surrogate", "\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},
    {"above U+10FFFF", "\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},
    {"F5 lead", "\xf5\x80\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},
    {"FF", "\xff", "\\ufffd"},
};

TEST(JsonQuote, ReplacesBytesThatAreNotUtf8) {
  for (const Utf8Case& c : kUtf8Cases) {
    const std::string expected = std::string("\"") + c.out + "\"";
    EXPECT_EQ(JsonQuote(c.in), expected) << c.name;
    EXPECT_EQ(JsonQuote(c.in, JsonEscapes::kShort), expected) << c.name;
  }
}

}  // namespace
