#include "parser/parse.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>

#include "parser/builder.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"
#include "parser/pairs.hpp"

namespace torvane::parser {

namespace {

constexpr const char* kNoParseResult = "No parse result";

struct NoParseResult {};
using Failure = std::variant<SyntaxError, NoParseResult, CypherError>;

// Tokens a thread keeps between parses: plenty for real queries (a few
// thousand tokens), while a huge one's buffers (tens of MiB) are given back.
constexpr std::size_t kKeptTokens = 1 << 16;

// This thread's parser state, shared by every parse of the thread.
ParserState& thread_state() {
  thread_local ParserState state;
  return state;
}

// Gives a huge parse's buffers back when it goes out of scope.
struct Release {
  ParserState& state;
  ~Release() { state.release_above(kKeptTokens); }
};

// The grammar, then the builder into `out`, the tree inside the caller's
// result; the failure, if any. The tokens stay in this thread's parser
// state, whose vectors keep their capacity from query to query (up to
// kKeptTokens); the tree copies every text it keeps, so nothing refers to the
// state afterwards.
std::optional<Failure> run(std::string_view query, ast::CypherQuery& out) {
  ParserState& state = thread_state();
  const Release release{state};
  auto ok = CypherParser::parse_into(state, Rule::cypher, query);
  if (!ok.ok()) return Failure{std::in_place_index<0>, std::move(ok).error()};
  state.release_memo_above(kKeptTokens);
  const Pairs top(state.tokens(), query);
  const std::optional<Pair> cypher = top.peek();
  if (!cypher) return Failure{NoParseResult{}};
  std::optional<builder::BuildFailure> e = builder::build_query(*cypher, out);
  if (!e) return std::nullopt;
  if (auto* too_deep = std::get_if<SyntaxError>(&*e))
    return Failure{std::in_place_index<0>, std::move(*too_deep)};
  return Failure{std::in_place_index<2>, std::get<CypherError>(std::move(*e))};
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

std::optional<std::vector<NamePlace>> name_places(std::string_view query) {
  ParserState& state = thread_state();
  const Release release{state};
  if (!CypherParser::parse_into(state, Rule::cypher, query).ok()) return std::nullopt;
  // Down the pairs with a stack of the sibling runs still to read, each
  // beside the rule of the pair that holds it: no recursion.
  std::vector<std::pair<Pairs, Rule>> levels{{Pairs(state.tokens(), query), Rule::count}};
  const auto outer = [&levels](std::size_t up) {
    return levels.size() >= up ? levels[levels.size() - up].second : Rule::count;
  };
  std::vector<NamePlace> places;
  while (!levels.empty()) {
    const std::optional<Pair> p = levels.back().first.next();
    if (!p) {
      levels.pop_back();
      continue;
    }
    const Rule rule = p->as_rule();
    std::optional<NameRole> role;
    if (rule == Rule::label_name) {
      role = NameRole::Label;
    } else if (rule == Rule::rel_type_name) {
      role = NameRole::RelType;
    } else if (rule == Rule::property_key_name) {
      // After a "."; or the key of a map that is a pattern's property map.
      if (outer(1) == Rule::property_lookup ||
          (outer(1) == Rule::property_key_value_pair && outer(2) == Rule::map_literal &&
           outer(3) == Rule::properties))
        role = NameRole::PropertyKey;
    }
    if (role) places.push_back(NamePlace{p->start(), p->end(), *role});
    levels.emplace_back(p->into_inner(), rule);
  }
  return places;
}

}  // namespace torvane::parser
