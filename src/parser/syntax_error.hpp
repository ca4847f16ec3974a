#pragma once
// The syntax error of a rejected query text and its six-line display text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/rule.hpp"

namespace torvane::parser {

struct SyntaxError {
  std::uint32_t position;          // byte offset of the furthest failure
  std::vector<Rule> expected;      // sorted by Rule value, no repeats; empty only for a nesting or work error
  std::uint32_t line, column;      // 1-based, column counts characters
  std::string line_text;
  std::string message;             // "expected ..."
  std::string display() const;     // the six-line text
};

// The error for a failure at `position` with the expected rules in recording
// order (repeats allowed).
SyntaxError make_syntax_error(std::string_view text, std::uint32_t position, std::vector<Rule> expected);

// The error for a query that nests deeper than the parser allows.
SyntaxError make_nesting_error(std::string_view text, std::uint32_t position);

// The error for a query whose parse would take more rule attempts than the
// parser allows for its length.
SyntaxError make_work_error(std::string_view text, std::uint32_t position);

}  // namespace torvane::parser
