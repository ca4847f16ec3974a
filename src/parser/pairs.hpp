#pragma once
// The parse tree: one flat token list, two tokens per pair, and cheap handles
// into it. Handles borrow the token list and the query text; neither is copied.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "parser/rule.hpp"

namespace torvane::parser {

// The rules an expression passes through on its way to an atom, each the
// first child of the one before. Where an operand has no operator, each of
// them holds just the next, over one span: such a stack of pairs takes one
// pair of tokens, the outermost's, which counts the pairs folded below it
// (`inner`), and handles present the stack pair by pair. A list of a million
// numbers keeps a sixth of the tokens it would otherwise. (Only large texts
// fold: see ParserState::set_fold_from.)
inline constexpr std::array<Rule, 13> kChain = {
    Rule::expression,      Rule::or_expr,      Rule::xor_expr,     Rule::and_expr, Rule::not_expr,
    Rule::comparison_expr, Rule::add_sub_expr, Rule::mul_div_expr, Rule::mod_expr, Rule::power_expr,
    Rule::unary_expr,      Rule::postfix_expr, Rule::atom};

// Each rule's place in kChain, or kChain.size().
inline constexpr auto kChainIndex = [] {
  std::array<std::uint8_t, rule_count> at{};
  at.fill(static_cast<std::uint8_t>(kChain.size()));
  for (std::size_t i = 0; i < kChain.size(); ++i)
    at[static_cast<std::size_t>(kChain[i])] = static_cast<std::uint8_t>(i);
  return at;
}();

// kChain and after it Rule::count, which no pair has.
inline constexpr auto kChainThen = [] {
  std::array<Rule, kChain.size() + 1> then{};
  for (std::size_t i = 0; i < kChain.size(); ++i) then[i] = kChain[i];
  then[kChain.size()] = Rule::count;
  return then;
}();

// The rule `depth` places below `r` in kChain (`r` one of its rules).
constexpr Rule chain_rule(Rule r, std::uint32_t depth) {
  return kChain[kChainIndex[static_cast<std::size_t>(r)] + depth];
}
// The rule right below `r` in kChain, or Rule::count when `r` is none of its
// rules or the last.
constexpr Rule chain_below(Rule r) {
  const std::size_t i = kChainIndex[static_cast<std::size_t>(r)];
  return i + 1 < kChain.size() ? kChain[i + 1] : Rule::count;
}

struct Token {
  std::uint32_t offset;   // start (opening token) or end (closing token), in bytes
  std::uint32_t partner;  // how many tokens away the matching token lies, either way
  Rule rule;  // the pair's rule (set on the closing token); the outermost one's when folded
  bool closing;
  std::uint8_t inner = 0;  // pairs of kChain folded below this one (on both tokens)
};
static_assert(std::is_trivially_destructible_v<Token> && sizeof(Token) == 12);

class Pairs;

// Handles point at tokens rather than index the vector: one load less on
// every step, and the list is never changed while handles live. A folded
// pair stands for 1 + `inner` pairs; a handle names one of them by its depth
// below the outermost.
class Pair {
 public:
  Pair(const std::vector<Token>* tokens, std::string_view text, std::uint32_t open,
       std::uint8_t depth = 0)
      : Pair(tokens->data() + open, text, depth) {}

  [[gnu::always_inline]] Rule as_rule() const {
    return depth_ == 0 ? close().rule : chain_rule(close().rule, depth_);
  }
  std::uint32_t start() const { return open_->offset; }
  std::uint32_t end() const { return close().offset; }
  // The grammar puts every span inside the text, so no bound is checked.
  std::string_view as_str() const { return {text_.data() + start(), end() - start()}; }
  // The whole query text the pair belongs to.
  std::string_view source() const { return text_; }
  inline Pairs into_inner() const;
  // The first inner pair, if any.
  [[gnu::always_inline]] std::optional<Pair> first_child() const {
    if (depth_ < open_->inner) return Pair(open_, text_, static_cast<std::uint8_t>(depth_ + 1));
    const Token* const child = open_ + 1;
    if (child == &close()) return std::nullopt;
    return Pair(child, text_, 0);
  }
  // Steps down from this pair through the pairs of kChain that each hold just
  // the next rule of kChain, starting where they start: the levels that an
  // operand without an operator passes. The pair where that ends; a pair of
  // no rule of kChain is its own end. A fold is such a stack, passed at once.
  [[gnu::always_inline]] Pair descend_chain() const {
    const Token* first = open_;
    std::uint32_t span = first->partner;  // tokens from the current pair's opening to its closing
    const Token* last = first + span;
    const std::uint32_t start = first->offset;
    std::uint32_t depth = depth_;
    // The current pair's place in kChain, which the next one must follow.
    std::uint32_t at = kChainIndex[static_cast<std::size_t>(last->rule)] + depth;
    if (at >= kChain.size()) return *this;
    if (depth < first->inner) {
      at += first->inner - depth;
      depth = first->inner;
    }
    // The rule the next pair must have; Rule::count past the last.
    const Rule* want = &kChainThen[at + 1];
    for (;;) {
      // The lone child closes right before its parent: two tokens less far.
      // (A pair with no child has its closing token there, whose partner, 1,
      // is never span - 2, which wraps round.)
      const Token* child = first + 1;
      if (child->partner != span - 2 || child->offset != start || last[-1].rule != *want) break;
      first = child;
      --last;
      span -= 2;
      // The pairs folded into the child, if any, are passed with it.
      depth = first->inner;
      want += 1 + depth;
    }
    return Pair(first, text_, static_cast<std::uint8_t>(depth));
  }
  // Steps down from this pair through pairs that each hold exactly one inner
  // pair, while `follow(pair, its rule, the inner pair's rule)` agrees; the
  // pair where it stopped. A lone inner pair is the next one of a fold, or
  // opens right after its parent and closes right before it, so each step
  // reads two tokens.
  template <class Follow>
  Pair descend_while(Follow follow) const {
    // Pointers to the current pair's two tokens walk inwards one token each.
    const Token* first = open_;
    const Token* last = first + first->partner;
    std::uint8_t depth = depth_;
    for (;;) {
      if (depth < first->inner) {
        const Rule outer = last->rule;
        const Rule rule = depth == 0 ? outer : chain_rule(outer, depth);
        if (!follow(Pair(first, text_, depth), rule, chain_rule(outer, depth + 1u))) break;
        ++depth;
        continue;
      }
      if (first + 1 == last || first + 2 + first[1].partner != last) break;
      const Rule rule = depth == 0 ? last->rule : chain_rule(last->rule, depth);
      if (!follow(Pair(first, text_, depth), rule, last[-1].rule)) break;
      ++first, --last;
      depth = 0;
    }
    return Pair(first, text_, depth);
  }

 private:
  friend class Pairs;
  Pair(const Token* open, std::string_view text, std::uint8_t depth)
      : open_(open), text_(text), depth_(depth) {}
  const Token& close() const { return open_[open_->partner]; }
  const Token* open_;
  std::string_view text_;
  std::uint8_t depth_;
};

// A run of sibling pairs, read from the front: the tokens [begin, end), the
// first at depth `depth` of its fold (a pair inside a fold has no siblings).
class Pairs {
 public:
  // The top-level pairs of a token list.
  Pairs(std::span<const Token> tokens, std::string_view text)
      : Pairs(tokens.data(), tokens.data() + tokens.size(), text, 0) {}

  bool empty() const { return begin_ >= end_; }
  // The tokens the remaining pairs take, two for each pair of theirs, nested
  // ones included: twice their number where all of them are leaves.
  std::uint32_t tokens() const { return static_cast<std::uint32_t>(end_ - begin_); }
  std::optional<Pair> peek() const {
    if (empty()) return std::nullopt;
    return Pair(begin_, text_, depth_);
  }
  std::optional<Pair> next() {
    if (empty()) return std::nullopt;
    Pair p(begin_, text_, depth_);
    begin_ += begin_->partner + 1;
    depth_ = 0;
    return p;
  }

  // Range-for over the remaining pairs (does not consume *this).
  class iterator {
   public:
    iterator(const Pairs* owner, const Token* at, std::uint8_t depth)
        : owner_(owner), at_(at), depth_(depth) {}
    Pair operator*() const { return Pair(at_, owner_->text_, depth_); }
    iterator& operator++() {
      at_ += at_->partner + 1;
      depth_ = 0;
      return *this;
    }
    bool operator!=(const iterator& o) const { return at_ != o.at_; }

   private:
    const Pairs* owner_;
    const Token* at_;
    std::uint8_t depth_;
  };
  iterator begin() const { return {this, begin_, depth_}; }
  iterator end() const { return {this, end_, 0}; }

 private:
  friend class Pair;
  Pairs(const Token* begin, const Token* end, std::string_view text, std::uint8_t depth)
      : begin_(begin), end_(end), text_(text), depth_(depth) {}
  const Token* begin_;
  const Token* end_;
  std::string_view text_;
  std::uint8_t depth_;
};

[[gnu::always_inline]] inline Pairs Pair::into_inner() const {
  const Token* const close = open_ + open_->partner;
  if (depth_ < open_->inner)
    return Pairs(open_, close + 1, text_, static_cast<std::uint8_t>(depth_ + 1));
  return Pairs(open_ + 1, close, text_, 0);
}

}  // namespace torvane::parser
