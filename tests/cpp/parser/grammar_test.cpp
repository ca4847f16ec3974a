// The grammar: accepted and rejected texts, failure positions and expected
// rules, the six-line error text, the shapes of parse trees, nesting bounds
// and a run over the corpus.
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/small_stack.hpp"
#include "corpus.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"
#include "parser/grammar.hpp"

using namespace torvane::parser;

namespace {

// Every pair of the tree in token order, outermost first.
std::vector<Pair> all_pairs(const ParseTree& t) {
  std::vector<Pair> out;
  for (std::uint32_t i = 0; i < t.tokens.size(); ++i)
    if (!t.tokens[i].closing)
      for (unsigned depth = 0; depth <= t.tokens[i].inner; ++depth)
        out.emplace_back(&t.tokens, t.text, i, static_cast<std::uint8_t>(depth));
  return out;
}

std::vector<Pair> find(const ParseTree& t, Rule r) {
  std::vector<Pair> out;
  for (const Pair& p : all_pairs(t))
    if (p.as_rule() == r) out.push_back(p);
  return out;
}

std::string child_rules(const Pair& p) {
  std::string s;
  for (const Pair& c : p.into_inner()) {
    if (!s.empty()) s += ' ';
    s += rule_name(c.as_rule());
  }
  return s;
}

std::string child_texts(const Pair& p) {
  std::string s;
  for (const Pair& c : p.into_inner()) {
    if (!s.empty()) s += '|';
    s += c.as_str();
  }
  return s;
}

// The whole tree as rule(children), for small shape checks.
std::string shape(const Pair& p) {
  std::string s(rule_name(p.as_rule()));
  const Pairs inner = p.into_inner();
  if (inner.empty()) return s;
  s += '(';
  bool first = true;
  for (const Pair& c : inner) {
    if (!first) s += ' ';
    first = false;
    s += shape(c);
  }
  return s + ')';
}

SyntaxError reject(std::string_view q) {
  auto r = CypherParser::parse(Rule::cypher, q);
  if (r.ok()) {
    ADD_FAILURE() << "accepted: " << q;
    return {};
  }
  return r.error();
}

}  // namespace

// ---------------------------------------------------------------------------
// Accepted texts.

TEST(Grammar, Accepts) {
  const char* const queries[] = {
      // blanks, comments and case
      "/* a */ RETURN /* b */ 1 /* c */ ;", "RETURN 1 // end", "RETURN 1//x", "RETURN /**/ 1",
      "RETURN 1 //x\r\n", "return 1", "ReTuRn 1", "RETURN 1;", " \t\r\nRETURN 1 ; \n",
      // query parts
      "MATCH (n)", "CREATE (n)", "MATCH (n) WITH n", "WITH 1 AS x RETURN x",
      "MATCH (n) RETURN n SKIP 5 LIMIT 10", "MATCH (n) WITH n LIMIT 1 WHERE n.x = 1 RETURN n",
      "MATCH (n) SET n::Label RETURN n", "MATCH (n) SET n: :Label", "MATCH (n) REMOVE n::Label",
      "MATCH (n) REMOVE n::A:B", "MATCH (n) SET n += {a: 1}", "MATCH (n) SET n.x.y = 1",
      "MATCH (n) REMOVE n.x.y", "CALL util.listAll()", "CALL util.listAll() YIELD label RETURN label",
      "CALL util.`create`.node()", "CALL db.labels() YIELD label AS l, x", "CALL f(1, 'a')",
      "RETURN 1 UNION ALL RETURN 2", "RETURN 1 UNIONALL RETURN 2", "RETURN 1 UNION RETURN 2 UNION RETURN 3",
      "RETURN a asc", "MATCH (n) RETURN n ORDER BY n.a asc", "MATCH (n) RETURN n ORDER BY n.a DESCENDING, n.b",
      "match (n) return n", "MaTcH (n) ReTuRn n", "OPTIONALMATCH (n) RETURN n",
      "MATCH (n) RETURN n ORDERBY n.x", "MATCH (n) DETACHDELETE n", "MERGE (n) ONMATCH SET n.x = 1",
      "FOREACH (x INlist | CREATE (n))", "RETURN distinctName", "RETURN n ASm",
      "MERGE (n:A {id: 1}) ON CREATE SET n.c = 1 ON MATCH SET n.m = 2 ON CREATE SET n.d = 3",
      "UNWIND [1, 2] AS x RETURN x", "MATCH (n) DETACH DELETE n, m",
      "FOREACH (x IN [1] | CREATE (n) SET n.x = x)", "OPTIONAL MATCH (n) WHERE n.x > 1 RETURN DISTINCT n",
      "MATCH (a) WITH a MATCH (b) CREATE (c) WITH c RETURN c", "WITH * RETURN *",
      // patterns
      "MATCH (a)<-[r:KNOWS|:LIKES*1..3 {x: 1}]->(b) RETURN a", "MATCH (a)-->(b)<--(c)--(d) RETURN a",
      "MATCH (a) < - [ r ] - > (b) RETURN a", "MATCH (a)<-->(b) RETURN a", "MATCH (a)-[*]->(b)",
      "MATCH (a)-[*3]->(b)", "MATCH (a)-[*2..]->(b)", "MATCH (a)-[r*1..2]-(b)", "MATCH (a)-[* 1 .. 3]->(b)",
      "MATCH ()-[r]-() RETURN r", "MATCH ({x: 1}) RETURN 1", "MATCH (n) , (m) RETURN n",
      "MATCH (n $props) RETURN n", "MATCH (a)-[r $p]->(b) RETURN a", "MATCH (n {name: 'x'}) RETURN n",
      "MATCH (a)-[:A|B]->(b)", "MATCH (a)-[:A|:B]->(b)", "MATCH (n :A :B) RETURN n", "MATCH (n: A) RETURN n",
      "MATCH (n:`Match`) RETURN n", "MATCH p = allShortestPaths((a)-[*]-(b)) RETURN p",
      "MATCH p = (a)-->(b) RETURN p", "MATCH p=(a) RETURN p", "MATCH (trueNode) RETURN 1",
      // expressions
      "RETURN a < b <= c", "RETURN NOT NOT a", "RETURN a * b % c", "RETURN -2 ^ 2", "RETURN a =~ 'A.*'",
      "RETURN x IN list", "RETURN s CONTAINS t", "RETURN s ENDS  WITH t", "RETURN x STARTSWITH y",
      "RETURN x IN[1, 2]", "RETURN a IS NOT NULL, b IS NULL", "RETURN a IS  NOT\tNULL", "RETURN x[1]",
      "RETURN x[1 .. 3]", "RETURN x[..]", "RETURN x[..3]", "RETURN x[1 ..]", "RETURN n.`end`",
      "RETURN [x IN list]", "RETURN [x IN list WHERE x > 1 | x * 2]", "RETURN [x INlist WHERE x > 0]",
      "RETURN [x IN list | x.name]", "RETURN count(*)", "RETURN COUNT ( * )", "RETURN count(x)",
      "RETURN count(DISTINCT n)", "RETURN count(distinctX)", "RETURN reduce(x)",
      "RETURN reduce(s = 0, x IN list | s + x)", "RETURN a.b.c(1)", "RETURN `my ns`.fn(1)", "RETURN a.b.fn",
      "RETURN CASE WHEN a > 1 THEN 'x' ELSE 'y' END", "RETURN CASE n.x WHEN 1 THEN 'a' END",
      "RETURN exists { (a)-->(b) }", "RETURN exists(n.p)", "RETURN f (x)", "RETURN NOT(x)",
      "RETURN all(x IN l WHERE x > 1), any(x IN l), none(x IN l WHERE x), single(x IN l WHERE x = 1)",
      "RETURN allx", "RETURN shortestPath((a)-->(b))", "RETURN n .name, n. name", "RETURN a XOR b OR c AND d",
      "RETURN 1 - -1", "RETURN end(x), exists(x)", "RETURN a <> b, a >= b, a > b, a < b, a = b",
      // literals and names
      "RETURN 15, 1.5, 1., 1.e5, 1.5E-3, 007", "RETURN 0x1F, 0o17", "RETURN 'say \"hi\"'",
      "RETURN 'line\nbreak'", "RETURN \"it's\"", "RETURN n.nullable", "RETURN `trueCount`", "RETURN [], {}",
      "RETURN {a: 1, a: 2}", "RETURN {`end`: 1}", "RETURN `order`", "RETURN orders, isActive, _x1",
      "RETURN `my var`", "RETURN ``", "RETURN $limit", "RETURN $_x", "RETURN $1", "RETURN `ñame`",
      "RETURN 'ñ'", "RETURN true, FALSE, null, NuLl",
  };
  for (const char* q : queries) {
    auto r = CypherParser::parse(Rule::cypher, q);
    EXPECT_TRUE(r.ok()) << q << "\n" << (r.ok() ? "" : r.error().display());
  }
}

// ---------------------------------------------------------------------------
// Rejected texts: line, column and the expected list ("" leaves it unchecked).

struct Rejected {
  const char* query;
  std::uint32_t line, column;
  const char* message;
};

TEST(Grammar, Rejects) {
  const Rejected cases[] = {
      // blanks and comments
      {"RETURN /*/ 1", 1, 8, ""},
      {"RETURN 1 /* x", 1, 11, "expected atom"},
      {"RETURN 1 /* a /* b */ c */", 1, 23, ""},
      {"RETURN\f1", 1, 7, ""},
      {"", 1, 1, "expected statement"},
      {"   ", 1, 4, "expected statement"},
      {"// only a comment", 1, 18, "expected statement"},
      {";", 1, 1, "expected statement"},
      {"RETURN 1;;", 1, 10, "expected EOI"},
      {"RETURN 1 ; RETURN 2", 1, 12, "expected EOI"},
      {"\xC5\xBF" "ET", 1, 1, "expected statement"},  // a long s does not fold to S
      {"MATCH (n) \xE2\x84\xAA", 1, 11, ""},              // nor the Kelvin sign to K
      // the worked examples and the report's edge cases
      {"MATCH (n RETURN n", 1, 10, "expected node_labels or properties"},
      {"MATCH (n:Person)\nWHERE n.age > 30\nRETURN", 3, 7, "expected not_expr"},
      {"RETURN (1 + 2", 1, 14, "expected or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
      {"MATCH (n)\r\nRETURN", 2, 7, "expected not_expr"},
      {"MATCH (n)\rRETURN", 1, 17, "expected not_expr"},
      {"RETURN\n", 2, 1, "expected not_expr"},
      {"RETURN\t1 +", 1, 11, "expected atom"},
      {"RETURN 'ñ' +", 1, 13, "expected atom"},
      {"MATCH (a)-[:KNOWS*..3]->(b) RETURN b", 1, 19, "expected properties or integer_literal"},
      // clauses
      {"CREATE (n) MATCH (m) RETURN m", 1, 12, ""},
      {"MATCH (n) RETURN n LIMIT 10 SKIP 5", 1, 29, ""},
      {"MATCH (n) WITH n WHERE n.x = 1 ORDER BY n.x RETURN n", 1, 32, ""},
      {"RETURN *, n", 1, 9, ""},
      {"MATCH (n) SET n:Label RETURN n", 1, 17, "expected node_labels"},
      {"MATCH (n) REMOVE n:Label", 1, 20, "expected node_labels"},
      {"MERGE (a), (b)", 1, 10, ""},
      {"MATCH (n) SET n.x += 1", 1, 19, "expected property_lookup"},
      {"CALL util.listAll", 1, 6, "expected explicit_procedure_invocation"},
      {"CALL x() YIELD *", 1, 16, ""},
      {"CALL util.create.node()", 1, 6, "expected explicit_procedure_invocation"},
      {"RETURN 1 UNION", 1, 15, "expected single_query"},
      {"FOREACH (x IN [1] | MATCH (n))", 1, 21, "expected updating_clause"},
      // patterns
      {"MATCH (a)-(b) RETURN a", 1, 10, ""},
      {"MATCH (a)->(b) RETURN a", 1, 10, ""},
      {"MATCH (a)- -(b) RETURN a", 1, 10, ""},
      {"MATCH (a)<-(b) RETURN a", 1, 10, ""},
      {"MATCH (a)-[*..3]->(b) RETURN a", 1, 13, "expected properties or integer_literal"},
      {"MATCH (a)-[*1..3:KNOWS]->(b) RETURN a", 1, 17, "expected properties"},
      {"MATCH (n:) RETURN n", 1, 10, "expected label_name"},
      {"MATCH (a)-[:]->(b) RETURN a", 1, 13, "expected rel_type_name"},
      {"MATCH (a)-[:A||B]->(b) RETURN a", 1, 15, ""},
      {"MATCH (:Match) RETURN 1", 1, 9, "expected label_name"},
      {"MATCH (n:Match) RETURN n", 1, 10, "expected label_name"},
      {"MATCH (o:Order) RETURN o", 1, 10, "expected label_name"},
      {"MATCH (n {a:1} :A)", 1, 14, ""},
      {"MATCH (a)-[r {x: 1} :KNOWS]->(b)", 1, 19, ""},
      {"MATCH p = shortestPath((a)-[*]-(b))-->(c) RETURN p", 1, 36, ""},
      // expressions
      {"RETURN --1", 1, 9, "expected atom"},
      {"RETURN - -1", 1, 10, "expected atom"},
      {"RETURN +1", 1, 8, "expected not_expr"},
      {"RETURN x INlist", 1, 10, ""},
      {"RETURN a ORb", 1, 10, ""},
      {"RETURN a ISNULL", 1, 10, ""},
      {"RETURN a IS NULLABLE", 1, 10, ""},
      {"RETURN a IS /* c */ NULL", 1, 10, ""},
      {"RETURN x[1..3]", 1, 13, "expected property_key_name"},
      {"RETURN n.end", 1, 10, "expected property_key_name"},
      {"RETURN nullable", 1, 12, ""},
      {"RETURN my.create.fn()", 1, 11, "expected property_key_name"},
      {"RETURN CASE WHEN (a > 1) THEN 'x' END", 1, 26,
       "expected or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
      {"RETURN CASE WHEN a THEN b", 1, 26, "expected or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
      {"RETURN EXISTS { MATCH (n) }", 1, 17, "expected pattern_part"},
      {"MATCH (n) WHERE (n)-->() RETURN n", 1, 22, "expected atom"},
      {"MATCH (n) WHERE NOT (n)-[:X]->() RETURN n", 1, 26, "expected not_expr or variable"},
      {"MATCH (n) WHERE n:Person RETURN n", 1, 18, ""},
      {"RETURN n {.name}", 1, 10, ""},
      {"RETURN 1 +", 1, 11, "expected atom"},
      {"RETURN a AND", 1, 13, "expected not_expr"},
      {"RETURN NOT", 1, 11, "expected not_kw or atom"},
      {"RETURN [", 1, 9, "expected not_expr or variable"},
      // literals and names
      {"RETURN 0X1F", 1, 9, ""},
      {"RETURN 0x", 1, 9, ""},
      {"RETURN 0o8", 1, 9, ""},
      {"RETURN 1e5", 1, 9, ""},
      {"RETURN .5", 1, 8, "expected not_expr"},
      {"RETURN 'it\\'s'", 1, 13, ""},
      {"RETURN 'open", 1, 8, "expected not_expr"},
      {"RETURN [1, 2,]", 1, 14, "expected not_expr"},
      {"RETURN {end: 1}", 1, 9, "expected property_key_name"},
      {"RETURN order", 1, 8, "expected not_expr"},
      {"RETURN Order", 1, 8, "expected not_expr"},
      {"RETURN asc", 1, 8, "expected not_expr"},
      {"RETURN ends", 1, 8, "expected not_expr"},
      {"RETURN $", 1, 8, "expected not_expr"},
      {"RETURN $`x`", 1, 8, "expected not_expr"},
      {"RETURN $ x", 1, 8, "expected not_expr"},
      {"RETURN $1abc", 1, 10, ""},
      {"RETURN ñame", 1, 8, ""},
  };
  for (const Rejected& c : cases) {
    const SyntaxError e = reject(c.query);
    EXPECT_EQ(e.line, c.line) << c.query;
    EXPECT_EQ(e.column, c.column) << c.query << "\n" << e.display();
    if (*c.message) {
      EXPECT_EQ(e.message, c.message) << c.query;
    }
    EXPECT_FALSE(e.expected.empty()) << c.query;
  }
}

// ---------------------------------------------------------------------------
// The six-line text.

TEST(SyntaxErrorText, WholeText) {
  const struct {
    const char* query;
    const char* text;
  } cases[] = {
      {"MATCH (n RETURN n",
       " --> 1:10\n  |\n1 | MATCH (n RETURN n\n  |          ^---\n  |\n  = expected node_labels or properties"},
      {"MATCH (n:Person)\nWHERE n.age > 30\nRETURN",
       " --> 3:7\n  |\n3 | RETURN\n  |       ^---\n  |\n  = expected not_expr"},
      {"RETURN (1 + 2",
       " --> 1:14\n  |\n1 | RETURN (1 + 2\n  |              ^---\n  |\n"
       "  = expected or_kw, xor_kw, and_kw, comparison_op, or postfix_op"},
      {"", " --> 1:1\n  |\n1 | \n  | ^---\n  |\n  = expected statement"},
      {"   ", " --> 1:4\n  |\n1 |    \n  |    ^---\n  |\n  = expected statement"},
      {"MATCH (n)\n\n\n\n\n\n\n\n\nRETURN",
       "  --> 10:7\n   |\n10 | RETURN\n   |       ^---\n   |\n   = expected not_expr"},
      {"MATCH (n)\r\nRETURN", " --> 2:7\n  |\n2 | RETURN\n  |       ^---\n  |\n  = expected not_expr"},
      {"MATCH (n)\rRETURN",
       " --> 1:17\n  |\n1 | MATCH (n)RETURN\n  |                ^---\n  |\n  = expected not_expr"},
      {"RETURN\n", " --> 2:1\n  |\n2 | \n  | ^---\n  |\n  = expected not_expr"},
      {"RETURN\t1 +", " --> 1:11\n  |\n1 | RETURN\t1 +\n  |       \t   ^---\n  |\n  = expected atom"},
      {"RETURN 'ñ' +", " --> 1:13\n  |\n1 | RETURN 'ñ' +\n  |             ^---\n  |\n  = expected atom"},
      // the line text runs to the next line feed; the error line is the middle one
      {"MATCH (n)\nRETURN n +\nLIMIT 1",
       " --> 3:1\n  |\n3 | LIMIT 1\n  | ^---\n  |\n  = expected atom"},
  };
  for (const auto& c : cases) EXPECT_EQ(reject(c.query).display(), c.text) << c.query;
}

TEST(SyntaxErrorText, ExpectedListIsSortedWithoutRepeats) {
  // The MATCH clause is read twice (multi-part, then single-part), so both
  // rules are recorded twice at the furthest position.
  const SyntaxError e = reject("MATCH (n RETURN n");
  EXPECT_EQ(e.position, 9u);
  EXPECT_EQ(e.expected, (std::vector<Rule>{Rule::node_labels, Rule::properties}));
  EXPECT_EQ(reject("RETURN 'ñ' +").position, 13u);
}

TEST(SyntaxErrorText, MessageJoins) {
  EXPECT_EQ(make_syntax_error("x", 0, {Rule::atom}).message, "expected atom");
  EXPECT_EQ(make_syntax_error("x", 0, {Rule::atom, Rule::EOI, Rule::atom}).message,
            "expected EOI or atom");
  EXPECT_EQ(make_syntax_error("x", 0, {Rule::keyword, Rule::atom, Rule::EOI}).message,
            "expected EOI, atom, or keyword");
}

// ---------------------------------------------------------------------------
// Tree shapes.

TEST(ParseTreeShape, TopLevel) {
  auto r = CypherParser::parse(Rule::cypher, "RETURN 1");
  ASSERT_TRUE(r.ok());
  const ParseTree& t = *r;
  Pairs top = t.pairs();
  auto cy = top.next();
  ASSERT_TRUE(cy);
  EXPECT_TRUE(top.empty());
  EXPECT_EQ(cy->as_rule(), Rule::cypher);
  EXPECT_EQ(cy->as_str(), "RETURN 1");
  EXPECT_EQ(child_rules(*cy), "statement EOI");
  Pairs kids = cy->into_inner();
  EXPECT_EQ(kids.next()->as_str(), "RETURN 1");
  auto eoi = kids.next();
  EXPECT_EQ(eoi->start(), 8u);
  EXPECT_EQ(eoi->end(), 8u);
  EXPECT_EQ(shape(*cy),
            "cypher(statement(regular_query(single_query(single_part_query(return_clause(return_body("
            "return_items(return_item(expression(or_expr(xor_expr(and_expr(not_expr(comparison_expr("
            "add_sub_expr(mul_div_expr(mod_expr(power_expr(unary_expr(postfix_expr(atom(literal("
            "integer_literal)))))))))))))))))))))) EOI)");
}

TEST(ParseTreeShape, TrailingBlanksStayInsideStatement) {
  const std::string q = "  RETURN 1 ;  ";
  ASSERT_EQ(q.size(), 14u);
  auto r = CypherParser::parse(Rule::cypher, q);
  ASSERT_TRUE(r.ok());
  const Pair cy = *r->pairs().next();
  EXPECT_EQ(cy.start(), 0u);
  EXPECT_EQ(cy.end(), 14u);
  Pairs kids = cy.into_inner();
  const Pair st = *kids.next();
  EXPECT_EQ(st.start(), 2u);
  EXPECT_EQ(st.as_str(), "RETURN 1 ");
  EXPECT_EQ(kids.next()->start(), 14u);
}

TEST(ParseTreeShape, PairTexts) {
  const struct {
    const char* query;
    Rule rule;
    const char* text;      // the text of the first pair of `rule`
    const char* children;  // its child rules
  } cases[] = {
      {"MATCH (n:Person ) RETURN n", Rule::node_labels, ":Person ", "label_name"},
      {"MATCH (n:Person ) RETURN n", Rule::label_name, "Person", ""},
      {"MATCH (a)-[r]- (b) RETURN a", Rule::relationship_pattern, "-[r]- ", "variable"},
      {"MATCH (a)-[r]->(b) RETURN a", Rule::relationship_pattern, "-[r]->", "variable right_arrow"},
      {"RETURN n // done", Rule::statement, "RETURN n // done", "regular_query"},
      {"MATCH (n:`My Label`) RETURN n", Rule::label_name, "`My Label`", ""},
      {"RETURN DISTINCT n", Rule::return_clause, "RETURN DISTINCT n", "return_body"},
      {"RETURN 1", Rule::return_clause, "RETURN 1", "return_body"},
      {"MATCH (n) SET n::Label RETURN n", Rule::set_item, "n::Label ", "variable node_labels"},
      {"MATCH (n) SET n += {a: 1}", Rule::set_item, "n += {a: 1}", "variable expression"},
      {"RETURN a asc", Rule::return_item, "a asc", "expression variable"},
      {"RETURN a asc", Rule::variable, "a", ""},
      {"MATCH (n) RETURN n ORDER BY n.a asc", Rule::sort_item, "n.a asc", "expression"},
      {"MATCH (a)<-[r:KNOWS|:LIKES*1..3 {x: 1}]->(b) RETURN a", Rule::relationship_pattern,
       "<-[r:KNOWS|:LIKES*1..3 {x: 1}]->", "left_arrow variable rel_types range_literal properties right_arrow"},
      {"MATCH (a)<-[r:KNOWS|:LIKES*1..3 {x: 1}]->(b) RETURN a", Rule::rel_types, ":KNOWS|:LIKES",
       "rel_type_name rel_type_name"},
      {"MATCH (a)<-[r:KNOWS|:LIKES*1..3 {x: 1}]->(b) RETURN a", Rule::range_literal, "*1..3",
       "integer_literal integer_literal"},
      {"MATCH (a)-[*2..]->(b)", Rule::range_literal, "*2..", "integer_literal"},
      {"MATCH (a) < - [ r ] - > (b) RETURN a", Rule::relationship_pattern, "< - [ r ] - >",
       "left_arrow variable right_arrow"},
      {"MATCH (a)-->(b)<--(c)--(d) RETURN a", Rule::pattern_element, "(a)-->(b)<--(c)--(d)",
       "node_pattern relationship_pattern node_pattern relationship_pattern node_pattern "
       "relationship_pattern node_pattern"},
      {"MATCH p = allShortestPaths((a)-[*]-(b)) RETURN p", Rule::pattern_part,
       "p = allShortestPaths((a)-[*]-(b))", "variable pattern_element"},
      {"MATCH p = allShortestPaths((a)-[*]-(b)) RETURN p", Rule::pattern_element,
       "allShortestPaths((a)-[*]-(b))", "shortest_path_call"},
      {"MATCH p = allShortestPaths((a)-[*]-(b)) RETURN p", Rule::shortest_path_call,
       "allShortestPaths((a)-[*]-(b))", "node_pattern relationship_pattern node_pattern"},
      {"RETURN a < b <= c", Rule::comparison_expr, "a < b <= c",
       "add_sub_expr comparison_op add_sub_expr comparison_op add_sub_expr"},
      {"RETURN NOT NOT a", Rule::not_expr, "NOT NOT a", "not_kw not_kw comparison_expr"},
      {"RETURN a =~ 'A.*'", Rule::comparison_op, "=~", ""},
      {"RETURN s ENDS  WITH t", Rule::comparison_op, "ENDS  WITH", ""},
      {"RETURN x STARTSWITH y", Rule::comparison_op, "STARTSWITH", ""},
      {"RETURN x IN[1, 2]", Rule::comparison_op, "IN", ""},
      {"RETURN s CONTAINS t", Rule::comparison_op, "CONTAINS", ""},
      {"RETURN a IS  NOT\tNULL", Rule::null_check_op, "IS  NOT\tNULL", ""},
      {"RETURN a + b", Rule::mul_div_expr, "a ", "mod_expr"},
      {"RETURN a + b", Rule::postfix_expr, "a ", "atom"},
      {"RETURN x[1]", Rule::postfix_op, "[1]", "subscript_op"},
      {"RETURN x[1 .. 3]", Rule::list_slice_op, "[1 .. 3]", "expression expression"},
      {"RETURN x[..3]", Rule::list_slice_op, "[..3]", "expression"},
      {"RETURN x[..]", Rule::list_slice_op, "[..]", ""},
      {"RETURN [x IN list]", Rule::atom, "[x IN list]", "literal"},
      {"RETURN [x IN list]", Rule::list_literal, "[x IN list]", "expression"},
      {"RETURN [x IN list WHERE x > 1 | x * 2]", Rule::list_comprehension,
       "[x IN list WHERE x > 1 | x * 2]", "filter_expression expression"},
      {"RETURN [x INlist WHERE x > 0]", Rule::id_in_coll, "x INlist ", "variable expression"},
      {"RETURN count(*)", Rule::atom, "count(*)", "count_star"},
      {"RETURN COUNT ( * )", Rule::count_star, "COUNT ( * )", ""},
      {"RETURN count(x)", Rule::function_invocation, "count(x)", "function_name expression"},
      {"RETURN count(DISTINCT n)", Rule::function_invocation, "count(DISTINCT n)", "function_name expression"},
      {"RETURN count(distinctX)", Rule::function_invocation, "count(distinctX)", "function_name expression"},
      {"RETURN reduce(x)", Rule::function_invocation, "reduce(x)", "function_name expression"},
      {"RETURN reduce(s = 0, x IN list | s + x)", Rule::reduce_expression,
       "reduce(s = 0, x IN list | s + x)", "variable expression variable expression expression"},
      {"RETURN a.b.c(1)", Rule::function_name, "a.b.c", ""},
      {"RETURN `my ns`.fn(1)", Rule::function_name, "`my ns`.fn", ""},
      {"RETURN a.b.fn", Rule::postfix_expr, "a.b.fn", "atom postfix_op postfix_op"},
      {"RETURN CASE n.x WHEN 1 THEN 'a' END", Rule::case_expression, "CASE n.x WHEN 1 THEN 'a' END",
       "expression expression expression"},
      {"RETURN CASE WHEN a > 1 THEN 'x' ELSE 'y' END", Rule::case_expression,
       "CASE WHEN a > 1 THEN 'x' ELSE 'y' END", "expression expression expression"},
      {"RETURN exists { (a)-->(b) }", Rule::atom, "exists { (a)-->(b) }", "exists_subquery"},
      {"RETURN exists(n.p)", Rule::atom, "exists(n.p)", "function_invocation"},
      {"RETURN f (x)", Rule::atom, "f (x)", "function_invocation"},
      {"RETURN all(x IN l WHERE x > 1)", Rule::quantifier_expression, "all(x IN l WHERE x > 1)",
       "filter_expression"},
      {"RETURN allx", Rule::atom, "allx", "variable"},
      {"RETURN 0x1F, 0o17", Rule::return_items, "0x1F, 0o17", "return_item return_item"},
      {"RETURN 0x1F", Rule::integer_literal, "0x1F", ""},
      {"RETURN 'say \"hi\"'", Rule::string_literal, "'say \"hi\"'", ""},
      {"RETURN `my var`", Rule::variable, "`my var`", ""},
      {"RETURN ``", Rule::variable, "``", ""},
      {"RETURN $limit", Rule::parameter, "$limit", ""},
      {"RETURN $1", Rule::parameter, "$1", ""},
      {"RETURN {a: 1, a: 2}", Rule::map_literal, "{a: 1, a: 2}", "property_key_value_pair property_key_value_pair"},
      {"RETURN {a: 1}", Rule::property_key_value_pair, "a: 1", "property_key_name expression"},
      {"MATCH (n) SET n.x.y = 1", Rule::property_expression, "n.x.y", "variable property_lookup property_lookup"},
      {"CALL db.labels() YIELD label AS l, x", Rule::yield_items, "label AS l, x", "yield_item yield_item"},
      {"CALL db.labels() YIELD label AS l, x", Rule::yield_item, "label AS l", "procedure_result_field variable"},
      {"CALL db.`a b`.labels(1, 2)", Rule::explicit_procedure_invocation, "db.`a b`.labels(1, 2)",
       "procedure_name expression expression"},
      {"CALL db.`a b`.labels(1, 2)", Rule::procedure_name, "db.`a b`.labels", ""},
      {"RETURN 1 UNION ALL RETURN 2", Rule::regular_query, "RETURN 1 UNION ALL RETURN 2", "single_query union_clause"},
      {"RETURN 1 UNION ALL RETURN 2", Rule::union_clause, "UNION ALL RETURN 2", "single_query"},
      {"MATCH (n) WITH n MATCH (m) RETURN m", Rule::multi_part_query, "MATCH (n) WITH n MATCH (m) RETURN m",
       "reading_clause with_clause reading_clause return_clause"},
      {"MERGE (n) ON CREATE SET n.x = 1", Rule::merge_clause, "MERGE (n) ON CREATE SET n.x = 1",
       "pattern_part on_match_or_create"},
      {"FOREACH (x IN [1] | CREATE (n) SET n.x = x)", Rule::foreach_clause,
       "FOREACH (x IN [1] | CREATE (n) SET n.x = x)", "variable expression updating_clause updating_clause"},
      {"MATCH (n) RETURN n ORDER BY n SKIP 1 LIMIT 2", Rule::return_body, "n ORDER BY n SKIP 1 LIMIT 2",
       "return_items order_clause skip_clause limit_clause"},
      {"RETURN *", Rule::return_items, "*", ""},
  };
  for (const auto& c : cases) {
    auto r = CypherParser::parse(Rule::cypher, c.query);
    ASSERT_TRUE(r.ok()) << c.query;
    const auto found = find(*r, c.rule);
    ASSERT_FALSE(found.empty()) << c.query << " has no " << rule_name(c.rule);
    EXPECT_EQ(found[0].as_str(), c.text) << c.query;
    EXPECT_EQ(child_rules(found[0]), c.children) << c.query;
  }
}

TEST(ParseTreeShape, OperandsOfOperatorLevels) {
  auto r = CypherParser::parse(Rule::cypher, "RETURN a * b % c");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(child_texts(find(*r, Rule::mul_div_expr)[0]), "a |b % c");
  auto p = CypherParser::parse(Rule::cypher, "RETURN -2 ^ 2");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(child_texts(find(*p, Rule::power_expr)[0]), "-2 |2");
}

// A stack of expression rules over one span is kept folded; every way of
// reading pairs sees it pair by pair, and a span that differs (a sign, a
// trailing blank) ends the stack where it differs.
TEST(ParseTreeShape, FoldedStacksReadPairByPair) {
  const std::string q = "RETURN [1, -2 , (3), n.k]";
  ParserState st;
  st.set_fold_from(0);
  ASSERT_TRUE(CypherParser::parse_into(st, Rule::cypher, q).ok());
  const auto tokens = st.tokens();
  const ParseTree tree{std::vector<Token>(tokens.begin(), tokens.end()), q};
  const ParseTree* r = &tree;
  const auto numbers = find(*r, Rule::integer_literal);
  ASSERT_EQ(numbers.size(), 3u);
  const auto elements = child_rules(find(*r, Rule::list_literal)[0]);
  EXPECT_EQ(elements, "expression expression expression expression");
  const std::string stack =
      "expression(or_expr(xor_expr(and_expr(not_expr(comparison_expr(add_sub_expr(mul_div_expr("
      "mod_expr(power_expr(unary_expr(postfix_expr(atom(literal(integer_literal))))))))))))))";
  const Pair first = *find(*r, Rule::list_literal)[0].into_inner().peek();
  EXPECT_EQ(shape(first), stack);
  // The sign stays outside postfix_expr, the trailing blank outside atom.
  EXPECT_EQ(child_texts(find(*r, Rule::power_expr)[2]), "-2 ");
  EXPECT_EQ(child_texts(find(*r, Rule::unary_expr)[2]), "2 ");
  EXPECT_EQ(child_texts(find(*r, Rule::postfix_expr)[2]), "2");
  for (const Pair& p : all_pairs(*r)) {
    const auto inner = p.into_inner();
    const auto child = p.first_child();
    ASSERT_EQ(child.has_value(), !inner.empty());
    if (child) {
      EXPECT_EQ(child->as_rule(), inner.peek()->as_rule());
      EXPECT_EQ(child->as_str(), inner.peek()->as_str());
    }
    // Down through lone children, as the builder steps: the rules met are
    // those the nested pairs name.
    std::string walked;
    const Pair end = p.descend_while([&](Pair at, Rule rule, Rule below) {
      EXPECT_EQ(at.as_rule(), rule);
      EXPECT_EQ(at.first_child()->as_rule(), below);
      walked += rule_name(rule);
      walked += '(';
      return true;
    });
    std::string expected = shape(p);
    expected.resize(walked.size());
    EXPECT_EQ(walked, expected) << shape(p);
    std::size_t below = 0;
    for (const Pair& c : end.into_inner()) below += c.end() >= c.start();
    EXPECT_NE(below, 1u) << shape(p);
  }
}

// Every pair as "rule start end", nested by indentation, read through
// into_inner, first_child, descend_while and descend_chain alike.
void walk(Pairs pairs, std::string& out, int depth = 0) {
  for (const Pair& p : pairs) {
    out.append(static_cast<std::size_t>(depth), ' ');
    out += rule_name(p.as_rule());
    out += ' ' + std::to_string(p.start()) + ' ' + std::to_string(p.end());
    if (const auto c = p.first_child()) out += std::string(" > ") += rule_name(c->as_rule());
    const Pair lone = p.descend_while([](Pair, Rule, Rule) { return true; });
    out += std::string(" >> ") += rule_name(lone.as_rule());
    // descend_chain ends where stepping down through lone children of the
    // next rule of kChain, starting at the same place, ends.
    const Pair chain = p.descend_chain();
    const Pair stepped = p.descend_while([](Pair at, Rule rule, Rule below) {
      return below == chain_below(rule) && at.first_child()->start() == at.start();
    });
    EXPECT_EQ(chain.as_rule(), stepped.as_rule()) << p.as_str();
    EXPECT_EQ(chain.start(), stepped.start()) << p.as_str();
    EXPECT_EQ(chain.end(), stepped.end()) << p.as_str();
    EXPECT_EQ(chain.into_inner().peek().has_value(), stepped.into_inner().peek().has_value());
    out += std::string(" >>> ") += rule_name(chain.as_rule());
    out += '\n';
    walk(p.into_inner(), out, depth + 1);
  }
}

std::string pairs_of(std::string_view q, std::uint32_t fold_from) {
  ParserState st;
  st.set_fold_from(fold_from);
  if (!CypherParser::parse_into(st, Rule::cypher, q).ok()) return "rejected";
  std::string out;
  walk(Pairs(st.tokens(), q), out);
  return out;
}

// Folded or not, a text has the same pairs.
TEST(ParseTreeShape, FoldingKeepsEveryPair) {
  const auto files = torvane::testing::corpus_files(torvane::testing::corpus_dir());
  if (files.empty()) GTEST_SKIP() << "no corpus at " << torvane::testing::corpus_dir();
  std::vector<std::string> texts = {"RETURN [1, -2 , (3), n.k, a + b * -c, [[1]], {a: [x]}]",
                                    "RETURN -1, NOT x, -(-a), x IS NULL , f(-(1))"};
  for (const auto& f : files)
    for (std::string& q : torvane::testing::read_queries(f)) texts.push_back(std::move(q));
  for (const std::string& q : texts)
    ASSERT_EQ(pairs_of(q, 0), pairs_of(q, UINT32_MAX)) << q;
}

TEST(ParseTreeShape, DistinctNeedsWordEnd) {
  // A name that begins with distinct is the argument, not DISTINCT and the rest.
  auto r = CypherParser::parse(Rule::cypher, "RETURN count(distinctX)");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(child_texts(find(*r, Rule::function_invocation)[0]), "count|distinctX");
  auto d = CypherParser::parse(Rule::cypher, "RETURN count(DISTINCT(x))");
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(child_texts(find(*d, Rule::function_invocation)[0]), "count|(x)");
  auto w = CypherParser::parse(Rule::cypher, "WITH distinctIds AS d RETURN DISTINCT d");
  ASSERT_TRUE(w.ok());
  EXPECT_EQ(find(*w, Rule::return_item)[0].as_str(), "distinctIds AS d");
}

TEST(ParseTreeShape, LiteralKinds) {
  auto r = CypherParser::parse(Rule::cypher, "RETURN 15, 1.5, 1., 1.e5, 1.5E-3, 007");
  ASSERT_TRUE(r.ok());
  std::string kinds;
  for (const Pair& lit : find(*r, Rule::literal)) kinds += std::string(rule_name(lit.into_inner().peek()->as_rule())) + ' ';
  EXPECT_EQ(kinds,
            "integer_literal float_literal float_literal float_literal float_literal integer_literal ");
}

TEST(ParseTreeShape, NeverInTree) {
  // Leaves of atomic rules have no children, and the rules that run only
  // inside atomic rules (or never win) make no pairs.
  auto r = CypherParser::parse(Rule::cypher,
                               "CALL util.listAll() YIELD x MATCH (`a b`:L)-[:T]->() WHERE f.g.h(x) "
                               "RETURN x // c\n");
  ASSERT_TRUE(r.ok());
  for (Rule never : {Rule::WHITESPACE, Rule::COMMENT, Rule::standalone_call, Rule::identifier,
                     Rule::backtick_identifier, Rule::namespace_, Rule::keyword})
    EXPECT_TRUE(find(*r, never).empty()) << rule_name(never);
  auto q = CypherParser::parse(Rule::cypher, "CALL util.listAll()");
  ASSERT_TRUE(q.ok());
  EXPECT_EQ(shape(*q->pairs().peek()),
            "cypher(statement(regular_query(single_query(single_part_query(reading_clause(in_query_call("
            "explicit_procedure_invocation(procedure_name))))))) EOI)");
}

// ---------------------------------------------------------------------------
// Single rules, by id.

TEST(Rules, FromAnyStartRule) {
  const struct {
    Rule rule;
    const char* text;
    bool ok;
    std::uint32_t end;  // bytes consumed, or failure position
  } cases[] = {
      {Rule::keyword, "ORDER", true, 5},      {Rule::keyword, "orders", false, 0},
      {Rule::keyword, "ascending", true, 9},  {Rule::keyword, "asc", true, 3},
      {Rule::keyword, "DO", true, 2},         {Rule::keyword, "ends", true, 4},
      {Rule::identifier, "matches", true, 7}, {Rule::identifier, "`a` `", true, 3},
      // A doubled backtick stands for one inside the name, so "`a``" is unclosed.
      {Rule::identifier, "`a``b`", true, 6},  {Rule::identifier, "`a``", false, 0},
      {Rule::variable, "_x1 y", true, 3},     {Rule::variable, "1x", false, 0},
      {Rule::integer_literal, "0x1Fg", true, 4}, {Rule::integer_literal, "0X1F", true, 1},
      {Rule::float_literal, "1.e5", true, 4}, {Rule::float_literal, "1e5", false, 0},
      {Rule::string_literal, "'a\"b'", true, 5}, {Rule::string_literal, "'abc", false, 0},
      {Rule::parameter, "$1abc", true, 2},    {Rule::function_name, "a.b.c(", true, 5},
      {Rule::null_check_op, "IS NOT  NULL", true, 12}, {Rule::null_check_op, "IS NULLx", false, 0},
      {Rule::comparison_op, "<>", true, 2},   {Rule::comparison_op, "STARTS /* x */ WITH", true, 19},
      {Rule::COMMENT, "/**/", true, 4},       {Rule::COMMENT, "/*/", false, 0},
      {Rule::COMMENT, "// x\ny", true, 5},    {Rule::WHITESPACE, "\f", false, 0},
      {Rule::expression, "a + b  ", true, 7}, {Rule::node_labels, ":A :B ", true, 5}, {Rule::node_labels, ":A ", true, 3},
      {Rule::EOI, "", true, 0},
  };
  for (const auto& c : cases) {
    ParserState st;
    auto r = CypherParser::parse_into(st, c.rule, c.text);
    EXPECT_EQ(r.ok(), c.ok) << rule_name(c.rule) << " on " << c.text;
    if (c.ok && r.ok()) {
      EXPECT_EQ(st.pos(), c.end) << rule_name(c.rule) << " on " << c.text;
    }
  }
}

TEST(Rules, SkipMatchesTheSilentRules) {
  // The engine's hand-written skip against WHITESPACE* (COMMENT WHITESPACE*)*.
  const char* const texts[] = {"", " x", "  /* a */ // b\n  /* c */x", "/* open", "/x", "//", "/**/ /*/ x */y",
                               "\t\r\n// a\r\n/", " /* a */ /* b"};
  for (const char* t : texts) {
    ParserState a;
    a.reset(t);
    a.skip();
    ParserState b;
    b.reset(t);
    while (grammar::WHITESPACE(b)) {
    }
    while (true) {
      const auto m = b.mark();
      if (!grammar::COMMENT(b)) break;
      while (grammar::WHITESPACE(b)) {
      }
      (void)m;
    }
    EXPECT_EQ(a.pos(), b.pos()) << t;
  }
}

// The keyword rule line, literally: its choice in the order of the list, then WE.
bool keyword_by_alternatives(ParserState& s) {
  using namespace torvane::parser::peg;
  return s.rule(
      Rule::keyword,
      seq(alt(kw<"ALL">, kw<"AND">, kw<"ANY">, kw<"ASCENDING">, kw<"ASC">, kw<"AS">, kw<"BY">,
              kw<"CALL">, kw<"CASE">, kw<"CONTAINS">, kw<"COUNT">, kw<"CREATE">, kw<"DELETE">,
              kw<"DESCENDING">, kw<"DESC">, kw<"DETACH">, kw<"DISTINCT">, kw<"DO">, kw<"DROP">,
              kw<"ELSE">, kw<"ENDS">, kw<"END">, kw<"EXISTS">, kw<"FALSE">, kw<"FOREACH">, kw<"FOR">,
              kw<"FROM">, kw<"IN">, kw<"IS">, kw<"LIMIT">, kw<"MATCH">, kw<"MERGE">, kw<"NEW">,
              kw<"NONE">, kw<"NOT">, kw<"NULL">, kw<"ON">, kw<"OPTIONAL">, kw<"ORDER">, kw<"OR">,
              kw<"REDUCE">, kw<"REMOVE">, kw<"RETURN">, kw<"SET">, kw<"SINGLE">, kw<"SKIP">,
              kw<"STARTS">, kw<"THEN">, kw<"TRUE">, kw<"UNION">, kw<"UNWIND">, kw<"WHEN">,
              kw<"WHERE">, kw<"WITH">, kw<"XOR">, kw<"YIELD">),
          we));
}

TEST(Rules, KeywordTableMatchesItsRuleLine) {
  const char* const words[] = {
      "ALL", "AND", "ANY", "ASCENDING", "ASC", "AS", "BY", "CALL", "CASE", "CONTAINS", "COUNT", "CREATE",
      "DELETE", "DESCENDING", "DESC", "DETACH", "DISTINCT", "DO", "DROP", "ELSE", "ENDS", "END", "EXISTS",
      "FALSE", "FOREACH", "FOR", "FROM", "IN", "IS", "LIMIT", "MATCH", "MERGE", "NEW", "NONE", "NOT", "NULL",
      "ON", "OPTIONAL", "ORDER", "OR", "REDUCE", "REMOVE", "RETURN", "SET", "SINGLE", "SKIP", "STARTS",
      "THEN", "TRUE", "UNION", "UNWIND", "WHEN", "WHERE", "WITH", "XOR", "YIELD"};
  std::vector<std::string> texts = {"", "x", "A", "ASCEND", "orders", "Do", "dOeS", "nul", "\xE2\x84\xAA" "EY",
                                    "ascendinh", "descendint", "descendinGs", "allShortestPaths", "@ND", "_and"};
  for (std::string w : words) {
    for (const char* tail : {"", " ", "x", "1", "_", "(", "\xC3\xA9"}) {
      texts.push_back(w + tail);
      std::string low = w;
      for (char& c : low) c = static_cast<char>(c | 0x20);
      texts.push_back(low + tail);
      texts.push_back(w.substr(0, w.size() - 1) + tail);
    }
  }
  for (const std::string& t : texts) {
    ParserState a, b;
    a.reset(t);
    b.reset(t);
    const bool ra = grammar::keyword(a);
    const bool rb = keyword_by_alternatives(b);
    EXPECT_EQ(ra, rb) << t;
    EXPECT_EQ(a.pos(), b.pos()) << t;
  }
}

// ---------------------------------------------------------------------------
// Nesting bound.

TEST(Nesting, DeepTextsFailCleanly) {
  for (const char open : {'(', '['}) {
    const std::string q = "RETURN " + std::string(100000, open) + "1";
    auto r = CypherParser::parse(Rule::cypher, q);
    ASSERT_FALSE(r.ok());
    const SyntaxError& e = r.error();
    EXPECT_EQ(e.message, "query nested too deeply (more than 1000 nested grammar rules)");
    EXPECT_TRUE(e.expected.empty());
    EXPECT_EQ(e.line, 1u);
    EXPECT_GT(e.column, 8u);
    EXPECT_LT(e.column, 200u);
    const std::string d = e.display();
    EXPECT_EQ(d.rfind(" --> 1:", 0), 0u);
    EXPECT_NE(d.find("\n  = query nested too deeply"), std::string::npos);
  }
}

// A text nested past the bound fails with the nesting error on a worker
// thread with a small stack. A run of unary minuses or NOTs is no nesting: it
// fails, or parses, like any flat text.
TEST(Nesting, DeepTextsOnASmallStack) {
  constexpr std::size_t kStack = torvane::testing::stack_size(128 * 1024, 1024 * 1024);
  const struct {
    const char* piece;
    const char* tail;
    bool nesting;        // the nesting error, else an ordinary syntax error...
    const char* message;  // ...with this message
  } cases[] = {
      {"(", "", true, ""},
      {"[", "", true, ""},
      {"{a: ", "", true, ""},
      {"CASE WHEN ", "", true, ""},
      {"[x IN ", "", true, ""},
      {"reduce(a = 0, x IN ", "", true, ""},
      {"EXISTS { ({a: ", "", true, ""},
      {"-", "1", false, "expected atom"},
      {"NOT ", "", false, "expected not_kw or atom"},
  };
  for (const auto& c : cases) {
    std::string q = "RETURN ";
    for (int i = 0; i < 20000; ++i) q += c.piece;
    q += c.tail;
    std::optional<SyntaxError> error;
    torvane::testing::run_on_stack(kStack, [&] {
      auto r = CypherParser::parse(Rule::cypher, q);
      if (!r.ok()) error = r.error();
    });
    ASSERT_TRUE(error.has_value()) << c.piece;
    EXPECT_EQ(error->expected.empty(), c.nesting) << c.piece;
    if (!c.nesting) {
      EXPECT_EQ(error->message, c.message) << c.piece;
    }
  }
  // the minus run fails at its second sign
  const std::string minuses = "RETURN " + std::string(20000, '-') + "1";
  EXPECT_EQ(reject(minuses).column, 9u);
}

TEST(Nesting, ModerateDepthParses) {
  const std::string q = "RETURN " + std::string(40, '(') + "1" + std::string(40, ')') + ", " +
                        std::string(40, '[') + "1" + std::string(40, ']');
  EXPECT_TRUE(CypherParser::parse(Rule::cypher, q).ok());
}

// ---------------------------------------------------------------------------
// Remembered attempts: the parse state replays an attempt of a remembered rule
// made before at the same position. Its verdict must be the plain engine's in
// every respect, and nested texts that the plain engine reads again at every
// level must cost work linear in their length.

struct Verdict {
  bool ok = false;
  bool out_of_work = false;  // stopped by the bound on rule attempts
  std::vector<Token> tokens;
  SyntaxError error{};
  std::uint64_t attempts = 0;
  std::uint32_t peak_depth = 0;
  std::size_t tokens_saved = 0;
};

// The engine's two switches: the product runs with both on, the plain engine
// with both off. Tests fold every text unless told not to, which only large
// texts do in use.
struct Engine {
  bool memo, shortcuts;
  bool fold = true;
};
constexpr Engine kPlain{false, false}, kProduct{true, true}, kShortcutsOnly{false, true};

Verdict read(ParserState& st, std::string_view q, Rule start = Rule::cypher) {
  auto r = CypherParser::parse_into(st, start, q);
  Verdict v;
  v.ok = r.ok();
  v.out_of_work = st.stopped() == ParserState::Stop::too_long;
  v.attempts = st.attempts();
  v.peak_depth = st.peak_depth();
  v.tokens_saved = st.tokens_saved();
  if (r.ok()) {
    v.tokens.assign(st.tokens().begin(), st.tokens().end());
  } else {
    v.error = r.error();
  }
  return v;
}

Verdict verdict(std::string_view q, Engine engine, Rule start = Rule::cypher) {
  ParserState st;
  st.set_memo(engine.memo);
  st.set_shortcuts(engine.shortcuts);
  st.set_fold_from(engine.fold ? 0 : UINT32_MAX);
  return read(st, q, start);
}

// With the memo on or off, the shortcuts alike.
Verdict verdict(std::string_view q, bool memo, Rule start = Rule::cypher) {
  return verdict(q, memo ? kProduct : kPlain, start);
}

void expect_same(std::string_view q, const Verdict& a, const Verdict& b) {
  ASSERT_EQ(a.ok, b.ok) << q;
  ASSERT_EQ(a.tokens.size(), b.tokens.size()) << q;
  for (std::size_t i = 0; i < a.tokens.size(); ++i) {
    const Token &x = a.tokens[i], &y = b.tokens[i];
    ASSERT_TRUE(x.offset == y.offset && x.partner == y.partner && x.rule == y.rule && x.closing == y.closing &&
                x.inner == y.inner)
        << q << " differs at token " << i;
  }
  EXPECT_EQ(a.error.position, b.error.position) << q;
  EXPECT_EQ(a.error.expected, b.error.expected) << q;
  EXPECT_EQ(a.error.display(), b.error.display()) << q;
}

// Every chain of operators is a repetition in the grammar (NOT and the
// postfix operators as well as the binary levels), so a chain of any length
// parses into one level pair holding all its operands: no nesting, and a
// few rule attempts per byte, alike in the plain and the remembering engine.
TEST(Nesting, FlatChainsAreNoNesting) {
  const struct {
    const char *head, *step, *tail;
  } cases[] = {
      {"RETURN 1", " + 1", ""},
      {"RETURN 'a'", " + 'a'", ""},
      {"MATCH (n) WHERE n.a = 0", " OR n.a = 1", " RETURN n"},
      {"MATCH (n) WHERE n.a <> 0", " AND n.a <> 1", " RETURN n"},
      {"RETURN a", " XOR b", ""},
      {"RETURN ", "NOT ", "x"},
      {"RETURN a", " < b", ""},
      {"RETURN a", " * b / c", ""},
      {"RETURN a", " % b", ""},
      {"RETURN a", " ^ b", ""},
      {"RETURN n", ".a", ""},
      {"RETURN n", "[0]", ""},
      {"RETURN n", "[0 ..]", ""},
      {"RETURN n", " IS NOT NULL", ""},
  };
  for (const auto& c : cases) {
    std::string q = c.head;
    for (int i = 0; i < 100000; ++i) q += c.step;
    q += c.tail;
    const Verdict v = verdict(q, true);
    ASSERT_TRUE(v.ok) << c.step << ": " << v.error.display();
    expect_same(q, v, verdict(q, false));
    std::uint32_t depth = 0, deepest = 0;
    for (const Token& t : v.tokens) deepest = std::max(deepest, t.closing ? depth-- : ++depth);
    EXPECT_LT(deepest, 40u) << c.step;
    EXPECT_LE(v.attempts, 20 * q.size()) << c.step;
  }
}

// Nested texts: `open` `depth` times, `middle`, then `close` `closes` times.
std::string nested(const char* head, const char* open, const char* middle, const char* close, int depth,
                   int closes) {
  std::string q = head;
  for (int i = 0; i < depth; ++i) q += open;
  q += middle;
  for (int i = 0; i < closes; ++i) q += close;
  return q;
}

struct NestedShape {
  const char *head, *open, *middle, *close;
};

// Shapes that the plain engine reads again at every level (the open ones
// about 2.5 times per level, so 2^depth-fold), and some that it does not.
const NestedShape kShapes[] = {
    {"RETURN ", "[x IN ", "", ""},                 // list literal, then list comprehension
    {"RETURN ", "[x IN ", "x", "]"},
    {"RETURN ", "[x IN l WHERE ", "x", "]"},
    {"RETURN ", "x[", "1", ""},                    // subscript, then slice
    {"RETURN ", "x[", "1", "..]"},
    {"RETURN ", "x[[x IN ", "1", "]..]"},
    {"RETURN ", "reduce(a = 0, x IN ", "", ""},    // reduce, then a function call
    {"RETURN ", "all(x IN ", "", ""},              // quantifier, then a function call
    {"RETURN ", "any(x IN [y IN ", "x", "])"},
    {"RETURN ", "{a: [x IN ", "x", "]}"},
    {"UNWIND ", "[x IN ", "x", "]"},
    {"FOREACH (y IN ", "[x IN ", "x", "]"},
    {"FOREACH (x IN l | ", "FOREACH (x IN l | ", "CREATE ()", ")"},
    {"MATCH (n {a: ", "[x IN ", "x", "]"},
    {"RETURN ", "EXISTS { (n {a: ", "1", "}) }"},
    {"RETURN ", "CASE ", "", ""},
    {"RETURN ", "(", "1", ")"},
    {"RETURN ", "[", "1", "]"},
    {"RETURN ", "f(", "1", ")"},
};

// The corpus and, for every fifth query, a cut and a spliced copy.
std::vector<std::string> corpus_and_copies() {
  std::vector<std::string> texts;
  const auto files = torvane::testing::corpus_files(torvane::testing::corpus_dir());
  std::uint32_t x = 2463534242u;  // xorshift: the same copies every run
  const auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
  const char* const pieces[] = {"(", ")", "[", "]", "{", "}", ",", " ", "x", "IN ", "[x IN ", "..", "|", "'",
                                "/*", "WITH ", "RETURN "};
  for (const auto& f : files) {
    std::size_t n = 0;
    for (const std::string& q : torvane::testing::read_queries(f)) {
      texts.push_back(q);
      if (n++ % 5 != 0 || q.empty()) continue;
      std::size_t at = next() % (q.size() + 1);
      while (at < q.size() && (static_cast<unsigned char>(q[at]) & 0xC0) == 0x80) ++at;
      texts.push_back(q.substr(0, at));
      texts.push_back(q.substr(0, at) + pieces[next() % std::size(pieces)] + q.substr(at));
    }
  }
  return texts;
}

TEST(Memo, SameVerdictAsThePlainEngine) {
  std::vector<std::string> texts;
  // every shape closed, one short and left open, at depths the plain engine
  // still parses within the bound on attempts, and past the nesting bound
  for (const NestedShape& s : kShapes)
    for (int depth : {1, 2, 4, 6, 100})
      for (int closes : {depth, depth - 1, 0}) texts.push_back(nested(s.head, s.open, s.middle, s.close, depth, closes));
  for (std::string& q : corpus_and_copies()) texts.push_back(std::move(q));
  for (const std::string& q : texts) {
    const Verdict plain = verdict(q, false);
    ASSERT_FALSE(plain.out_of_work) << q;
    expect_same(q, verdict(q, true), plain);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// A text and the rule to start it from.
struct Started {
  Rule start;
  std::string text;
};

// Every byte, alone and before a few rests, from the rules that fail at once
// where their first byte cannot begin them.
std::vector<Started> first_byte_texts() {
  std::vector<Started> out;
  for (Rule start : {Rule::literal, Rule::postfix_op, Rule::comparison_op, Rule::properties,
                     Rule::variable, Rule::label_name, Rule::property_key_name, Rule::atom})
    for (int b = -1; b < 256; ++b)
      for (const char* rest : {"", "x", " 1", "(a)", "s NULL", "N 1"})
        out.push_back({start, (b < 0 ? "" : std::string(1, static_cast<char>(b))) + rest});
  return out;
}

// Rules that fail at once when their first byte cannot begin them must do so
// exactly as their bodies would, down to the count of attempts.
TEST(Memo, FailingAtOnceAsTheBodyWould) {
  for (const auto& [start, q] : first_byte_texts()) {
    const Verdict plain = verdict(q, false, start), fast = verdict(q, true, start);
    expect_same(q, fast, plain);
    // (inner rules that fail at once may count differently)
    const bool at_once = !plain.ok && plain.error.position == 0 && plain.error.expected == std::vector{start};
    if (at_once) {
      EXPECT_EQ(fast.attempts, plain.attempts) << rule_name(start) << ": " << q;
    }
  }
}

// Words, dots and backticked parts, then what may follow a function's name.
std::vector<Started> call_texts() {
  std::vector<Started> out;
  for (const char* head : {"a", "a.b", "count", "a.count.b", "a.count", "`x`", "`x`.y", "a.`b`", "`x", "a.`b",
                           "a .b", "a.", "_1", "1", "a.1", "a._", "exists", "a..b", "`a`b", "a`b`", "a.b.", "",
                           "`a``b`", "a.`b``c`", "`a``"})
    for (const char* rest : {"", "(", " (", "/* c */ (1)", "//x\n()", " x", "(x)", ".(", "`(", "/(", "/* ("})
      for (Rule start : {Rule::function_invocation, Rule::atom, Rule::expression})
        out.push_back({start, std::string(head) + rest});
  return out;
}

// A function call is ruled out by what follows the words, dots and
// backticked parts at its start; the verdict stays the body's.
TEST(Memo, FunctionCallRuledOutByWhatFollows) {
  for (const auto& [start, q] : call_texts()) {
    expect_same(q, verdict(q, true, start), verdict(q, false, start));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Every operator, after a skip and without one, cut short, and operands
// nested around the bound on depth, where not all the levels can open at
// once (and names, read without the attempts of identifier, may not be read).
std::vector<Started> operator_texts() {
  std::vector<std::string> texts;
  for (const char* op : {" OR ", " XOR ", " AND ", " = ", " <> ", " < ", " <= ", " =~ ", " IN ", " STARTS WITH ",
                         " ENDS WITH ", " CONTAINS ", " + ", " - ", " * ", " / ", " % ", " ^ ", "+", "^", " or",
                         "/* c */ - ", "// c\n% "}) {
    for (const char* rhs : {"b", "NOT b", "-b", "b.c", "", "NOT", "-", "b IS NULL"})
      for (const char* lhs : {"a", "NOT a", "- a", "NOT NOT -a.x"}) texts.push_back(std::string(lhs) + op + rhs);
  }
  for (const char* q : {"a OR b XOR c AND NOT d = e + f * g % h ^ -i", "a ^ b ^ c % d % e", "a ORb", "a XORb",
                        "a ANDb", "NOTa", "a IS NOT NULL AND b", "a /*", "a / * b", "1 - -1", "a--b", " a ",
                        "NOT", "", "x IN [1, 2] OR y"})
    texts.push_back(q);
  // Outer lists shift where the bound falls within the levels of an operand.
  for (int depth : {60, 68, 69, 70, 71, 72, 75})
    for (const char* inner : {"1", "-1", "NOT 1", "1 + 2", "1 +", "x.y", "`x`", "x:A"})
      for (int lists = 0; lists < 16; ++lists)
        texts.push_back(nested(std::string(lists, '[').c_str(), "(", inner, ")", depth, depth) +
                        std::string(lists, ']'));
  std::vector<Started> out;
  for (const std::string& q : texts)
    for (Rule start : {Rule::expression, Rule::or_expr, Rule::comparison_expr, Rule::unary_expr})
      out.push_back({start, q});
  return out;
}

// The operator levels run as one must give what the level rules give.
TEST(Memo, OperatorLevelsAsTheRulesWould) {
  for (const auto& [start, q] : operator_texts()) {
    expect_same(q, verdict(q, true, start), verdict(q, false, start));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(Memo, NestedTextsCostLinearWork) {
  // Each shape at the deepest nesting that the bound lets through, alone, as
  // a list of such items and around a long operand. Counted in rule attempts
  // and tokens the memo moved aside, which the grammar benchmark turns into
  // time.
  constexpr std::uint64_t kAttemptsPerByte = 64;
  for (const NestedShape& s : kShapes) {
    for (int closes : {0, 1, 2}) {
      const auto text = [&](int depth) {
        return nested(s.head, s.open, s.middle, s.close, depth, closes ? depth - closes + 1 : 0);
      };
      int lo = 1, hi = 1000;  // the deepest text that is not rejected as too deep lies in [lo, hi)
      while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const Verdict v = verdict(text(mid), true);
        (!v.ok && v.error.expected.empty() ? hi : lo) = mid;
      }
      const std::string deepest = text(lo);
      const std::string item = deepest.substr(std::string_view(s.head).size());
      std::string list = deepest;
      while (list.size() < 16 * 1024) list += ", " + item;
      std::string middle = s.middle;  // a long flat operand in the innermost place
      while (middle.size() < 16 * 1024) middle += " + 1";
      const std::string around = nested(s.head, s.open, middle.c_str(), s.close, lo, closes ? lo - closes + 1 : 0);
      for (const std::string& q : {deepest, list, around}) {
        const Verdict v = verdict(q, true);
        EXPECT_LE(v.attempts, kAttemptsPerByte * q.size()) << q.substr(0, 60);
        // runs within runs are not copied once per level
        EXPECT_LE(v.tokens_saved, kAttemptsPerByte * q.size()) << q.substr(0, 60);
      }
    }
  }
}

// A state keeps its buffers from parse to parse, and gives large ones back:
// what one parse left in the memo must not reach the next, longer or shorter.
TEST(Memo, ReusedStateReadsAsAFreshOne) {
  const std::string longer = "RETURN " + std::string(300, '[') + "1" + std::string(300, ']');
  // More cells written than the memo lists, and unclosed: read again for its report.
  std::string many = "RETURN [";
  for (int i = 0; i < 6000; ++i) many += "1, ";
  many += "1";
  const std::string_view texts[] = {"MATCH (a) RETURN a.x + 1",
                                    longer,
                                    "RETURN [1, 2]",
                                    many,
                                    "RETURN [1, 2",
                                    "MATCH (a) WITH a RETURN a",
                                    longer,
                                    many,
                                    "RETURN 1"};
  ParserState st;
  st.set_fold_from(0);
  for (const std::size_t keep : {std::size_t{1} << 20, std::size_t{0}}) {
    for (const std::string_view q : texts) {
      expect_same(q, read(st, q), verdict(q, kProduct));
      EXPECT_EQ(read(st, q).attempts, verdict(q, kProduct).attempts) << q.substr(0, 80);
      st.release_memo_above(keep);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(Memo, TableTooLargeToCountFailsBeforeAnyCell) {
  // A length whose cell count wraps to 2 in a size_t, on 32 bits as on 64:
  // the table must be refused, not made that short. Nothing of the text is
  // read, so the view need not be backed.
  const char text[1] = {};
  const std::string_view huge(text, std::numeric_limits<std::size_t>::max() / kMemoSlots);
  ParserState st;
  EXPECT_THROW(st.reset(huge), std::bad_alloc);
}

// ---------------------------------------------------------------------------
// Shortcuts: rules that fail at once, names read without their inner
// attempts and the operator levels run as one stand for attempts that the
// plain engine makes. Their counts drive the bounds on work and depth, so
// with the memo off they must count exactly as the plain engine does: the
// same rule attempts, the same deepest nesting, the same stop.

void expect_counted_same(std::string_view q, Rule start) {
  const Verdict plain = verdict(q, kPlain, start), fast = verdict(q, kShortcutsOnly, start);
  expect_same(q, fast, plain);
  EXPECT_EQ(fast.attempts, plain.attempts) << rule_name(start) << ": " << q.substr(0, 80);
  EXPECT_EQ(fast.peak_depth, plain.peak_depth) << rule_name(start) << ": " << q.substr(0, 80);
  EXPECT_EQ(fast.out_of_work, plain.out_of_work) << rule_name(start) << ": " << q.substr(0, 80);
}

TEST(Shortcuts, CountAsThePlainEngineOverTheCorpus) {
  for (const std::string& q : corpus_and_copies()) {
    for (Rule start : {Rule::cypher, Rule::expression}) {
      expect_counted_same(q, start);
      if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
    }
  }
}

TEST(Shortcuts, CountAsThePlainEngineWhereTheyCut) {
  for (const auto& texts : {first_byte_texts(), call_texts(), operator_texts()}) {
    for (const auto& [start, q] : texts) {
      expect_counted_same(q, start);
      if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
    }
  }
}

// Nested shapes that the plain engine reads once per level, so that it
// reaches the bound on depth within its bound on work: brackets, lists,
// maps, NOT and minus before an operand, operator chains, postfix
// operators, calls and CASE. An unclosed subscript is read again as a slice
// at every level (as a slice is, closed or not), so those shapes stay closed.
const struct {
  NestedShape shape;
  bool closed_only;
} kDeepShapes[] = {
    {{"", "(", "1", ")"}, false},
    {{"", "[", "1", "]"}, false},
    {{"", "{a: ", "1", "}"}, false},
    {{"", "NOT (", "x", ")"}, false},
    {{"", "NOT NOT -(", "x", ")"}, false},
    {{"", "-(", "1", ")"}, false},
    {{"", "NOT ", "x", ""}, false},
    {{"", "1 + (", "1", ")"}, false},
    {{"", "a OR (", "b", ")"}, false},
    {{"", "a AND NOT b = (", "c", ")"}, false},
    {{"", "2 ^ (", "1", ")"}, false},
    {{"", "x.y[", "0", "]"}, true},
    {{"", "f(", "1", ")"}, false},
    {{"", "a.b(", "1", ")"}, false},
    {{"", "CASE WHEN ", "x", " THEN 1 END"}, false},
    {{"", "[1, (", "1", ")]"}, false},
    {{"", "{a: 1, b: [", "x", "]}"}, false},
};

// Texts too short to fold, where stacks of levels close in one pass of
// their own.
TEST(Shortcuts, CountAsThePlainEngineUnfolded) {
  constexpr Engine kPlainUnfolded{false, false, false}, kShortcutsUnfolded{false, true, false},
      kProductUnfolded{true, true, false};
  for (const auto& texts : {operator_texts(), call_texts()}) {
    for (const auto& [start, q] : texts) {
      const Verdict plain = verdict(q, kPlainUnfolded, start),
                    fast = verdict(q, kShortcutsUnfolded, start);
      expect_same(q, fast, plain);
      EXPECT_EQ(fast.attempts, plain.attempts) << rule_name(start) << ": " << q.substr(0, 80);
      EXPECT_EQ(fast.peak_depth, plain.peak_depth) << rule_name(start) << ": " << q.substr(0, 80);
      expect_same(q, verdict(q, kProductUnfolded, start), plain);
      if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
    }
  }
  for (const std::string& q : corpus_and_copies()) {
    expect_same(q, verdict(q, kProductUnfolded), verdict(q, kPlainUnfolded));
    if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
  }
}

// Each shape nested to the deepest text the bound lets through, a level
// either side, closed, one short and open, under up to 15 outer lists, so
// that the bound falls at every rule attempt within a level; as a whole query
// and as an expression.
TEST(Shortcuts, CountAsThePlainEngineAroundTheDepthBound) {
  for (const auto& [s, closed_only] : kDeepShapes) {
    for (int lists = 0; lists < 16; ++lists) {
      const std::string before = "RETURN " + std::string(lists, '['), after(lists, ']');
      const auto text = [&](int depth, int closes) {
        return before + nested(s.head, s.open, s.middle, s.close, depth, closes) + after;
      };
      int lo = 1, hi = 1000;  // the deepest text that is not rejected as too deep lies in [lo, hi)
      while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const Verdict v = verdict(text(mid, mid), kProduct);
        (!v.ok && v.error.expected.empty() ? hi : lo) = mid;
      }
      for (int depth = lo - 1; depth <= lo + 1; ++depth) {
        for (int closes : {depth, depth - 1, 0}) {
          if (closed_only && closes != depth) continue;
          const std::string q = text(depth, closes);
          expect_counted_same(q, Rule::cypher);
          expect_counted_same(std::string_view(q).substr(7), Rule::expression);
          if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Corpus: every query parses or fails with a report, and every rule that can
// make a pair does so somewhere.

TEST(Corpus, EveryQueryParsesOrFails) {
  const auto files = torvane::testing::corpus_files(torvane::testing::corpus_dir());
  if (files.empty()) GTEST_SKIP() << "no corpus at " << torvane::testing::corpus_dir();
  std::set<Rule> seen;
  std::size_t total = 0, accepted = 0, too_deep = 0;
  for (const auto& f : files) {
    std::size_t n = 0, ok = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (const std::string& q : torvane::testing::read_queries(f)) {
      ++n;
      auto r = CypherParser::parse(Rule::cypher, q);
      if (r.ok()) {
        ++ok;
        for (const Pair& p : all_pairs(*r)) seen.insert(p.as_rule());
      } else {
        const SyntaxError& e = r.error();
        EXPECT_LE(e.position, q.size());
        EXPECT_FALSE(e.display().empty());
        if (e.expected.empty()) ++too_deep;
      }
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-45s %6zu queries, %6zu accepted (%.1f ms)\n", f.filename().c_str(), n, ok, ms);
    total += n;
    accepted += ok;
  }
  std::printf("corpus: %zu queries, %zu accepted\n", total, accepted);
  // Constructs the corpus happens not to hold in an accepted query.
  for (const char* q : {"FOREACH (x IN [1] | CREATE (n))", "MATCH p = shortestPath((a)-->(b)) RETURN p"}) {
    auto r = CypherParser::parse(Rule::cypher, q);
    ASSERT_TRUE(r.ok()) << q;
    for (const Token& t : r->tokens) seen.insert(t.rule);
  }
  EXPECT_EQ(too_deep, 0u);
  for (std::size_t i = 0; i < rule_count; ++i) {
    const Rule r = static_cast<Rule>(i);
    const bool never = r == Rule::WHITESPACE || r == Rule::COMMENT || r == Rule::standalone_call ||
                       r == Rule::identifier || r == Rule::backtick_identifier || r == Rule::namespace_ ||
                       r == Rule::keyword;
    if (!never) {
      EXPECT_TRUE(seen.count(r)) << "no pair of " << rule_name(r) << " in the corpus";
    }
  }
}
