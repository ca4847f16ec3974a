#include "parser/failures.hpp"

namespace torvane::parser {

// `k` is what the expected list held at `p` when the attempt began. A single
// entry recorded at `p` by an inner attempt stands for this rule; two or more
// are replaced by it, so a report names the rule that was really missing.
void FailureRecord::record(Rule r, std::uint32_t p, std::uint32_t k) {
  std::uint32_t keep = k;
  if (p > furthest_) {
    furthest_ = p;
    keep = base_;
  }
  // Only ever shortens: erasing at the end moves no element.
  if (keep < expected_.size()) expected_.erase(expected_.begin() + keep, expected_.end());
  expected_.push_back(r);
}

// Failure records depend on the record only through whether they stand
// before, at or beyond its furthest position; a remembered attempt's records
// all stand at its own furthest position `at` (earlier ones were dropped when
// it moved on), in recording order.
void FailureRecord::merge(std::uint32_t at, std::span<const Rule> records) {
  if (records.empty() || at < furthest_) return;
  if (at > furthest_) {
    furthest_ = at;
    expected_.resize(base_);
  }
  expected_.insert(expected_.end(), records.begin(), records.end());
}

// Keeps the first of each rule in expected_[from, end). Only the counts of
// records made since an attempt began at the furthest position steer the
// record; once no running attempt began there, the records only stand for
// the rules they name. Without this, a text read again at every level of its
// nesting would carry a list that doubles with each level.
void FailureRecord::drop_repeats(std::uint32_t from) {
  std::uint64_t seen[2] = {0, 0};
  auto out = expected_.begin() + from;
  for (auto it = out; it != expected_.end(); ++it) {
    const auto v = static_cast<unsigned>(*it);
    const std::uint64_t bit = std::uint64_t{1} << (v & 63u);
    if (seen[v >> 6] & bit) continue;
    seen[v >> 6] |= bit;
    *out++ = *it;
  }
  expected_.erase(out, expected_.end());
}

}  // namespace torvane::parser
