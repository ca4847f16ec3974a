#include "parser/engine.hpp"

#include <algorithm>

namespace torvane::parser {

void ParserState::reset(std::string_view text) {
  text_ = text;
  pos_ = 0;
  ntokens_ = 0;
  look_ = Lookahead::none;
  atomic_ = false;
  furthest_ = 0;
  expected_.clear();
  base_ = 0;
  depth_ = 0;
  peak_ = 0;
  depth_limit_ = kMaxRuleDepth;
  attempts_given_ = kBaseRuleAttempts + kRuleAttemptsPerByte * text.size();
  attempts_left_ = attempts_given_;
  stop_ = Stop::none;
  stop_at_ = 0;
  if (memo_on_) memo_.assign((text.size() + 1) * kMemoSlots, kUnseen);
  memo_entries_.clear();
  memo_tokens_.clear();
  memo_expected_.clear();
}

// Offset of the first "*/" at or after `from`, or kNotFound.
std::uint32_t ParserState::find_block_end(std::uint32_t from) const {
  const std::string_view rest = text_.substr(std::min<std::size_t>(from, text_.size()));
  const std::size_t at = rest.find("*/");
  return at == std::string_view::npos ? kNotFound : static_cast<std::uint32_t>(from + at);
}

// `k` is what the expected list held at `p` when the attempt began. A single
// entry recorded at `p` by an inner attempt stands for this rule; two or more
// are replaced by it, so a report names the rule that was really missing.
void ParserState::record_failure(Rule r, std::uint32_t p, std::uint32_t k) {
  std::uint32_t keep = k;
  if (p > furthest_) {
    furthest_ = p;
    keep = base_;
  }
  // Only ever shortens: erasing at the end moves no element.
  if (keep < expected_.size()) expected_.erase(expected_.begin() + keep, expected_.end());
  expected_.push_back(r);
}

// Failure records depend on the tracking only through whether they stand
// before, at or beyond its furthest position; a remembered attempt's records
// all stand at its own furthest position `at` (earlier ones were dropped when
// it moved on), in recording order.
void ParserState::merge_expected(std::uint32_t at, const Rule* first, const Rule* last) {
  if (first == last || at < furthest_) return;
  if (at > furthest_) {
    furthest_ = at;
    expected_.resize(base_);
  }
  expected_.insert(expected_.end(), first, last);
}

// Keeps the first of each rule in expected_[from, end). Only the counts of
// records made since an attempt began at the furthest position steer the
// tracking; once no running attempt began there, the records only stand for
// the rules they name. Without this, a text read again at every level of its
// nesting would carry a list that doubles with each level.
void ParserState::drop_repeats(std::uint32_t from) {
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

std::uint32_t ParserState::memo_end(const Memo& m, bool ok) {
  // No attempt that is still running began beyond m.pos.
  if (furthest_ > m.pos) drop_repeats(base_);
  std::uint32_t cell = kSeen;
  if (stop_ == Stop::none) {
    cell = static_cast<std::uint32_t>(memo_entries_.size()) + kFirstEntry;
    MemoEntry e{};
    e.ok = ok;
    e.end = pos_;
    e.depth = peak_ > m.depth ? peak_ - m.depth - 1 : 0;
    e.furthest = furthest_;
    e.tokens_begin = static_cast<std::uint32_t>(memo_tokens_.size());
    if (ok) {
      // The run moves to the memo; one token stands for it from now on.
      memo_tokens_.insert(memo_tokens_.end(), tokens_.begin() + m.tokens, tokens_.begin() + ntokens_);
      ntokens_ = m.tokens;
      push_token(Token{m.pos, static_cast<std::uint32_t>(memo_entries_.size()), kRunToken, false});
    }
    e.tokens_end = static_cast<std::uint32_t>(memo_tokens_.size());
    e.expected_begin = static_cast<std::uint32_t>(memo_expected_.size());
    memo_expected_.insert(memo_expected_.end(), expected_.begin() + base_, expected_.end());
    e.expected_end = static_cast<std::uint32_t>(memo_expected_.size());
    memo_entries_.push_back(e);
  }
  // Merge the attempt's own records into the tracking around it.
  const std::uint32_t own = base_;
  if (expected_.size() == own) {
    furthest_ = m.furthest;
  } else if (furthest_ > m.furthest) {
    expected_.erase(expected_.begin() + m.base, expected_.begin() + own);
  } else if (furthest_ == m.furthest) {
    if (furthest_ > m.pos) drop_repeats(m.base);
  } else {
    expected_.resize(own);
    furthest_ = m.furthest;
  }
  base_ = m.base;
  peak_ = std::max(peak_, m.peak);
  return cell;
}

int ParserState::replay(std::uint32_t index) {
  const MemoEntry& e = memo_entries_[index];
  if (depth_ + e.depth >= depth_limit_) return -1;
  peak_ = std::max(peak_, depth_ + 1 + e.depth);
  const std::uint32_t at = pos_;
  merge_expected(e.furthest, memo_expected_.data() + e.expected_begin,
                 memo_expected_.data() + e.expected_end);
  if (furthest_ > at) drop_repeats(base_);
  if (!e.ok) return 0;
  push_token(Token{at, index, kRunToken, false});
  pos_ = e.end;
  return 1;
}

void ParserState::finish() {
  // Every entry's tokens appear at most once in a tree (a rule cannot contain
  // itself at its own start), so this bounds the tree's length.
  tree_.resize(std::size_t{ntokens_} + memo_tokens_.size());
  // Pairs nest no deeper than rule attempts.
  if (open_.size() < kMaxRuleDepth + 1) open_.resize(kMaxRuleDepth + 1);
  Spelling out{tree_.data(), open_.data(), 0, 0};
  spell_out(tokens_.data(), tokens_.data() + ntokens_, out);
  tree_.resize(out.written);
}

// Writes the tokens, each remembered run in place of its token, and links
// each closing token with its opening one. Runs nest no deeper than the rule
// attempts that made them.
void ParserState::spell_out(const Token* first, const Token* last, Spelling& out) const {
  for (const Token* t = first; t != last; ++t) {
    if (t->rule == kRunToken) {
      const MemoEntry& e = memo_entries_[t->partner];
      spell_out(memo_tokens_.data() + e.tokens_begin, memo_tokens_.data() + e.tokens_end, out);
    } else if (!t->closing) {
      out.open[out.depth++] = out.written;
      out.tree[out.written++] = *t;
    } else {
      const std::uint32_t open = out.open[--out.depth];
      out.tree[open].partner = out.written;
      out.tree[out.written++] = Token{t->offset, open, t->rule, true};
    }
  }
}

void ParserState::grow_tokens() {
  tokens_.resize(tokens_.empty() ? 256 : tokens_.size() * 2);
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
