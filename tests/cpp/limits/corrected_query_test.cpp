// The corrected query applies its pairs one after the other, each on the text
// the previous ones made. Runs of plain-name pairs are applied in one scan;
// these tests hold that scan to the pass-by-pass replacement on random texts
// and pairs, and on a query with thousands of distinct misspelt names.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/pass_by_pass.hpp"
#include "diagnostics/diagnostics.hpp"
#include "validator/torvane.hpp"

namespace torvane {
namespace {

using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::Suggestion;
using diagnostics::ValidationDiagnostic;
using validator::corrected_query;

using testing::pass_by_pass;

// a + b (g++ 12 warns wrongly about std::string's operator+ on a literal).
std::string cat(std::string a, const std::string& b) { return a += b; }

std::vector<ValidationDiagnostic> fixes(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<ValidationDiagnostic> out;
  for (const auto& [from, to] : pairs)
    out.push_back({DiagnosticCode::UnknownNodeLabel, Severity::Error, "m",
                   Suggestion{from, to, "d"}, std::nullopt});
  return out;
}

// Few short names, so pairs chain (a to b, then b to c), collide with longer
// names and sit next to colons, quotes, comments and backticked names.
TEST(CorrectedQuery, OneScanMatchesPassByPass) {
  const std::vector<std::string> words = {"a", "b", "ab", "ba", "a1", "_", "abc", "x"};
  const std::vector<std::string> quoted = {"`a`", "`b`", "`ab`", "`a b`", "`'`"};
  const std::vector<std::string> glue = {" ",  ":",  "::", ".",  ", ", "'", "\"", "`",
                                         "//", "/*", "*/", "\n", "$",  "(", ")",  "-"};
  // Mostly pairs of plain or backticked names; now and then one that is not
  // (a replacement with a space or a quote, an empty original), which splits the runs.
  const std::vector<std::string> odd = {"`a`", ":`a b`", "a b", "'", "", ":", "a:b"};
  std::mt19937 rng(20261210);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  const auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(rng) < percent;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int parts = std::uniform_int_distribution<int>(1, 16)(rng);
    for (int i = 0; i < parts; ++i)
      text += chance(40) ? pick(words) : chance(15) ? pick(quoted) : pick(glue);
    std::vector<std::pair<std::string, std::string>> pairs;
    const int count = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int i = 0; i < count; ++i) {
      const std::string colon = chance(40) ? ":" : "";
      std::string from = cat(colon, pick(words)), to = cat(colon, pick(words));
      if (chance(20)) from = cat(colon, pick(quoted));
      if (chance(10)) from = pick(odd);
      if (chance(10)) to = pick(odd);
      pairs.emplace_back(from, to);
    }
    ASSERT_EQ(corrected_query(text, fixes(pairs)), pass_by_pass(text, pairs))
        << "text: " << text << "\nfirst pair: " << pairs[0].first << " -> " << pairs[0].second;
  }
}

// 1,500 distinct misspelt labels and as many keys, each with its fix, some
// chaining into each other: the one scan gives what the passes give.
TEST(CorrectedQuery, ManyDistinctNames) {
  std::string text = "MATCH (n";
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 1500; ++i) {
    const std::string name = cat("P", std::to_string(i));
    text += cat(":", name);
    pairs.emplace_back(cat(":", name), i % 3 ? ":Person" : cat(":P", std::to_string(i + 1)));
  }
  text += ") RETURN 'P1', n.k0 // k1\n";
  for (int i = 0; i < 1500; ++i) {
    text += cat(", n.k", std::to_string(i));
    pairs.emplace_back(cat("k", std::to_string(i)),
                       i % 2 ? "name" : cat("k", std::to_string(i / 2)));
  }
  const auto fixed = corrected_query(text, fixes(pairs));
  ASSERT_TRUE(fixed.has_value());
  EXPECT_EQ(*fixed, pass_by_pass(text, pairs));
  EXPECT_NE(*fixed, text);
}

}  // namespace
}  // namespace torvane
