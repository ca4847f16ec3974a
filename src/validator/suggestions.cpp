#include "validator/suggestions.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ascii.hpp"

namespace torvane::validator::semantic {
namespace {

constexpr std::uint32_t kMaxDistance = 3;

// Full Unicode lower-casing (root locale) into `out`. ASCII needs no tables;
// ill-formed UTF-8 passes through unchanged.
void lower_into(std::string_view s, std::string& out) {
  out.clear();
  const bool ascii = std::all_of(s.begin(), s.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    out.resize(s.size());
    std::transform(s.begin(), s.end(), out.begin(), ascii_lower);
    return;
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(s.size()));
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(s.data(), static_cast<int32_t>(s.size())),
                            sink, nullptr, status);
  if (U_FAILURE(status)) out.assign(s);  // only on allocation failure
}

// Levenshtein distance of the bytes of `a` and `b`, or a value above
// kMaxDistance as soon as every entry of a row exceeds it. The two rows are
// the caller's, kept between candidates.
std::uint32_t bounded_distance(std::string_view a, std::string_view b,
                               std::vector<std::uint32_t>& prev, std::vector<std::uint32_t>& cur) {
  prev.resize(b.size() + 1);
  cur.resize(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = static_cast<std::uint32_t>(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    cur[0] = static_cast<std::uint32_t>(i);
    std::uint32_t row_min = cur[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      cur[j] = a[i - 1] == b[j - 1] ? prev[j - 1]
                                    : 1 + std::min({prev[j - 1], prev[j], cur[j - 1]});
      row_min = std::min(row_min, cur[j]);
    }
    if (row_min > kMaxDistance) return row_min;
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

}  // namespace

std::optional<std::string_view> closest_match(std::string_view input,
                                              std::span<const std::string_view> candidates) {
  if (candidates.empty()) return std::nullopt;
  std::string lowered_input, lowered;
  lower_into(input, lowered_input);
  std::vector<std::uint32_t> prev, cur;
  std::optional<std::string_view> best;
  std::uint32_t best_distance = 0;
  for (std::string_view candidate : candidates) {
    lower_into(candidate, lowered);
    const std::size_t gap = lowered.size() > lowered_input.size()
                                ? lowered.size() - lowered_input.size()
                                : lowered_input.size() - lowered.size();
    if (gap > kMaxDistance) continue;
    const std::uint32_t d = bounded_distance(lowered_input, lowered, prev, cur);
    if (d <= kMaxDistance && (!best || d < best_distance)) {
      best = candidate;
      best_distance = d;
      if (d == 0) break;  // nothing later can be strictly closer
    }
  }
  return best;
}

std::string hint_text(std::string_view prefix, std::optional<std::string_view> match) {
  std::string out;
  if (!match) return out;
  out.reserve(prefix.size() + match->size() + 16);
  out += ", did you mean ";
  out += prefix;
  out += *match;
  out += '?';
  return out;
}

std::string hint(std::string_view prefix, std::string_view input,
                 std::span<const std::string_view> candidates) {
  return hint_text(prefix, closest_match(input, candidates));
}

diagnostics::Suggestion make_label_suggestion(std::string_view input, std::string_view match) {
  std::string original = ":";
  original += input;
  std::string replacement = ":";
  replacement += match;
  std::string description = "Replace " + original + " with " + replacement;
  return {std::move(original), std::move(replacement), std::move(description)};
}

diagnostics::Suggestion make_property_suggestion(std::string_view input, std::string_view match) {
  std::string original{input};
  std::string replacement{match};
  std::string description = "Replace property '" + original + "' with '" + replacement + "'";
  return {std::move(original), std::move(replacement), std::move(description)};
}

std::optional<diagnostics::Suggestion> label_suggestion(
    std::string_view input, std::span<const std::string_view> candidates) {
  const auto match = closest_match(input, candidates);
  if (!match) return std::nullopt;
  return make_label_suggestion(input, *match);
}

std::optional<diagnostics::Suggestion> property_suggestion(
    std::string_view input, std::span<const std::string_view> candidates) {
  const auto match = closest_match(input, candidates);
  if (!match) return std::nullopt;
  return make_property_suggestion(input, *match);
}

}  // namespace torvane::validator::semantic
