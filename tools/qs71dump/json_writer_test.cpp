// The JSON text scripts read: nesting, separators, empty containers and escapes.

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

}  // namespace
