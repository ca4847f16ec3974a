// Torvane::validate as a whole: parse failures, the corrected query, the
// corpus, concurrent use of one validator, and the deepest trees on a small stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common.hpp"
#include "common/name_changes.hpp"
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
  std::string deep = "MATCH (n:Persn) RETURN 1 + ";
  for (std::uint32_t i = 0; i < parser::builder::kMaxNesting; ++i) deep += "(";
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
  // Every failure has a position, the nesting bound's too.
  EXPECT_EQ(torvane.validate("MATCH (n:Person)\nRETURN n\nLIMIT").diagnostics[0].position,
            std::make_pair(3u, 6u));
  const ValidationResult too_deep = torvane.validate(deep);
  ASSERT_TRUE(too_deep.diagnostics[0].position.has_value());
  EXPECT_EQ(too_deep.diagnostics[0].position->first, 1u);
  EXPECT_TRUE(too_deep.errors[0].ends_with(
      "= query nested too deeply (more than 1000 nested grammar rules)"));
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

// The candidates of suggestions are made with the validator, of its schema:
// a copy, a move and an assignment each suggest from the schema they hold,
// once the validator they came from is gone.
TEST(Validate, CopiedAndMovedValidatorsSuggestFromTheirOwnSchema) {
  const std::string query = "MATCH (a:Persn)-[:ACTED_INN]->(m:Movi) RETURN a";
  const std::vector<std::string> expected{
      "Unknown node label: :Persn, did you mean :Person?",
      "Unknown relationship type: :ACTED_INN, did you mean :ACTED_IN?",
      "Unknown node label: :Movi, did you mean :Movie?"};
  auto original = std::make_unique<Torvane>(testing::movies_schema());
  const Torvane copied(*original);
  Torvane assigned(schema::Schema{});
  assigned = *original;
  Torvane moved(std::move(*original));
  original.reset();
  for (const Torvane* t : std::array<const Torvane*, 3>{&copied, &assigned, &moved}) {
    const ValidationResult r = t->validate(query);
    EXPECT_EQ(r.errors, expected);
    EXPECT_EQ(r.fixed_query, "MATCH (a:Person)-[:ACTED_IN]->(m:Movie) RETURN a");
  }
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
      // A correction parses and changes only the names it renames.
      EXPECT_EQ(testing::wrong_correction(*q.schema, q.query, r.fixed_query), "")
          << q.query << "\n"
          << r.fixed_query.value_or("");
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

// The longest chains tested: 100,000 links; a tenth under ThreadSanitizer,
// which runs these tests for the validator that threads share, and whose
// runs of such chains would take most of its time.
#if defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kLongest = 10000;
#else
constexpr std::uint32_t kLongest = 100000;
#endif

// `n` steps between head and tail.
std::string chain(const std::string& head, const std::string& step, const std::string& tail,
                  std::uint32_t n = kLongest) {
  std::string q = head;
  for (std::uint32_t i = 0; i < n; ++i) q += step;
  return q + tail;
}

std::string nested(const std::string& head, const std::string& open, const std::string& inner,
                   const std::string& close, const std::string& tail) {
  return deepest_parsing(parser::builder::kMaxNesting, [&](std::uint32_t n) {
    std::string q = head;
    for (std::uint32_t i = 0; i < n; ++i) q += open;
    q += inner;
    for (std::uint32_t i = 0; i < n; ++i) q += close;
    return q + tail;
  });
}

// Validating the deepest trees the parser accepts fits a small worker stack:
// the expression walk and the aggregate search along chains of kLongest
// links and through the deepest nesting, and nested FOREACH. The trees are
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

// Flat chains of the lengths programs write, and of kLongest links, validate
// whole on a small worker stack: the findings of both ends of the chain in
// the order written (its first operand is the deepest node of the tree), the
// aggregate search down the chain, and the corrected query.
TEST(Validate, FlatChainsOfAnyLength) {
  constexpr std::size_t kStack = testing::stack_size(128 * 1024, 512 * 1024);
  const std::string nme = "Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?";
  const std::string agee = "Unknown property 'agee' on variable 'n' with label :Person, did you mean .age?";
  const std::string aggregate =
      "Aggregate function not allowed in MATCH WHERE context; aggregates are only valid in RETURN, "
      "WITH, or ORDER BY";
  struct ChainCase {
    const char* head;  // after MATCH (n:Person); names n.nme, the chain's first operand
    const char* step;
    const char* tail;  // names n.agee, its last
    std::uint32_t steps;
    bool aggregate = false;  // E602 first, and so no corrected query
  };
  const std::vector<ChainCase> cases = {
      {"RETURN n.nme", " + 1", " + n.agee", 999},
      {"WHERE n.nme = 0", " OR n.age = 1", " OR n.agee = 2 RETURN n", 1198},
      {"WHERE n.nme <> 0", " AND n.age <> 1", " AND n.agee <> 2 RETURN n", 2998},
      {"WHERE n.nme = 0", " XOR n.age = 1", " XOR n.agee = 2 RETURN n", 1000},
      {"WHERE ", "NOT ", "n.nme = n.agee RETURN n", 1000},
      {"RETURN n.nme", ".x", " = n.agee", 1000},
      {"RETURN n.nme", "[0]", "[n.agee]", 1000},
      {"RETURN n.nme", "[0 ..]", "[.. n.agee]", 1000},
      {"RETURN n.nme + 'a'", " + 'a'", " + n.agee", 4998},
      {"WHERE n.nme", " < 1", " <= n.agee RETURN n", 1000},
      {"RETURN n.nme", " * 2 / 3 % 4", " - n.agee", 1000},
      {"RETURN n.nme", " ^ 2", " ^ n.agee", 1000},
      {"WHERE n.nme", " IS NOT NULL", " = n.agee RETURN n", 1000},
      {"WHERE n.nme = 0", " OR n.age = 1 AND NOT n.age IN [1] XOR -n.age + 1 > 2",
       " OR n.agee = 2 RETURN n", 1000},
      // The aggregate at the bottom, at the top in a subscript, and in a slice,
      // which the search does not look into.
      {"WHERE count(n) = 0 OR n.nme = 0", " OR n.age = 1", " OR n.agee = 2 RETURN n", 1000, true},
      {"WHERE n.nme", "[0]", "[count(n)] = n.agee RETURN n", 1000, true},
      {"WHERE n.nme", "[0]", "[.. count(n)] = n.agee RETURN n", 1000},
  };
  const Torvane torvane(testing::movies_schema());
  const auto replace = [](std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  for (const ChainCase& c : cases) {
    for (const std::uint32_t steps : {c.steps, kLongest}) {
      SCOPED_TRACE(std::string(c.step) + " x " + std::to_string(steps));
      const std::string query = chain(std::string("MATCH (n:Person) ") + c.head, c.step, c.tail, steps);
      ValidationResult r;
      testing::run_on_stack(kStack, [&] { r = torvane.validate(query); });
      std::vector<testing::Finding> expected = {{"E303", nme}, {"E303", agee}};
      if (c.aggregate) expected.insert(expected.begin(), {"E602", aggregate});
      EXPECT_EQ(testing::findings(r), expected);
      if (c.aggregate) {
        EXPECT_FALSE(r.fixed_query.has_value());
      } else {
        EXPECT_EQ(r.fixed_query, replace(replace(query, "n.nme", "n.name"), "n.agee", "n.age"));
      }
    }
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
    std::vector<std::array<std::string, 2>> lists;
    for (const std::string& name : names) lists.push_back({name, "L"});
    semantic::Scope scope;
    for (std::size_t i = 0; i < n; ++i) {
      auto [binding, added] = scope.try_emplace(names[i]);
      EXPECT_TRUE(added);
      binding->names = semantic::NameList(lists[i]);
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
        EXPECT_EQ(b->names.to_vector(), (std::vector<std::string_view>{names[i], "L"}));
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
