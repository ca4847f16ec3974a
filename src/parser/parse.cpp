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

// The tree is made in its result, not beside it and moved in.
Result<ast::CypherQuery, CypherError> parse(std::string_view query) {
  Result<ast::CypherQuery, CypherError> r{std::in_place};
  if (std::optional<Failure> f = run(query, r.value())) r = Err{as_error(*f)};
  return r;
}

Result<ast::CypherQuery, ParseErrorDetail> parse_with_detail(std::string_view query) {
  Result<ast::CypherQuery, ParseErrorDetail> r{std::in_place};
  if (std::optional<Failure> f = run(query, r.value())) r = Err{as_detail(*f)};
  return r;
}

namespace {

// The variable that an atom is, bare or in parentheses, as the tree builder
// reads it: down levels that each hold just their one operand, no unary minus.
std::optional<Pair> bare_variable(Pair atom) {
  const Pair p = atom.descend_while([](Pair level, Rule rule, Rule inner) {
    if (rule == Rule::atom) return inner == Rule::variable || inner == Rule::parenthesized_expr;
    if (rule == Rule::parenthesized_expr) return inner == Rule::expression;
    return inner == chain_below(rule) &&
           (rule != Rule::unary_expr || !level.as_str().starts_with('-'));
  });
  if (p.as_rule() != Rule::variable) return std::nullopt;
  return p;
}

// A run of sibling pairs still to read, beside the rule of the pair that
// holds them and what that pair tells the keys inside it: a pattern, the
// index of its first place; its properties, the range of its labels' or
// types' places; a SET or REMOVE item's property expression, its variable's
// bytes; a postfix expression whose first operator reads a key from a
// variable, that key's start and the variable's bytes.
struct Level {
  Pairs run;
  Rule holder;
  std::uint32_t from = 0, to = 0;
  std::uint32_t key = UINT32_MAX;
};

}  // namespace

std::optional<std::vector<NamePlace>> name_places(std::string_view query) {
  ParserState& state = thread_state();
  const Release release{state};
  if (!CypherParser::parse_into(state, Rule::cypher, query).ok()) return std::nullopt;
  // Down the pairs with a stack of the sibling runs still to read: no recursion.
  std::vector<Level> levels{{Pairs(state.tokens(), query), Rule::count}};
  const auto outer = [&levels](std::size_t up) -> const Level* {
    return levels.size() >= up ? &levels[levels.size() - up] : nullptr;
  };
  const auto holder = [&outer](std::size_t up) {
    const Level* l = outer(up);
    return l ? l->holder : Rule::count;
  };
  std::vector<NamePlace> places;
  while (!levels.empty()) {
    const std::optional<Pair> p = levels.back().run.next();
    if (!p) {
      levels.pop_back();
      continue;
    }
    const Rule rule = p->as_rule();
    std::optional<NamePlace> place;
    if (rule == Rule::label_name) {
      place = NamePlace{p->start(), p->end(), NameRole::Label};
    } else if (rule == Rule::rel_type_name) {
      place = NamePlace{p->start(), p->end(), NameRole::RelType};
    } else if (rule == Rule::property_key_name) {
      // After a "."; or the key of a map that is a pattern's property map.
      const NamePlace key{p->start(), p->end(), NameRole::PropertyKey};
      if (holder(1) == Rule::property_lookup) {
        place = key;
        const Level* from = nullptr;
        if (holder(2) == Rule::property_expression) {
          from = outer(2);
        } else if (holder(3) == Rule::postfix_expr && outer(3)->key == p->start()) {
          from = outer(3);
        }
        if (from) {
          place->owner = KeyOwner::Variable;
          place->owner_start = from->from;
          place->owner_end = from->to;
        }
      } else if (holder(1) == Rule::property_key_value_pair && holder(2) == Rule::map_literal &&
                 holder(3) == Rule::properties) {
        place = key;
        const Level& pattern = *outer(3);
        if (pattern.from < pattern.to) {
          place->owner = KeyOwner::Pattern;
          place->owner_start = pattern.from;
          place->owner_end = pattern.to;
        }
      }
    }
    if (place) places.push_back(*place);
    const Level& at = levels.back();
    Level inner{p->into_inner(), rule};
    switch (rule) {
      case Rule::node_pattern:
      case Rule::relationship_pattern:
        inner.from = static_cast<std::uint32_t>(places.size());
        break;
      case Rule::properties:
        // A pattern's variable is no place, so its places so far are its
        // labels or types.
        if (at.holder == Rule::node_pattern || at.holder == Rule::relationship_pattern) {
          inner.from = at.from;
          inner.to = static_cast<std::uint32_t>(places.size());
        }
        break;
      case Rule::property_expression:
        if (const std::optional<Pair> variable = p->first_child()) {
          inner.from = variable->start();
          inner.to = variable->end();
        }
        break;
      case Rule::postfix_expr: {
        // Only the first operator reads from the atom itself.
        Pairs kids = p->into_inner();
        const std::optional<Pair> atom = kids.next();
        const std::optional<Pair> op = kids.next();
        const std::optional<Pair> lookup = op ? op->first_child() : std::nullopt;
        if (!atom || !lookup || lookup->as_rule() != Rule::property_lookup) break;
        const std::optional<Pair> key = lookup->first_child();
        const std::optional<Pair> variable = bare_variable(*atom);
        if (!key || !variable) break;
        inner.key = key->start();
        inner.from = variable->start();
        inner.to = variable->end();
        break;
      }
      default: break;
    }
    levels.push_back(inner);
  }
  return places;
}

}  // namespace torvane::parser
