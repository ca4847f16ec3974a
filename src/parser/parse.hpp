#pragma once
// The entry points that turn a query text into its syntax tree.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

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

// What a name stands for where the query writes it.
enum class NameRole : std::uint8_t { Label, RelType, PropertyKey };

// One name as written in the query text: bytes [start, end).
struct NamePlace {
  std::uint32_t start;
  std::uint32_t end;
  NameRole role;
};

// Where the query writes a node label (in a pattern, a SET or a REMOVE), a
// relationship type (in a pattern) or a property key (after a "." and as a
// key of a pattern's property map), in text order, read from its parse tree;
// none when the text does not parse. A map's key elsewhere is no property key.
std::optional<std::vector<NamePlace>> name_places(std::string_view query);

}  // namespace torvane::parser
