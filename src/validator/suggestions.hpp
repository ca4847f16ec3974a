#pragma once
// The closest-name search behind "did you mean" hints, and the suggestions
// built from it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"

namespace torvane::validator::semantic {

// The candidate nearest to `input` by byte-wise Levenshtein distance of the
// Unicode lower-cased texts, if one is within 3; ties go to the earlier
// candidate. Returns a view of the candidate as spelled in the list.
std::optional<std::string_view> closest_match(std::string_view input,
                                              std::span<const std::string_view> candidates);

// closest_match over one list for many inputs: each candidate is lower-cased
// once, here, rather than at every search. `names` must outlive the list.
class CandidateList {
 public:
  explicit CandidateList(std::span<const std::string_view> names);
  std::optional<std::string_view> closest(std::string_view input) const;

 private:
  std::span<const std::string_view> names_;
  std::vector<std::string> lowered_;
  std::vector<std::uint64_t> held_;  // the bytes each lower-cased name holds
};

// ", did you mean {prefix}{match}?", or empty without a match.
std::string hint_text(std::string_view prefix, std::optional<std::string_view> match);
// The same at the end of `out`.
void append_hint(std::string& out, std::string_view prefix, std::optional<std::string_view> match);
// The bytes append_hint adds.
inline std::size_t hint_size(std::string_view prefix, std::optional<std::string_view> match) {
  return match ? 16 + prefix.size() + match->size() : 0;
}
// The hint for `input` over `candidates`: `prefix` is ":" for labels and
// relationship types, "." for property keys.
std::string hint(std::string_view prefix, std::string_view input,
                 std::span<const std::string_view> candidates);

// Original ":{input}", replacement ":{match}", "Replace :{input} with :{match}".
diagnostics::Suggestion make_label_suggestion(std::string_view input, std::string_view match);
// Original "{input}", replacement "{match}", "Replace property '{input}' with '{match}'".
diagnostics::Suggestion make_property_suggestion(std::string_view input, std::string_view match);

std::optional<diagnostics::Suggestion> label_suggestion(
    std::string_view input, std::span<const std::string_view> candidates);
std::optional<diagnostics::Suggestion> property_suggestion(
    std::string_view input, std::span<const std::string_view> candidates);

}  // namespace torvane::validator::semantic
