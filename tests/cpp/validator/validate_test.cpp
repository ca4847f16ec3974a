// Torvane::validate as a whole: parse failures, the corrected query, the
// corpus, concurrent use of one validator, and the deepest trees on a small stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common.hpp"
#include "common/small_stack.hpp"
#include "corpus_schemas.hpp"
#include "parser/builder.hpp"
#include "parser/parse.hpp"
#include "validator/semantic.hpp"

namespace torvane::validator {
namespace {

using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::Suggestion;
using diagnostics::ValidationDiagnostic;

TEST(Validate, ParseFailureIsTheOnlyFinding) {
  const Torvane torvane(testing::movies_schema());
  std::string deep = "MATCH (n:Persn) RETURN 1";
  for (std::uint32_t i = 0; i < parser::builder::kMaxTreeDepth + 5; ++i) deep += " + 1";
  for (const std::string& query : {std::string("MATCH (n:Persn RETURN n"),
                                   std::string("MATCH (n:Person)\nRETURN n\nLIMIT"), deep}) {
    SCOPED_TRACE(query.substr(0, 40));
    const auto detail = parser::parse_with_detail(query);
    ASSERT_FALSE(detail.ok());
    const ValidationResult r = torvane.validate(query);
    EXPECT_FALSE(r.is_valid);
    EXPECT_EQ(r.errors, std::vector<std::string>{detail.error().message});
    EXPECT_EQ(r.syntax_errors, r.errors);
    EXPECT_TRUE(r.semantic_errors.empty());
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_FALSE(r.fixed_query.has_value());
    const ValidationDiagnostic expected{DiagnosticCode::ParseError, Severity::Error,
                                        detail.error().message, std::nullopt,
                                        detail.error().position};
    EXPECT_EQ(r.diagnostics, std::vector<ValidationDiagnostic>{expected});
  }
  // The grammar's failures have a position, the builder's none.
  EXPECT_EQ(torvane.validate("MATCH (n:Person)\nRETURN n\nLIMIT").diagnostics[0].position,
            std::make_pair(3u, 6u));
  EXPECT_FALSE(torvane.validate(deep).diagnostics[0].position.has_value());
  EXPECT_EQ(torvane.validate(deep).errors[0], "Parse error: Query nests too deeply");
}

TEST(Validate, SuggestionsAndValidity) {
  const Torvane torvane(testing::movies_schema());
  const ValidationResult bad = torvane.validate("MATCH (n:Persn) RETURN n.nme");
  ASSERT_EQ(bad.diagnostics.size(), 1u);  // n carries only an unknown label
  EXPECT_EQ(bad.diagnostics[0].suggestion,
            (Suggestion{":Persn", ":Person", "Replace :Persn with :Person"}));
  EXPECT_FALSE(bad.is_valid);
  EXPECT_EQ(bad.semantic_errors, bad.errors);

  const ValidationResult key = torvane.validate("MATCH (n:Person) RETURN n.nmae");
  ASSERT_EQ(key.diagnostics.size(), 1u);
  EXPECT_EQ(key.diagnostics[0].suggestion,
            (Suggestion{"nmae", "name", "Replace property 'nmae' with 'name'"}));

  const ValidationResult warned = torvane.validate("MATCH (n) RETURN n");
  EXPECT_TRUE(warned.is_valid);
  EXPECT_TRUE(warned.errors.empty());
  EXPECT_EQ(warned.warnings.size(), 1u);
  EXPECT_FALSE(warned.fixed_query.has_value());

  // With an empty schema nothing is close: no hints, no correction.
  const Torvane empty{schema::Schema{}};
  const ValidationResult none = empty.validate("MATCH (n:Person) RETURN n.name");
  ASSERT_EQ(none.errors, std::vector<std::string>{"Unknown node label: :Person"});
  EXPECT_FALSE(none.fixed_query.has_value());
}

// A name searched once per list and validation: each repeat gets its list's
// own answer, whichever list was asked first.
TEST(Validate, RepeatedUnknownNamesKeepTheirListsAnswers) {
  schema::Schema s;
  s.nodes["Person"] = HashSet{"name"};
  s.nodes["Movie"] = HashSet{"title", "nama"};
  s.relationships["PERSONA"] = schema::RelationshipDef{"Person", "Movie", HashSet{"since"}};
  const Torvane torvane(std::move(s));
  const ValidationResult r = torvane.validate(
      "MATCH (a:Person {nmae: 1})-[:Persn]->(m:Movie {nmae: 2}), (b:Persn), (c:Xyz), (d:Xyz) "
      "RETURN a.nmae, m.nmae, b, c, d, a.nmae");
  EXPECT_EQ(r.errors, (std::vector<std::string>{
                          "Unknown property 'nmae' for node label :Person, did you mean .name?",
                          "Unknown relationship type: :Persn, did you mean :PERSONA?",
                          "Unknown property 'nmae' for node label :Movie, did you mean .nama?",
                          "Unknown node label: :Persn, did you mean :Person?",
                          "Unknown node label: :Xyz",
                          "Unknown node label: :Xyz",
                          "Unknown property 'nmae' on variable 'a' with label :Person, did you "
                          "mean .name?",
                          "Unknown property 'nmae' on variable 'm' with label :Movie, did you "
                          "mean .nama?",
                          "Unknown property 'nmae' on variable 'a' with label :Person, did you "
                          "mean .name?",
                      }));
  testing::expect_consistent(r, "repeated names");
}

TEST(Validate, NameThatIsBothLabelAndTypeCountsAsLabel) {
  schema::Schema s;
  s.nodes["Tag"] = HashSet{"name"};
  s.relationships["Tag"] = schema::RelationshipDef{"Tag", "Tag", HashSet{"weight"}};
  const Torvane torvane(std::move(s));
  EXPECT_EQ(torvane.validate("MATCH (:Tag)-[r:Tag]->(:Tag) RETURN r.weight").errors,
            std::vector<std::string>{"Unknown property 'weight' on variable 'r' with label :Tag"});
  EXPECT_TRUE(torvane.validate("MATCH (:Tag)-[r:Tag {weight: 1}]->(:Tag) RETURN r.name").is_valid);
}

ValidationDiagnostic fix(std::string original, std::string replacement) {
  return {DiagnosticCode::UnknownNodeProperty, Severity::Error, "m",
          Suggestion{std::move(original), std::move(replacement), "d"}, std::nullopt};
}

TEST(CorrectedQuery, Cases) {
  const ValidationDiagnostic warning{DiagnosticCode::UnlabeledFullScan, Severity::Warning, "w",
                                     std::nullopt, std::nullopt};
  const ValidationDiagnostic unfixable{DiagnosticCode::UnboundVariable, Severity::Error, "e",
                                       std::nullopt, std::nullopt};
  struct Case {
    std::string query;
    std::vector<ValidationDiagnostic> diagnostics;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"RETURN a", {}, std::nullopt},
      {"RETURN a", {warning}, std::nullopt},
      {"RETURN a", {fix("a", "b"), unfixable}, std::nullopt},
      {"RETURN a", {warning, fix("a", "b")}, "RETURN b"},
      // Whole names only: no name character after, nor before a key.
      {"RETURN a, ab, ba, a_, _a, a1, $a, x.a, a",
       {fix("a", "b")},
       "RETURN b, ab, ba, a_, _a, a1, $b, x.b, b"},
      {"MATCH (:Pers), (:Person), (:Pers_), (x:Pers:Pers) RETURN x",
       {fix(":Pers", ":Person")},
       "MATCH (:Person), (:Person), (:Pers_), (x:Person:Person) RETURN x"},
      {"SET n::Pers", {fix(":Pers", ":Person")}, "SET n::Person"},
      // Strings, comments and backticked names are left whole.
      {"RETURN 'a', \"a\", `a`, `x a`, a // a\n, a /* a */ + a",
       {fix("a", "b")},
       "RETURN 'a', \"a\", `a`, `x a`, b // a\n, b /* a */ + b"},
      {"RETURN \"it's a\", 'say \"a\"', a", {fix("a", "b")}, "RETURN \"it's a\", 'say \"a\"', b"},
      {"RETURN `a`, a", {fix("`a`", "b")}, "RETURN b, a"},
      {"RETURN /**/ a /*/ a */ a", {fix("a", "b")}, "RETURN /**/ b /*/ a */ b"},
      {"RETURN a // a", {fix("a", "b")}, "RETURN b // a"},
      // Longest original first; equal lengths keep their order; a repeated pair once.
      {"RETURN x.nme, x.names", {fix("nme", "name"), fix("names", "nme")}, "RETURN x.name, x.name"},
      {"RETURN a, b", {fix("a", "b"), fix("b", "c")}, "RETURN c, c"},
      {"RETURN a, b", {fix("b", "c"), fix("a", "b")}, "RETURN b, c"},
      {"RETURN a", {fix("a", "a + a"), fix("a", "a + a")}, "RETURN a + a"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(corrected_query(c.query, c.diagnostics), c.expected) << c.query;
}

schema::Schema example_schema() {
  std::ifstream in(std::string(TORVANE_SOURCE_ROOT) + "/examples/schema.json");
  std::stringstream text;
  text << in.rdbuf();
  auto s = schema::Schema::deserialize(text.str());
  EXPECT_TRUE(s.ok());
  return s.ok() ? std::move(*s) : schema::Schema{};
}

// The findings with their order dropped: inline maps iterate in an order
// that each thread's hash keys decide.
std::vector<std::string> finding_set(const ValidationResult& r) {
  std::vector<std::string> out;
  for (const auto& d : r.diagnostics) out.push_back(std::string(code_str(d.code)) + d.message);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Validate, CorpusQueries) {
  const auto dir = testing::corpus_dir();
  const auto files = testing::corpus_files(dir);
  if (files.empty()) GTEST_SKIP() << "no corpus at " << dir;
  testing::CorpusSchemas schemas(dir, example_schema());
  std::size_t valid = 0, total = 0;
  for (const auto& file : files) {
    const auto queries = schemas.read(file);
    for (const auto& q : queries) {
      const Torvane torvane(*q.schema);
      const ValidationResult r = torvane.validate(q.query);
      testing::expect_consistent(r, q.query);
      // The findings alone are the result's, message lists aside; those of an
      // inline map follow its hash order, which each parse draws anew.
      const Findings f = torvane.findings(q.query);
      EXPECT_EQ(f.is_valid, r.is_valid) << q.query;
      EXPECT_EQ(f.fixed_query.has_value(), r.fixed_query.has_value()) << q.query;
      EXPECT_TRUE(std::is_permutation(f.diagnostics.begin(), f.diagnostics.end(),
                                      r.diagnostics.begin(), r.diagnostics.end()))
          << q.query;
      const bool all_fixable = std::all_of(
          r.diagnostics.begin(), r.diagnostics.end(), [](const ValidationDiagnostic& d) {
            return d.severity == Severity::Warning || d.suggestion.has_value();
          });
      EXPECT_EQ(r.fixed_query.has_value(), r.syntax_errors.empty() && !r.is_valid && all_fixable)
          << q.query;
      valid += r.is_valid;
      ++total;
    }
  }
  EXPECT_GT(schemas.schemas_read(), 20u);
  // Most real queries written against their own schema are valid.
  EXPECT_GT(valid, total / 2);
}

TEST(Validate, OneValidatorSharedByThreads) {
  const auto dir = testing::corpus_dir();
  const auto files = testing::corpus_files(dir);
  if (files.empty()) GTEST_SKIP() << "no corpus at " << dir;
  testing::CorpusSchemas schemas(dir, example_schema());
  std::vector<std::string> queries;
  for (const auto& file : files)
    for (auto& q : schemas.read(file))
      if (queries.size() < 4000 || queries.size() % 16 == 0) queries.push_back(std::move(q.query));
  const Torvane torvane(*schemas.find("movies"));
  std::vector<ValidationResult> alone;
  for (const auto& q : queries) alone.push_back(torvane.validate(q));

  constexpr int kThreads = 6;
  std::vector<ValidationResult> shared(queries.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (std::size_t i; (i = next.fetch_add(1)) < queries.size();)
        shared[i] = torvane.validate(queries[i]);
    });
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < queries.size(); ++i) {
    EXPECT_EQ(shared[i].is_valid, alone[i].is_valid) << queries[i];
    EXPECT_EQ(finding_set(shared[i]), finding_set(alone[i])) << queries[i];
    EXPECT_EQ(shared[i].fixed_query, alone[i].fixed_query) << queries[i];
  }
}

// A query made of `n` repetitions, for the largest n from `cap` down that
// parses; empty when none does.
template <class Make>
std::string deepest_parsing(std::uint32_t cap, Make make) {
  for (std::uint32_t n = cap; n >= 10; n = n * 9 / 10)
    if (std::string q = make(n); parser::parse(q).ok()) return q;
  return {};
}

std::string chain(const std::string& head, const std::string& step, const std::string& tail) {
  return deepest_parsing(parser::builder::kMaxTreeDepth, [&](std::uint32_t n) {
    std::string q = head;
    for (std::uint32_t i = 0; i < n; ++i) q += step;
    return q + tail;
  });
}

std::string nested(const std::string& head, const std::string& open, const std::string& inner,
                   const std::string& close, const std::string& tail) {
  return deepest_parsing(parser::builder::kMaxTreeDepth, [&](std::uint32_t n) {
    std::string q = head;
    for (std::uint32_t i = 0; i < n; ++i) q += open;
    q += inner;
    for (std::uint32_t i = 0; i < n; ++i) q += close;
    return q + tail;
  });
}

// Validating the deepest trees the parser accepts fits a small worker stack:
// the expression walk, the aggregate search and nested FOREACH. The trees are
// built beforehand, so the stack holds the validator's frames alone.
TEST(Validate, DeepestTreesFitASmallStack) {
  constexpr std::size_t kStack = testing::stack_size(128 * 1024, 512 * 1024);
  const std::string where = "MATCH (n:Person) WHERE ";
  const std::vector<std::string> queries = {
      chain("RETURN n", " OR n", ""),
      chain(where + "n.age", " + n.nme", " > 1 RETURN n"),
      chain(where + "1", " < count(n)", " RETURN n"),
      chain("RETURN n", ".a", ""),
      chain("RETURN n", "[0]", ""),
      chain(where, "NOT ", "x RETURN n"),
      nested(where, "f(", "count(*)", ")", " RETURN n"),
      nested(where, "(", "1", ")", " RETURN n"),
      nested("RETURN ", "all(x IN [", "1", "] WHERE x.a)", ""),
      nested("RETURN ", "[x IN [", "1", "] WHERE x.b | x.a]", ""),
      nested("RETURN ", "CASE WHEN x THEN ", "y", " END", ""),
      nested("RETURN ", "reduce(s = 0, x IN [", "1", "] | s + x)", ""),
      nested("", "FOREACH (x IN [1] | ", "CREATE (:Persn)", ")", ""),
  };
  const schema::Schema schema = testing::movies_schema();
  for (const std::string& q : queries) {
    ASSERT_FALSE(q.empty()) << &q - queries.data();
    auto tree = parser::parse(q);
    ASSERT_TRUE(tree.ok()) << q.substr(0, 40);
    std::size_t findings = 0;
    testing::run_on_stack(kStack, [&] {
      semantic::SemanticValidator validator(schema);
      validator.validate_query(*tree);
      findings = validator.diagnostics.size() + 1;
    });
    EXPECT_GT(findings, 0u) << q.substr(0, 40);
  }
}

// The scope keeps a few bindings in a list and indexes more. Erasing from the
// middle moves the last binding into the gap; every binding stays findable,
// with its names, on both sides of the change.
TEST(Scope, FindsEveryBindingAfterErasures) {
  for (const std::size_t n : {std::size_t{3}, semantic::Scope::kListedMax,
                              semantic::Scope::kListedMax + 1, std::size_t{40}}) {
    SCOPED_TRACE(n);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < n; ++i) names.push_back(std::to_string(i) + "v");
    semantic::Scope scope;
    for (const std::string& name : names) {
      auto [binding, added] = scope.try_emplace(name);
      EXPECT_TRUE(added);
      binding->names = {name, "L"};
    }
    EXPECT_FALSE(scope.try_emplace(names.front()).second);
    // Every third name from the front: never the last one, so bindings move.
    std::vector<bool> erased(n);
    for (std::size_t i = 0; i + 1 < n; i += 3) {
      scope.erase(names[i]);
      erased[i] = true;
    }
    scope.erase("absent");
    for (std::size_t i = 0; i < n; ++i) {
      const semantic::Scope::Binding* b = scope.find(names[i]);
      if (erased[i]) {
        EXPECT_EQ(b, nullptr) << names[i];
      } else {
        ASSERT_NE(b, nullptr) << names[i];
        EXPECT_EQ(b->name, names[i]);
        EXPECT_EQ(b->names, (std::vector<std::string_view>{names[i], "L"}));
      }
    }
    EXPECT_EQ(scope.size(),
              n - static_cast<std::size_t>(std::count(erased.begin(), erased.end(), true)));
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(scope.try_emplace(names[i]).second, erased[i]) << names[i];
      EXPECT_NE(scope.find(names[i]), nullptr) << names[i];
    }
  }
}

}  // namespace
}  // namespace torvane::validator
