#pragma once
// CypherParser: runs one grammar rule over a whole query text and returns the
// parse tree or the syntax error.
#include <cstdint>
#include <string_view>
#include <vector>

#include "error/result.hpp"
#include "parser/pairs.hpp"
#include "parser/rule.hpp"
#include "parser/syntax_error.hpp"

namespace torvane::parser {

class ParserState;

// Owns the token list; Pairs borrow it, so don't move a tree after taking pairs().
struct ParseTree {
  std::vector<Token> tokens;
  std::string_view text;
  Pairs pairs() const;  // the top-level pairs (for `cypher`: the one cypher pair)
};

struct CypherParser {
  // Runs `start` from offset 0. Succeeds whenever the rule matches, whether or
  // not the text is used up (`cypher` itself demands the end of input).
  static Result<ParseTree, SyntaxError> parse(Rule start, std::string_view text);
  // The same on a caller's state, whose vectors keep their capacity from
  // parse to parse; on success the tokens stay in the state.
  static Result<bool, SyntaxError> parse_into(ParserState& state, Rule start, std::string_view text);
};

}  // namespace torvane::parser
