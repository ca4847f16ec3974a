#pragma once
// The PEG engine that carries the grammar: the parse state, ParserState, with
// the rule attempt, undo, the implicit skip, the literals and the bounds on
// depth and work, and the shortcuts that stand for attempts without running
// them. Its other parts live in rooms of their own: the combinators that rule
// bodies are written with (peg.hpp), the failure record that the syntax-error
// report is made from (failures.hpp) and the memo of remembered attempts
// (memo.hpp).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "parser/failures.hpp"
#include "parser/lexical.hpp"
#include "parser/memo.hpp"
#include "parser/pairs.hpp"
#include "parser/rule.hpp"

namespace torvane::parser {

// Bound on nested rule attempts. Each level of parentheses in an expression
// costs 14 nested attempts, so 1000 allows about 70 levels (the deepest real
// query seen, 40 nested maps, takes 652). One attempt takes about 100 bytes of
// native stack on x86-64, so a parse at the bound fits a 128 KiB thread stack;
// the tree builder and the validator recurse once per tree level after it.
inline constexpr std::uint32_t kMaxRuleDepth = 1000;

// Bound on the number of rule attempts of one parse, a guard behind the memo
// (see ParserState::memo_rule), which keeps real queries under 10 attempts per
// byte and nested texts made to be read again under 64.
inline constexpr std::uint64_t kBaseRuleAttempts = 1'000'000;
inline constexpr std::uint64_t kRuleAttemptsPerByte = 256;

class ParserState;

// The case fold of keyword matching, where the byte is compared with a
// lower-case ASCII letter or is known to be a letter: setting bit 5 maps
// 'A'..'Z' onto 'a'..'z' and keeps those, in one instruction where
// ascii_lower takes a test; other bytes it maps anywhere, so it serves only
// there.
constexpr char fold_to_letter(char c) { return static_cast<char>(c | 0x20); }

// The bytes a skip can begin with: the blanks and the "/" of a comment. A
// table, since every skip looks here first.
inline constexpr auto kSkipBegins = [] {
  std::array<bool, 256> begins{};
  for (int b = 0; b < 256; ++b) begins[b] = is_blank(static_cast<char>(b)) || b == '/';
  return begins;
}();

// A set of bytes, for the characters that can begin a rule's text.
struct CharSet {
  std::uint64_t bits[4]{};
  constexpr CharSet(std::string_view chars) {
    for (const char c : chars) {
      const auto b = static_cast<unsigned char>(c);
      bits[b >> 6] |= std::uint64_t{1} << (b & 63u);
    }
  }
  constexpr bool has(unsigned char b) const { return (bits[b >> 6] >> (b & 63u)) & 1u; }
};

namespace peg {
// What a body does besides reading text, which ParserState::rule orders its
// bookkeeping by: a terminal body (literals, character classes and their
// combinations) tries no rule; a leaf body (those, atomic bodies and their
// combinations) makes no pairs and no failure records of its own. Defined
// for each combinator in peg.hpp.
enum class Kind : std::uint8_t { rules, leaf, terminal };
template <class F>
inline constexpr Kind kKind = Kind::rules;
template <class F>
inline constexpr bool kLeafBody = kKind<F> != Kind::rules;
template <class F>
inline constexpr bool kTerminal = kKind<F> == Kind::terminal;
// Whether a body is a sequence whose first element tries no rule, and a
// later one does.
template <class F>
inline constexpr bool kTerminalHead = false;
}  // namespace peg

class ParserState {
 public:
  enum class Lookahead : std::uint8_t { none, positive, negative };

  // All that undo restores.
  struct Mark {
    std::uint32_t pos;
    std::uint32_t tokens;
  };

  // Starts a fresh parse of `text`; keeps the vectors' capacity.
  void reset(std::string_view text);
  // The memo (see memo_rule) and the shortcuts (rule_unless, rule_first,
  // fail_at_once, silent_attempts and the grammar's operator levels run as
  // one) each have a switch; the product runs with both. With both off every
  // attempt runs its body: the plain engine, which tests compare the others
  // against. The shortcuts count attempts and depth exactly as the bodies
  // they stand for would, so with the memo off they must match the plain
  // engine attempt for attempt; the memo saves attempts. Set before reset().
  void set_memo(bool on) { memo_on_ = on; }
  void set_shortcuts(bool on) { shortcuts_on_ = on; }
  // Stacks of expression rules fold (see Token) in texts of at least this
  // many bytes: a fold costs a little time, and saves memory that only a
  // large text makes matter. Set before reset().
  static constexpr std::uint32_t kFoldFrom = 16 << 10;
  void set_fold_from(std::uint32_t bytes) { fold_from_ = bytes; }
  // Failure records steer nothing but the report of a failed parse, and
  // pairs nothing but the tree of a successful one; neither steers the parse.
  // So a parse can run for its tree alone, and a failed one again for its
  // report alone. Set before reset(); by default a parse makes both.
  enum class Pass : std::uint8_t { both, tree, report };
  void set_pass(Pass p) { pass_ = p; }

  std::string_view text() const { return text_; }
  std::uint32_t pos() const { return pos_; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(text_.size()); }
  // The parse tree of the last successful parse (after finish()): the
  // working list itself unless runs had to be spelled out.
  std::span<const Token> tokens() const {
    return memo_.has_runs() ? std::span<const Token>(tree_) : std::span<const Token>(tokens_.get(), ntokens_);
  }
  // Spells out every run token of the tokens made so far, if there is one.
  void finish();
  // Frees the token buffers when a parse grew them past `keep` tokens, so a
  // thread does not hold the tokens of its largest query ever for its life.
  // (Swapped with empty vectors: assigning {} would keep the capacity.)
  void release_above(std::size_t keep) {
    if (room_ > keep) {
      tokens_.reset();
      room_ = 0;
    }
    if (tree_.capacity() > keep) std::vector<Token>().swap(tree_);
    release_memo_above(keep);
  }
  // The same for the memo alone, which the tree of a finished parse no longer
  // needs: freed before the tree is built, a large query's peak is lower.
  void release_memo_above(std::size_t keep) { memo_.release_above(keep); }
  std::uint32_t furthest() const { return failures_.furthest(); }
  const std::vector<Rule>& expected() const { return failures_.expected(); }
  bool atomic_context() const { return atomic_; }
  Lookahead lookahead() const { return look_; }
  // Which bound stopped the parse, if one did, and where.
  enum class Stop : std::uint8_t { none, too_deep, too_long };
  Stop stopped() const { return stop_; }
  std::uint32_t stopped_at() const { return stop_at_; }
  // Rule attempts whose bodies ran in the last parse.
  std::uint64_t attempts() const { return attempts_given_ - attempts_left_; }
  // The deepest nesting of rule attempts in the last parse, those that the
  // shortcuts and the memo stand for included.
  std::uint32_t peak_depth() const { return peak_; }
  // Tokens the memo moved aside in the last parse, a measure of its work.
  std::size_t tokens_saved() const { return memo_.tokens_saved(); }

  Mark mark() const { return {pos_, ntokens_}; }
  void restore(Mark m) {
    pos_ = m.pos;
    ntokens_ = m.tokens;
  }

  // A rule attempt around `body`. Pairs and failure records depend on the
  // context the rule was invoked in, so both are decided before the body runs
  // (an atomic rule switches to atomic inside its own body).
  template <class F>
  bool rule(Rule r, const F& body) {
    if (depth_ >= depth_limit_ || attempts_left_ == 0) [[unlikely]] {
      bound_hit(pos_);
      return false;
    }
    if constexpr (peg::kTerminal<F> || peg::kTerminalHead<F>) {
      // Most attempts of such a rule fail at its first word or sign, which
      // tries no rule and so reads the same at any depth: made first, a
      // failure costs the attempt and its record only. The rule's pair opens
      // once that matched, still before any pair of the rest.
      const std::uint32_t p = pos_;
      bool ok;
      if constexpr (peg::kTerminal<F>) {
        ok = body(*this);
      } else {
        ok = std::get<0>(body.parts)(*this);
      }
      if (!ok) {
        fail_untried(r);
        return false;
      }
      const Attempt a = begin_attempt(p);
      if (a.pairs) push_token(Token{p, 0, r, false});
      if constexpr (!peg::kTerminal<F>) {
        if (!body.template run<1>(*this)) {
          fail_attempt(r, a);
          return false;
        }
      }
      close_attempt(r, a);
      return true;
    } else {
      const Attempt a = begin_attempt(pos_);
      bool ok;
      if constexpr (peg::kLeafBody<F>) {
        // A leaf body makes no pairs, so the rule's own pair can wait until it matched.
        ok = body(*this);
        if (ok && a.pairs) push_token(Token{a.pos, 0, r, false});
      } else {
        if (a.pairs) push_token(Token{a.pos, 0, r, false});
        ok = body(*this);
      }
      if (ok) {
        close_attempt(r, a);
        return true;
      }
      fail_attempt(r, a);
      return false;
    }
  }

  // Attempts of rules whose bodies the grammar runs piece by piece (the
  // operator levels of an expression): each opened, then closed or failed,
  // as rule() does around a body.
  struct Attempt {
    std::uint32_t pos, tokens, expected;
    bool pairs;
  };
  // Opens attempts of `rules`, each inside the one before, at the position:
  // that of rules[j] is nested(a, j). False, opening none, where one of them
  // would hit a bound (rule() then reports it).
  bool open_attempts(std::span<const Rule> rules, Attempt& a) {
    const auto n = static_cast<std::uint32_t>(rules.size());
    if (depth_ + n > depth_limit_ || attempts_left_ < n) return false;
    // begin_attempt n times over, where nothing moves in between
    attempts_left_ -= n;
    depth_ += n;
    peak_ = std::max(peak_, depth_);
    a = Attempt{pos_, ntokens_, failures_.at(pos_), makes_pairs()};
    if (!a.pairs) return true;
    if (ntokens_ >= memo_.guard() && room_ - ntokens_ >= n) {
      // The common case, written at once: room for all, and no remembered
      // run in the way.
      Token* const t = tokens_.get() + ntokens_;
      for (std::uint32_t j = 0; j < n; ++j) t[j] = Token{a.pos, 0, rules[j], false};
      ntokens_ += n;
    } else {
      for (std::uint32_t j = 0; j < n; ++j) push_token(Token{a.pos, 0, rules[j], false});
    }
    return true;
  }
  // The attempt `j` levels inside `a` among those that open_attempts opened.
  static Attempt nested(Attempt a, std::uint32_t j) {
    a.tokens += j;
    return a;
  }
  // Closes the attempts of `rules`, those that open_attempts opened as
  // nested(a, 0) to nested(a, n - 1), innermost first, where nothing moves in
  // between: close_attempt for each.
  void close_attempts(std::span<const Rule> rules, const Attempt& a) {
    const auto n = static_cast<std::uint32_t>(rules.size());
    if (!a.pairs || fold_ || ntokens_ < memo_.guard() || room_ - ntokens_ < n) {
      for (std::uint32_t j = n; j-- > 0;) close_attempt(rules[j], nested(a, j));
      return;
    }
    depth_ -= n;
    // Each closing token lies two further from its opening one than the last.
    Token* open = tokens_.get() + a.tokens + n;
    Token* close = tokens_.get() + ntokens_;
    std::uint32_t partner = ntokens_ - (a.tokens + n - 1);
    for (std::uint32_t j = n; j-- > 0; partner += 2) {
      (--open)->partner = partner;
      *close++ = Token{pos_, partner, rules[j], true};
    }
    ntokens_ += n;
  }
  [[gnu::always_inline]] void close_attempt(Rule r, const Attempt& a) {
    --depth_;
    if (a.pairs) {
      if (fold_ && chain_below(r) != Rule::count && fold_child(r, a)) return;
      tokens_.get()[a.tokens].partner = ntokens_ - a.tokens;
      push_token(Token{pos_, ntokens_ - a.tokens, r, true});
    }
  }
  [[gnu::always_inline]] void fail_attempt(Rule r, const Attempt& a) {
    --depth_;
    pos_ = a.pos;
    record_attempt_failure(r, a.pos, a.expected);
    if (a.pairs) ntokens_ = a.tokens;
  }

  // The attempt of a rule whose body fails at the position, leaving no pairs
  // and recording only its own failure, after `inner` attempts of other rules
  // at most `below` levels deeper: made without running the body. False,
  // doing nothing, with the shortcuts off or where the body would hit a
  // bound; the caller then runs the rule.
  [[gnu::always_inline]] bool fail_at_once(Rule r, std::uint32_t inner = 0, std::uint32_t below = 0) {
    if (!shortcuts_on_ || depth_ + below >= depth_limit_ || attempts_left_ <= inner) return false;
    attempts_left_ -= inner;
    peak_ = std::max(peak_, depth_ + 1 + below);
    fail_untried(r);
    return true;
  }

  // fail_at_once(rules[j]) for each rule in turn, innermost first, the
  // first at `depth` levels below the current depth and each later one a
  // level further out, where nothing else moves in between. False, doing
  // nothing, where one would not be made at once; the caller then makes them
  // one by one.
  bool fail_all_at_once(std::span<const Rule> rules, std::uint32_t depth) {
    const auto n = static_cast<std::uint32_t>(rules.size());
    if (!shortcuts_on_ || depth_ >= depth_limit_ || attempts_left_ <= n) return false;
    attempts_left_ -= n;
    peak_ = std::max(peak_, depth_ - depth + 1);
    if (records_failures()) {
      for (const Rule r : rules) failures_.note(r, pos_, failures_.at(pos_));
    }
    return true;
  }

  // Counts `n` rule attempts, each inside the one before, made where they
  // leave no pairs and no failure records (in atomic context, or under a
  // negative lookahead), whose outcome the caller finds itself. False,
  // counting none, with the shortcuts off or where one would hit a bound.
  bool silent_attempts(std::uint32_t n) {
    if (!shortcuts_on_ || depth_ + n > depth_limit_ || attempts_left_ < n) return false;
    attempts_left_ -= n;
    peak_ = std::max(peak_, depth_ + n);
    return true;
  }

  // What the test of rule_unless gives where the rule's text may begin.
  static constexpr std::uint32_t kMayBegin = UINT32_MAX;
  // A rule attempt that fails at once where `ruled_out` rules its text out:
  // it then gives the number of attempts the body would make inside the
  // rule's, at most `Below` levels deeper, else kMayBegin.
  template <std::uint32_t Below, class C, class F>
  bool rule_unless(Rule r, const C& ruled_out, const F& body) {
    const std::uint32_t inner = ruled_out(*this);
    if (inner == kMayBegin || !fail_at_once(r, inner, Below)) return rule(r, body);
    return false;
  }

  // The same where the byte at the position (none at the end) is not in
  // `First`; its body's `Inner` attempts lie one level deeper.
  template <const CharSet& First, std::uint32_t Inner, class F>
  bool rule_first(Rule r, const F& body) {
    return rule_unless<(Inner > 0 ? 1 : 0)>(
        r, [](const ParserState& s) { return s.next_in(First) ? kMayBegin : Inner; }, body);
  }

  // Whether there is a byte at the position and it is in `set`.
  bool next_in(const CharSet& set) const {
    return pos_ < size() && set.has(static_cast<unsigned char>(text_[pos_]));
  }
  bool shortcuts_on() const { return shortcuts_on_; }

  // A rule attempt whose outcome is remembered by (slot, position): a later
  // attempt of the rule at the same position replays it, giving the same
  // pairs, the same end and the same failure records as running the body
  // again. Ordered choice reads some text once per alternative, and nested
  // constructs multiply that; remembering makes every text cost time about
  // linear in its length. Remembering starts at the first attempt, or with
  // `Second`, at the second (most positions are never tried twice, and a first
  // attempt costs nothing to note). Rules of the clause and expression levels
  // only: they never run in atomic context or under a lookahead.
  template <std::size_t Slot, bool Second = false, class F>
  bool memo_rule(Rule r, const F& body) {
    static_assert(Slot < kMemoSlots);
    if (!memo_on_ || depth_ >= depth_limit_) return rule(r, body);
    std::uint32_t& cell = memo_.cell(pos_, Slot);
    if (cell == Memo::kUnseen) memo_.first_write(pos_, Slot);
    if (cell >= Memo::kFirstEntry) {
      const int replayed = replay(cell - Memo::kFirstEntry);
      if (replayed >= 0) return replayed != 0;
      return rule(r, body);  // too deep to replay here: the run hits the nesting bound
    }
    if (Second && cell == Memo::kUnseen) {
      cell = Memo::kSeen;
      return rule(r, body);
    }
    const MemoMark m = memo_begin();
    const bool ok = rule(r, body);
    cell = memo_end(m, ok);
    return ok;
  }

  // The implicit skip: WHITESPACE*, then (COMMENT WHITESPACE*)*. Written out
  // by hand; it does exactly what those two silent rules describe.
  [[gnu::always_inline]] void skip() {
    if (atomic_ || pos_ >= size()) return;
    // Most tokens follow one another directly.
    if (!kSkipBegins[static_cast<unsigned char>(text_[pos_])]) return;
    pos_ = after_blanks_and_comments(pos_);
  }

  // Where the skip would end from `p`, outside atomic context.
  [[gnu::noinline]] std::uint32_t after_blanks_and_comments(std::uint32_t p) const {
    return static_cast<std::uint32_t>(parser::after_blanks_and_comments(text_, p));
  }

  [[gnu::always_inline]] bool match_string(std::string_view lit) {
    if (size() - pos_ < lit.size() || std::memcmp(text_.data() + pos_, lit.data(), lit.size()) != 0)
      return false;
    pos_ += static_cast<std::uint32_t>(lit.size());
    return true;
  }

  // `lower` is the literal with its ASCII letters already lower-cased.
  [[gnu::always_inline]] bool match_insensitive(std::string_view lower) {
    if (size() - pos_ < lower.size()) return false;
    const char* s = text_.data() + pos_;
    for (std::size_t j = 0; j < lower.size(); ++j) {
      const char l = lower[j];
      if (is_letter(l) ? fold_to_letter(s[j]) != l : s[j] != l) return false;
    }
    pos_ += static_cast<std::uint32_t>(lower.size());
    return true;
  }

  // One character whose code point lies in [first, last]; all ranges of the
  // grammar are ASCII, so a non-ASCII character never matches.
  bool match_range(char first, char last) {
    if (pos_ >= size()) return false;
    const char c = text_[pos_];
    if (c < first || c > last) return false;
    ++pos_;
    return true;
  }

  // ANY: past one whole UTF-8 character.
  bool skip_char() {
    if (pos_ >= size()) return false;
    const auto c = static_cast<unsigned char>(text_[pos_]);
    std::uint32_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (len > size() - pos_) len = size() - pos_;
    pos_ += len;
    return true;
  }

  // Moves past `n` bytes that the caller has already looked at.
  void advance(std::uint32_t n) { pos_ += n; }

  bool at_word_end() const { return pos_ >= size() || !is_word_char(text_[pos_]); }

  // Switches used by the lookahead and atomic combinators; each restores.
  Lookahead enter_negative() {
    const Lookahead prev = look_;
    look_ = prev == Lookahead::negative ? Lookahead::positive : Lookahead::negative;
    pairs_ = false;
    return prev;
  }
  void leave_lookahead(Lookahead prev) {
    look_ = prev;
    pairs_ = context_makes_pairs();
  }
  // What leave_atomic restores: the context's atomicity and whether it makes
  // pairs, which atomic context rules out.
  struct Atomicity {
    bool atomic, pairs;
  };
  Atomicity enter_atomic() {
    const Atomicity prev{atomic_, pairs_};
    atomic_ = true;
    pairs_ = false;
    return prev;
  }
  void leave_atomic(Atomicity prev) {
    atomic_ = prev.atomic;
    pairs_ = prev.pairs;
  }

 private:
  // What a remembered attempt saves of the state around it.
  struct MemoMark {
    std::uint32_t pos, tokens;
    FailureRecord::Outer failures;
    std::uint32_t peak, depth;
  };

  // A remembered attempt runs with a failure record of its own (see
  // FailureRecord::begin_own) and counts its depth from its own start;
  // memo_end merges both back.
  MemoMark memo_begin() {
    const MemoMark m{pos_, ntokens_, failures_.begin_own(pos_), peak_, depth_};
    peak_ = depth_;
    return m;
  }
  std::uint32_t memo_end(const MemoMark& m, bool ok);
  // Replays entry `e`: 1 for a success, 0 for a failure, -1 when the attempt
  // would reach the nesting bound at this depth.
  int replay(std::uint32_t e);
  // Stands for the tokens of a success that is not in place at the end of
  // the list by one run token; finish() spells it out.
  void push_run(std::uint32_t index);

  // Closes the attempt `a` of a rule of kChain by folding its one child, when
  // that is the pair of the rule below it with the same span (see Token);
  // false, changing nothing, otherwise. Both engines fold alike, so their
  // token lists stay equal. Only spans of up to kFoldSpan bytes fold, which
  // bounds the tokens moved per stack.
  //
  // The child's opening token then goes: the content moves one token down
  // as it is, its links being distances.
  static constexpr std::uint32_t kFoldSpan = 256;
  [[gnu::noinline]] bool fold_child(Rule r, const Attempt& a) {
    Token* const t = tokens_.get();
    const std::uint32_t child = a.tokens + 1, end = ntokens_ - 1;
    // The last token closes the pair opened right after ours: our only child.
    if (end <= child || pos_ - a.pos > kFoldSpan) return false;
    const Token last = t[end];
    if (!last.closing || end - last.partner != child || last.rule != chain_below(r) ||
        last.offset != pos_ || t[child].offset != a.pos)
      return false;
    const auto inner = static_cast<std::uint8_t>(last.inner + 1);
    t[a.tokens] = Token{a.pos, end - a.tokens, r, false, inner};
    t[end] = Token{pos_, end - a.tokens, r, true, inner};
    drop_token(child);
    return true;
  }
  // Removes the token at `at`, which no link crosses, moving the rest down.
  [[gnu::noinline]] void drop_token(std::uint32_t at);

  // The bookkeeping of a rule attempt at `p` that passed the bounds.
  [[gnu::always_inline]] Attempt begin_attempt(std::uint32_t p) {
    --attempts_left_;
    if (++depth_ > peak_) peak_ = depth_;
    return {p, ntokens_, failures_.at(p), makes_pairs()};
  }
  // That of one that passed the bounds and failed at the position without
  // trying a rule.
  [[gnu::always_inline]] void fail_untried(Rule r) {
    --attempts_left_;
    peak_ = std::max(peak_, depth_ + 1);
    record_attempt_failure(r, pos_, failures_.at(pos_));
  }

  // The token list is a buffer kept between parses; undo only moves its end.
  [[gnu::always_inline]] void push_token(Token t) {
    if (ntokens_ < memo_.guard()) [[unlikely]] memo_.before_write(ntokens_, tokens_.get());
    if (ntokens_ == room_) [[unlikely]] grow_tokens();
    tokens_.get()[ntokens_++] = t;
  }
  [[gnu::cold]] [[gnu::noinline]] void grow_tokens();

  // Whether a rule attempt made now makes a pair: outside atomic context and
  // lookahead, in a pass that makes the tree. Kept in pairs_ as the context
  // changes, since every attempt reads it.
  bool makes_pairs() const { return pairs_; }
  bool context_makes_pairs() const { return !atomic_ && look_ == Lookahead::none && pass_ != Pass::report; }
  // The failure record of an attempt of `r` that began at `p`, where the
  // pass and the context keep one.
  void record_attempt_failure(Rule r, std::uint32_t p, std::uint32_t k) {
    if (records_failures()) failures_.note(r, p, k);
  }
  bool records_failures() const {
    return pass_ != Pass::tree && !atomic_ && look_ != Lookahead::negative;
  }
  [[gnu::cold]] [[gnu::noinline]] void bound_hit(std::uint32_t p);

  std::string_view text_;
  std::uint32_t pos_ = 0;
  // The working list: room_ tokens, ntokens_ in use. Grown by realloc, which
  // moves a large buffer by remapping its pages instead of copying it and
  // leaves the new room unwritten.
  struct Free {
    void operator()(Token* p) const { std::free(p); }
  };
  std::unique_ptr<Token, Free> tokens_;
  std::uint32_t room_ = 0;
  std::uint32_t ntokens_ = 0;
  std::uint32_t fold_from_ = kFoldFrom;
  bool fold_ = false;  // whether this parse folds
  std::vector<Token> tree_;  // the tokens spelled out, where the working list holds runs
  Lookahead look_ = Lookahead::none;
  bool atomic_ = false;
  bool pairs_ = true;  // context_makes_pairs()
  FailureRecord failures_;
  std::uint32_t depth_ = 0;
  std::uint32_t peak_ = 0;  // deepest depth_ since the innermost remembered attempt began
  std::uint32_t depth_limit_ = kMaxRuleDepth;  // dropped to 0 once a bound is hit: every attempt then fails
  std::uint64_t attempts_given_ = kBaseRuleAttempts;
  std::uint64_t attempts_left_ = kBaseRuleAttempts;
  Stop stop_ = Stop::none;
  std::uint32_t stop_at_ = 0;
  bool memo_on_ = true;
  bool shortcuts_on_ = true;
  Pass pass_ = Pass::both;
  Memo memo_;
};

using RuleFn = bool (*)(ParserState&);

}  // namespace torvane::parser
