#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "schema/schema.hpp"

namespace {

using torvane::schema::RelationshipDef;
using torvane::schema::Schema;
using Views = std::vector<std::string_view>;

Schema sample() {
  Schema s;
  for (const char* label : {"b", "B", "a", "AB"}) s.nodes[label];
  s.nodes["Person"] = {"name", "age", "Zip", "ä", "a"};
  s.relationships["KNOWS"] = RelationshipDef{"Person", "Person", {"since", "Since"}};
  s.relationships["ACTED_IN"] = RelationshipDef{"Person", "Movie", {}};
  return s;
}

TEST(SchemaAccessors, NodeLabelsSortByBytes) {
  Schema s;
  for (const char* label : {"b", "B", "a", "AB"}) s.nodes[label];
  EXPECT_EQ(s.node_labels(), (Views{"AB", "B", "a", "b"}));
  EXPECT_EQ(sample().node_labels(), (Views{"AB", "B", "Person", "a", "b"}));
}

TEST(SchemaAccessors, PropertiesAndTypes) {
  Schema s = sample();
  // Non-ASCII sorts after ASCII: the bytes compare unsigned.
  EXPECT_EQ(s.node_properties("Person"), (Views{"Zip", "a", "age", "name", "ä"}));
  EXPECT_EQ(s.node_properties("person"), Views{});
  EXPECT_EQ(s.node_properties("AB"), Views{});
  EXPECT_EQ(s.rel_types(), (Views{"ACTED_IN", "KNOWS"}));
  EXPECT_EQ(s.rel_properties("KNOWS"), (Views{"Since", "since"}));
  EXPECT_EQ(s.rel_properties("knows"), Views{});
}

TEST(SchemaAccessors, RelSourceTarget) {
  Schema s = sample();
  auto st = s.rel_src_tgt("ACTED_IN");
  ASSERT_TRUE(st.has_value());
  EXPECT_EQ(st->first, "Person");
  EXPECT_EQ(st->second, "Movie");
  EXPECT_FALSE(s.rel_src_tgt("S").has_value());
}

TEST(SchemaAccessors, ViewsPointIntoTheSchema) {
  Schema s = sample();
  auto labels = s.node_labels();
  for (auto v : labels) {
    auto it = s.nodes.find(v);
    ASSERT_NE(it, s.nodes.end());
    EXPECT_EQ(v.data(), it->first.data());
  }
}

}  // namespace
