// The corrected query renames a name only where the parse has it in the role
// its finding names, writes a replacement so that it reads back as that name,
// and leaves every other byte as it was. Held to on random queries full of
// names that look alike in other roles, and on one with thousands of names.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/name_changes.hpp"
#include "diagnostics/diagnostics.hpp"
#include "validator/corrected_query.hpp"

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
