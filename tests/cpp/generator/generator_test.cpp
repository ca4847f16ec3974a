#include "generator/generator.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace torvane::generator {
namespace {

using schema::RelationshipDef;
using schema::Schema;

struct NodeSpec {
  std::string label;
  std::vector<std::string> props;
};
struct RelSpec {
  std::string type, source, target;
  std::vector<std::string> props;
};

Schema make_schema(const std::vector<NodeSpec>& nodes, const std::vector<RelSpec>& rels = {}) {
  Schema s;
  for (const NodeSpec& n : nodes) s.nodes[n.label] = HashSet(n.props.begin(), n.props.end());
  for (const RelSpec& r : rels)
    s.relationships[r.type] =
        RelationshipDef{r.source, r.target, HashSet(r.props.begin(), r.props.end())};
  return s;
}

Schema movies() {
  return make_schema({{"Person", {"name", "age"}}, {"Movie", {"title"}}},
                     {{"ACTED_IN", "Person", "Movie", {"role"}}});
}

std::string gen(CypherGenerator& g, std::string_view type) {
  auto r = g.generate(type);
  if (!r.ok()) {
    ADD_FAILURE() << r.error().display();
    return {};
  }
  return std::move(r).value();
}

struct Step {
  std::string_view type;
  std::string expected;
};

// std::regex trips a false uninitialised-use warning in sanitizer builds, so
// the shapes are checked by hand.
bool consume(std::string_view& s, std::string_view prefix) {
  if (!s.starts_with(prefix)) return false;
  s.remove_prefix(prefix.size());
  return true;
}

std::vector<std::string_view> split(std::string_view s, std::string_view sep) {
  std::vector<std::string_view> out;
  for (std::size_t at; (at = s.find(sep)) != std::string_view::npos;
       s.remove_prefix(at + sep.size()))
    out.push_back(s.substr(0, at));
  out.push_back(s);
  return out;
}

// The empty text, or " LIMIT " and a number from 1 to 50.
bool is_limit(std::string_view s) {
  if (s.empty()) return true;
  if (!consume(s, " LIMIT ") || s.empty() || s.size() > 2 || s[0] == '0') return false;
  int n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n <= 50;
}

// A scalar of the value tables: one token, no separators.
bool is_value(std::string_view v) {
  return !v.empty() && v.find_first_of(",{}[] ") == std::string_view::npos;
}

void expect_sequence(CypherGenerator& g, const std::vector<Step>& steps) {
  for (const Step& s : steps) EXPECT_EQ(gen(g, s.type), s.expected) << s.type;
}

TEST(Generator, Seed7EmptySchema) {
  CypherGenerator g(Schema{}, 7);
  expect_sequence(g, {
                         {"match_return", "MATCH (n:Node) RETURN n LIMIT 19"},
                         {"create", "CREATE (n:Node) RETURN n"},
                         {"order_by", "MATCH (n:Node) RETURN n ORDER BY n LIMIT 20"},
                         {"unwind", "UNWIND [20, $value, false, $name] AS item RETURN item"},
                     });
}

TEST(Generator, Seed42MovieSchema) {
  CypherGenerator g(movies(), 42);
  expect_sequence(
      g, {
             {"match_return", "MATCH (n:Person) RETURN n"},
             {"create", "CREATE (n:Movie {title: $limit}) RETURN n"},
             {"order_by", "MATCH (n:Person) RETURN n ORDER BY n.name DESC"},
             {"unwind", "MATCH (n:Movie) UNWIND n.title AS item RETURN item"},
             {"match_relationship", "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN a, r, b"},
             {"match_where_return", "MATCH (n:Person) WHERE n.name = \"Alice\" RETURN n.name"},
             {"merge", "MERGE (n:Person {name: $value, age: 34}) RETURN n"},
             {"distinct_return", "MATCH (n:Person) RETURN DISTINCT n.name"},
         });
}

TEST(Generator, SameSeedSameSequence) {
  for (std::uint64_t seed : {0ull, 1ull, 42ull, 0xFFFFFFFFFFFFFFFFull}) {
    CypherGenerator a(movies(), seed), b(movies(), seed);
    for (int round = 0; round < 50; ++round)
      for (std::string_view type : kQueryTypes) ASSERT_EQ(gen(a, type), gen(b, type)) << seed;
    EXPECT_EQ(a.rng(), b.rng());
  }
}

TEST(Generator, UnseededGeneratorsDiffer) {
  CypherGenerator a(Schema{}, std::nullopt), b(Schema{}, std::nullopt);
  std::string sa, sb;
  for (int i = 0; i < 8; ++i) {
    sa += gen(a, "unwind");
    sb += gen(b, "unwind");
  }
  EXPECT_NE(sa, sb);
}

TEST(Generator, UnknownTypeFailsWithoutDrawing) {
  for (std::string_view bad : {"Match_Return", " match_return", "match_return ", "", "bogus"}) {
    CypherGenerator g(movies(), 5), fresh(movies(), 5);
    auto r = g.generate(bad);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, CypherError::Kind::GeneratorError);
    EXPECT_EQ(r.error().display(), "Generator error: Unknown query type: " + std::string(bad));
    EXPECT_EQ(g.rng(), fresh.rng());
    EXPECT_EQ(gen(g, "merge"), gen(fresh, "merge"));
  }
}

TEST(Generator, EmptySchemaFallbacks) {
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    CypherGenerator g(Schema{}, seed);
    const std::string mr = gen(g, "match_return");
    std::string_view rest = mr;
    EXPECT_TRUE(consume(rest, "MATCH (n:Node) RETURN n") && is_limit(rest)) << mr;
    const Xoshiro128PlusPlus before = g.rng();
    EXPECT_EQ(gen(g, "create"), "CREATE (n:Node) RETURN n");
    EXPECT_EQ(gen(g, "merge"), "MERGE (n:Node) RETURN n");
    EXPECT_EQ(gen(g, "match_relationship"), "MATCH (n:Node) RETURN n");
    EXPECT_EQ(gen(g, "create_relationship"), "CREATE (n:Node) RETURN n");
    EXPECT_EQ(gen(g, "aggregation"), "MATCH (n:Node) RETURN count(n) AS result");
    EXPECT_EQ(gen(g, "match_set"), "MATCH (n:Node) RETURN n");
    EXPECT_EQ(gen(g, "match_delete"), "MATCH (n:Node) DETACH DELETE n");
    EXPECT_EQ(gen(g, "with_chain"), "MATCH (n:Node) WITH n AS val RETURN count(*)");
    EXPECT_EQ(g.rng(), before) << "the fixed shapes draw nothing without a schema";
    const std::string uw = gen(g, "unwind");
    std::string_view list = uw;
    ASSERT_TRUE(consume(list, "UNWIND [") && list.ends_with("] AS item RETURN item")) << uw;
    list.remove_suffix(std::string_view("] AS item RETURN item").size());
    const auto values = split(list, ", ");
    EXPECT_GE(values.size(), 2u) << uw;
    EXPECT_LE(values.size(), 4u) << uw;
    for (std::string_view v : values) EXPECT_TRUE(is_value(v)) << uw;
  }
}

// One label without properties and one relationship type: every choice is
// over one element, so the number of draws per type is fixed or nearly so.
TEST(Generator, DrawCountsOfFixedShapes) {
  const Schema s = make_schema({{"A", {}}}, {{"R", "A", "B", {}}});
  struct Case {
    std::string_view type;
    int draws;
  };
  const Case cases[] = {{"match_delete", 1},
                        {"with_chain", 1},
                        {"aggregation", 1},
                        {"match_set", 1},
                        {"create", 1},
                        {"merge", 1},
                        {"create_relationship", 1},
                        {"match_relationship", 2}};
  for (const Case& c : cases) {
    CypherGenerator g(s, 11);
    Xoshiro128PlusPlus r = Xoshiro128PlusPlus::seed_from_u64(11);
    gen(g, c.type);
    for (int i = 0; i < c.draws; ++i) r.next_u32();
    EXPECT_EQ(g.rng(), r) << c.type;
  }
}

TEST(Generator, RelationshipEndpointsComeFromTheSchema) {
  const Schema s = make_schema({}, {{"KNOWS", "P", "Q", {"since"}}});
  const std::string plain = "MATCH (a:P)-[r:KNOWS]->(b:Q) RETURN a, r, b";
  std::set<bool> seen_optional;
  for (std::uint64_t seed = 0; seed < 64; ++seed) {
    CypherGenerator g(s, seed);
    const std::string q = gen(g, "match_relationship");
    ASSERT_TRUE(q == plain || q == "OPTIONAL " + plain) << q;
    seen_optional.insert(q.starts_with("OPTIONAL "));
    EXPECT_EQ(gen(g, "create_relationship"),
              "MATCH (a:P),(b:Q) CREATE (a)-[r:KNOWS]->(b) RETURN r");
  }
  EXPECT_EQ(seen_optional.size(), 2u);
}

TEST(Generator, PropertyMapSizeAndKeys) {
  {
    CypherGenerator g(make_schema({{"One", {"only"}}}), 1);
    for (int i = 0; i < 100; ++i) {
      const std::string q = gen(g, "create");
      std::string_view v = q;
      ASSERT_TRUE(consume(v, "CREATE (n:One {only: ") && v.ends_with("}) RETURN n")) << q;
      v.remove_suffix(std::string_view("}) RETURN n").size());
      ASSERT_TRUE(is_value(v)) << q;
    }
  }
  const std::set<std::string> props = {"a", "b", "c", "d", "e"};
  CypherGenerator g(make_schema({{"Five", {props.begin(), props.end()}}}), 2);
  std::set<std::size_t> sizes;
  for (int i = 0; i < 500; ++i) {
    const std::string map = g.gen_property_map("Five");
    std::string_view body = map;
    ASSERT_TRUE(consume(body, " {") && body.ends_with("}")) << map;
    body.remove_suffix(1);
    std::set<std::string> keys;
    std::size_t entries = 0;
    for (std::string_view e : split(body, ", ")) {
      const auto kv = split(e, ": ");
      ASSERT_EQ(kv.size(), 2u) << map;
      ASSERT_TRUE(props.count(std::string(kv[0])) && is_value(kv[1])) << map;
      keys.insert(std::string(kv[0]));
      ++entries;
    }
    ASSERT_EQ(keys.size(), entries) << "repeated key in " << map;
    ASSERT_GE(entries, 1u) << map;
    ASSERT_LE(entries, 3u) << map;
    sizes.insert(entries);
  }
  EXPECT_EQ(sizes, (std::set<std::size_t>{1, 2, 3}));
  // No such label, or no properties: empty, and no draw.
  const Xoshiro128PlusPlus before = g.rng();
  EXPECT_EQ(g.gen_property_map("Missing"), "");
  EXPECT_EQ(g.pick_node_prop("Missing"), std::nullopt);
  EXPECT_EQ(g.rng(), before);
}

TEST(Generator, ValueTables) {
  CypherGenerator g(Schema{}, 3);
  const std::set<std::string> strings = {"\"Alice\"", "\"Bob\"", "\"Carol\"", "\"Neo4j\"",
                                         "$name",     "$id",     "$value"};
  std::set<std::string> seen_strings, seen_scalars;
  std::set<std::string> limits;
  for (int i = 0; i < 10000; ++i) {
    const std::string v = g.gen_string_value();
    ASSERT_TRUE(strings.count(v)) << v;
    seen_strings.insert(v);
    seen_scalars.insert(g.gen_scalar_value());
    const std::string l = g.maybe_limit();
    ASSERT_TRUE(is_limit(l)) << l;
    limits.insert(l);
  }
  EXPECT_EQ(seen_strings, strings);
  // 5 strings, 100 numbers, 2 booleans, 4 parameters.
  EXPECT_EQ(seen_scalars.size(), 111u);
  EXPECT_TRUE(seen_scalars.count("\"hello\"") && seen_scalars.count("$limit") &&
              seen_scalars.count("1") && seen_scalars.count("100") && seen_scalars.count("true") &&
              seen_scalars.count("false"));
  EXPECT_EQ(limits.size(), 51u);
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

// A name used as label, property and relationship type: every query is the
// one a plain placeholder name gives, from the same draws, with the name
// written in its place, between backticks unless it is a plain identifier
// and no reserved word.
TEST(Generator, NamesAreWrittenAsAQueryWritesThem) {
  constexpr std::string_view kPlaceholder = "Xq";  // in no template or value
  const struct {
    std::string name, written;
  } cases[] = {
      {"Order", "`Order`"},
      {"FROM", "`FROM`"},
      {"order", "`order`"},
      {"pageRank-1", "`pageRank-1`"},
      {"a`b", "`a``b`"},
      {"``", "``````"},
      {"Odd Label", "`Odd Label`"},
      {"", "``"},
      {"Bücher", "`Bücher`"},
      {"1st", "`1st`"},
      {"Person", "Person"},
      {"_x1", "_x1"},
      {"Orders", "Orders"},
  };
  for (const auto& c : cases) {
    const auto schema_of = [](const std::string& n) {
      return make_schema({{n, {n}}}, {{n, n, n, {}}});
    };
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
      CypherGenerator odd(schema_of(c.name), seed),
          plain(schema_of(std::string(kPlaceholder)), seed);
      for (std::string_view type : kQueryTypes)
        ASSERT_EQ(gen(odd, type), replace_all(gen(plain, type), kPlaceholder, c.written))
            << c.name << " " << type;
      EXPECT_EQ(
          odd.gen_property_map(c.name),
          replace_all(plain.gen_property_map(std::string(kPlaceholder)), kPlaceholder, c.written));
      EXPECT_EQ(odd.pick_node_prop(c.name), c.name) << "the schema's name, not its written form";
      plain.pick_node_prop(kPlaceholder);
      EXPECT_EQ(odd.rng(), plain.rng()) << c.name;
    }
  }
  // Names from real schemas, in whole queries.
  CypherGenerator g(make_schema({{"Order", {"pageRank-1"}}}, {{"FROM", "Order", "Order", {}}}), 0);
  EXPECT_EQ(gen(g, "aggregation"), "MATCH (n:`Order`) RETURN count(n.`pageRank-1`) AS result");
  EXPECT_EQ(gen(g, "create_relationship"),
            "MATCH (a:`Order`),(b:`Order`) CREATE (a)-[r:`FROM`]->(b) RETURN r");
}

// Names longer than any query seen so far: the text grows to fit them, whole.
TEST(Generator, LongNamesAreWrittenWhole) {
  const std::string label(3000, 'L'), prop(2000, 'p'), rel(2500, 'R');
  CypherGenerator g(make_schema({{label, {prop}}}, {{rel, label, label, {}}}), 4);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(gen(g, "create_relationship"),
              "MATCH (a:" + label + "),(b:" + label + ") CREATE (a)-[r:" + rel + "]->(b) RETURN r");
    const std::string q = gen(g, "match_where_return");
    std::string_view rest = q;
    ASSERT_TRUE(consume(rest, "MATCH (n:" + label + ") WHERE n." + prop + " = ")) << i;
    const std::size_t value_end = rest.find(' ');
    ASSERT_TRUE(is_value(rest.substr(0, value_end))) << i;
    rest.remove_prefix(value_end);
    ASSERT_TRUE(consume(rest, " RETURN n." + prop) && is_limit(rest)) << i;
    const std::string map = g.gen_property_map(label);
    std::string_view value = map;
    ASSERT_TRUE(consume(value, " {" + prop + ": ") && value.ends_with("}")) << i;
    value.remove_suffix(1);
    EXPECT_TRUE(is_value(value)) << i;
  }
}

TEST(Generator, PropertiesBelongToTheDrawnLabel) {
  const Schema s = make_schema({{"A", {"a1", "a2"}}, {"B", {"b1"}}, {"C", {}}});
  CypherGenerator g(s, 8);
  std::set<std::string> seen;
  for (int i = 0; i < 300; ++i) {
    const std::string q = gen(g, "order_by");
    std::string_view rest = q;
    ASSERT_TRUE(consume(rest, "MATCH (n:") && !rest.empty()) << q;
    const char label = rest[0];
    rest.remove_prefix(1);
    ASSERT_TRUE(consume(rest, ") RETURN n ORDER BY n")) << q;
    if (label == 'C') {
      EXPECT_FALSE(rest.starts_with(".") || rest.starts_with(" DESC")) << q;  // d drawn, unused
    } else {
      const std::string_view prop = rest.substr(0, 3);
      EXPECT_TRUE(label == 'A' ? prop == ".a1" || prop == ".a2" : prop == ".b1") << q;
      rest.remove_prefix(3);
      consume(rest, " DESC");
    }
    EXPECT_TRUE(is_limit(rest)) << q;
    seen.insert(q.substr(0, 40));
  }
  EXPECT_GT(seen.size(), 4u);
}

}  // namespace
}  // namespace torvane::generator
