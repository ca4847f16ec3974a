#include <gtest/gtest.h>

#include "parser/cypher_parser.hpp"

using namespace torvane::parser;

TEST(Grammar, Smoke) {
  auto r = CypherParser::parse(Rule::cypher, "MATCH (n RETURN n");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display(), " --> 1:10\n  |\n1 | MATCH (n RETURN n\n  |          ^---\n  |\n  = expected node_labels or properties");
  EXPECT_TRUE(CypherParser::parse(Rule::cypher, "MATCH (n) RETURN n").ok());
}
