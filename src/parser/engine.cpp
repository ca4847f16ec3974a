#include "parser/engine.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "allocation.hpp"

namespace torvane::parser {

void ParserState::reset(std::string_view text) {
  text_ = text;
  pos_ = 0;
  ntokens_ = 0;
  look_ = Lookahead::none;
  atomic_ = false;
  failures_.reset();
  depth_ = 0;
  peak_ = 0;
  depth_limit_ = kMaxRuleDepth;
  attempts_given_ = kBaseRuleAttempts + kRuleAttemptsPerByte * text.size();
  attempts_left_ = attempts_given_;
  stop_ = Stop::none;
  stop_at_ = 0;
  if (memo_on_) {
    // kMemoSlots cells a position: on 32 bits the product wraps for a text
    // above 1.4 GB, and would make a short table.
    if (!fits_one_allocation(std::uint64_t{text.size()} + 1, kMemoSlots * sizeof(std::uint32_t)))
      throw std::bad_alloc();
    memo_.assign((text.size() + 1) * kMemoSlots, kUnseen);
  }
  memo_entries_.clear();
  memo_tokens_.clear();
  memo_expected_.clear();
  live_.clear();
  guard_ = 0;
  runs_ = false;
  fold_ = text.size() >= fold_from_;
}

std::uint32_t ParserState::memo_end(const Memo& m, bool ok) {
  // No attempt that is still running began beyond m.pos.
  failures_.settle(m.pos);
  std::uint32_t cell = kSeen;
  if (stop_ == Stop::none) {
    cell = static_cast<std::uint32_t>(memo_entries_.size()) + kFirstEntry;
    MemoEntry e{};
    e.ok = ok;
    e.end = pos_;
    e.depth = peak_ > m.depth ? peak_ - m.depth - 1 : 0;
    e.furthest = failures_.furthest();
    e.in_place = true;
    e.first = m.tokens;
    e.last = ok ? ntokens_ : m.tokens;
    if (e.last > e.first) {
      // A run left after this one (wholly after it: see save_runs_at) goes,
      // so that ends never decrease along live_.
      if (e.last < guard_) save_runs_from(e.last);
      live_.push_back(cell - kFirstEntry);
      guard_ = e.last;
    }
    e.expected_begin = static_cast<std::uint32_t>(memo_expected_.size());
    const std::span<const Rule> own = failures_.own();
    memo_expected_.insert(memo_expected_.end(), own.begin(), own.end());
    e.expected_end = static_cast<std::uint32_t>(memo_expected_.size());
    memo_entries_.push_back(e);
  }
  // Merge the attempt's own records into the record around it.
  failures_.end_own(m.failures, m.pos);
  peak_ = std::max(peak_, m.peak);
  return cell;
}

int ParserState::replay(std::uint32_t index) {
  const MemoEntry& e = memo_entries_[index];
  if (depth_ + e.depth >= depth_limit_) return -1;
  peak_ = std::max(peak_, depth_ + 1 + e.depth);
  const std::uint32_t at = pos_;
  failures_.merge(e.furthest, std::span<const Rule>(memo_expected_).subspan(
                                  e.expected_begin, e.expected_end - e.expected_begin));
  failures_.settle(at);
  if (!e.ok) return 0;
  // Most replays follow a failed attempt that began at the same place in
  // the list, so the tokens are still there.
  if (e.in_place && e.first == ntokens_) {
    ntokens_ = e.last;
  } else {
    push_run(index);
  }
  pos_ = e.end;
  return 1;
}

void ParserState::push_run(std::uint32_t index) {
  push_token(Token{pos_, index, kRunToken, false});
  runs_ = true;
}

void ParserState::finish() {
  if (!runs_) return;
  tree_.clear();
  // Pairs nest no deeper than rule attempts.
  if (open_.size() < kMaxRuleDepth + 1) open_.resize(kMaxRuleDepth + 1);
  std::uint32_t depth = 0;
  spell_out(tokens_.get(), tokens_.get() + ntokens_, depth);
}

// Writes the tokens, each run in place of its token, and links each closing
// token with its opening one. Runs nest no deeper than the rule attempts that
// made them.
void ParserState::spell_out(const Token* first, const Token* last, std::uint32_t& depth) {
  for (const Token* t = first; t != last; ++t) {
    if (t->rule == kRunToken) {
      const MemoEntry& e = memo_entries_[t->partner];
      const Token* run = e.in_place ? tokens_.get() : memo_tokens_.data();
      spell_out(run + e.first, run + e.last, depth);
    } else if (!t->closing) {
      open_[depth++] = static_cast<std::uint32_t>(tree_.size());
      tree_.push_back(*t);
    } else {
      const std::uint32_t open = open_[--depth];
      const auto distance = static_cast<std::uint32_t>(tree_.size()) - open;
      tree_[open].partner = distance;
      tree_.push_back(*t);
      tree_.back().partner = distance;
    }
  }
}

// A token is about to be written at `at`. Runs that lie wholly after it are
// not overwritten yet, and the usual next step replays the last one in place
// (a failed attempt undid it and an alternative began one token earlier);
// that run stays while every other run ends at or before `at`.
void ParserState::save_runs_at(std::uint32_t at) {
  const std::size_t n = live_.size();
  if (memo_entries_[live_[n - 1]].first > at && (n == 1 || memo_entries_[live_[n - 2]].last <= at)) return;
  save_runs_from(at);
}

// Runs come off live_ from the last; a run inside the one saved just before
// it (an inner remembered attempt) shares that one's copy.
void ParserState::save_runs_from(std::uint32_t at) {
  std::uint32_t copied_first = 0, copied_last = 0, copied_to = 0;
  while (!live_.empty() && memo_entries_[live_.back()].last > at) {
    MemoEntry& e = memo_entries_[live_.back()];
    live_.pop_back();
    if (copied_last == 0 || e.first < copied_first || e.last > copied_last) {
      copied_first = e.first;
      copied_last = e.last;
      copied_to = static_cast<std::uint32_t>(memo_tokens_.size());
      memo_tokens_.insert(memo_tokens_.end(), tokens_.get() + e.first, tokens_.get() + e.last);
    }
    const std::uint32_t n = e.last - e.first;
    e.first = copied_to + (e.first - copied_first);
    e.last = e.first + n;
    e.in_place = false;
  }
  guard_ = live_.empty() ? 0 : memo_entries_[live_.back()].last;
}

void ParserState::drop_token(std::uint32_t at) {
  Token* const t = tokens_.get();
  // The opening token at `at` - 1 now reaches one token less far.
  --t[at - 1].partner;
  --t[ntokens_ - 1].partner;
  std::memmove(t + at, t + at + 1, std::size_t{ntokens_ - at - 1} * sizeof(Token));
  --ntokens_;
  // In-place runs after `at` move with it; they are the last ones made, but
  // for one that an undone attempt may have left after the list's end, which
  // stays where it is.
  for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
    MemoEntry& e = memo_entries_[*it];
    if (e.first > ntokens_) continue;
    if (e.first <= at) break;
    --e.first;
    --e.last;
  }
  if (guard_ >= at) guard_ = memo_entries_[live_.back()].last;
}

void ParserState::grow_tokens() {
  static_assert(std::is_trivially_copyable_v<Token>);
  // Doubled and sized in 64 bits, which a 32-bit size_t would wrap.
  const std::uint64_t room = room_ == 0 ? 256 : std::uint64_t{room_} * 2;
  if (room > std::numeric_limits<std::uint32_t>::max() || !fits_one_allocation(room, sizeof(Token)))
    throw std::bad_alloc();
  void* grown = std::realloc(tokens_.get(), static_cast<std::size_t>(room) * sizeof(Token));
  if (grown == nullptr) throw std::bad_alloc();
  (void)tokens_.release();
  tokens_.reset(static_cast<Token*>(grown));
  room_ = static_cast<std::uint32_t>(room);
}

// From here on every rule attempt fails at once, so the parse unwinds in time
// proportional to the depth reached. The first bound hit is the one reported.
void ParserState::bound_hit(std::uint32_t p) {
  if (stop_ == Stop::none) {
    stop_ = depth_ >= depth_limit_ ? Stop::too_deep : Stop::too_long;
    stop_at_ = p;
  }
  depth_limit_ = 0;
}

}  // namespace torvane::parser
