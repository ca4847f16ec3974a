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

// What a property key is read from, where the query says: a variable (the
// first key after it in an expression, `v.k`, and every key of a SET or
// REMOVE item, `v.a.b`), or the pattern whose property map holds it. A key
// read from anything else (`f(x).k`, `xs[0].k`, the `b` of `v.a.b` in an
// expression) has no owner; neither has a label or type.
enum class KeyOwner : std::uint8_t { None, Variable, Pattern };

// One name as written in the query text: bytes [start, end).
struct NamePlace {
  std::uint32_t start;
  std::uint32_t end;
  NameRole role;
  KeyOwner owner = KeyOwner::None;
  // The owner: a variable's bytes [owner_start, owner_end) in the text, or
  // the places of the pattern's labels or types, [owner_start, owner_end) in
  // the list of places (none for a pattern without any).
  std::uint32_t owner_start = 0;
  std::uint32_t owner_end = 0;
};

// Where the query writes a node label (in a pattern, a SET or a REMOVE), a
// relationship type (in a pattern) or a property key (after a "." and as a
// key of a pattern's property map), in text order, read from its parse tree,
// each key with its owner; none when the text does not parse. A map's key
// elsewhere is no property key.
std::optional<std::vector<NamePlace>> name_places(std::string_view query);

}  // namespace torvane::parser
