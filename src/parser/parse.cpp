#include "parser/parse.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

#include "parser/builder.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"

namespace torvane::parser {

namespace {

constexpr const char* kNoParseResult = "No parse result";

struct NoParseResult {};
using Failure = std::variant<SyntaxError, NoParseResult, CypherError>;

// Tokens a thread keeps between parses: plenty for real queries (a few
// thousand tokens), while a huge one's buffers (tens of MiB) are given back.
constexpr std::size_t kKeptTokens = 1 << 16;

// The grammar, then the builder into `out`, the tree inside the caller's
// result; the failure, if any. The tokens stay in this thread's parser
// state, whose vectors keep their capacity from query to query (up to
// kKeptTokens); the tree copies every text it keeps, so nothing refers to the
// state afterwards.
std::optional<Failure> run(std::string_view query, ast::CypherQuery& out) {
  thread_local ParserState state;
  struct Release {
    ~Release() { state.release_above(kKeptTokens); }
  } release;
  auto ok = CypherParser::parse_into(state, Rule::cypher, query);
  if (!ok.ok()) return Failure{std::in_place_index<0>, std::move(ok).error()};
  state.release_memo_above(kKeptTokens);
  const Pairs top(state.tokens(), query);
  const std::optional<Pair> cypher = top.peek();
  if (!cypher) return Failure{NoParseResult{}};
  if (std::optional<CypherError> e = builder::build_query(*cypher, out))
    return Failure{std::in_place_index<2>, std::move(*e)};
  return std::nullopt;
}

CypherError as_error(Failure& f) {
  if (auto* syntax = std::get_if<SyntaxError>(&f)) return CypherError::parse(syntax->display());
  if (std::holds_alternative<NoParseResult>(f)) return CypherError::parse(kNoParseResult);
  return std::move(std::get<CypherError>(f));
}

ParseErrorDetail as_detail(Failure& f) {
  if (auto* syntax = std::get_if<SyntaxError>(&f))
    return ParseErrorDetail{std::pair{syntax->line, syntax->column}, syntax->display()};
  if (std::holds_alternative<NoParseResult>(f))
    return ParseErrorDetail{std::nullopt, kNoParseResult};
  return ParseErrorDetail{std::nullopt, std::get<CypherError>(f).display()};
}

}  // namespace

Result<ast::CypherQuery, CypherError> parse(std::string_view query) {
  Result<ast::CypherQuery, CypherError> r{ast::CypherQuery{}};
  if (std::optional<Failure> f = run(query, r.value())) r = Err{as_error(*f)};
  return r;
}

Result<ast::CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query) {
  Result<ast::CypherQuery, ParseErrorDetail> r{ast::CypherQuery{}};
  if (std::optional<Failure> f = run(query, r.value())) r = Err{as_detail(*f)};
  return r;
}

}  // namespace torvane::parser
