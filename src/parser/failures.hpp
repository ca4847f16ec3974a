#pragma once
// The failure record of a parse: the furthest position at which a rule
// attempt failed and the rules expected there, which the syntax-error report
// of a failed parse is made from. Failure records steer nothing else.
//
// A remembered attempt (memo.hpp) keeps a record of its own, started at its
// position, so that its records can be replayed whatever the record holds
// at a later attempt; they sit at the end of the list, from base() on.
#include <cstdint>
#include <span>
#include <vector>

#include "parser/rule.hpp"

namespace torvane::parser {

class FailureRecord {
 public:
  void reset() {
    furthest_ = 0;
    expected_.clear();
    base_ = 0;
  }

  std::uint32_t furthest() const { return furthest_; }
  // In recording order, with repeats; sorted only for the report.
  const std::vector<Rule>& expected() const { return expected_; }

  // What the list held at `p` for an attempt that begins there: the count
  // that its failure is judged by (see record).
  std::uint32_t at(std::uint32_t p) const {
    return p == furthest_ ? static_cast<std::uint32_t>(expected_.size()) : base_;
  }
  // The failure of an attempt of `r` that began at `p`, where the list held
  // `k` (from at()). The cases that change nothing inline, the update out
  // of line.
  void note(Rule r, std::uint32_t p, std::uint32_t k) {
    if (p < furthest_ || (p == furthest_ && expected_.size() == std::size_t{k} + 1)) return;
    record(r, p, k);
  }

  // The record of a remembered attempt, which begins at `pos`.
  struct Outer {
    std::uint32_t furthest, base;
  };
  Outer begin_own(std::uint32_t pos) {
    const Outer o{furthest_, base_};
    furthest_ = pos;
    base_ = static_cast<std::uint32_t>(expected_.size());
    return o;
  }
  // Its records so far, all at furthest().
  std::span<const Rule> own() const { return std::span<const Rule>(expected_).subspan(base_); }
  // Once no running attempt began beyond `pos`, the records beyond it stand
  // only for the rules they name: repeats among them go.
  void settle(std::uint32_t pos) {
    if (furthest_ > pos) drop_repeats(base_);
  }
  // Merges the records of the remembered attempt that began at `pos` into
  // the record around it, `outer`.
  void end_own(const Outer& outer, std::uint32_t pos) {
    const std::uint32_t own = base_;
    if (expected_.size() == own) {
      furthest_ = outer.furthest;
    } else if (furthest_ > outer.furthest) {
      expected_.erase(expected_.begin() + outer.base, expected_.begin() + own);
    } else if (furthest_ == outer.furthest) {
      if (furthest_ > pos) drop_repeats(outer.base);
    } else {
      expected_.resize(own);
      furthest_ = outer.furthest;
    }
    base_ = outer.base;
  }
  // Merges records made at `at` by a replayed attempt, as the record would
  // have taken them one by one.
  void merge(std::uint32_t at, std::span<const Rule> records);

 private:
  [[gnu::noinline]] void record(Rule r, std::uint32_t p, std::uint32_t k);
  void drop_repeats(std::uint32_t from);

  std::uint32_t furthest_ = 0;
  std::vector<Rule> expected_;
  std::uint32_t base_ = 0;  // start of the records of the innermost remembered attempt
};

}  // namespace torvane::parser
