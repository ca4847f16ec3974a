// The builder, through the entry points: query text in, tree facts out.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/small_stack.hpp"
#include "parser/builder.hpp"
#include "parser/builder_internal.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/parse.hpp"
#include "tree_dump.hpp"

namespace {

using namespace torvane;
using namespace torvane::parser;
using torvane::test::dump;

struct Case {
  const char* query;
  const char* tree;
};

std::string tree_of(const std::string& q) {
  auto r = parse(q);
  if (!r.ok()) return "ERROR: " + r.error().display();
  return dump(*r);
}

// The first RETURN item's expression of `RETURN <expr>`.
std::string expr_of(const std::string& e) {
  auto r = parse("RETURN " + e);
  if (!r.ok()) return "ERROR: " + r.error().display();
  const auto& q = std::get<ast::CypherQuery::Regular>(r->node).query;
  const auto& s = std::get<ast::SingleQuery::SinglePart>(q.first.node);
  return dump(std::get<ast::ReturnItems::Items>(s.return_clause->items.node).items.at(0).expr);
}

void check_queries(const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(tree_of(c.query), c.tree) << c.query;
}

void check_exprs(const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(expr_of(c.query), c.tree) << c.query;
}

TEST(Builder, QueryStructure) {
  check_queries({
      {"MATCH (n) RETURN n UNION ALL MATCH (m) RETURN m", "MATCH (n) RETURN n UNION ALL MATCH (m) RETURN m"},
      {"MATCH (n) RETURN n UNION MATCH (n:Ball) CALL db.x() RETURN n",
       "MATCH (n) RETURN n UNION MATCH (n:Ball) CALL db.x() RETURN n"},
      {"RETURN 1 union all RETURN n.ballot UNION RETURN 2", "RETURN 1 UNION ALL RETURN PropertyAccess(n, ballot) UNION RETURN 2"},
      {"RETURN 1 UNIONALL RETURN 2", "RETURN 1 UNION ALL RETURN 2"},
      {"MATCH (a) WITH a MATCH (b) WITH a, b RETURN a", "[MATCH (a) WITH a] [MATCH (b) WITH a, b] RETURN a"},
      {"MATCH (n) WITH n", "[MATCH (n) WITH n]"},
      {"MATCH (a) CREATE (b) WITH a, b MATCH (c) WITH c RETURN c",
       "[MATCH (a) CREATE (b) WITH a, b] [MATCH (c) WITH c] RETURN c"},
      {"MATCH (n) WITH n ORDER BY n.y SKIP 1 LIMIT 2 WHERE n.x > 1 RETURN n",
       "[MATCH (n) WITH n ORDER BY PropertyAccess(n, y) SKIP 1 LIMIT 2 WHERE Gt(PropertyAccess(n, x), 1)] RETURN n"},
      {"MATCH (n) WITH * RETURN n", "[MATCH (n) WITH *] RETURN n"},
      {"WITH DISTINCT 1 AS x MATCH (n) CREATE (m) RETURN x", "[WITH DISTINCT 1 AS x] MATCH (n) CREATE (m) RETURN x"},
      {"RETURN DISTINCT n", "RETURN DISTINCT n"},
      {"RETURN n.distinctId", "RETURN PropertyAccess(n, distinctId)"},
      {"RETURN 'distinct'", "RETURN 'distinct'"},
      // DISTINCT is a keyword only as a whole word.
      {"RETURN distinctValue", "RETURN distinctValue"},
      {"RETURN distinct_x, distinct1", "RETURN distinct_x, distinct1"},
      {"WITH distinctIds AS d RETURN d", "[WITH distinctIds AS d] RETURN d"},
      {"RETURN DISTINCT(n)", "RETURN DISTINCT n"},
      {"WITH DISTINCT/* c */n RETURN n", "[WITH DISTINCT n] RETURN n"},
      {"RETURN /* c */ distinct n", "RETURN DISTINCT n"},
      {"RETURN *", "RETURN *"},
      {"RETURN n AS m, n.x", "RETURN n AS m, PropertyAccess(n, x)"},
      {"RETURN a asc", "RETURN a AS c"},
      {"MATCH (n) RETURN n ORDER BY n.x DESC, n.y descending, n.description, n.z ASC, n.descr ASC",
       "MATCH (n) RETURN n ORDER BY PropertyAccess(n, x) DESC, PropertyAccess(n, y) DESC, "
       "PropertyAccess(n, description), PropertyAccess(n, z), PropertyAccess(n, descr)"},
      {"  RETURN 1 ; // done", "RETURN 1"},
      {"CREATE (n)", "CREATE (n)"},
  });
}

TEST(Builder, ReadingAndUpdatingClauses) {
  check_queries({
      {"OPTIONAL MATCH (n) RETURN n", "OPTIONAL MATCH (n) RETURN n"},
      {"optional match (n) return n", "OPTIONAL MATCH (n) RETURN n"},
      {"MATCH (n) WHERE n.age > 3 RETURN n", "MATCH (n) WHERE Gt(PropertyAccess(n, age), 3) RETURN n"},
      {"UNWIND [1, 2] AS `my x` RETURN 1", "UNWIND [1, 2] AS `my x` RETURN 1"},
      {"CALL db.labels() YIELD label RETURN label", "CALL db.labels() YIELD label RETURN label"},
      {"CALL p(1, 'a') YIELD a AS b, c", "CALL p(1, 'a') YIELD a AS b, c"},
      {"CALL p()", "CALL p()"},
      {"MERGE (n:A) ON CREATE SET n.matched = 1 ON MATCH SET n.x = 2, n.y = 3",
       "MERGE (n:A) ON MATCH SET n.x = 2, n.y = 3 ON CREATE SET n.matched = 1"},
      {"MERGE (n) ON MATCH SET n.a = 1 ON /* c */ MATCH SET n.b = 2",
       "MERGE (n) ON MATCH SET n.a = 1 ON MATCH SET n.b = 2"},
      {"MERGE (n) ONCREATE SET n.a = 1 on create set n.b = 2, n.c = 3 ONMATCH SET n.d = 4",
       "MERGE (n) ON MATCH SET n.d = 4 ON CREATE SET n.a = 1 ON CREATE SET n.b = 2, n.c = 3"},
      {"MATCH (n) SET n.a.b = 1", "MATCH (n) SET n.a.b = 1"},
      {"MATCH (n) SET n = {a: 1}, n += {a: 1}", "MATCH (n) SET n = {a: 1}, n += {a: 1}"},
      {"MATCH (n) SET n /* += */ = 'x+=y', n.a = 'x+=y'", "MATCH (n) SET n = 'x+=y', n.a = 'x+=y'"},
      {"MATCH (n) SET n::A:B", "MATCH (n) SET n:A:B"},
      {"MATCH (a) SET a.x = 1, b = c", "MATCH (a) SET a.x = 1, b = c"},
      {"MATCH (n) REMOVE n.a, n::A", "MATCH (n) REMOVE n.a, n:A"},
      {"MATCH (a) DETACH DELETE a, b", "MATCH (a) DETACH DELETE a, b"},
      {"MATCH (n) DELETE n", "MATCH (n) DELETE n"},
      {"MATCH (n) detach delete n", "MATCH (n) DETACH DELETE n"},
      {"MATCH (n) DETACHDELETE n", "MATCH (n) DETACH DELETE n"},
      {"FOREACH (x IN [1, 2] | CREATE (:A) FOREACH (y IN [3] | SET x.v = y))",
       "FOREACH (x IN [1, 2] | CREATE (:A) FOREACH (y IN [3] | SET x.v = y))"},
  });
}

TEST(Builder, Patterns) {
  check_queries({
      {"MATCH (a), (b)-->(c) RETURN a", "MATCH (a), (b)-[]->(c) RETURN a"},
      {"MATCH p = (a:Person)-[r:KNOWS|:LIKES]->(b) RETURN p", "MATCH p = (a:Person)-[r:KNOWS|LIKES]->(b) RETURN p"},
      {"MATCH (a)<-[:T]-(b)-[:T]-(c)--(d)<-[:T]->(e)<-->(f) < - [ r ] - > (g) RETURN a",
       "MATCH (a)<-[:T]-(b)-[:T]-(c)-[]-(d)<-[:T]-(e)<-[]-(f)<-[r]-(g) RETURN a"},
      {"MATCH (a)-[r]- (b) RETURN a", "MATCH (a)-[r]-(b) RETURN a"},
      {"MATCH (a)-[r:T*1..3 {w: 1}]->(b) RETURN a", "MATCH (a)-[r:T*1..3 {w: 1}]->(b) RETURN a"},
      {"MATCH (n:A:A {x: 1, x: 2}) RETURN n", "MATCH (n:A:A {x: 2}) RETURN n"},
      {"MATCH (n $props), (m {}), () RETURN n", "MATCH (n $props), (m {}), () RETURN n"},
      {"MATCH (N:person)-[:`my type`]->(:`My Label`) RETURN N", "MATCH (N:person)-[:`my type`]->(:`My Label`) RETURN N"},
      {"MATCH p = shortestPath((a)-[*]-(b)) RETURN p", "MATCH p = (a)-[*]-(b) RETURN p"},
      {"MATCH p = allShortestPaths((a)-[*]-(b)) RETURN p", "MATCH p = (a)-[*]-(b) RETURN p"},
  });
}

TEST(Builder, Ranges) {
  const std::vector<Case> cases = {
      {"", ""},
      {"*", "*"},
      {"*3", "*3..3"},
      {"*2..", "*2.."},
      {"*1..3", "*1..3"},
      {"* 2 .. 5 ", "*2..5"},
      {"*0x3", "*"},
      {"*1..0x3", "*1.."},
      {"*99999999999999999999", "*"},
      {"*9223372036854775807", "*9223372036854775807..9223372036854775807"},
      // Comments count as blanks around the bounds and the "..".
      {"*2 /* two */", "*2..2"},
      {"* /* a */ 1 /* b */ .. /* c */ 3 // d\n", "*1..3"},
      {"*2.. // open\n", "*2.."},
  };
  for (const auto& c : cases) {
    const std::string q = std::string("MATCH (a)-[") + c.query + "]->(b) RETURN a";
    EXPECT_EQ(tree_of(q), std::string("MATCH (a)-[") + c.tree + "]->(b) RETURN a") << q;
  }
}

TEST(Builder, OperatorPrecedenceAndFolds) {
  check_exprs({
      {"a OR b AND NOT c = 1", "Or(a, And(b, Not(Eq(c, 1))))"},
      {"a XOR b XOR c", "Xor(Xor(a, b), c)"},
      {"a or b or c", "Or(Or(a, b), c)"},
      {"NOT NOT a", "Not(Not(a))"},
      {"n.notes = 1", "Eq(PropertyAccess(n, notes), 1)"},
      {"NOT x IS NOT NULL", "Not(IsNotNull(x))"},
      {"1 - 2 - 3", "Sub(Sub(1, 2), 3)"},
      {"1 - 2 + 3", "Add(Sub(1, 2), 3)"},
      {"6 / 3 * 2", "Mul(Div(6, 3), 2)"},
      {"8 /* x */ / 2 // y\n * 3", "Mul(Div(8, 2), 3)"},
      {"7 % 4 % 3", "Mod(Mod(7, 4), 3)"},
      {"a * b % c", "Mul(a, Mod(b, c))"},
      {"2 ^ 3 ^ 2", "Pow(Pow(2, 3), 2)"},
      {"-x ^ 2", "Pow(Neg(x), 2)"},
      {"- 1", "Neg(1)"},
      {"a < b < c", "Lt(Lt(a, b), c)"},
      {"1 < 2 = true", "Eq(Lt(1, 2), true)"},
      {"a <> b, 0", "Neq(a, b)"},
      {"a <= b", "Lte(a, b)"},
      {"a >= b", "Gte(a, b)"},
      {"a =~ 'A.*'", "RegexMatch(a, 'A.*')"},
      {"x IN[1, 2]", "In(x, [1, 2])"},
      {"n.name starts with 'A'", "StartsWith(PropertyAccess(n, name), 'A')"},
      {"s ENDS  WITH t", "EndsWith(s, t)"},
      {"x STARTSWITH y", "StartsWith(x, y)"},
      {"s contains t", "Contains(s, t)"},
      {"x[0]", "Index(x, 0)"},
      {"x[1 ..]", "Slice(x, 1, -)"},
      {"x[..3]", "Slice(x, -, 3)"},
      {"x[ /* .. */ 3 ..]", "Slice(x, 3, -)"},
      {"x[..]", "Slice(x, -, -)"},
      {"x[a..b]", "Slice(x, a, b)"},
      {"n.a.b", "PropertyAccess(PropertyAccess(n, a), b)"},
      {"n.`my key`", "PropertyAccess(n, `my key`)"},
      {"n.a[0].b", "PropertyAccess(Index(PropertyAccess(n, a), 0), b)"},
      {"x IS NULL", "IsNull(x)"},
      {"x is  not   null", "IsNotNull(x)"},
      {"1", "1"},
      {"(((1)))", "1"},
  });
}

TEST(Builder, AtomsAndLiterals) {
  check_exprs({
      {"$p", "$p"},
      {"$0", "$0"},
      {"'a\\b'", "'a\\b'"},
      {"''", "''"},
      {"\"say 'hi'\"", "'say 'hi''"},
      {"true", "true"},
      {"FALSE", "false"},
      {"null", "null"},
      {"1.5e3", "1500.0"},
      {"2.", "2.0"},
      {"1.e5", "100000.0"},
      {"1.5E-3", "0.0015"},
      {"1.0e400", "inf"},
      {"1.0e-400", "0.0"},
      {"99999999999999999999", "0"},
      {"9223372036854775807", "9223372036854775807"},
      {"9223372036854775808", "0"},
      {"0x1F", "31"},
      {"0o17", "15"},
      {"0xFFFFFFFFFFFFFFFF", "0"},
      {"007", "7"},
      {"[1, [2]]", "[1, [2]]"},
      {"{a: 1, b: 'x'}", "{a: 1, b: 'x'}"},
      {"{a: 1, a: 2}", "{a: 2}"},
      {"{`a b`: 1, a: 2, `a b`: 3}", "{`a b`: 3, a: 2}"},
      {"[x IN list]", "[In(x, list)]"},
      {"count(*)", "count(*)"},
      {"COUNT ( * )", "count(*)"},
      {"count(n)", "count(n)"},
      {"count(DISTINCT n)", "count(DISTINCT n)"},
      {"count ( /* c */ distinct n)", "count(DISTINCT n)"},
      {"count(distinctX)", "count(distinctX)"},
      {"size(distinctPlaceIds)", "size(distinctPlaceIds)"},
      {"count(DISTINCT(x))", "count(DISTINCT x)"},
      {"collect(distinct)", "collect(DISTINCT )"},
      {"db.ns.fn()", "db.ns.fn()"},
      {"reduce(x)", "reduce(x)"},
      {"`my var`", "`my var`"},
      {"CASE WHEN a THEN 1 ELSE 2 END", "Case(-; a => 1; 2)"},
      {"CASE x WHEN 1 THEN 'one' WHEN 2 THEN 'two' END", "Case(x; 1 => 'one'; 2 => 'two'; -)"},
      {"CASE x WHEN 1 THEN 2 ELSE 3 END", "Case(x; 1 => 2; 3)"},
      {"case /* when */ x when 1 /* else */ then 2 end", "Case(x; 1 => 2; -)"},
      {"[x IN xs WHERE x > 1 | x * 2]", "ListComprehension(x, xs, Gt(x, 1), Mul(x, 2))"},
      {"[x IN xs | x.name]", "ListComprehension(x, xs, -, PropertyAccess(x, name))"},
      {"[x INlist WHERE x > 0]", "ListComprehension(x, list, Gt(x, 0), -)"},
      {"any(x IN xs WHERE x = 1)", "Any(x, xs, Eq(x, 1))"},
      {"none(x IN xs)", "None(x, xs, -)"},
      {"ALL(x IN xs WHERE x)", "All(x, xs, x)"},
      {"single(x IN xs WHERE x)", "Single(x, xs, x)"},
      {"reduce(s = 0, x IN xs | s + x)", "Reduce(s, 0, x, xs, Add(s, x))"},
      {"allshortestpaths((a)-[:R*]->(b))", "AllShortestPaths((a)-[:R*]->(b))"},
      {"shortestPath((a)--(b)<--(c))", "ShortestPath((a)-[]-(b)<-[]-(c))"},
      {"exists { (n)-[:R]->() }", "Exists{(n)-[:R]->()}"},
      {"exists(n.p)", "exists(PropertyAccess(n, p))"},
  });
}

TEST(Builder, CopyIsDeepAndKeepsMapOrder) {
  auto r = parse("MATCH (n {a: 1, b: 2, c: 3, d: 4, e: 5, f: 6, g: 7}) RETURN {x: [1], y: n.a, z: 3}");
  ASSERT_TRUE(r.ok());
  const ast::CypherQuery copy = *r;
  EXPECT_EQ(dump(copy), dump(*r));
  const auto order = [](const ast::CypherQuery& q) {
    const auto& s = std::get<ast::SingleQuery::SinglePart>(
        std::get<ast::CypherQuery::Regular>(q.node).query.first.node);
    const auto& m = std::get<ast::ReadingClause::Match>(s.reading_clauses[0].node);
    std::string keys;
    for (const auto& [k, v] : std::get<ast::MapOrParam::Map>(m.pattern.parts[0].element.start.properties->node).entries)
      keys += k;
    return keys;
  };
  EXPECT_EQ(order(copy), order(*r));
  // So does a copy assigned over a tree of the same shape with its own map.
  auto other = parse("MATCH (n {g: 0, f: 0, e: 0, d: 0, c: 0, b: 0, a: 0}) RETURN 1");
  ASSERT_TRUE(other.ok());
  ast::CypherQuery assigned = *other;
  assigned = *r;
  EXPECT_EQ(order(assigned), order(*r));
  // The copy owns its own nodes.
  auto& s = std::get<ast::SingleQuery::SinglePart>(std::get<ast::CypherQuery::Regular>(r->node).query.first.node);
  s.reading_clauses.clear();
  EXPECT_EQ(dump(copy).substr(0, 6), "MATCH ");
}

// Runs one of the builder's steps on `p`, at depth 0 where it takes one: its
// failure message, or "built".
template <class T, class... Depth>
std::string step_message(bool (builder::Builder::*step)(Pair, T&, Depth...), Pair p) {
  auto r = builder::run(step, p, Depth{}...);
  return r.ok() ? std::string("built") : r.error().message;
}

// Each step's fixed failure texts, reached by handing it pairs of another
// shape than the grammar gives it (a parse from another start rule).
TEST(Builder, StepFailureTexts) {
  using Step = std::string (*)(Pair);  // the step's failure message, or "built"
  struct StepCase {
    Rule start;
    const char* text;
    Step step;
    const char* expected;
  };
#define STEP(f) [](Pair p) { return step_message(&builder::Builder::f, p); }
  const std::vector<StepCase> cases = {
      {Rule::variable, "n", STEP(build_query), "Empty query"},
      {Rule::expression, "1", STEP(build_query), "Expected statement, got or_expr"},
      {Rule::variable, "n", STEP(build_regular_query), "Missing single_query"},
      {Rule::variable, "n", STEP(build_single_query), "Empty single_query"},
      {Rule::reading_clause, "MATCH (n)", STEP(build_single_query), "Unknown single_query: match_clause"},
      {Rule::variable, "n", STEP(build_sort_item), "Sort item missing expr"},
      {Rule::variable, "n", STEP(build_reading_clause), "Empty reading_clause"},
      {Rule::updating_clause, "CREATE (n)", STEP(build_reading_clause), "Unknown reading clause: create_clause"},
      {Rule::variable, "n", STEP(build_updating_clause), "Empty updating_clause"},
      {Rule::reading_clause, "MATCH (n)", STEP(build_updating_clause), "Unknown updating clause: match_clause"},
      {Rule::variable, "n", STEP(build_pattern_part), "Pattern part missing element"},
      {Rule::variable, "n", STEP(build_properties), "Empty properties"},
      {Rule::node_pattern, "(n)", STEP(build_properties), "Unknown properties type"},
      {Rule::node_pattern, "(n)", STEP(build_expression), "Unexpected rule in expression: node_pattern"},
      {Rule::variable, "n", STEP(build_comparison_expr), "Empty comparison_expr"},
      {Rule::add_sub_expr, "1+x+3", STEP(build_comparison_expr), "Unknown comparison op: X"},
      {Rule::variable, "n", STEP(build_postfix_expr), "Postfix missing atom"},
      {Rule::variable, "n", STEP(build_atom), "Empty atom"},
      {Rule::expression, "1", STEP(build_atom), "Unknown atom: or_expr"},
      {Rule::variable, "n", STEP(build_literal), "Empty literal"},
      {Rule::atom, "n", STEP(build_literal), "Unknown literal: variable"},
  };
#undef STEP
  for (const auto& c : cases) {
    auto tree = CypherParser::parse(c.start, c.text);
    ASSERT_TRUE(tree.ok()) << c.text;
    EXPECT_EQ(c.step(*tree->pairs().peek()), c.expected) << rule_name(c.start) << " " << c.text;
  }
}

TEST(CypherError, DisplayTexts) {
  const std::vector<std::pair<CypherError, const char*>> cases = {
      {{CypherError::Kind::ParseError, "Empty query"}, "Parse error: Empty query"},
      {{CypherError::Kind::SemanticError, "x"}, "Semantic error: x"},
      {{CypherError::Kind::GeneratorError, "Unknown query type: y"}, "Generator error: Unknown query type: y"},
      {{CypherError::Kind::ParseError, "line 1\nline 2"}, "Parse error: line 1\nline 2"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.display(), text);
}

TEST(Builder, FailureForms) {
  // A syntax error: the same multi-line text, bare with a position, or prefixed.
  const std::vector<const char*> bad = {"", "   ", "// only", "RETURN 1 +", "MATCH (n)\nRETURN n\nLIMIT"};
  for (const char* q : bad) {
    auto a = parse(q);
    auto b = parse_with_detail(q);
    ASSERT_FALSE(a.ok()) << q;
    ASSERT_FALSE(b.ok()) << q;
    EXPECT_EQ(a.error().kind, CypherError::Kind::ParseError);
    EXPECT_EQ(a.error().display(), "Parse error: " + b.error().message) << q;
    EXPECT_TRUE(b.error().position.has_value()) << q;
  }
  auto third = parse_with_detail("MATCH (n)\nRETURN n\nLIMIT");
  EXPECT_EQ(third.error().position->first, 3u);
  auto wide = parse_with_detail("RETURN 'ñ' +");
  EXPECT_EQ(wide.error().position->second, 13u);  // characters, not bytes
}

// The builder's nesting bound fails as the grammar's does: the same syntax
// error, at the pair it stopped at, and as a ParseError from a step. A text
// the grammar accepts never reaches it, so the steps are given the depth.
TEST(Builder, NestingBoundGivesTheGrammarsError) {
  const std::string text = "1 +\n  (2)";
  auto tree = CypherParser::parse(Rule::expression, text);
  ASSERT_TRUE(tree.ok());
  const Pair top = *tree->pairs().peek();
  const auto build_expression = [](Pair p, std::uint32_t depth) {
    return builder::run(&builder::Builder::build_expression, p, depth);
  };
  EXPECT_TRUE(build_expression(top, builder::kMaxNesting - 1).ok());
  auto r = build_expression(top, builder::kMaxNesting);
  ASSERT_FALSE(r.ok());
  const SyntaxError expected = make_nesting_error(text, static_cast<std::uint32_t>(text.find('2')));
  EXPECT_EQ(std::make_pair(expected.line, expected.column), std::make_pair(2u, 4u));
  EXPECT_EQ(r.error().kind, CypherError::Kind::ParseError);
  EXPECT_EQ(r.error().message, expected.display());
  EXPECT_TRUE(r.error().message.ends_with(
      "= query nested too deeply (more than 1000 nested grammar rules)"));

  // The same text as the grammar's own nesting error.
  std::string deep = "RETURN ";
  for (int i = 0; i < 2000; ++i) deep += "(";
  auto grammar = parse_with_detail(deep + "1");
  ASSERT_FALSE(grammar.ok());
  ASSERT_TRUE(grammar.error().position.has_value());
  const std::string& m = grammar.error().message;
  EXPECT_EQ(m.substr(m.rfind('\n')), expected.display().substr(expected.display().rfind('\n')));

  // A failure in a later UNION branch comes back as it is, nothing of the
  // earlier branch with it.
  const std::string two = "MATCH (n {a: 1}) RETURN n UNION RETURN (1)";
  auto query = CypherParser::parse(Rule::regular_query, two);
  ASSERT_TRUE(query.ok());
  auto branch = builder::run(&builder::Builder::build_regular_query, *query->pairs().peek(),
                             builder::kMaxNesting - 1);
  ASSERT_FALSE(branch.ok());
  EXPECT_EQ(branch.error().message,
            make_nesting_error(two, static_cast<std::uint32_t>(two.rfind('1'))).display());
}

// A flat chain is no nesting: of any length it builds, into the left-deep
// tree of its fold, one chain link per operator.
TEST(Builder, FlatChainsBuildAtAnyLength) {
  struct ChainCase {
    const char* head;
    const char* step;
    const char* tail;
    const char* three;  // the tree of three steps
  };
  const std::vector<ChainCase> cases = {
      {"a", " OR b", "", "Or(Or(Or(a, b), b), b)"},
      {"a", " XOR b", "", "Xor(Xor(Xor(a, b), b), b)"},
      {"a", " AND b", "", "And(And(And(a, b), b), b)"},
      {"", "NOT ", "a", "Not(Not(Not(a)))"},
      {"a", " < b", "", "Lt(Lt(Lt(a, b), b), b)"},
      {"a", " + 'b'", "", "Add(Add(Add(a, 'b'), 'b'), 'b')"},
      {"a", " - b", "", "Sub(Sub(Sub(a, b), b), b)"},
      {"a", " * b", "", "Mul(Mul(Mul(a, b), b), b)"},
      {"a", " % b", "", "Mod(Mod(Mod(a, b), b), b)"},
      {"a", " ^ b", "", "Pow(Pow(Pow(a, b), b), b)"},
      {"a", ".b", "", "PropertyAccess(PropertyAccess(PropertyAccess(a, b), b), b)"},
      {"a", "[b]", "", "Index(Index(Index(a, b), b), b)"},
      {"a", "[b ..]", "", "Slice(Slice(Slice(a, b, -), b, -), b, -)"},
      {"a", " IS NULL", "", "IsNull(IsNull(IsNull(a)))"},
      {"-a", ".b", "", "Neg(PropertyAccess(PropertyAccess(PropertyAccess(a, b), b), b))"},
  };
  constexpr std::uint32_t kLong = 100000;
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.step);
    std::string three = c.head, many = c.head;
    for (int i = 0; i < 3; ++i) three += c.step;
    for (std::uint32_t i = 0; i < kLong; ++i) many += c.step;
    EXPECT_EQ(expr_of(three + c.tail), c.three);
    auto r = parse("RETURN " + many + c.tail);
    ASSERT_TRUE(r.ok()) << r.error().display().substr(0, 200);
    const auto& q = std::get<ast::CypherQuery::Regular>(r->node).query;
    const auto& s = std::get<ast::SingleQuery::SinglePart>(q.first.node);
    const ast::Expr& e = std::get<ast::ReturnItems::Items>(s.return_clause->items.node).items.at(0).expr;
    std::uint32_t links = 0;
    for (const ast::Expr* at = &e; (at = ast::chain_next(*at));) ++links;
    EXPECT_EQ(links, kLong + (c.head[0] == '-'));
  }
  // A long flat list is no deeper than one level.
  std::string list = "RETURN [1";
  for (int i = 0; i < 20000; ++i) list += ", 1";
  EXPECT_TRUE(parse(list + "]").ok());
}

// The deepest trees, chains of 100,000 links, are built, copied, compared
// and freed on a quarter of a 512 KiB worker stack.
TEST(Builder, DeepestTreesFitASmallStack) {
  constexpr std::size_t kStack = torvane::testing::stack_size(128 * 1024, 512 * 1024);
  std::vector<std::string> queries;
  for (const char* step : {" OR 1", " + 1", " ^ 1", ".a", "[0]", "[0 ..]", " IS NULL", " < 1"}) {
    std::string q = "RETURN n";
    for (std::uint32_t i = 0; i < 100000; ++i) q += step;
    queries.push_back(q);
  }
  std::string nots = "RETURN ";
  for (std::uint32_t i = 0; i < 100000; ++i) nots += "NOT ";
  queries.push_back(nots + "x");
  for (const std::string& q : queries) {
    bool same = false;
    torvane::testing::run_on_stack(kStack, [&] {
      auto r = parse(q);
      if (r.ok()) {
        const ast::CypherQuery copy = *r;
        same = dump(copy) == dump(*r);
      }
    });
    EXPECT_TRUE(same) << q.substr(0, 20);
  }
}

// The walk down lone inner pairs stops at a pair with several inner pairs, at
// one with none, or where the caller says so.
TEST(Pairs, DescendWhile) {
  const auto always = [](Pair, Rule, Rule) { return true; };
  const auto above_atom = [](Pair, Rule, Rule inner) { return inner != Rule::atom; };
  struct WalkCase {
    const char* text;
    bool stop_above_atom;
    Rule stops_at;
    const char* stop_text;
  };
  const std::vector<WalkCase> cases = {
      {"1 + 2", false, Rule::add_sub_expr, "1 + 2"},
      {"n.name", false, Rule::postfix_expr, "n.name"},
      {"x", false, Rule::variable, "x"},
      {"count(*)", false, Rule::count_star, "count(*)"},
      {"(x)", false, Rule::variable, "x"},
      {"x", true, Rule::postfix_expr, "x"},
  };
  for (const auto& c : cases) {
    auto tree = CypherParser::parse(Rule::expression, c.text);
    ASSERT_TRUE(tree.ok()) << c.text;
    const Pair top = *tree->pairs().peek();
    const Pair at = c.stop_above_atom ? top.descend_while(above_atom) : top.descend_while(always);
    EXPECT_EQ(at.as_rule(), c.stops_at) << c.text;
    EXPECT_EQ(at.as_str(), c.stop_text) << c.text;
  }
}

// build_query into a caller's tree gives what the value form gives.
TEST(Builder, BuildIntoCallersTree) {
  std::string chain = "MATCH (a) RETURN a UNION RETURN 1";
  for (std::uint32_t i = 0; i < 5000; ++i) chain += " + 1";
  for (const std::string& q :
       std::vector<std::string>{"MATCH (a {k: [1, -x]})-[:R]->(b) WITH a WHERE NOT a.k RETURN b", chain}) {
    auto tree = CypherParser::parse(Rule::cypher, q);
    ASSERT_TRUE(tree.ok()) << q;
    const Pair top = *tree->pairs().peek();
    auto value = builder::build_query(top);
    ast::CypherQuery into;
    ASSERT_FALSE(builder::build_query(top, into).has_value()) << q;
    ASSERT_TRUE(value.ok()) << q;
    EXPECT_EQ(dump(into), dump(*value));
  }
}

TEST(Builder, SameTreeWithTrailingSemicolonAndComments) {
  EXPECT_EQ(tree_of("MATCH (n) RETURN n"), tree_of("MATCH (n) RETURN n ; /* end */ // x"));
}

// Builds share nothing: the same queries parsed on several threads at once
// give the trees they give on one.
TEST(Builder, ThreadsBuildAlike) {
  const std::vector<std::string> queries = {
      "MATCH (a:A {x: 1, y: [1, 2], z: {k: 'v'}})-[r:R*1..3]->(b) WHERE a.x > 1 AND NOT b.y RETURN a, count(*)",
      "MATCH (n) WITH n, n.x AS x ORDER BY x DESC LIMIT 3 MERGE (n)-[:T]->(m {id: x}) ON CREATE SET m.c = 1",
      "UNWIND [1, 2] AS i RETURN CASE i WHEN 1 THEN 'a' ELSE 'b' END, [x IN range(0, i) WHERE x % 2 = 0 | x ^ 2]",
      "MATCH p = shortestPath((a)-[*]-(b)) RETURN p UNION ALL MATCH (q) RETURN {a: q.a, b: reduce(s = 0, y IN q.l | s + y)}",
  };
  std::vector<std::string> expected;
  for (const auto& q : queries) {
    expected.push_back(tree_of(q));
    ASSERT_EQ(expected.back().rfind("ERROR", 0), std::string::npos) << expected.back();
  }
  std::vector<std::thread> threads;
  std::vector<int> mismatches(8, 0);
  for (std::size_t t = 0; t < mismatches.size(); ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round)
        for (std::size_t i = 0; i < queries.size(); ++i) mismatches[t] += tree_of(queries[i]) != expected[i];
    });
  for (auto& t : threads) t.join();
  for (std::size_t t = 0; t < mismatches.size(); ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
