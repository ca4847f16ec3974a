#include "validator/suggestions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"

namespace {

using namespace torvane::validator::semantic;
using torvane::diagnostics::DiagnosticCode;
using torvane::diagnostics::Severity;
using torvane::diagnostics::Suggestion;
using Views = std::vector<std::string_view>;

struct MatchCase {
  std::string_view input;
  Views candidates;
  std::optional<std::string_view> expected;
};

TEST(ClosestMatch, Cases) {
  const MatchCase cases[] = {
      {"Persn", {"Movie", "Person"}, "Person"},
      {"persons", {"Movie", "Person"}, "Person"},     // distance 1 after lower-casing
      {"PERSON", {"Movie", "Person"}, "Person"},      // distance 0, schema spelling
      {"Persona", {"Person", "Personal"}, "Person"},  // tie: the first wins
      {"Persona", {"Personal", "Person"}, "Personal"},
      {"Per", {"Personal"}, std::nullopt},          // length gap 5: never compared
      {"Pers", {"Person"}, "Person"},               // gap 2, distance 2
      {"abcd", {"abxyz"}, "abxyz"},                 // distance 3 is accepted
      {"abcd", {"wxyz"}, std::nullopt},             // distance 4 is not
      {"abcd", {"wxyz", "abxyz", "abcx"}, "abcx"},  // a strictly closer one replaces
      {"Xyz", {"Person"}, std::nullopt},
      {"x", {}, std::nullopt},
      {"", {"ab", "abcd"}, "ab"},  // empty input: the candidate's length
      {"abc", {""}, ""},           // empty candidate: the input's length
      {"abcd", {""}, std::nullopt},
      // Lower-casing beyond ASCII: É and é agree; the final sigma lower-cases as ς.
      {"\xc3\x89t\xc3\xa9", {"\xc3\xa9t\xc3\xa9"}, "\xc3\xa9t\xc3\xa9"},
      {"\xce\xa3\xce\x9f\xce\xa3", {"\xcf\x83\xce\xbf\xcf\x82"}, "\xcf\x83\xce\xbf\xcf\x82"},
      // é against e costs two bytes: a substitution and an insertion.
      {"caf\xc3\xa9xy", {"cafe"}, std::nullopt},  // 2 + 2 > 3
      {"caf\xc3\xa9x", {"cafe"}, "cafe"},         // 2 + 1
      // Lower-casing can change the byte length: İ (2 bytes) becomes i + U+0307 (3 bytes).
      {"\xc4\xb0stanbul", {"istanbul"}, "istanbul"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(closest_match(c.input, c.candidates), c.expected) << "input: " << c.input;
  }
}

TEST(ClosestMatch, ReturnsAViewOfTheCandidate) {
  const std::vector<std::string> names = {"Movie", "Person"};
  const Views candidates(names.begin(), names.end());
  auto m = closest_match("PERSN", candidates);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->data(), names[1].data());
}

TEST(ClosestMatch, IllFormedUtf8DoesNotCrash) {
  const Views candidates = {"\xff\xfe", "ab\xc3", "abc"};
  EXPECT_EQ(closest_match("\xff\xfe", candidates), "\xff\xfe");
  EXPECT_EQ(closest_match("ab\xc3", candidates), "ab\xc3");
  EXPECT_EQ(closest_match("\xe2\x82", {}), std::nullopt);
}

// The plain model: full table, ASCII lower-casing (the inputs below are ASCII).
std::optional<std::string_view> model_match(std::string_view input, const Views& candidates) {
  const auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  const std::string a = lower(input);
  std::optional<std::string_view> best;
  std::size_t best_distance = 0;
  for (const std::string_view candidate : candidates) {
    const std::string b = lower(candidate);
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
      for (std::size_t j = 1; j <= b.size(); ++j)
        d[i][j] = std::min(
            {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    const std::size_t dist = d[a.size()][b.size()];
    if (dist <= 3 && (!best || dist < best_distance)) {
      best = candidate;
      best_distance = dist;
    }
  }
  return best;
}

// Inputs up to 64 bytes take the word-wide recurrence, longer ones the rows;
// both, and the list that lower-cases its candidates once, agree with the
// full table. Near-miss candidates (a few edits of the input) make matches
// at every distance common.
TEST(ClosestMatch, AgreesWithTheFullTable) {
  std::mt19937 rng(12345);
  const std::string alphabet = "abAB_c1xyz9";
  const auto random_text = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  const auto edited = [&](std::string s) {
    for (unsigned e = rng() % 5; e > 0; --e) {
      const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
      switch (rng() % 3) {
        case 0: s.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        case 1:
          if (at < s.size()) s.erase(at, 1);
          break;
        default:
          if (at < s.size()) s[at] = alphabet[rng() % alphabet.size()];
      }
    }
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::size_t n = round % 3 == 0 ? 60 + rng() % 10 : rng() % 12;
    const std::string input = random_text(n);
    std::vector<std::string> names;
    for (unsigned k = 1 + rng() % 6; k > 0; --k)
      names.push_back(rng() % 4 ? edited(input) : random_text(rng() % 12));
    const Views candidates(names.begin(), names.end());
    const auto expected = model_match(input, candidates);
    ASSERT_EQ(closest_match(input, candidates), expected) << "input: " << input;
    ASSERT_EQ(CandidateList(candidates).closest(input), expected) << "input: " << input;
  }
}

TEST(Suggestions, Texts) {
  const Views labels = {"Movie", "Person"};
  EXPECT_EQ(label_suggestion("Persn", labels),
            (Suggestion{":Persn", ":Person", "Replace :Persn with :Person"}));
  EXPECT_EQ(label_suggestion("Xyz", labels), std::nullopt);
  EXPECT_EQ(label_suggestion("Persn", {}), std::nullopt);

  const Views keys = {"age", "name"};
  EXPECT_EQ(property_suggestion("nmae", keys),
            (Suggestion{"nmae", "name", "Replace property 'nmae' with 'name'"}));
  EXPECT_EQ(property_suggestion("zzzzzz", keys), std::nullopt);

  EXPECT_EQ(hint(":", "Persn", labels), ", did you mean :Person?");
  EXPECT_EQ(hint(".", "nmae", keys), ", did you mean .name?");
  EXPECT_EQ(hint(":", "Xyz", labels), "");
  EXPECT_EQ("Unknown node label: :Persn" + hint(":", "Persn", labels),
            "Unknown node label: :Persn, did you mean :Person?");
}

TEST(Diagnostics, CodeTable) {
  using torvane::diagnostics::code_name;
  using torvane::diagnostics::code_str;
  static_assert(torvane::diagnostics::kDiagnosticCodeCount == 21);
  static_assert(static_cast<int>(DiagnosticCode::ParseError) == 0);
  static_assert(static_cast<int>(DiagnosticCode::UnboundedVarLength) == 20);
  const std::pair<DiagnosticCode, std::string_view> spots[] = {
      {DiagnosticCode::ParseError, "E101 ParseError"},
      {DiagnosticCode::UnknownRelType, "E211 UnknownRelType"},
      {DiagnosticCode::UnknownRelPropertyOnVar, "E304 UnknownRelPropertyOnVar"},
      {DiagnosticCode::WrongEndpointLabel, "E401 WrongEndpointLabel"},
      {DiagnosticCode::AggregateInForbiddenContext, "E602 AggregateInForbiddenContext"},
      {DiagnosticCode::PaginationTypeFloat, "E614 PaginationTypeFloat"},
      {DiagnosticCode::CartesianProduct, "W101 CartesianProduct"},
      {DiagnosticCode::UnboundedVarLength, "W202 UnboundedVarLength"},
  };
  for (auto [code, text] : spots)
    EXPECT_EQ(std::string(code_str(code)) + " " + std::string(code_name(code)), text);
  // Codes run in ascending order with no repeats.
  for (int i = 1; i < 21; ++i)
    EXPECT_LT(code_str(static_cast<DiagnosticCode>(i - 1)),
              code_str(static_cast<DiagnosticCode>(i)));
  EXPECT_EQ(as_str(Severity::Error), "error");
  EXPECT_EQ(as_str(Severity::Warning), "warning");
}

}  // namespace
