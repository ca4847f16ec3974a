// Every generated query, of every type, is accepted Cypher whatever the
// schema's names, and valid against its own schema when every relationship
// joins labels of the schema.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generator/generator.hpp"
#include "parser/cypher_parser.hpp"
#include "validator/torvane.hpp"

namespace torvane::generator {
namespace {

using schema::RelationshipDef;
using schema::Schema;

std::vector<Schema> schemas() {
  std::vector<Schema> out(5);  // out[0] stays empty
  out[1].nodes["Person"] = HashSet{"name", "age"};
  out[1].nodes["Movie"] = HashSet{"title"};
  out[1].relationships["ACTED_IN"] = RelationshipDef{"Person", "Movie", HashSet{"role"}};
  out[2].nodes["A"] = HashSet{"p1", "p2", "p3", "p4", "p5"};
  out[2].nodes["B"] = HashSet{};
  out[2].nodes["c_3"] = HashSet{"x"};
  out[2].relationships["R1"] = RelationshipDef{"A", "B", HashSet{}};
  out[2].relationships["LINKS_TO"] = RelationshipDef{"c_3", "Missing", HashSet{"w"}};
  out[3].nodes["User"] = HashSet{"id", "email", "created_at"};
  out[3].relationships["FOLLOWS"] = RelationshipDef{"User", "User", HashSet{}};
  // Reserved words, names that are no identifiers, a backtick inside, the
  // empty name: written between backticks.
  out[4].nodes["Order"] = HashSet{"pageRank-1", "FROM", "a`b", "id"};
  out[4].nodes["Odd Label"] = HashSet{"has space", ""};
  out[4].nodes["Bücher"] = HashSet{"Titel", "2nd"};
  out[4].nodes[""] = HashSet{"x"};
  out[4].nodes["Person"] = HashSet{"name"};
  out[4].relationships["FROM"] = RelationshipDef{"Order", "Odd Label", HashSet{}};
  out[4].relationships["a`b"] = RelationshipDef{"Bücher", "", HashSet{}};
  out[4].relationships["KNOWS"] = RelationshipDef{"Person", "Order", HashSet{}};
  out[4].relationships["with space"] = RelationshipDef{"", "Bücher", HashSet{}};
  out[4].relationships[""] = RelationshipDef{"Person", "Person", HashSet{}};
  return out;
}

TEST(GeneratedQueries, AreAcceptedByTheGrammar) {
  for (const Schema& schema : schemas()) {
    for (std::uint64_t seed = 0; seed < 40; ++seed) {
      CypherGenerator gen(schema, seed);
      for (int round = 0; round < 5; ++round) {
        for (std::string_view type : kQueryTypes) {
          auto query = gen.generate(type);
          ASSERT_TRUE(query.ok());
          auto tree = parser::CypherParser::parse(parser::Rule::cypher, *query);
          ASSERT_TRUE(tree.ok()) << type << ": " << *query;
        }
      }
    }
  }
}

TEST(GeneratedQueries, AreValidAgainstTheirSchema) {
  std::vector<Schema> valid_for = schemas();
  // Not the empty schema (its queries use a placeholder label), nor the one
  // whose LINKS_TO ends at a label it lacks.
  valid_for.erase(valid_for.begin() + 2);
  valid_for.erase(valid_for.begin());
  Schema& more = valid_for.emplace_back();
  more.nodes["Account"] = HashSet{"id", "balance", "opened_on"};
  more.nodes["Bank"] = HashSet{};
  more.nodes["Txn"] = HashSet{"amount", "at"};
  more.relationships["HOLDS"] = RelationshipDef{"Bank", "Account", HashSet{"since"}};
  more.relationships["SENT"] = RelationshipDef{"Account", "Txn", HashSet{}};
  more.relationships["NEXT"] = RelationshipDef{"Txn", "Txn", HashSet{"gap"}};
  for (const Schema& schema : valid_for) {
    const validator::Torvane torvane(schema);
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
      CypherGenerator gen(schema, seed);
      for (std::string_view type : kQueryTypes) {
        auto query = gen.generate(type);
        ASSERT_TRUE(query.ok());
        const auto result = torvane.validate(*query);
        EXPECT_TRUE(result.is_valid) << type << ": " << *query << "\n"
                                     << (result.errors.empty() ? "" : result.errors[0]);
      }
    }
  }
}

}  // namespace
}  // namespace torvane::generator
