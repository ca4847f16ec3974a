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
using diagnostics::Severity;
using diagnostics::Suggestion;
using diagnostics::ValidationDiagnostic;
using validator::corrected_query;

// a + b (g++ 12 warns wrongly about std::string's operator+ on a literal).
std::string cat(std::string a, const std::string& b) { return a += b; }

ValidationDiagnostic fix(DiagnosticCode code, const std::string& from, const std::string& to) {
  const bool label = code != DiagnosticCode::UnknownNodeProperty;
  return {code, Severity::Error, "m",
          Suggestion{label ? cat(":", from) : from, label ? cat(":", to) : to, "d"}, std::nullopt};
}

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
  struct Case {
    std::string query;
    std::vector<ValidationDiagnostic> diagnostics;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"RETURN a.k", {}, std::nullopt},
      {"RETURN a.k", {warning}, std::nullopt},
      {"RETURN a.k", {key_fix("k", "j"), unfixable}, std::nullopt},
      {"RETURN a.k", {warning, key_fix("k", "j")}, "RETURN a.j"},
      // A key where it is written as a key only: after a ".", in a pattern's
      // property map, SET and REMOVE; never a variable, alias, parameter,
      // function name, expression map key, string, comment or longer name.
      {"MATCH (k {k: k.k}) SET k.k = k(k), k += {k: 1} REMOVE k.k "
       "RETURN k.k AS k, $k, {k: 'k'}, k.kk, k.`k` // k.k\n, k /* k.k */",
       {key_fix("k", "j")},
       "MATCH (k {j: k.j}) SET k.j = k(k), k += {k: 1} REMOVE k.j "
       "RETURN k.j AS k, $k, {k: 'k'}, k.kk, k.j // k.k\n, k /* k.k */"},
      {"RETURN n.nme AS nme, $nme", {key_fix("nme", "name")}, "RETURN n.name AS nme, $nme"},
      // A label where it is written as a label, however spaced, commented or
      // quoted; not as a type, variable or key.
      {"MATCH (Pers:Pers: Pers:/* c */Pers:`Pers`)-[Pers:Pers]->() SET Pers::Pers "
       "REMOVE Pers::Pers RETURN Pers.Pers",
       {label_fix(":Pers", ":Person")},
       "MATCH (Pers:Person: Person:/* c */Person:Person)-[Pers:Pers]->() SET Pers::Person "
       "REMOVE Pers::Person RETURN Pers.Pers"},
      {"MATCH (a:Pers)-[:Pers|:`Pers`]->(b) RETURN a",
       {type_fix(":Pers", ":ACTED_IN")},
       "MATCH (a:Pers)-[:ACTED_IN|:ACTED_IN]->(b) RETURN a"},
      // The name without its backticks is the name; the first fix of a name wins.
      {"MATCH (:`Pers`:Pers)", {label_fix(":`Pers`", ":Person"), label_fix(":Pers", ":Pet")},
       "MATCH (:Person:Person)"},
      // A replacement that a bare name would not read back is backticked.
      {"RETURN n.a, n.b, n.c, n.d, n.e, n.f",
       {key_fix("a", "x-1"), key_fix("b", "order"), key_fix("c", "1st"), key_fix("d", "ñame"),
        key_fix("e", "a`b"), key_fix("f", "_ok1")},
       "RETURN n.`x-1`, n.`order`, n.`1st`, n.`ñame`, n.`a``b`, n._ok1"},
      {"MATCH (:Ordr)", {label_fix(":Ordr", ":Order")}, "MATCH (:`Order`)"},
      // No fix works on the text another made, whatever their lengths.
      {"RETURN x.nme, x.names", {key_fix("nme", "name"), key_fix("names", "nme")},
       "RETURN x.name, x.nme"},
      {"RETURN x.a, x.b", {key_fix("a", "b"), key_fix("b", "c")}, "RETURN x.b, x.c"},
      // Only for a text that parses.
      {"RETURN a.", {key_fix("a", "b")}, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(corrected_query(c.query, c.diagnostics), c.expected) << c.query;
}

// A replacement written bare must not run into the text beside it: where a
// backticked name is followed by a word, the replacement keeps its backticks.
// Schema: Person (name).
TEST(CorrectedQuery, ReplacementKeepsApartFromNeighbours) {
  auto schema =
      schema::Schema::deserialize(R"({"nodes": {"Person": ["name"]}, "relationships": {}})");
  ASSERT_TRUE(schema.ok());
  const validator::Torvane torvane(std::move(*schema));
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
  for (const Case& c : cases) {
    const auto r = torvane.validate(c.query);
    EXPECT_EQ(r.fixed_query, c.expected) << c.query;
    if (r.fixed_query) {
      EXPECT_EQ(testing::wrong_correction(c.query, *r.fixed_query, r.diagnostics), "") << c.query;
    }
  }
}

TEST(CorrectedQuery, RandomQueriesChangeOnlyTheirNames) {
  // Names as written: plain, backticked, backticked reserved words and
  // names that are no identifiers.
  const std::vector<std::string> written = {"a", "b", "ab", "`a`", "`b`", "`a b`", "`order`", "`1x`"};
  // Replacements, as the schema spells them.
  const std::vector<std::string> names = {"a",     "b",    "ab",   "a b",  "order",
                                          "Order", "1x",   "ñame", "x-1",  "",
                                          "_",     "null", "trueX", "a`b"};
  const std::vector<DiagnosticCode> codes = {
      DiagnosticCode::UnknownNodeLabel, DiagnosticCode::UnknownNodeLabelInSet,
      DiagnosticCode::UnknownRelType, DiagnosticCode::UnknownNodeProperty};
  std::mt19937 rng(20261211);
  const auto pick = [&](const auto& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  for (int round = 0; round < 3000; ++round) {
    // Each name in every role, and as a variable, alias, parameter,
    // function name, map key, string and comment.
    const std::string n1 = pick(written), n2 = pick(written), n3 = pick(written);
    std::string text = "MATCH (" + n1 + ":" + n2 + ": " + n3 + ")-[" + n2 + ":" + n1 + "|" + n3 +
                       " {" + n1 + ": 1}]->(:/* " + n2 + " */" + n1 + " {" + n3 + ": " + n1 +
                       "." + n2 + "}) SET " + n1 + "::" + n3 + ", " + n1 + "." + n2 + " = $" +
                       "p REMOVE " + n2 + "." + n3 + " RETURN " + n1 + "." + n1 + "." + n3 +
                       " AS " + n2 + ", {" + n1 + ": '" + n1 + "'} // " + n1 + "\n";
    std::vector<ValidationDiagnostic> diagnostics;
    const int count = std::uniform_int_distribution<int>(1, 5)(rng);
    for (int i = 0; i < count; ++i) {
      const std::string from = pick(written);
      diagnostics.push_back(fix(pick(codes), std::string(parser::NameOf(from).get()), pick(names)));
    }
    const auto fixed = corrected_query(text, diagnostics);
    ASSERT_TRUE(fixed.has_value()) << text;
    ASSERT_EQ(testing::wrong_correction(text, *fixed, diagnostics), "")
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
  for (int i = 0; i < 1500; ++i) {
    text += cat(", n.k", std::to_string(i));
    diagnostics.push_back(fix(DiagnosticCode::UnknownNodeProperty, cat("k", std::to_string(i)),
                              i % 2 ? "name" : cat("k", std::to_string(i / 2))));
  }
  const auto fixed = corrected_query(text, diagnostics);
  ASSERT_TRUE(fixed.has_value());
  EXPECT_EQ(testing::wrong_correction(text, *fixed, diagnostics), "");
  EXPECT_TRUE(fixed->starts_with("MATCH (n:P1:Person:Person:P4:")) << fixed->substr(0, 40);
  EXPECT_NE(fixed->find(") RETURN 'P1', n.k0 // k1\n, n.k0, n.name, n.k1, n.name"),
            std::string::npos);
}

}  // namespace
}  // namespace torvane
