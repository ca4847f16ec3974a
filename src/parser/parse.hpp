#pragma once
// The entry points that turn a query text into its syntax tree.
#include <string_view>

#include "error/error.hpp"
#include "error/result.hpp"
#include "parser/ast.hpp"

namespace torvane::parser {

// A syntax error becomes a ParseError whose message is the multi-line
// syntax-error text; a builder failure is returned as the builder made it.
Result<ast::CypherQuery, CypherError> parse(std::string_view query);

// A syntax error carries its 1-based line and column and the bare multi-line
// text; any other failure has no position and its message is the error's
// display text ("Parse error: ...").
Result<ast::CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query);

}  // namespace torvane::parser
