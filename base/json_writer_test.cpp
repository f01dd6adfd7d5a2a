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

}  // namespace
