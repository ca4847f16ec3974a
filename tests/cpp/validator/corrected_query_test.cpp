// The corrected query renames a name only where the parse has it in the role
// its finding names, writes a replacement so that it reads back as that name,
// and leaves every other byte as it was. Held to on random queries full of
// names that look alike in other roles, and on one with thousands of names;
// and the cases by name role, spelling and overlap.
#include "validator/corrected_query.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/name_changes.hpp"
#include "diagnostics/diagnostics.hpp"
#include "schema/schema.hpp"
#include "validator/torvane.hpp"

namespace torvane {
namespace {

using diagnostics::DiagnosticCode;
using diagnostics::FindingSubject;
using diagnostics::Severity;
using diagnostics::Suggestion;
using diagnostics::ValidationDiagnostic;
using validator::corrected_query;

// a + b (g++ 12 warns wrongly about std::string's operator+ on a literal).
std::string cat(std::string a, const std::string& b) { return a += b; }

ValidationDiagnostic fix(DiagnosticCode code, const std::string& from, const std::string& to) {
  const bool label = validator::renamed_role(code) != parser::NameRole::PropertyKey;
  return {code, Severity::Error, "m",
          Suggestion{label ? cat(":", from) : from, label ? cat(":", to) : to, "d"}, std::nullopt};
}

// Findings with the subjects of their key fixes, as the checks hand them on.
struct Findings {
  std::vector<ValidationDiagnostic> diagnostics;
  std::vector<FindingSubject> subjects;

  // A finding; a key fix about `subject` (a variable, or a label or type).
  Findings& add(ValidationDiagnostic d, std::string_view subject = {}) {
    if (!subject.empty()) subjects.push_back({diagnostics.size(), subject});
    diagnostics.push_back(std::move(d));
    return *this;
  }
  std::optional<std::string> corrected(std::string_view query) const {
    return corrected_query(query, diagnostics, subjects);
  }
};

ValidationDiagnostic suggested(DiagnosticCode code, std::string original, std::string replacement) {
  return {code, Severity::Error, "m", Suggestion{std::move(original), std::move(replacement), "d"},
          std::nullopt};
}
ValidationDiagnostic key_fix(std::string original, std::string replacement) {
  return suggested(DiagnosticCode::UnknownNodePropertyOnVar, std::move(original),
                   std::move(replacement));
}
ValidationDiagnostic label_fix(std::string original, std::string replacement) {
  return suggested(DiagnosticCode::UnknownNodeLabel, std::move(original), std::move(replacement));
}
ValidationDiagnostic type_fix(std::string original, std::string replacement) {
  return suggested(DiagnosticCode::UnknownRelType, std::move(original), std::move(replacement));
}

TEST(CorrectedQuery, Cases) {
  const ValidationDiagnostic warning{DiagnosticCode::UnlabeledFullScan, Severity::Warning, "w",
                                     std::nullopt, std::nullopt};
  const ValidationDiagnostic unfixable{DiagnosticCode::UnboundVariable, Severity::Error, "e",
                                       std::nullopt, std::nullopt};
  const auto key_on = [](std::string_view variable, std::string original, std::string replacement) {
    return Findings().add(key_fix(std::move(original), std::move(replacement)), variable);
  };
  const auto only = [](ValidationDiagnostic d) { return Findings().add(std::move(d)); };
  struct Case {
    std::string query;
    Findings findings;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"RETURN a.k", {}, std::nullopt},
      {"RETURN a.k", only(warning), std::nullopt},
      {"RETURN a.k", key_on("a", "k", "j").add(unfixable), std::nullopt},
      {"RETURN a.k", only(warning).add(key_fix("k", "j"), "a"), "RETURN a.j"},
      // A key where it is written as a key only: after a ".", in a pattern's
      // property map, SET and REMOVE; never a variable, alias, parameter,
      // function name, expression map key, string, comment or longer name.
      {"MATCH (k:L {k: k.k}) SET k.k = k(k), k += {k: 1} REMOVE k.k "
       "RETURN k.k AS k, $k, {k: 'k'}, k.kk, k.`k` // k.k\n, k /* k.k */",
       key_on("k", "k", "j").add(suggested(DiagnosticCode::UnknownNodeProperty, "k", "j"), "L"),
       "MATCH (k:L {j: k.j}) SET k.j = k(k), k += {k: 1} REMOVE k.j "
       "RETURN k.j AS k, $k, {k: 'k'}, k.kk, k.j // k.k\n, k /* k.k */"},
      {"RETURN n.nme AS nme, $nme", key_on("n", "nme", "name"), "RETURN n.name AS nme, $nme"},
      // A label where it is written as a label, however spaced, commented or
      // quoted; not as a type, variable or key.
      {"MATCH (Pers:Pers: Pers:/* c */Pers:`Pers`)-[Pers:Pers]->() SET Pers::Pers "
       "REMOVE Pers::Pers RETURN Pers.Pers",
       only(label_fix(":Pers", ":Person")),
       "MATCH (Pers:Person: Person:/* c */Person:Person)-[Pers:Pers]->() SET Pers::Person "
       "REMOVE Pers::Person RETURN Pers.Pers"},
      {"MATCH (a:Pers)-[:Pers|:`Pers`]->(b) RETURN a", only(type_fix(":Pers", ":ACTED_IN")),
       "MATCH (a:Pers)-[:ACTED_IN|:ACTED_IN]->(b) RETURN a"},
      // The name without its backticks is the name; the first fix of a name wins.
      {"MATCH (:`Pers`:Pers)",
       only(label_fix(":`Pers`", ":Person")).add(label_fix(":Pers", ":Pet")),
       "MATCH (:Person:Person)"},
      // A replacement that a bare name would not read back is backticked.
      {"RETURN n.a, n.b, n.c, n.d, n.e, n.f",
       key_on("n", "a", "x-1")
           .add(key_fix("b", "order"), "n")
           .add(key_fix("c", "1st"), "n")
           .add(key_fix("d", "ñame"), "n")
           .add(key_fix("e", "a`b"), "n")
           .add(key_fix("f", "_ok1"), "n"),
       "RETURN n.`x-1`, n.`order`, n.`1st`, n.`ñame`, n.`a``b`, n._ok1"},
      {"MATCH (:Ordr)", only(label_fix(":Ordr", ":Order")), "MATCH (:`Order`)"},
      // No fix works on the text another made, whatever their lengths.
      {"RETURN x.nme, x.names", key_on("x", "nme", "name").add(key_fix("names", "nme"), "x"),
       "RETURN x.name, x.nme"},
      {"RETURN x.a, x.b", key_on("x", "a", "b").add(key_fix("b", "c"), "x"), "RETURN x.b, x.c"},
      // A key finding without a subject renames nothing.
      {"RETURN x.a", only(key_fix("a", "b")), "RETURN x.a"},
      // Only for a text that parses.
      {"RETURN a.", key_on("a", "a", "b"), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.findings.corrected(c.query), c.expected) << c.query;
}

// The corrected queries of the checks over a schema, with the subjects they
// hand on: Person (name, born), Movie (nme, title), ACTED_IN from Person to
// Movie (roles).
std::optional<std::string> corrected_by_checks(const std::string& query) {
  static const validator::Torvane torvane = [] {
    auto s = schema::Schema::deserialize(
        R"({"nodes": {"Person": ["name", "born"], "Movie": ["nme", "title"]},)"
        R"( "relationships": {"ACTED_IN": ["Person", "Movie", ["roles"]]}})");
    EXPECT_TRUE(s.ok());
    return validator::Torvane(s.ok() ? std::move(*s) : schema::Schema{});
  }();
  const auto fixed = torvane.validate(query).fixed_query;
  EXPECT_EQ(testing::wrong_correction(torvane.schema, query, fixed), "") << query;
  return fixed;
}

// A replacement written bare must not run into the text beside it: where a
// backticked name is followed by a word, the replacement keeps its backticks.
TEST(CorrectedQuery, ReplacementKeepsApartFromNeighbours) {
  struct Case {
    std::string query, expected;
  };
  const Case cases[] = {
      {"MATCH (p:Person) RETURN p.`nme`AS x", "MATCH (p:Person) RETURN p.`name`AS x"},
      {"MATCH (p:Person) WHERE p.`nme`IN [1] RETURN p",
       "MATCH (p:Person) WHERE p.`name`IN [1] RETURN p"},
      {"MATCH (p:Person) WHERE p.`nme`IS NULL OR p.`nme`CONTAINS 'a'XOR p.`nme`OR p.`nme`"
       "STARTS WITH 'b' RETURN p",
       "MATCH (p:Person) WHERE p.`name`IS NULL OR p.`name`CONTAINS 'a'XOR p.`name`OR p.`name`"
       "STARTS WITH 'b' RETURN p"},
      {"MATCH (p:Person) RETURN p.`nam``e`AS x", "MATCH (p:Person) RETURN p.`name`AS x"},
      {"MATCH (p) SET p::`Persn`RETURN p", "MATCH (p) SET p::`Person`RETURN p"},
      // Beside blanks, punctuation or a comment it is written bare.
      {"MATCH (p:Person), (:`Persn`) RETURN p.`nme` AS x, p.`nme`/*c*/AS y, [p.`nme`]",
       "MATCH (p:Person), (:Person) RETURN p.name AS x, p.name/*c*/AS y, [p.name]"},
  };
  for (const Case& c : cases) EXPECT_EQ(corrected_by_checks(c.query), c.expected) << c.query;
}

// A key is renamed only where it is read from the finding's variable, or
// held by a pattern with the finding's label or type; a key read from
// anything else has no finding and keeps its name. Variables are matched as
// written, whichever scope binds them.
TEST(CorrectedQuery, KeyRenamedOnlyWhereReadFromItsSubject) {
  struct Case {
    std::string query, expected;
  };
  const Case cases[] = {
      {"MATCH (p:Person), (m:Movie) WHERE p.nme = m.nme RETURN m.nme",
       "MATCH (p:Person), (m:Movie) WHERE p.name = m.nme RETURN m.nme"},
      {"MATCH (p:Person {nme: 'a'}), (m:Movie {nme: 'b'}) RETURN p, m",
       "MATCH (p:Person {name: 'a'}), (m:Movie {nme: 'b'}) RETURN p, m"},
      // A pattern's labels are compared as names; one with the label in
      // backticks is the same.
      {"MATCH (p:`Person` {nme: 1}), (q:Person:Movie {nme: 2}) RETURN p, q",
       "MATCH (p:`Person` {name: 1}), (q:Person:Movie {name: 2}) RETURN p, q"},
      {"MATCH (p:Person)-[r:ACTED_IN {role: 1}]->(m:Movie) RETURN r.role, p.role, m.role",
       "MATCH (p:Person)-[r:ACTED_IN {roles: 1}]->(m:Movie) RETURN r.roles, p.born, m.nme"},
      // A node's map and a relationship's map each by their own finding.
      {"MATCH (p:Person {role: 1})-[r:ACTED_IN {role: 2}]->(m:Movie) RETURN p",
       "MATCH (p:Person {born: 1})-[r:ACTED_IN {roles: 2}]->(m:Movie) RETURN p"},
      // SET and REMOVE check every key of the item against the variable.
      {"MATCH (p:Person), (m:Movie) SET p.nme = 1, m.nme = 2, p.nme.nme = 3 REMOVE p.nme, m.nme",
       "MATCH (p:Person), (m:Movie) SET p.name = 1, m.nme = 2, p.name.name = 3 REMOVE p.name, "
       "m.nme"},
      // An expression checks only the first key after the variable, bare
      // or in parentheses; nothing read from another value.
      {"MATCH (p:Person) WITH p, {nme: 1} AS x "
       "RETURN p.nme.nme, (p).nme, ((p)).nme, (p.nme).nme, x.nme, [p][0].nme, head([p]).nme, "
       "(-p).nme",
       "MATCH (p:Person) WITH p, {nme: 1} AS x "
       "RETURN p.name.nme, (p).name, ((p)).name, (p.name).nme, x.nme, [p][0].nme, head([p]).nme, "
       "(-p).nme"},
      // The first finding about a key and subject decides.
      {"MATCH (p:Person) WHERE p.nme = 1 AND p.bron = 2 RETURN p.nme, p.bron",
       "MATCH (p:Person) WHERE p.name = 1 AND p.born = 2 RETURN p.name, p.born"},
      // A variable bound anew after a WITH is still the same name.
      {"MATCH (p:Person) WITH p.nme AS x MATCH (p:Movie) RETURN x, p.nme",
       "MATCH (p:Person) WITH p.name AS x MATCH (p:Movie) RETURN x, p.name"},
  };
  for (const Case& c : cases) EXPECT_EQ(corrected_by_checks(c.query), c.expected) << c.query;
}

TEST(CorrectedQuery, RandomQueriesChangeOnlyTheirNames) {
  // Names as written: plain, backticked, backticked reserved words and
  // names that are no identifiers.
  const std::vector<std::string> written = {"a",   "b",     "ab",      "`a`",
                                            "`b`", "`a b`", "`order`", "`1x`"};
  // Replacements, as the schema spells them.
  const std::vector<std::string> names = {"a",    "b",   "ab", "a b", "order", "Order", "1x",
                                          "ñame", "x-1", "",   "_",   "null",  "trueX", "a`b"};
  const std::vector<DiagnosticCode> codes = {
      DiagnosticCode::UnknownNodeLabel,       DiagnosticCode::UnknownNodeLabelInSet,
      DiagnosticCode::UnknownRelType,         DiagnosticCode::UnknownNodeProperty,
      DiagnosticCode::UnknownRelProperty,     DiagnosticCode::UnknownNodePropertyOnVar,
      DiagnosticCode::UnknownRelPropertyOnVar};
  std::mt19937 rng(20261211);
  const auto pick = [&](const auto& from) -> const auto& {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  for (int round = 0; round < 3000; ++round) {
    // Each name in every role, and as a variable, alias, parameter,
    // function name, map key, string and comment.
    const std::string n1 = pick(written), n2 = pick(written), n3 = pick(written);
    std::string text = "MATCH (" + n1 + ":" + n2 + ": " + n3 + ")-[" + n2 + ":" + n1 + "|" + n3 +
                       " {" + n1 + ": 1}]->(:/* " + n2 + " */" + n1 + " {" + n3 + ": " + n1 + "." +
                       n2 + "}) SET " + n1 + "::" + n3 + ", " + n1 + "." + n2 + " = $" +
                       "p REMOVE " + n2 + "." + n3 + " RETURN " + n1 + "." + n1 + "." + n3 +
                       " AS " + n2 + ", {" + n1 + ": '" + n1 + "'} // " + n1 + "\n";
    // Key fixes about any of the names, as a variable, label or type.
    Findings findings;
    const int count = std::uniform_int_distribution<int>(1, 5)(rng);
    for (int i = 0; i < count; ++i) {
      const std::string from = pick(written);
      const DiagnosticCode code = pick(codes);
      const bool key = validator::renamed_role(code) == parser::NameRole::PropertyKey;
      findings.add(fix(code, std::string(parser::NameOf(from).get()), pick(names)),
                   key ? std::string_view(pick(written)) : std::string_view());
    }
    const auto fixed = findings.corrected(text);
    ASSERT_TRUE(fixed.has_value()) << text;
    ASSERT_EQ(testing::wrong_correction(text, *fixed, findings.diagnostics, findings.subjects), "")
        << "text: " << text << "\nfixed: " << *fixed;
  }
}

// 1,500 distinct misspelt labels and as many keys, each with its fix, some
// of them the misspelt name of another: every name is renamed once, by its
// own fix, and never by the fix of the name it became.
TEST(CorrectedQuery, ManyDistinctNames) {
  std::string text = "MATCH (n";
  std::vector<ValidationDiagnostic> diagnostics;
  for (int i = 0; i < 1500; ++i) {
    const std::string name = cat("P", std::to_string(i));
    text += cat(":", name);
    diagnostics.push_back(fix(DiagnosticCode::UnknownNodeLabel, name,
                              i % 3 ? "Person" : cat("P", std::to_string(i + 1))));
  }
  text += ") RETURN 'P1', n.k0 // k1\n";
  std::vector<FindingSubject> subjects;
  for (int i = 0; i < 1500; ++i) {
    text += cat(", n.k", std::to_string(i));
    subjects.push_back({diagnostics.size(), "n"});
    diagnostics.push_back(fix(DiagnosticCode::UnknownNodePropertyOnVar, cat("k", std::to_string(i)),
                              i % 2 ? "name" : cat("k", std::to_string(i / 2))));
  }
  const auto fixed = corrected_query(text, diagnostics, subjects);
  ASSERT_TRUE(fixed.has_value());
  EXPECT_EQ(testing::wrong_correction(text, *fixed, diagnostics, subjects), "");
  EXPECT_TRUE(fixed->starts_with("MATCH (n:P1:Person:Person:P4:")) << fixed->substr(0, 40);
  EXPECT_NE(fixed->find(") RETURN 'P1', n.k0 // k1\n, n.k0, n.name, n.k1, n.name"),
            std::string::npos);
}

}  // namespace
}  // namespace torvane
