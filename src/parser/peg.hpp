#pragma once
// The combinators that the grammar's rule bodies are made of: sequence,
// ordered choice, optional part, repetition, negative lookahead, atomic body
// and the literals and character classes, each a small struct whose call
// operator runs it on the parse state. They hold only other combinators or
// function pointers, so a body expression costs no allocation and inlines
// into its rule function. The Kind of each (see engine.hpp) tells
// ParserState::rule how to order its bookkeeping around a body.
#include <algorithm>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "ascii.hpp"
#include "parser/engine.hpp"

namespace torvane::parser::peg {

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
  for (auto& ch : t.c) ch = ascii_lower(ch);
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
    const auto prev = s.enter_atomic();
    const bool ok = call(s, part);
    s.leave_atomic(prev);
    return ok;
  }
};

template <Text S>
inline constexpr Kind kKind<Lit<S>> = Kind::terminal;
template <Text S>
inline constexpr Kind kKind<Kw<S>> = Kind::terminal;
template <>
inline constexpr Kind kKind<We> = Kind::terminal;
template <>
inline constexpr Kind kKind<Soi> = Kind::terminal;
template <>
inline constexpr Kind kKind<Any> = Kind::terminal;
template <char First, char Last>
inline constexpr Kind kKind<Range<First, Last>> = Kind::terminal;
template <class P>
inline constexpr Kind kKind<Atomic<P>> = kTerminal<P> ? Kind::terminal : Kind::leaf;
// A combination is what the least of its parts is.
template <class... P>
inline constexpr Kind kKind<Seq<P...>> = std::min({kKind<P>...});
template <class... P>
inline constexpr Kind kKind<Alt<P...>> = std::min({kKind<P>...});
template <class P>
inline constexpr Kind kKind<Opt<P>> = kKind<P>;
template <class P>
inline constexpr Kind kKind<Star<P>> = kKind<P>;
template <class P>
inline constexpr Kind kKind<Not<P>> = kKind<P>;

template <class H, class... P>
inline constexpr bool kTerminalHead<Seq<H, P...>> = kTerminal<H> && !(kTerminal<P> && ...);

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

}  // namespace torvane::parser::peg
