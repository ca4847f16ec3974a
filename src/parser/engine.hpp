#pragma once
// The PEG engine that carries the grammar: one parse state and a handful of
// combinators (sequence, ordered choice, optional, repetition, lookahead,
// literals). Rule bodies in grammar.cpp are compositions of these and nothing
// else; skipping, atomic mode, undo and failure tracking all live here.
//
// The combinators are small structs whose call operator takes the state; they
// hold only other combinators or function pointers, so a body expression costs
// no allocation and inlines into its rule function.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "parser/pairs.hpp"
#include "parser/rule.hpp"

namespace torvane::parser {

// Bound on nested rule attempts. Each level of parentheses in an expression
// costs 14 nested attempts, so 1000 allows about 70 levels, far beyond any
// real query. One attempt takes under 100 bytes of native stack here, and the
// tree builder and the validator recurse at most once per pair level, so the
// three passes together stay well inside a 512 KiB worker-thread stack.
inline constexpr std::uint32_t kMaxRuleDepth = 1000;

// Bound on the number of rule attempts of one parse. The engine keeps no memo,
// so text that later alternatives read again can cost time exponential in its
// nesting (each nested list comprehension reads its inner text about four
// times). Real queries take under 20 attempts per byte; the bound leaves room
// for far more and stops a parse that would otherwise run for hours.
inline constexpr std::uint64_t kBaseRuleAttempts = 1'000'000;
inline constexpr std::uint64_t kRuleAttemptsPerByte = 256;

class ParserState {
 public:
  enum class Lookahead : std::uint8_t { none, positive, negative };

  // All that undo restores.
  struct Mark {
    std::uint32_t pos;
    std::uint32_t tokens;
  };

  // Starts a fresh parse of `text`; keeps the vectors' capacity.
  void reset(std::string_view text) {
    text_ = text;
    pos_ = 0;
    ntokens_ = 0;
    look_ = Lookahead::none;
    atomic_ = false;
    furthest_ = 0;
    expected_.clear();
    depth_ = 0;
    depth_limit_ = kMaxRuleDepth;
    attempts_left_ = kBaseRuleAttempts + kRuleAttemptsPerByte * text.size();
    stop_ = Stop::none;
    stop_at_ = 0;
  }

  std::string_view text() const { return text_; }
  std::uint32_t pos() const { return pos_; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(text_.size()); }
  // The parse tree of the last successful parse (after finish()).
  const std::vector<Token>& tokens() const { return tree_; }
  // Copies the tokens made so far into tokens().
  void finish() { tree_.assign(tokens_.data(), tokens_.data() + ntokens_); }
  std::uint32_t furthest() const { return furthest_; }
  const std::vector<Rule>& expected() const { return expected_; }
  bool atomic_context() const { return atomic_; }
  Lookahead lookahead() const { return look_; }
  // Which bound stopped the parse, if one did, and where.
  enum class Stop : std::uint8_t { none, too_deep, too_long };
  Stop stopped() const { return stop_; }
  std::uint32_t stopped_at() const { return stop_at_; }

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
    const std::uint32_t p = pos_;
    const std::uint32_t i = ntokens_;
    const auto k = p == furthest_ ? static_cast<std::uint32_t>(expected_.size()) : 0u;
    if (depth_ >= depth_limit_ || attempts_left_ == 0) [[unlikely]] {
      bound_hit(p);
      return false;
    }
    --attempts_left_;
    const bool pairs = !atomic_ && look_ == Lookahead::none;
    if (pairs) push_token(Token{p, 0, r, false});
    ++depth_;
    const bool ok = body(*this);
    --depth_;
    if (ok) {
      if (pairs) {
        tokens_[i].partner = ntokens_;
        push_token(Token{pos_, i, r, true});
      }
      return true;
    }
    pos_ = p;
    if (!atomic_ && look_ != Lookahead::negative) note_failure(r, p, k);
    if (pairs) ntokens_ = i;
    return false;
  }

  // The implicit skip: WHITESPACE*, then (COMMENT WHITESPACE*)*. Written out
  // by hand; it does exactly what those two silent rules describe.
  void skip() {
    if (atomic_) return;
    const char* const s = text_.data();
    const std::uint32_t n = size();
    std::uint32_t p = pos_;
    for (;;) {
      while (p < n && is_blank(s[p])) ++p;
      if (p + 1 >= n || s[p] != '/') break;
      if (s[p + 1] == '/') {
        const void* nl = std::memchr(s + p + 2, '\n', n - p - 2);
        p = nl ? static_cast<std::uint32_t>(static_cast<const char*>(nl) - s) + 1 : n;
      } else if (s[p + 1] == '*') {
        const std::uint32_t close = find_block_end(p + 2);
        if (close == kNotFound) break;  // an unclosed "/*" is no comment
        p = close + 2;
      } else {
        break;
      }
    }
    pos_ = p;
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
      const auto c = static_cast<unsigned char>(s[j]);
      if (l >= 'a' && l <= 'z' ? (c | 0x20u) != static_cast<unsigned char>(l)
                               : c != static_cast<unsigned char>(l))
        return false;
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

  bool at_word_end() const { return pos_ >= size() || !is_wordchar(text_[pos_]); }

  static constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static constexpr bool is_wordchar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }

  // Switches used by the lookahead and atomic combinators; each restores.
  Lookahead enter_negative() {
    const Lookahead prev = look_;
    look_ = prev == Lookahead::negative ? Lookahead::positive : Lookahead::negative;
    return prev;
  }
  void leave_lookahead(Lookahead prev) { look_ = prev; }
  bool enter_atomic() {
    const bool prev = atomic_;
    atomic_ = true;
    return prev;
  }
  void leave_atomic(bool prev) { atomic_ = prev; }

 private:
  static constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;

  std::uint32_t find_block_end(std::uint32_t from) const;

  // The token list is a buffer kept between parses; undo only moves its end.
  void push_token(Token t) {
    if (ntokens_ == tokens_.size()) [[unlikely]] grow_tokens();
    tokens_[ntokens_++] = t;
  }
  [[gnu::cold]] [[gnu::noinline]] void grow_tokens();

  // Failure tracking: one compare inline, the update out of line.
  void note_failure(Rule r, std::uint32_t p, std::uint32_t k) {
    if (p < furthest_) return;
    record_failure(r, p, k);
  }
  [[gnu::cold]] [[gnu::noinline]] void record_failure(Rule r, std::uint32_t p, std::uint32_t k);
  [[gnu::cold]] [[gnu::noinline]] void bound_hit(std::uint32_t p);

  std::string_view text_;
  std::uint32_t pos_ = 0;
  std::vector<Token> tokens_;  // its size is the capacity; ntokens_ are in use
  std::uint32_t ntokens_ = 0;
  std::vector<Token> tree_;
  Lookahead look_ = Lookahead::none;
  bool atomic_ = false;
  std::uint32_t furthest_ = 0;
  std::vector<Rule> expected_;  // in recording order; sorted only for the report
  std::uint32_t depth_ = 0;
  std::uint32_t depth_limit_ = kMaxRuleDepth;  // dropped to 0 once a bound is hit: every attempt then fails
  std::uint64_t attempts_left_ = kBaseRuleAttempts;
  Stop stop_ = Stop::none;
  std::uint32_t stop_at_ = 0;
};

using RuleFn = bool (*)(ParserState&);

// ---------------------------------------------------------------------------
// Combinators.

namespace peg {

// A literal as a class-type template argument.
template <std::size_t N>
struct Text {
  char c[N - 1 > 0 ? N - 1 : 1]{};
  static constexpr std::size_t size = N - 1;
  constexpr Text(const char (&s)[N]) {
    for (std::size_t i = 0; i + 1 < N; ++i) c[i] = s[i];
  }
  constexpr std::string_view view() const { return {c, size}; }
};

template <std::size_t N>
constexpr Text<N> lowered(Text<N> t) {
  for (auto& ch : t.c)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return t;
}

// Exact literal "..."
template <Text S>
struct Lit {
  bool operator()(ParserState& s) const { return s.match_string(S.view()); }
};

// Case-insensitive literal ^"..."
template <Text S>
struct Kw {
  static constexpr Text<S.size + 1> lower = lowered(S);
  bool operator()(ParserState& s) const { return s.match_insensitive(lower.view()); }
};

// WE, the word end. A sequence never skips in front of it.
struct We {
  bool operator()(ParserState& s) const { return s.at_word_end(); }
};

struct Soi {
  bool operator()(ParserState& s) const { return s.pos() == 0; }
};

struct Any {
  bool operator()(ParserState& s) const { return s.skip_char(); }
};

template <char First, char Last>
struct Range {
  bool operator()(ParserState& s) const { return s.match_range(First, Last); }
};

// A rule attempt, through a pointer to its function.
inline bool call(ParserState& s, RuleFn f) { return f(s); }
template <class P>
inline bool call(ParserState& s, const P& p) { return p(s); }

template <class P>
using Elem = std::conditional_t<std::is_function_v<P>, std::add_pointer_t<P>, P>;

template <class... P>
struct Seq {
  std::tuple<P...> parts;
  bool operator()(ParserState& s) const {
    const ParserState::Mark m = s.mark();
    if (run<0>(s)) return true;
    s.restore(m);
    return false;
  }
  template <std::size_t I>
  bool run(ParserState& s) const {
    if constexpr (I == sizeof...(P)) {
      return true;
    } else {
      using E = std::tuple_element_t<I, std::tuple<P...>>;
      if constexpr (I > 0 && !std::is_same_v<E, We>) s.skip();
      if (!call(s, std::get<I>(parts))) return false;
      return run<I + 1>(s);
    }
  }
};

template <class... P>
struct Alt {
  std::tuple<P...> parts;
  bool operator()(ParserState& s) const {
    return std::apply([&s](const auto&... p) { return (call(s, p) || ...); }, parts);
  }
};

template <class P>
struct Opt {
  P part;
  bool operator()(ParserState& s) const {
    (void)call(s, part);
    return true;
  }
};

// x*: greedy; each further iteration is skip ~ x and gives its skip back when
// x fails.
template <class P>
struct Star {
  P part;
  bool operator()(ParserState& s) const {
    if (!call(s, part)) return true;
    if (s.atomic_context()) {
      while (call(s, part)) {
      }
      return true;
    }
    for (;;) {
      const ParserState::Mark m = s.mark();
      s.skip();
      if (!call(s, part)) {
        s.restore(m);
        return true;
      }
    }
  }
};

// !x
template <class P>
struct Not {
  P part;
  bool operator()(ParserState& s) const {
    const ParserState::Mark m = s.mark();
    const auto prev = s.enter_negative();
    const bool ok = call(s, part);
    s.leave_lookahead(prev);
    s.restore(m);
    return !ok;
  }
};

template <class P>
struct Atomic {
  P part;
  bool operator()(ParserState& s) const {
    const bool prev = s.enter_atomic();
    const bool ok = call(s, part);
    s.leave_atomic(prev);
    return ok;
  }
};

template <class... P>
constexpr Seq<Elem<P>...> seq(const P&... p) {
  return {{p...}};
}
template <class... P>
constexpr Alt<Elem<P>...> alt(const P&... p) {
  return {{p...}};
}
template <class P>
constexpr Opt<Elem<P>> opt(const P& p) {
  return {p};
}
template <class P>
constexpr Star<Elem<P>> star(const P& p) {
  return {p};
}
// x+ is exactly x ~ x*: the skip after the first x stays even when no second
// x follows.
template <class P>
constexpr auto plus(const P& p) {
  return seq(p, star(p));
}
template <class P>
constexpr Not<Elem<P>> neg(const P& p) {
  return {p};
}
template <class P>
constexpr Atomic<Elem<P>> atomic(const P& p) {
  return {p};
}

template <Text S>
inline constexpr Lit<S> lit{};
template <Text S>
inline constexpr Kw<S> kw{};
inline constexpr We we{};
inline constexpr Soi soi{};
inline constexpr Any any{};
template <char First, char Last>
inline constexpr Range<First, Last> range{};

}  // namespace peg
}  // namespace torvane::parser
