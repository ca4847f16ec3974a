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

// The grammar, then the builder. The tokens stay in this thread's parser
// state, whose vectors keep their capacity from query to query (up to
// kKeptTokens); the tree copies every text it keeps, so nothing refers to the
// state afterwards.
Result<ast::CypherQuery, Failure> run(std::string_view query) {
  thread_local ParserState state;
  struct Release {
    ~Release() { state.release_above(kKeptTokens); }
  } release;
  auto ok = CypherParser::parse_into(state, Rule::cypher, query);
  if (!ok.ok()) return Err{Failure{std::in_place_index<0>, std::move(ok).error()}};
  const auto& tokens = state.tokens();
  const Pairs top(&tokens, query, 0, static_cast<std::uint32_t>(tokens.size()));
  const std::optional<Pair> cypher = top.peek();
  if (!cypher) return Err{Failure{NoParseResult{}}};
  auto built = builder::build_query(*cypher);
  if (!built.ok()) return Err{Failure{std::in_place_index<2>, std::move(built).error()}};
  return std::move(built).value();
}

}  // namespace

Result<ast::CypherQuery, CypherError> parse(std::string_view query) {
  auto r = run(query);
  if (r.ok()) return std::move(r).value();
  Failure& f = r.error();
  if (auto* syntax = std::get_if<SyntaxError>(&f)) return Err{CypherError::parse(syntax->display())};
  if (std::holds_alternative<NoParseResult>(f)) return Err{CypherError::parse(kNoParseResult)};
  return Err{std::move(std::get<CypherError>(f))};
}

Result<ast::CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query) {
  auto r = run(query);
  if (r.ok()) return std::move(r).value();
  Failure& f = r.error();
  if (auto* syntax = std::get_if<SyntaxError>(&f))
    return Err{ParseErrorDetail{std::pair{syntax->line, syntax->column}, syntax->display()}};
  if (std::holds_alternative<NoParseResult>(f))
    return Err{ParseErrorDetail{std::nullopt, kNoParseResult}};
  return Err{ParseErrorDetail{std::nullopt, std::get<CypherError>(f).display()}};
}

}  // namespace torvane::parser
