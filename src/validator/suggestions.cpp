#include "validator/suggestions.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <array>
#include <bit>
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
  const bool ascii =
      std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    out.resize(s.size());
    std::transform(s.begin(), s.end(), out.begin(), ascii_lower);
    return;
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(s.size()));
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(s.data(), static_cast<int32_t>(s.size())), sink,
                            nullptr, status);
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
      cur[j] =
          a[i - 1] == b[j - 1] ? prev[j - 1] : 1 + std::min({prev[j - 1], prev[j], cur[j - 1]});
      row_min = std::min(row_min, cur[j]);
    }
    if (row_min > kMaxDistance) return row_min;
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

// The distances of one input to many candidates. An input of at most 64
// bytes, as names are, goes through the bit-parallel form of the same
// recurrence (Myers, as Hyyrö states it for whole strings): one machine word
// a column, a few operations a byte, the exact distance. Longer inputs take
// the rows above.
class Distances {
 public:
  explicit Distances(std::string_view input) : input_(input) {
    if (input.empty() || input.size() > 64) return;
    for (std::size_t i = 0; i < input.size(); ++i)
      peq_[static_cast<unsigned char>(input[i])] |= std::uint64_t{1} << i;
    last_ = std::uint64_t{1} << (input.size() - 1);
  }

  std::uint32_t to(std::string_view candidate) {
    if (input_.empty()) return static_cast<std::uint32_t>(candidate.size());
    if (!last_) return bounded_distance(input_, candidate, prev_, cur_);
    std::uint64_t pv = ~std::uint64_t{0}, mv = 0;
    auto score = static_cast<std::uint32_t>(input_.size());
    for (const char c : candidate) {
      const std::uint64_t eq = peq_[static_cast<unsigned char>(c)];
      const std::uint64_t xv = eq | mv;
      const std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
      std::uint64_t ph = mv | ~(xh | pv);
      std::uint64_t mh = pv & xh;
      if (ph & last_) {
        ++score;
      } else if (mh & last_) {
        --score;
      }
      ph = (ph << 1) | 1;  // the first row counts up: D[0][j] = j
      mh <<= 1;
      pv = mh | ~(xv | ph);
      mv = ph & xv;
    }
    return score;
  }

 private:
  std::string_view input_;
  std::array<std::uint64_t, 256> peq_{};  // the input's positions of each byte
  std::uint64_t last_ = 0;                // the input's last position; 0 past 64 bytes
  std::vector<std::uint32_t> prev_, cur_;
};

// The bytes a text holds, folded into 64 bits. An edit takes at most one
// byte value out of a text and puts at most one in, so a text that holds
// more than d values the other lacks is more than d edits from it.
std::uint64_t bytes_held(std::string_view s) {
  std::uint64_t held = 0;
  for (const char c : s) held |= std::uint64_t{1} << (static_cast<unsigned char>(c) & 63);
  return held;
}

// A lower-cased candidate and the bytes it holds.
struct Lowered {
  std::string_view text;
  std::uint64_t held;
};

// The nearest candidate within kMaxDistance to the lower-cased input, the
// first of equals; `lowered(i)` gives candidate i lower-cased. A candidate at
// distance `floor`, the least any can have, ends the search. Only a
// candidate strictly closer than the best so far can replace it, so the
// length and byte-set bounds tighten as the search goes.
template <class LowerCased>
std::optional<std::string_view> nearest(std::string_view lowered_input,
                                        std::span<const std::string_view> candidates,
                                        LowerCased&& lowered, std::uint32_t floor) {
  Distances distances(lowered_input);
  const std::uint64_t held = bytes_held(lowered_input);
  std::optional<std::string_view> best;
  std::uint32_t limit = kMaxDistance;  // the most a candidate may be away and count
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Lowered candidate = lowered(i);
    const std::size_t gap = candidate.text.size() > lowered_input.size()
                                ? candidate.text.size() - lowered_input.size()
                                : lowered_input.size() - candidate.text.size();
    const auto lacks = [&](std::uint64_t a, std::uint64_t b) {
      return static_cast<std::uint32_t>(std::popcount(a & ~b)) > limit;
    };
    if (gap > limit || lacks(held, candidate.held) || lacks(candidate.held, held)) continue;
    const std::uint32_t d = distances.to(candidate.text);
    if (d > limit) continue;
    best = candidates[i];
    if (d <= floor) break;  // nothing later can be strictly closer
    limit = d - 1;
  }
  return best;
}

}  // namespace

std::optional<std::string_view> closest_match(std::string_view input,
                                              std::span<const std::string_view> candidates) {
  if (candidates.empty()) return std::nullopt;
  std::string lowered_input, lowered;
  lower_into(input, lowered_input);
  return nearest(
      lowered_input, candidates,
      [&](std::size_t i) {
        lower_into(candidates[i], lowered);
        return Lowered{lowered, bytes_held(lowered)};
      },
      0);
}

CandidateList::CandidateList(std::span<const std::string_view> names) : names_(names) {
  lowered_.resize(names.size());
  held_.resize(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    lower_into(names[i], lowered_[i]);
    held_[i] = bytes_held(lowered_[i]);
  }
}

std::optional<std::string_view> CandidateList::closest(std::string_view input) const {
  if (names_.empty()) return std::nullopt;
  std::string lowered_input;
  lower_into(input, lowered_input);
  // The first candidate equal to the input is the answer; without one, the
  // first at distance 1 is.
  for (std::size_t i = 0; i < lowered_.size(); ++i)
    if (lowered_[i] == lowered_input) return names_[i];
  return nearest(
      lowered_input, names_,
      [&](std::size_t i) {
        return Lowered{lowered_[i], held_[i]};
      },
      1);
}

std::string hint_text(std::string_view prefix, std::optional<std::string_view> match) {
  std::string out;
  out.reserve(hint_size(prefix, match));
  append_hint(out, prefix, match);
  return out;
}

void append_hint(std::string& out, std::string_view prefix, std::optional<std::string_view> match) {
  if (!match) return;
  out += ", did you mean ";
  out += prefix;
  out += *match;
  out += '?';
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
