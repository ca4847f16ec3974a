// What the validator finds in whole queries, in which order, and the corrected
// query it offers, over the Person/Movie/ACTED_IN schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common.hpp"

namespace torvane::validator {
namespace {

using testing::Finding;

struct Row {
  std::string query;
  std::vector<Finding> expected;  // in order, unless `any_order`
  std::optional<std::string> fixed = std::nullopt;
  // The findings follow an inline map's iteration order, which is not fixed.
  bool any_order = false;
};

void check(const std::vector<Row>& rows) {
  const Torvane torvane(testing::movies_schema());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.query);
    const ValidationResult r = torvane.validate(row.query);
    ASSERT_TRUE(r.syntax_errors.empty()) << r.syntax_errors[0];
    testing::expect_consistent(r, row.query);
    std::vector<Finding> got = testing::findings(r), want = row.expected;
    if (row.any_order) {
      auto by_text = [](const Finding& a, const Finding& b) {
        return std::tie(a.code, a.message) < std::tie(b.code, b.message);
      };
      std::sort(got.begin(), got.end(), by_text);
      std::sort(want.begin(), want.end(), by_text);
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(r.fixed_query, row.fixed);
  }
}

const std::string kAggregateOnly =
    " context; aggregates are only valid in RETURN, WITH, or ORDER BY";
const Finding kW101{"W101",
                    "MATCH pattern contains disconnected parts that will produce a Cartesian "
                    "product; add a relationship or shared variable to connect them"};
const Finding kW201{"W201",
                    "MATCH contains an unlabeled node with no WHERE clause; this will scan all "
                    "nodes in the graph"};
const Finding kW202{"W202",
                    "Variable-length relationship without an upper bound ([*] or [*n..]) may "
                    "cause unbounded traversal"};

Finding unbound(const std::string& name) {
  return {"E501", "Variable '" + name + "' is not bound in this scope"};
}
Finding wrong_end(const std::string& role, const std::string& expected, const std::string& got) {
  return {"E401", "Relationship :ACTED_IN expects " + role + " label :" + expected +
                      ", but node has label(s): " + got};
}

TEST(Findings, UnknownLabelsAndTypes) {
  check({
      {"MATCH (p:Persn) RETURN p",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (p:Person) RETURN p"},
      {"MATCH (p:Person:Persn) RETURN p",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (p:Person:Person) RETURN p"},
      // Close to nothing: no hint, no suggestion, so no correction.
      {"MATCH (p:Xyz) RETURN p", {{"E201", "Unknown node label: :Xyz"}}},
      // Case differs only: distance 0, the schema's spelling.
      {"CREATE (:PERSON)",
       {{"E201", "Unknown node label: :PERSON, did you mean :Person?"}},
       "CREATE (:Person)"},
      {"MATCH (n:Person) SET n::Persn",
       {{"E202", "Unknown node label in SET: :Persn, did you mean :Person?"}},
       "MATCH (n:Person) SET n::Person"},
      {"MATCH (n:Person) REMOVE n::Movi:Person",
       {{"E203", "Unknown node label in REMOVE: :Movi, did you mean :Movie?"}},
       "MATCH (n:Person) REMOVE n::Movie:Person"},
      // An unknown type is checked no further: no endpoint findings.
      {"MATCH (m:Movie)-[:ACTS_IN]->(p:Person) RETURN m",
       {{"E211", "Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN?"}},
       "MATCH (m:Movie)-[:ACTED_IN]->(p:Person) RETURN m"},
      // Alternatives in turn: the known one's findings come before the unknown one's.
      {"MATCH (m:Movie)-[r:ACTED_IN|ACTS {rol: 1}]->(p:Person) RETURN r",
       {{"E302", "Unknown property 'rol' for relationship type :ACTED_IN, did you mean .role?"},
        wrong_end("source", "Person", ":Movie"),
        wrong_end("target", "Movie", ":Person"),
        {"E211", "Unknown relationship type: :ACTS"}}},
      {"FOREACH (x IN [1, 2] | CREATE (:Persn))",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "FOREACH (x IN [1, 2] | CREATE (:Person))"},
      {"MERGE (a:Person)-[:ACTED_IN]->(m:Movi)",
       {{"E201", "Unknown node label: :Movi, did you mean :Movie?"}},
       "MERGE (a:Person)-[:ACTED_IN]->(m:Movie)"},
  });
}

TEST(Findings, InlinePropertyMaps) {
  check({
      {"MATCH (p:Person {nme: 'x'}) RETURN p",
       {{"E301", "Unknown property 'nme' for node label :Person, did you mean .name?"}},
       "MATCH (p:Person {name: 'x'}) RETURN p"},
      // A key is checked against known labels only, and not at all without a label.
      {"MATCH (p:Persn {nme: 'x'}) RETURN p",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (p:Person {nme: 'x'}) RETURN p"},
      {"MATCH (p {nme: 'x'}) RETURN p", {kW201}},
      // One finding per known label lacking the key; map values are not checked.
      {"CREATE (n:Person:Movie {title: x})",
       {{"E301", "Unknown property 'title' for node label :Person"}}},
      {"CREATE (p:Person {nme: 'x', agee: 1})",
       {{"E301", "Unknown property 'nme' for node label :Person, did you mean .name?"},
        {"E301", "Unknown property 'agee' for node label :Person, did you mean .age?"}},
       "CREATE (p:Person {name: 'x', age: 1})",
       true},
      {"MATCH (:Person)-[r:ACTED_IN {role: 'x', roles: 1, z: 2}]->(:Movie) RETURN r",
       {{"E302", "Unknown property 'roles' for relationship type :ACTED_IN, did you mean .role?"},
        {"E302", "Unknown property 'z' for relationship type :ACTED_IN"}},
       std::nullopt,
       true},
      // A parameter map is never checked.
      {"MATCH (p:Person $props) RETURN p", {}},
  });
}

TEST(Findings, PropertiesThroughBoundVariables) {
  check({
      {"MATCH (n:Person) RETURN n.nme",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) RETURN n.name"},
      // An unbound base gives only its E501.
      {"MATCH (n:Person) RETURN m.x", {unbound("m")}},
      // One finding per known label, in bound order.
      {"MATCH (n:Person:Movie) RETURN n.x",
       {{"E303", "Unknown property 'x' on variable 'n' with label :Person, did you mean .age?"},
        {"E303", "Unknown property 'x' on variable 'n' with label :Movie"}}},
      {"MATCH ()-[r:ACTED_IN]->() RETURN r.rol",
       {kW201,
        {"E304",
         "Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, did "
         "you mean .role?"}},
       "MATCH ()-[r:ACTED_IN]->() RETURN r.role"},
      // Unknown labels carry nothing to check against.
      {"MATCH (n:Persn) RETURN n.whatever",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (n:Person) RETURN n.whatever"},
      // Labels merge over clauses: n is a Person in the second MATCH too.
      {"MATCH (n:Person) MATCH (n)-[:ACTED_IN]->(m:Movie) RETURN n.title, m.title",
       {kW201, {"E303", "Unknown property 'title' on variable 'n' with label :Person"}}},
      // The key's E303 comes before the base's own findings.
      {"MATCH (n:Person) RETURN n.nme.x",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) RETURN n.name.x"},
      // SET and REMOVE check every key of the chain; an unbound target is silent.
      {"MATCH (n:Person) SET n.nme = 1, n.age.agee = 2, m.x = 3 REMOVE n.titel",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"},
        {"E303", "Unknown property 'agee' on variable 'n' with label :Person, did you mean .age?"},
        {"E303", "Unknown property 'titel' on variable 'n' with label :Person"}}},
      // A comprehension variable is bound with nothing known, and only inside.
      {"MATCH (n:Person) RETURN [x IN n.friends WHERE x.age > 1 | x.name]",
       {{"E303", "Unknown property 'friends' on variable 'n' with label :Person"}}},
      // ... unless it was bound before: then it keeps its labels.
      {"MATCH (n:Person) RETURN [n IN [1] | n.nme]",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) RETURN [n IN [1] | n.name]"},
      // WITH passes labels on through a bare variable, also renamed.
      {"MATCH (n:Person) WITH n AS m RETURN m.nme, n",
       {{"E303", "Unknown property 'nme' on variable 'm' with label :Person, did you mean .name?"},
        unbound("n")}},
      // A relationship variable written twice ends with both types.
      {"MATCH (:Person)-[r:ACTED_IN]->(:Movie) MATCH (:Person)-[r:ACTED_IN|X]->(:Movie) "
       "RETURN r.x",
       {{"E211", "Unknown relationship type: :X"},
        {"E304", "Unknown property 'x' on variable 'r' with relationship type :ACTED_IN"}}},
      // UNWIND rebinds with nothing known.
      {"MATCH (n:Person) UNWIND [1] AS n RETURN n.x", {}},
  });
}

TEST(Findings, Endpoints) {
  check({
      {"MATCH (m:Movie)-[:ACTED_IN]->(p:Person) RETURN m",
       {wrong_end("source", "Person", ":Movie"), wrong_end("target", "Movie", ":Person")}},
      {"MATCH (m:Movie)<-[:ACTED_IN]-(p:Person) RETURN m", {}},
      // Pointing left, the node written after the relationship is the source.
      {"MATCH (p:Person)<-[:ACTED_IN]-(m:Movie) RETURN p",
       {wrong_end("source", "Person", ":Movie"), wrong_end("target", "Movie", ":Person")}},
      {"MATCH (p:Person)<-[:ACTED_IN]->(m:Movie) RETURN p",
       {wrong_end("source", "Person", ":Movie"), wrong_end("target", "Movie", ":Person")}},
      {"MATCH (m:Movie)-[:ACTED_IN]-(p:Person) RETURN m", {}},
      // Only labels known to the schema can contradict it; one matching label is enough.
      {"MATCH (x:Foo)-[:ACTED_IN]->(m:Movie) RETURN x", {{"E201", "Unknown node label: :Foo"}}},
      {"MATCH (p:Person:Movie)-[:ACTED_IN]->(m:Movie) RETURN p", {}},
      {"MATCH (m:Movie:Foo)-[:ACTED_IN]->(x:Movie) RETURN m",
       {{"E201", "Unknown node label: :Foo"}, wrong_end("source", "Person", ":Movie, :Foo")}},
      // Labels held by the scope do not count, only those written on the node.
      {"MATCH (m:Movie) MATCH (m)-[:ACTED_IN]->(x:Movie) RETURN m", {kW201}},
      {"CREATE (m:Movie)-[:ACTED_IN]->(p:Person)",
       {wrong_end("source", "Person", ":Movie"), wrong_end("target", "Movie", ":Person")}},
      // Each step is checked with its own neighbours.
      {"MATCH (a:Person)-[:ACTED_IN]->(m:Movie)-[:ACTED_IN]->(b:Movie) RETURN a",
       {wrong_end("source", "Person", ":Movie")}},
  });
}

TEST(Findings, Scopes) {
  check({
      // Each UNION branch starts empty.
      {"MATCH (n:Person) RETURN n UNION MATCH (m:Person) RETURN n", {unbound("n")}},
      {"MATCH (n:Person) RETURN n UNION ALL MATCH (n:Movie) RETURN n.title", {}},
      // All bindings of a part are collected before its checks.
      {"MATCH (a:Person) WHERE b.name = 'x' MATCH (b:Person) RETURN a", {}},
      {"UNWIND x AS x RETURN x", {}},
      {"MATCH (a:Person) WHERE a.age > c CREATE (c:Person) RETURN c", {}},
      // WITH replaces the scope with what it projects.
      {"MATCH (n:Person) WITH n.name AS name RETURN n, name", {unbound("n")}},
      {"MATCH (n:Person) WITH count(*) RETURN n", {unbound("n")}},
      {"MATCH (n:Person) WITH n, n.age AS a ORDER BY a WHERE a > 1 RETURN n", {}},
      // Comprehension, quantifier and reduce variables live inside only.
      {"RETURN [x IN [1, 2] | x], x", {unbound("x")}},
      {"RETURN all(x IN [1] WHERE x > 0), any(y IN [1] WHERE x > 0)", {unbound("x")}},
      {"RETURN reduce(s = 0, x IN [1, 2] | s + x)", {}},
      {"RETURN reduce(s = t, x IN [1] | s), s", {unbound("t"), unbound("s")}},
      // The list is checked before the variable is bound.
      {"RETURN [x IN x | x]", {unbound("x")}},
      // FOREACH binds its variable for its body only.
      {"MATCH (n:Person) FOREACH (x IN [1] | SET n.age = x) RETURN x", {unbound("x")}},
      {"FOREACH (x IN [1] | FOREACH (y IN [x] | SET y.a = y + z))", {unbound("z")}},
      // YIELD binds the name after AS.
      {"CALL db.labels() YIELD label AS l RETURN l, label", {unbound("label")}},
      {"CALL db.labels(x)", {}},
      // A map literal's values are checked in the map's order.
      {"RETURN {a: u1, b: u2, c: u3}",
       {unbound("u1"), unbound("u2"), unbound("u3")},
       std::nullopt,
       true},
      // EXISTS subqueries are not checked; shortestPath patterns are, without warnings.
      {"MATCH (a:Person) WHERE exists { (a)-->(b:Persn) } RETURN a", {}},
      {"MATCH (a:Person), (b:Person) RETURN shortestPath((a:Persn)-[*]-(b))",
       {kW101, {"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (a:Person), (b:Person) RETURN shortestPath((a:Person)-[*]-(b))"},
      {"MATCH (a:Person) RETURN CASE a.nme WHEN x THEN 1 ELSE y END",
       {{"E303", "Unknown property 'nme' on variable 'a' with label :Person, did you mean .name?"},
        unbound("x"),
        unbound("y")}},
      {"MATCH (n:Person) RETURN n[x], n[1 .. y], -z", {unbound("x"), unbound("y"), unbound("z")}},
  });
}

TEST(Findings, ProjectionNames) {
  check({
      {"MATCH (a:Person) RETURN a, a", {{"E502", "Duplicate projection name 'a' in RETURN/WITH"}}},
      {"MATCH (a:Person) RETURN a.name AS k, a.age AS k",
       {{"E502", "Duplicate projection name 'k' in RETURN/WITH"}}},
      {"MATCH (a:Person) RETURN a, a, a",
       {{"E502", "Duplicate projection name 'a' in RETURN/WITH"},
        {"E502", "Duplicate projection name 'a' in RETURN/WITH"}}},
      // Items without an output name never clash; the items are checked first.
      {"MATCH (a:Person) RETURN a.name, a.name, b, a AS b",
       {unbound("b"), {"E502", "Duplicate projection name 'b' in RETURN/WITH"}}},
      // In a WITH the later item's binding wins: a is no longer a Person.
      {"MATCH (a:Person) WITH a, a.name AS a RETURN a.nme",
       {{"E502", "Duplicate projection name 'a' in RETURN/WITH"}}},
      {"MATCH (a:Person) RETURN *", {}},
  });
}

TEST(Findings, Aggregates) {
  const std::string e601 = "() received a string literal; expected a numeric expression";
  check({
      {"RETURN sum('1')", {{"E601", "Aggregate function sum" + e601}}},
      {"RETURN SUM('1', '2')",
       {{"E601", "Aggregate function SUM" + e601}, {"E601", "Aggregate function SUM" + e601}}},
      {"RETURN percentileCont('x', 0.5), StDevP(\"y\")",
       {{"E601", "Aggregate function percentileCont" + e601},
        {"E601", "Aggregate function StDevP" + e601}}},
      // Not count, collect, min or max; not nested strings; not namespaced names.
      {"RETURN count('1'), max('a'), sum(toInteger('1')), apoc.sum('1')", {}},
      {"MATCH (n:Person) WHERE count(n) > 1 RETURN n",
       {{"E602", "Aggregate function not allowed in MATCH WHERE" + kAggregateOnly}}},
      // The aggregate finding comes before the expression's own.
      {"MATCH (n:Person) WHERE max(m.age) > 1 RETURN n",
       {{"E602", "Aggregate function not allowed in MATCH WHERE" + kAggregateOnly}, unbound("m")}},
      {"MATCH (n:Person) WHERE [1, 2][count(*)] = 1 AND CASE WHEN avg(n.age) THEN 1 END "
       "RETURN n",
       {{"E602", "Aggregate function not allowed in MATCH WHERE" + kAggregateOnly}}},
      // Slices, comprehensions and quantifiers are not looked into.
      {"MATCH (n:Person) WHERE [1, 2][0 .. count(n)] <> [] AND any(x IN [1] WHERE count(x) > 0) "
       "RETURN n",
       {}},
      {"MATCH (n:Person) SET n.age = sum(n.age), n += {age: toInteger(max(n.age))}, n = collect(n)",
       {{"E602", "Aggregate function not allowed in SET" + kAggregateOnly},
        {"E602", "Aggregate function not allowed in SET" + kAggregateOnly},
        {"E602", "Aggregate function not allowed in SET" + kAggregateOnly}}},
      {"MATCH (n:Person) DETACH DELETE n, collect(n)[0]",
       {{"E602", "Aggregate function not allowed in DELETE" + kAggregateOnly}}},
      // Allowed in projections and in a WITH's WHERE.
      {"MATCH (n:Person) WITH n, count(*) AS c WHERE count(*) > 1 RETURN n, sum(n.age) "
       "ORDER BY count(*)",
       {}},
      // MERGE's ON CREATE and ON MATCH items are not checked.
      {"MERGE (p:Person {name: 'a'}) ON CREATE SET p.nme = sum(1) ON MATCH SET p.x = y", {}},
  });
}

TEST(Findings, Pagination) {
  check({
      {"RETURN 1 LIMIT '10'",
       {{"E611", "LIMIT expression must be an integer, got a string literal"}}},
      {"RETURN 1 SKIP 1.5", {{"E614", "SKIP expression must be an integer, got a float literal"}}},
      {"RETURN 1 LIMIT true",
       {{"E612", "LIMIT expression must be an integer, got a boolean literal"}}},
      {"RETURN 1 LIMIT null", {{"E613", "LIMIT expression must be an integer, got NULL"}}},
      {"RETURN 1 SKIP -1 LIMIT $n", {}},
      // Only the top of the expression is looked at; below it, the usual checks.
      {"RETURN 1 SKIP x LIMIT 'a' + 1", {unbound("x")}},
      {"MATCH (n:Person) WITH n SKIP 'a' LIMIT false RETURN n",
       {{"E611", "SKIP expression must be an integer, got a string literal"},
        {"E612", "LIMIT expression must be an integer, got a boolean literal"}}},
  });
}

TEST(Findings, Warnings) {
  check({
      {"MATCH (a:Person), (m:Movie) RETURN a, m", {kW101}},
      {"MATCH (a:Person)-[:ACTED_IN]->(m:Movie), (m)<-[:ACTED_IN]-(b:Person) RETURN a, b", {kW201}},
      {"MATCH (a:Person), (b:Person), (c:Person) RETURN a", {kW101}},
      {"MATCH (a:Person), (b:Person), (a)-[:ACTED_IN]->(m:Movie) RETURN a", {kW101, kW201}},
      // A shared relationship variable connects parts.
      {"MATCH (a:Person)-[r:ACTED_IN]->(:Movie), (:Person)-[r]->(:Movie) RETURN a", {}},
      // Variables of earlier clauses connect nothing.
      {"MATCH (a:Person)-[:ACTED_IN]->(m:Movie) MATCH (a:Person), (m:Movie) RETURN a", {kW101}},
      {"MATCH (n) RETURN n", {kW201}},
      {"MATCH (n) WHERE n.age > 1 RETURN n", {}},
      {"OPTIONAL MATCH (n:Person)-[:ACTED_IN]->() RETURN n", {kW201}},
      {"MATCH (a:Person)-[*]->(b:Person) RETURN a", {kW202}},
      {"MATCH (a:Person)-[*2..]->(b:Person) RETURN a", {kW202}},
      {"MATCH (a:Person)-[*2]->(b:Person)-[*1..3]->(c:Person) RETURN a", {}},
      {"MATCH (a:Person)-[*]->(b:Person)-[:ACTED_IN*3..]->(c:Movie) RETURN a", {kW202, kW202}},
      // In a MATCH: W101, then W201, then W202; CREATE and MERGE give none.
      {"MATCH (a)-[*]->(b), (c) RETURN a", {kW101, kW201, kW202}},
      {"CREATE (a), (b)-[:ACTED_IN]->() MERGE (c)", {}},
      // Warnings alone leave the query valid, without a correction.
      {"MATCH (a), (b) RETURN a, b", {kW101, kW201}},
  });
}

TEST(Findings, WorkedOrder) {
  check({
      {"MATCH (a:Persn)-[:ACTS_IN]->(m:Movie) WHERE m.titel = 'x' RETURN a.name, b",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"},
        {"E211", "Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN?"},
        {"E303",
         "Unknown property 'titel' on variable 'm' with label :Movie, did you mean .title?"},
        unbound("b")}},
      {"MATCH (a:Persn)-[:ACTS_IN]->(m:Movie) WHERE m.titel = 'x' RETURN a.name",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"},
        {"E211", "Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN?"},
        {"E303",
         "Unknown property 'titel' on variable 'm' with label :Movie, did you mean .title?"}},
       "MATCH (a:Person)-[:ACTED_IN]->(m:Movie) WHERE m.title = 'x' RETURN a.name"},
      // One error without a suggestion withholds the whole correction.
      {"MATCH (n:Persn) RETURN m",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}, unbound("m")}},
      {"MATCH (m:Movie)-[:ACTED_IN]->(p:Persn) RETURN m",
       {wrong_end("source", "Person", ":Movie"),
        {"E201", "Unknown node label: :Persn, did you mean :Person?"}}},
  });
}

// The correction touches whole names outside strings and comments only.
TEST(Findings, CorrectedQueryLeavesStringsCommentsAndLongerNames) {
  check({
      {"MATCH (n:Person) WHERE n.nme = 'nme' RETURN n",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) WHERE n.name = 'nme' RETURN n"},
      // A repeated pair is applied once: both labels become :Person.
      {"MATCH (a:Pers), (b:Pers) RETURN a, b",
       {{"E201", "Unknown node label: :Pers, did you mean :Person?"},
        {"E201", "Unknown node label: :Pers, did you mean :Person?"},
        kW101},
       "MATCH (a:Person), (b:Person) RETURN a, b"},
      // :Pers to :Person leaves a correct :Person alone.
      {"MATCH (a:Pers)-[:ACTED_IN]->(m:Movie) MATCH (b:Person) RETURN a, b",
       {{"E201", "Unknown node label: :Pers, did you mean :Person?"}},
       "MATCH (a:Person)-[:ACTED_IN]->(m:Movie) MATCH (b:Person) RETURN a, b"},
      {"MATCH (n:Person) // nme\nRETURN n.nme AS `nme`, \"n.nme\" /* n.nme */",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) // nme\nRETURN n.name AS `nme`, \"n.nme\" /* n.nme */"},
      // Names that only contain the key, before or after it, stay.
      {"MATCH (nmex:Person), (xnme:Person) RETURN nmex.nme, xnme.nme",
       {kW101,
        {"E303",
         "Unknown property 'nme' on variable 'nmex' with label :Person, did you mean "
         ".name?"},
        {"E303",
         "Unknown property 'nme' on variable 'xnme' with label :Person, did you mean "
         ".name?"}},
       "MATCH (nmex:Person), (xnme:Person) RETURN nmex.name, xnme.name"},
      // Each fix lands where its name is written: :ACTS_IN, :Persn, titel.
      {"MATCH (m:Movie) WHERE m.titel = 1 MATCH (a:Persn)-[:ACTS_IN]->(m) RETURN a",
       {{"E303",
         "Unknown property 'titel' on variable 'm' with label :Movie, did you mean .title?"},
        {"E201", "Unknown node label: :Persn, did you mean :Person?"},
        {"E211", "Unknown relationship type: :ACTS_IN, did you mean :ACTED_IN?"},
        kW201},
       "MATCH (m:Movie) WHERE m.title = 1 MATCH (a:Person)-[:ACTED_IN]->(m) RETURN a"},
  });
}

// A backticked label, type or key is the name between its backticks: found in
// the schema so, and compared so for suggestions; messages show it as written.
TEST(Findings, BacktickedNames) {
  check({
      {"MATCH (p:`Person`)-[r:`ACTED_IN` {`role`: 1}]->(m:`Movie` {`title`: 'x'}) "
       "SET p::`Person`, p.`name` = m.`title` REMOVE p.`age` RETURN p.`name`, r.`role`",
       {}},
      {"MATCH (p:`Persn`) RETURN p",
       {{"E201", "Unknown node label: :`Persn`, did you mean :Person?"}},
       "MATCH (p:Person) RETURN p"},
      {"MATCH (p:Person)-[:`ACTS_IN`]->(m:Movie) RETURN p.`nme`",
       {{"E211", "Unknown relationship type: :`ACTS_IN`, did you mean :ACTED_IN?"},
        {"E303",
         "Unknown property '`nme`' on variable 'p' with label :Person, did you mean .name?"}},
       "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name"},
      // The endpoint check and the labels a variable carries take the name too.
      {"MATCH (m:Movie)-[:ACTED_IN]->(p:`Person`) RETURN m",
       {wrong_end("source", "Person", ":Movie"), wrong_end("target", "Movie", ":`Person`")}},
      {"MATCH (p:`Person`)-[:ACTED_IN]->(m:`Movie`) RETURN m", {}},
      {"MATCH (p:`Person`)-[:ACTED_IN]->(m:Movie) MATCH (p:Person) RETURN p.nme",
       {{"E303", "Unknown property 'nme' on variable 'p' with label :`Person`, did you mean "
                 ".name?"}},
       "MATCH (p:`Person`)-[:ACTED_IN]->(m:Movie) MATCH (p:Person) RETURN p.name"},
  });
  // A schema whose names are no plain identifiers: found when written in
  // backticks, and written so in a correction.
  schema::Schema s = testing::movies_schema();
  s.nodes["Person"].insert("pageRank-1");
  s.nodes["Order"] = HashSet{"id"};
  s.nodes["We`ird"] = HashSet{};
  const Torvane torvane(std::move(s));
  const struct {
    std::string query;
    std::vector<std::string> errors;
    std::optional<std::string> fixed;
  } rows[] = {
      {"MATCH (p:Person) RETURN p.`pageRank-1`, p.`name`", {}, std::nullopt},
      {"MATCH (p:Person) RETURN p.`pagerank-1`",
       {"Unknown property '`pagerank-1`' on variable 'p' with label :Person, did you mean "
        ".pageRank-1?"},
       "MATCH (p:Person) RETURN p.`pageRank-1`"},
      {"MATCH (p:Person) RETURN p.pagerank_1",
       {"Unknown property 'pagerank_1' on variable 'p' with label :Person, did you mean "
        ".pageRank-1?"},
       "MATCH (p:Person) RETURN p.`pageRank-1`"},
      {"MATCH (o:`Order`), (w:`We``ird`) RETURN o.id", {}, std::nullopt},
      {"MATCH (o:Ordr), (w:Weird) RETURN o.id",
       {"Unknown node label: :Ordr, did you mean :Order?",
        "Unknown node label: :Weird, did you mean :We`ird?"},
       "MATCH (o:`Order`), (w:`We``ird`) RETURN o.id"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.query);
    const ValidationResult r = torvane.validate(row.query);
    EXPECT_EQ(r.errors, row.errors);
    EXPECT_EQ(r.fixed_query, row.fixed);
  }
}

// The correction renames a name only where it is written in the role of its
// finding, a key only where it is read from the finding's variable or
// pattern: never a variable, alias, parameter, function, expression map key,
// string, comment or longer name that happens to be spelt alike, nor the
// key of another variable.
TEST(Findings, CorrectedQueryRenamesOnlyInTheRole) {
  check({
      {"MATCH (n:Person) RETURN n.nme AS nme, $nme",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) RETURN n.name AS nme, $nme"},
      {"MATCH (n: Persn) RETURN n",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (n: Person) RETURN n"},
      {"MATCH (n:/* c */Persn) RETURN n",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"}},
       "MATCH (n:/* c */Person) RETURN n"},
      {"MATCH (Persn:Persn) WITH Persn AS nme, {nme: 1} AS m MATCH (x:Person) "
       "RETURN x.nme, nme, m.nme, nme(1)",
       {{"E201", "Unknown node label: :Persn, did you mean :Person?"},
        {"E303", "Unknown property 'nme' on variable 'x' with label :Person, did you mean .name?"}},
       "MATCH (Persn:Person) WITH Persn AS nme, {nme: 1} AS m MATCH (x:Person) "
       "RETURN x.name, nme, m.nme, nme(1)"},
      // Keys in a pattern's map, SET and REMOVE are keys; a label is not a type.
      {"MATCH (n:Person {nme: 1})-[:Movi]->(m:Movi) SET n.nme = 1 REMOVE n.nme",
       {{"E301", "Unknown property 'nme' for node label :Person, did you mean .name?"},
        {"E211", "Unknown relationship type: :Movi"},
        {"E201", "Unknown node label: :Movi, did you mean :Movie?"},
        {"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"},
        {"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean "
                 ".name?"}}},
      {"MATCH (n:Person {nme: 1}), (m:Movi) SET n.nme = 1 REMOVE n.nme RETURN m",
       {{"E301", "Unknown property 'nme' for node label :Person, did you mean .name?"},
        {"E201", "Unknown node label: :Movi, did you mean :Movie?"},
        kW101,
        {"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"},
        {"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean "
                 ".name?"}},
       "MATCH (n:Person {name: 1}), (m:Movie) SET n.name = 1 REMOVE n.name RETURN m"},
  });
}

// ORDER BY after RETURN sees the RETURN's output names; SKIP and LIMIT do not.
TEST(Findings, ReturnOrderBySeesOutputNames) {
  check({
      {"MATCH (p:Person) RETURN p.name AS name ORDER BY name", {}},
      {"MATCH (p:Person) RETURN p AS q ORDER BY q.nme",
       {{"E303", "Unknown property 'nme' on variable 'q' with label :Person, did you mean .name?"}},
       "MATCH (p:Person) RETURN p AS q ORDER BY q.name"},
      // The names before the RETURN stay visible; an output name replaces one.
      {"MATCH (p:Person) RETURN p.name AS name ORDER BY p.age, x", {unbound("x")}},
      {"MATCH (p:Person) RETURN p.name AS p ORDER BY p.nme", {}},
      {"MATCH (p:Person) RETURN p.name AS name SKIP name LIMIT name",
       {unbound("name"), unbound("name")}},
      // The names end with the RETURN: the next UNION branch does not see them.
      {"MATCH (p:Person) RETURN p.name AS name ORDER BY name UNION RETURN name", {unbound("name")}},
  });
}

// WITH * passes the whole scope on, labels and types included.
TEST(Findings, WithStarKeepsTheScope) {
  check({
      {"MATCH (n:Person) WITH * RETURN n.name", {}},
      {"MATCH (n:Person) WITH * RETURN n.nme",
       {{"E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"}},
       "MATCH (n:Person) WITH * RETURN n.name"},
      {"MATCH (n:Person)-[r:ACTED_IN]->(m:Movie) WITH * WHERE r.rol > 1 RETURN m, x",
       {{"E304",
         "Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, did "
         "you mean .role?"},
        unbound("x")}},
      {"WITH * RETURN n", {unbound("n")}},
  });
}

// A WITH's ORDER BY and WHERE see the names before it too, unless the WITH
// has DISTINCT or an aggregate; then only the projected names and the parts
// written as one of its projected expressions. SKIP and LIMIT, and the rest
// of the query, see the projected names only.
TEST(Findings, WithWhereAndOrderByScope) {
  const Finding nme_on_n{
      "E303", "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"};
  check({
      // Neither DISTINCT nor an aggregate.
      {"MATCH (n:Person) WITH n.name AS name ORDER BY n.age RETURN name", {}},
      {"MATCH (n:Person) WITH n.name AS name WHERE n.age > 1 RETURN name", {}},
      {"MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WITH p, m.title AS title WHERE m.title = title "
       "RETURN p",
       {}},
      {"MATCH (ah:Person)-[:ACTED_IN]->(m:Movie) WITH ah, m.title AS accountHolderState "
       "MATCH (p:Person)-[:ACTED_IN]->(da:Movie) WITH ah, accountHolderState, p "
       "WHERE da.title = accountHolderState RETURN p",
       {}},
      {"MATCH (n:Person) WITH n.name AS name WHERE n.nme IS NOT NULL RETURN name", {nme_on_n},
       "MATCH (n:Person) WITH n.name AS name WHERE n.name IS NOT NULL RETURN name"},
      // A projected name wins over the name before the WITH.
      {"MATCH (n:Person) WITH n.name AS n WHERE n.nme IS NULL RETURN n", {}},
      {"MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WITH p AS m, m AS p WHERE m.nme = p.titel "
       "RETURN m",
       {{"E303", "Unknown property 'nme' on variable 'm' with label :Person, did you mean .name?"},
        {"E303",
         "Unknown property 'titel' on variable 'p' with label :Movie, did you mean .title?"}},
       "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WITH p AS m, m AS p WHERE m.name = p.title "
       "RETURN m"},
      {"MATCH (n:Person) WITH n.name AS name WHERE n.age > 1 RETURN n", {unbound("n")}},
      {"MATCH (n:Person) WITH n.name AS name SKIP n.age RETURN name", {unbound("n")}},
      // DISTINCT or an aggregate.
      {"MATCH (n:Person) WITH DISTINCT n.name AS name ORDER BY n.age RETURN name", {unbound("n")}},
      {"MATCH (n:Person) WITH n.name AS name, count(*) AS c WHERE n.age > 1 RETURN name",
       {unbound("n")}},
      {"MATCH (u:Person)-[:ACTED_IN]->(m:Movie) WITH u.name AS name, count(m) AS c "
       "WHERE u.name IS NOT NULL RETURN name, c",
       {}},
      {"MATCH (u:Person)-[:ACTED_IN]->(m:Movie) WITH u.name AS name, count(m) AS c "
       "WHERE u.name IS NOT NULL AND u.age > 1 RETURN name, c",
       {unbound("u")}},
      {"MATCH (n:Person) WITH DISTINCT n.name AS name WHERE n.name + 'x' STARTS WITH 'a' "
       "RETURN name",
       {}},
      {"MATCH (me:Person)-[:ACTED_IN]->(m:Movie) WITH me.age AS age, count(m.title) AS cnt "
       "ORDER BY me.age + count(m.title) RETURN age",
       {}},
      {"MATCH (n:Person) WITH n AS p, count(*) AS c WHERE n.name = 'x' RETURN p", {}},
      // Written alike: function names in any case, literals by value, map
      // entries in any order (a map keeps no order of its own); DISTINCT and
      // the names of comprehension variables count.
      {"MATCH (n:Person) WITH n.name AS name, count(n) AS c ORDER BY COUNT(n) DESC RETURN name",
       {}},
      {"MATCH (n:Person) WITH n.name + 'x' AS name, count(*) AS c ORDER BY n.name + \"x\" "
       "RETURN name",
       {}},
      {"MATCH (n:Person) WITH {a: n.name, b: n.age} AS m, count(*) AS c "
       "ORDER BY {b: n.age, a: n.name} RETURN m",
       {}},
      {"MATCH (n:Person) WITH n.name AS name, count(DISTINCT n) AS c ORDER BY count(n) "
       "RETURN name",
       {unbound("n")}},
      {"MATCH (n:Person) WITH [x IN [n] | x.name] AS c, count(*) AS k ORDER BY [y IN [n] | y.name] "
       "RETURN c",
       {unbound("n")}},
      // The projected expression was checked as an item; written again it
      // adds no finding, unless its names were unbound before the WITH too.
      {"MATCH (n:Person) WITH n.nme AS x, count(*) AS c WHERE n.nme IS NULL RETURN x",
       {nme_on_n},
       "MATCH (n:Person) WITH n.name AS x, count(*) AS c WHERE n.name IS NULL RETURN x"},
      {"MATCH (n:Person) WITH z.name AS name, count(*) AS c WHERE z.name IS NULL RETURN name",
       {unbound("z"), unbound("z")}},
  });
}

// DISTINCT is a keyword only as a whole word: a name that begins with it is
// the name.
TEST(Findings, DistinctIsAWholeWord) {
  check({
      {"MATCH (p:Person) WITH collect(DISTINCT p.name) AS distinctPlaceIds "
       "RETURN size(distinctPlaceIds), count(distinctPlaceIds)",
       {}},
      {"MATCH (p:Person) WITH p AS distinctPerson RETURN distinctPerson.nme",
       {{"E303",
         "Unknown property 'nme' on variable 'distinctPerson' with label :Person, did you mean "
         ".name?"}},
       "MATCH (p:Person) WITH p AS distinctPerson RETURN distinctPerson.name"},
      {"RETURN distinctValue", {unbound("distinctValue")}},
      {"MATCH (p:Person) RETURN DISTINCT(p.name), count(DISTINCT(p))", {}},
  });
}

// The clauses of a FOREACH body bind for the rest of that body; after the
// FOREACH the scope is as it was before it.
TEST(Findings, ForeachBodyBindings) {
  const Finding nme_on_p{
      "E303", "Unknown property 'nme' on variable 'p' with label :Person, did you mean .name?"};
  check({
      {"FOREACH (x IN [1, 2] | MERGE (y:Person {name: x}) DELETE y)", {}},
      {"FOREACH (x IN [1, 2] | MERGE (y:Person {name: x})) RETURN y", {unbound("y")}},
      // For the rest of the body: not before the clause that binds.
      {"FOREACH (x IN [1] | DELETE y CREATE (y:Person))", {unbound("y")}},
      // The labels written in the body come with the binding.
      {"FOREACH (x IN [1] | CREATE (p:Person) SET p.nme = x)", {nme_on_p},
       "FOREACH (x IN [1] | CREATE (p:Person) SET p.name = x)"},
      // An inner FOREACH sees what the outer body bound before it, and binds
      // for itself only.
      {"FOREACH (x IN [1] | CREATE (p:Person) FOREACH (z IN [x] | SET p.nme = z CREATE (q)) "
       "DELETE q)",
       {nme_on_p, unbound("q")}},
      // A name bound before the FOREACH keeps its binding after it, whatever
      // the body merged into it.
      {"MATCH (p:Person) FOREACH (x IN [1] | MERGE (p)-[:ACTED_IN]->(m:Movie)) RETURN p.nme, m",
       {nme_on_p, unbound("m")}},
      {"MATCH (m:Movie) FOREACH (x IN [1] | MERGE (m:Person)) RETURN m.title", {}},
  });
}

// FOREACH's variable is a list element: inside the body it has no labels or
// types, even where an outer variable of its name has; after the FOREACH
// the outer one is back with its own. A comprehension's variable, by
// contrast, leaves an outer binding as it is.
TEST(Findings, ForeachVariableShadows) {
  const auto on = [](const std::string& key, const std::string& var, const std::string& owner,
                     const std::string& hint) {
    const bool type = owner == "ACTED_IN";
    return Finding{type ? "E304" : "E303",
                   "Unknown property '" + key + "' on variable '" + var + "' with " +
                       (type ? "relationship type :" : "label :") + owner + hint};
  };
  check({
      {"MATCH (n:Person) FOREACH (n IN [1, 2] | SET n.nme = 1)", {}},
      {"MATCH (n:Person) FOREACH (n IN [1] | SET n.nme = 1) RETURN n", {}},
      {"MATCH (n:Person) FOREACH (n IN [1] | SET n.nme = 1) RETURN n.agee",
       {on("agee", "n", "Person", ", did you mean .age?")},
       "MATCH (n:Person) FOREACH (n IN [1] | SET n.nme = 1) RETURN n.age"},
      {"MATCH ()-[r:ACTED_IN]->() FOREACH (r IN [1] | SET r.x = 1) RETURN r.rol",
       {kW201, on("rol", "r", "ACTED_IN", ", did you mean .role?")},
       "MATCH ()-[r:ACTED_IN]->() FOREACH (r IN [1] | SET r.x = 1) RETURN r.role"},
      // Labels the body writes come with the element, and leave with it.
      {"MATCH (n:Person) FOREACH (n IN [1] | CREATE (n:Movie) SET n.nme = 1) RETURN n.title",
       {on("nme", "n", "Movie", ""), on("title", "n", "Person", "")}},
      // Nested: the outer body's n is the outer variable again after the
      // inner FOREACH, and an inner element shadows an outer one.
      {"MATCH (n:Person) FOREACH (x IN [1] | FOREACH (n IN [1] | SET n.nme = 1) SET n.agee = 1)",
       {on("agee", "n", "Person", ", did you mean .age?")},
       "MATCH (n:Person) FOREACH (x IN [1] | FOREACH (n IN [1] | SET n.nme = 1) SET n.age = 1)"},
      {"MATCH (n:Person) FOREACH (n IN [1] | CREATE (n:Movie) FOREACH (n IN [1] | SET n.nme = 1) "
       "SET n.titel = 2) RETURN n.agee",
       {on("titel", "n", "Movie", ", did you mean .title?"),
        on("agee", "n", "Person", ", did you mean .age?")},
       "MATCH (n:Person) FOREACH (n IN [1] | CREATE (n:Movie) FOREACH (n IN [1] | SET n.nme = 1) "
       "SET n.title = 2) RETURN n.age"},
      {"MATCH (n:Person) RETURN [n IN [1] | n.nme]",
       {on("nme", "n", "Person", ", did you mean .name?")},
       "MATCH (n:Person) RETURN [n IN [1] | n.name]"},
  });
}

// "{prefix}{i}", built by appending (prepending to a temporary draws a false
// -Wrestrict from g++ 12).
std::string numbered(const char* prefix, int i) {
  std::string out = prefix;
  out += std::to_string(i);
  return out;
}

// A scope or set of names holds a few names in a list and indexes more; the
// findings are the same on both sides of the change, also after a name bound
// for an inner expression leaves an indexed scope from its middle.
TEST(Findings, ManyNamesAsFew) {
  for (const int n : {3, 8, 9, 24}) {
    SCOPED_TRACE(n);
    // (v0:Person)-[r1:ACTED_IN]->(v1:Movie)<-[r2:ACTED_IN]-(v2:Person)...
    std::string match = "MATCH (v0:Person)";
    // reduce's accumulator leaves the scope before its variable does.
    std::string items = "reduce(s = 0, x IN [1] | s + x), s, x";
    std::vector<Finding> properties = {unbound("s"), unbound("x")};
    std::string aliases = "RETURN 0 AS a0";
    std::string parts = "MATCH (m:Movie)";
    for (int i = 1; i <= n; ++i) {
      const std::string v = numbered("v", i), r = numbered("r", i);
      const bool movie = i % 2 == 1;
      match += movie ? "-[" + r + ":ACTED_IN]->(" + v + ":Movie)"
                     : "<-[" + r + ":ACTED_IN]-(" + v + ":Person)";
      items += ", " + v + ".name, " + r + ".rol";
      if (movie) properties.push_back({"E303", "Unknown property 'name' on variable '" + v +
                                                   "' with label :Movie"});
      properties.push_back({"E304", "Unknown property 'rol' on variable '" + r +
                                        "' with relationship type :ACTED_IN, did you mean .role?"});
      aliases += numbered(", ", i) + numbered(" AS a", i);
      parts += numbered(", (c", i) + ":Person)-[:ACTED_IN]->(m:Movie)";
    }
    const std::string last = numbered("a", n);
    check({
        {match + " RETURN " + items + ", v0.nme, u",
         [&] {
           auto all = properties;
           all.push_back({"E303",
                          "Unknown property 'nme' on variable 'v0' with label :Person, did you "
                          "mean .name?"});
           all.push_back(unbound("u"));
           return all;
         }()},
        {aliases + ", 1 AS a0, 2 AS " + last,
         {{"E502", "Duplicate projection name 'a0' in RETURN/WITH"},
          {"E502", "Duplicate projection name '" + last + "' in RETURN/WITH"}}},
        {parts + ", (z:Movie) RETURN m", {kW101}},
    });
  }
  // Labels looked up once are remembered up to a bound; past it the schema
  // is asked each time, with the same findings.
  std::string match = "MATCH ";
  std::vector<Finding> labels;
  for (int i = 0; i < 12; ++i) {
    match += numbered("(x", i) + numbered(":L", i) + "), ";
    labels.push_back({"E201", numbered("Unknown node label: :L", i)});
  }
  labels.push_back({"E301", "Unknown property 'nme' for node label :Person, did you mean .name?"});
  labels.push_back(kW101);
  labels.push_back(
      {"E303", "Unknown property 'agee' on variable 'p' with label :Person, did you mean .age?"});
  labels.push_back({"E304",
                    "Unknown property 'rol' on variable 'r' with relationship type :ACTED_IN, "
                    "did you mean .role?"});
  check({{match + "(p:Person {nme: 1})-[r:ACTED_IN]->(m:Movie) RETURN p.agee, r.rol, m.title",
          labels}});
}

// The JSON form: members in byte order of their keys at both levels, the
// position and suggestion members only where there are such values, and each
// message list the messages its findings select.
TEST(ResultJson, KeysInByteOrder) {
  using diagnostics::DiagnosticCode;
  using diagnostics::Severity;
  Findings found{false, {}, "MATCH (p:Person) RETURN p"};
  found.diagnostics.push_back({DiagnosticCode::ParseError, Severity::Error, "at \"x\"\n",
                               std::nullopt, std::pair<std::uint32_t, std::uint32_t>{2, 7}});
  found.diagnostics.push_back({DiagnosticCode::UnknownNodeLabel, Severity::Error, "label",
                               diagnostics::Suggestion{":Persn", ":Person", "fix"}, std::nullopt});
  found.diagnostics.push_back(
      {DiagnosticCode::UnlabeledFullScan, Severity::Warning, "scan", std::nullopt, std::nullopt});
  std::string out = "kept:";
  write_json(out, found);
  EXPECT_EQ(
      out,
      R"(kept:{"diagnostics":[)"
      R"({"code":"E101","code_name":"ParseError","message":"at \"x\"\n",)"
      R"("position_col":7,"position_line":2,"severity":"error"},)"
      R"({"code":"E201","code_name":"UnknownNodeLabel","message":"label","severity":"error",)"
      R"("suggestion_description":"fix","suggestion_original":":Persn",)"
      R"("suggestion_replacement":":Person"},)"
      R"({"code":"W201","code_name":"UnlabeledFullScan","message":"scan","severity":"warning"}],)"
      R"("errors":["at \"x\"\n","label"],"fixed_query":"MATCH (p:Person) RETURN p",)"
      R"("is_valid":false,"semantic_errors":["label"],"syntax_errors":["at \"x\"\n"],)"
      R"("warnings":["scan"]})");
  Findings valid{true, {}, std::nullopt};
  out.clear();
  write_json(out, valid);
  EXPECT_EQ(out, R"({"diagnostics":[],"errors":[],"fixed_query":null,"is_valid":true,)"
                 R"("semantic_errors":[],"syntax_errors":[],"warnings":[]})");
}

}  // namespace
}  // namespace torvane::validator
