// The query-summary walk on trees that no query text produces: a standalone
// CALL and an EXISTS subquery holding a whole query.
#include "summary/query_info.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "parser/parse.hpp"

namespace torvane::summary {
namespace {

namespace ast = parser::ast;
using Names = std::vector<std::string>;

ast::RegularQuery regular(std::string_view text) {
  auto tree = parser::parse(text);
  EXPECT_TRUE(tree.ok()) << text;
  return std::get<ast::CypherQuery::Regular>(std::move(tree).value().node).query;
}

TEST(QueryInfo, StandaloneCallMentionsNothing) {
  ast::CypherQuery call{ast::CypherQuery::StandaloneCall{ast::CallClause{"db.labels", {}, {}}}};
  const QueryInfo info = query_info(call);
  EXPECT_TRUE(info.is_valid);
  EXPECT_TRUE(info.errors.empty());
  EXPECT_TRUE(info.labels_used.empty() && info.rel_types_used.empty() &&
              info.properties_used.empty());
}

// EXISTS { query }: its property keys count, its labels and types do not.
TEST(QueryInfo, ExistsQueryGivesPropertyKeysOnly) {
  ast::Expr exists{ast::Expr::Exists{ast::ExistsSubquery{ast::ExistsSubquery::Query{
      regular("MATCH (m:M)-[:R]->(x {k: 1}) WHERE m.p = 1 RETURN m.q "
              "UNION MATCH (o:O) RETURN o.u")}}}};
  // As the WHERE of an outer query, walked from the top.
  ast::RegularQuery outer = regular("MATCH (n:N) WHERE n.a = 1 RETURN n");
  auto& single = std::get<ast::SingleQuery::SinglePart>(outer.first.node);
  std::get<ast::ReadingClause::Match>(single.reading_clauses[0].node).where_clause =
      std::move(exists);
  const QueryInfo info =
      query_info(ast::CypherQuery{ast::CypherQuery::Regular{std::move(outer)}});
  EXPECT_EQ(info.labels_used, Names{"N"});
  EXPECT_TRUE(info.rel_types_used.empty());
  EXPECT_EQ(info.properties_used, (Names{"k", "p", "q", "u"}));
}

TEST(QueryInfo, NameSetSortsByBytesWithoutRepeats) {
  MentionedNames set;
  for (const char* name : {"b", "\xc3\xa9", "B", "a", "b", "`z`", "B"}) set.insert(name);
  EXPECT_EQ(set.sorted(), (Names{"B", "`z`", "a", "b", "\xc3\xa9"}));
}

}  // namespace
}  // namespace torvane::summary
