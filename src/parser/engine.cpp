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
  pairs_ = context_makes_pairs();
  failures_.reset();
  depth_ = 0;
  peak_ = 0;
  depth_limit_ = kMaxRuleDepth;
  attempts_given_ = kBaseRuleAttempts + kRuleAttemptsPerByte * text.size();
  attempts_left_ = attempts_given_;
  stop_ = Stop::none;
  stop_at_ = 0;
  memo_.reset(text.size(), memo_on_);
  fold_ = text.size() >= fold_from_;
}

std::uint32_t ParserState::memo_end(const MemoMark& m, bool ok) {
  // No attempt that is still running began beyond m.pos.
  failures_.settle(m.pos);
  std::uint32_t cell = Memo::kSeen;
  if (stop_ == Stop::none) {
    MemoEntry e{};
    e.ok = ok;
    e.end = pos_;
    e.depth = peak_ > m.depth ? peak_ - m.depth - 1 : 0;
    e.furthest = failures_.furthest();
    e.first = m.tokens;
    e.last = ok ? ntokens_ : m.tokens;
    cell = memo_.add(e, failures_.own(), tokens_.get());
  }
  // Merge the attempt's own records into the record around it.
  failures_.end_own(m.failures, m.pos);
  peak_ = std::max(peak_, m.peak);
  return cell;
}

int ParserState::replay(std::uint32_t index) {
  const MemoEntry& e = memo_.entry(index);
  if (depth_ + e.depth >= depth_limit_) return -1;
  peak_ = std::max(peak_, depth_ + 1 + e.depth);
  const std::uint32_t at = pos_;
  failures_.merge(e.furthest, memo_.records(e));
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
  push_token(Token{pos_, index, Memo::kRunToken, false});
  memo_.run_made();
}

void ParserState::finish() {
  if (!memo_.has_runs()) return;
  // Pairs nest no deeper than rule attempts.
  memo_.spell_out(tokens_.get(), tokens_.get() + ntokens_, tokens_.get(), tree_, kMaxRuleDepth);
}

void ParserState::drop_token(std::uint32_t at) {
  Token* const t = tokens_.get();
  // The opening token at `at` - 1 now reaches one token less far.
  --t[at - 1].partner;
  --t[ntokens_ - 1].partner;
  std::memmove(t + at, t + at + 1, std::size_t{ntokens_ - at - 1} * sizeof(Token));
  --ntokens_;
  memo_.token_dropped(at, ntokens_);
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
