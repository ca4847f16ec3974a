#include "parser/memo.hpp"

#include <algorithm>
#include <new>

#include "allocation.hpp"

namespace torvane::parser {

void Memo::reset(std::size_t size, bool cells) {
  if (nwritten_ > kListedWrites) {
    std::fill(cells_.begin(), cells_.end(), kUnseen);
  } else {
    for (std::size_t j = 0; j < nwritten_; ++j) cells_[written_[j]] = kUnseen;
  }
  nwritten_ = 0;
  if (cells) {
    // kMemoSlots cells a position: on 32 bits the product wraps for a text
    // above 1.4 GB, and would make a short table.
    if (!fits_one_allocation(std::uint64_t{size} + 1, kMemoSlots * sizeof(std::uint32_t)))
      throw std::bad_alloc();
    const std::size_t n = (size + 1) * kMemoSlots;
    if (cells_.size() < n) cells_.resize(n, kUnseen);
    written_.resize(kListedWrites);
  }
  entries_.clear();
  tokens_.clear();
  expected_.clear();
  live_.clear();
  guard_ = 0;
  runs_ = false;
}

// (Swapped with empty vectors: assigning {} would keep the capacity.)
void Memo::release_above(std::size_t keep) {
  if (tokens_.capacity() > keep) decltype(tokens_)().swap(tokens_);
  if (cells_.capacity() > keep * kMemoSlots) {
    // The cells go, and with them what the next reset would clear.
    decltype(cells_)().swap(cells_);
    nwritten_ = 0;
  }
  if (entries_.capacity() > keep) decltype(entries_)().swap(entries_);
  if (live_.capacity() > keep) decltype(live_)().swap(live_);
}

// Runs that lie wholly after `at` are not overwritten yet, and the usual next
// step replays the last one in place (a failed attempt undid it and an
// alternative began one token earlier); that run stays while every other run
// ends at or before `at`.
void Memo::before_write(std::uint32_t at, const Token* working) {
  const std::size_t n = live_.size();
  if (entries_[live_[n - 1]].first > at && (n == 1 || entries_[live_[n - 2]].last <= at)) return;
  save_runs_from(at, working);
}

// Runs come off live_ from the last; a run inside the one saved just before
// it (an inner remembered attempt) shares that one's copy.
void Memo::save_runs_from(std::uint32_t at, const Token* working) {
  std::uint32_t copied_first = 0, copied_last = 0, copied_to = 0;
  while (!live_.empty() && entries_[live_.back()].last > at) {
    MemoEntry& e = entries_[live_.back()];
    live_.pop_back();
    if (copied_last == 0 || e.first < copied_first || e.last > copied_last) {
      copied_first = e.first;
      copied_last = e.last;
      copied_to = static_cast<std::uint32_t>(tokens_.size());
      tokens_.insert(tokens_.end(), working + e.first, working + e.last);
    }
    const std::uint32_t n = e.last - e.first;
    e.first = copied_to + (e.first - copied_first);
    e.last = e.first + n;
    e.in_place = false;
  }
  guard_ = live_.empty() ? 0 : entries_[live_.back()].last;
}

// In-place runs after `at` move with the tokens after it; they are the last
// ones made, but for one that an undone attempt may have left after the
// list's end, which stays where it is.
void Memo::token_dropped(std::uint32_t at, std::uint32_t ntokens) {
  for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
    MemoEntry& e = entries_[*it];
    if (e.first > ntokens) continue;
    if (e.first <= at) break;
    --e.first;
    --e.last;
  }
  if (guard_ >= at) guard_ = entries_[live_.back()].last;
}

void Memo::spell_out(const Token* first, const Token* last, const Token* working,
                     std::vector<Token>& tree, std::uint32_t max_depth) {
  tree.clear();
  if (open_.size() < std::size_t{max_depth} + 1) open_.resize(std::size_t{max_depth} + 1);
  std::uint32_t depth = 0;
  spell(first, last, working, tree, depth);
}

// Links each closing token with its opening one. Runs nest no deeper than
// the rule attempts that made them.
void Memo::spell(const Token* first, const Token* last, const Token* working,
                 std::vector<Token>& tree, std::uint32_t& depth) {
  for (const Token* t = first; t != last; ++t) {
    if (t->rule == kRunToken) {
      const MemoEntry& e = entries_[t->partner];
      const Token* run = e.in_place ? working : tokens_.data();
      spell(run + e.first, run + e.last, working, tree, depth);
    } else if (!t->closing) {
      open_[depth++] = static_cast<std::uint32_t>(tree.size());
      tree.push_back(*t);
    } else {
      const std::uint32_t open = open_[--depth];
      const auto distance = static_cast<std::uint32_t>(tree.size()) - open;
      tree[open].partner = distance;
      tree.push_back(*t);
      tree.back().partner = distance;
    }
  }
}

}  // namespace torvane::parser
