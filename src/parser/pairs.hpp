#pragma once
// The parse tree: one flat token list, two tokens per pair, and cheap handles
// into it. Handles borrow the token list and the query text; neither is copied.
#include <cstdint>
#include <optional>
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

class Pair {
 public:
  Pair(const std::vector<Token>* tokens, std::string_view text, std::uint32_t open)
      : tokens_(tokens), text_(text), open_(open) {}

  Rule as_rule() const { return close().rule; }
  std::uint32_t start() const { return (*tokens_)[open_].offset; }
  std::uint32_t end() const { return close().offset; }
  std::string_view as_str() const { return text_.substr(start(), end() - start()); }
  // The whole query text the pair belongs to.
  std::string_view source() const { return text_; }
  inline Pairs into_inner() const;

 private:
  friend class Pairs;
  const Token& close() const { return (*tokens_)[(*tokens_)[open_].partner]; }
  const std::vector<Token>* tokens_;
  std::string_view text_;
  std::uint32_t open_;
};

// A run of sibling pairs, read from the front: token indices [begin, end).
class Pairs {
 public:
  Pairs(const std::vector<Token>* tokens, std::string_view text, std::uint32_t begin,
        std::uint32_t end)
      : tokens_(tokens), text_(text), begin_(begin), end_(end) {}

  bool empty() const { return begin_ >= end_; }
  std::optional<Pair> peek() const {
    if (empty()) return std::nullopt;
    return Pair(tokens_, text_, begin_);
  }
  std::optional<Pair> next() {
    if (empty()) return std::nullopt;
    Pair p(tokens_, text_, begin_);
    begin_ = (*tokens_)[begin_].partner + 1;
    return p;
  }

  // Range-for over the remaining pairs (does not consume *this).
  class iterator {
   public:
    iterator(const Pairs* owner, std::uint32_t at) : owner_(owner), at_(at) {}
    Pair operator*() const { return Pair(owner_->tokens_, owner_->text_, at_); }
    iterator& operator++() {
      at_ = (*owner_->tokens_)[at_].partner + 1;
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
  const std::vector<Token>* tokens_;
  std::string_view text_;
  std::uint32_t begin_;
  std::uint32_t end_;
};

inline Pairs Pair::into_inner() const {
  return Pairs(tokens_, text_, open_ + 1, (*tokens_)[open_].partner);
}

}  // namespace torvane::parser
