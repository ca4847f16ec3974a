#pragma once
// The parse tree: one flat token list, two tokens per pair, and cheap handles
// into it. Handles borrow the token list and the query text; neither is copied.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "parser/rule.hpp"

namespace torvane::parser {

struct Token {
  std::uint32_t offset;   // start (opening token) or end (closing token), in bytes
  std::uint32_t partner;  // index of the matching token
  Rule rule;              // the pair's rule (set on the closing token)
  bool closing;
};
static_assert(std::is_trivially_destructible_v<Token>);

class Pairs;

// Handles keep the token list's first element rather than the vector: one
// load less on every step, and the list is never changed while handles live.
class Pair {
 public:
  Pair(const std::vector<Token>* tokens, std::string_view text, std::uint32_t open)
      : Pair(tokens->data(), text, open) {}

  Rule as_rule() const { return close().rule; }
  std::uint32_t start() const { return tokens_[open_].offset; }
  std::uint32_t end() const { return close().offset; }
  // The grammar puts every span inside the text, so no bound is checked.
  std::string_view as_str() const { return {text_.data() + start(), end() - start()}; }
  // The whole query text the pair belongs to.
  std::string_view source() const { return text_; }
  inline Pairs into_inner() const;
  // The first inner pair, if any.
  std::optional<Pair> first_child() const {
    const std::uint32_t child = open_ + 1;
    if (child == tokens_[open_].partner) return std::nullopt;
    return Pair(tokens_, text_, child);
  }
  // Steps down from this pair through pairs that each hold exactly one inner
  // pair, while `follow(pair, its rule, the inner pair's rule)` agrees; the
  // pair where it stopped. A lone inner pair opens right after its parent and
  // closes right before it, so each step reads two tokens.
  template <class Follow>
  Pair descend_while(Follow follow) const {
    // Pointers to the current pair's two tokens walk inwards one token each.
    std::uint32_t open = open_, close = tokens_[open].partner;
    const Token* first = tokens_ + open;
    const Token* last = tokens_ + close;
    while (first + 1 != last && first[1].partner + 1 == close &&
           follow(Pair(tokens_, text_, open), last->rule, last[-1].rule)) {
      ++open, --close, ++first, --last;
    }
    return Pair(tokens_, text_, open);
  }

 private:
  friend class Pairs;
  Pair(const Token* tokens, std::string_view text, std::uint32_t open)
      : tokens_(tokens), text_(text), open_(open) {}
  const Token& close() const { return tokens_[tokens_[open_].partner]; }
  const Token* tokens_;
  std::string_view text_;
  std::uint32_t open_;
};

// A run of sibling pairs, read from the front: token indices [begin, end).
class Pairs {
 public:
  // The top-level pairs of a token list.
  Pairs(std::span<const Token> tokens, std::string_view text)
      : Pairs(tokens.data(), text, 0, static_cast<std::uint32_t>(tokens.size())) {}

  bool empty() const { return begin_ >= end_; }
  std::optional<Pair> peek() const {
    if (empty()) return std::nullopt;
    return Pair(tokens_, text_, begin_);
  }
  std::optional<Pair> next() {
    if (empty()) return std::nullopt;
    Pair p(tokens_, text_, begin_);
    begin_ = tokens_[begin_].partner + 1;
    return p;
  }

  // Range-for over the remaining pairs (does not consume *this).
  class iterator {
   public:
    iterator(const Pairs* owner, std::uint32_t at) : owner_(owner), at_(at) {}
    Pair operator*() const { return Pair(owner_->tokens_, owner_->text_, at_); }
    iterator& operator++() {
      at_ = owner_->tokens_[at_].partner + 1;
      return *this;
    }
    bool operator!=(const iterator& o) const { return at_ != o.at_; }

   private:
    const Pairs* owner_;
    std::uint32_t at_;
  };
  iterator begin() const { return {this, begin_}; }
  iterator end() const { return {this, end_}; }

 private:
  friend class Pair;
  Pairs(const Token* tokens, std::string_view text, std::uint32_t begin, std::uint32_t end)
      : tokens_(tokens), text_(text), begin_(begin), end_(end) {}
  const Token* tokens_;
  std::string_view text_;
  std::uint32_t begin_;
  std::uint32_t end_;
};

inline Pairs Pair::into_inner() const {
  return Pairs(tokens_, text_, open_ + 1, tokens_[open_].partner);
}

}  // namespace torvane::parser
