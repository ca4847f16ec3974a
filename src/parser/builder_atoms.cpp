#include "parser/builder_internal.hpp"

#include <charconv>
#include <limits>
#include <system_error>

namespace torvane::parser::builder {

namespace {

// ---- Numbers ----

// An integer literal: 0x hexadecimal, 0o octal, else decimal; a value outside
// the signed 64-bit range reads as 0.
std::int64_t read_integer(std::string_view t) {
  int base = 10;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'o')) {
    base = t[1] == 'x' ? 16 : 8;
    t.remove_prefix(2);
  }
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (ec != std::errc{} || end != t.data() + t.size()) return 0;
  return v;
}

// A literal beyond the double range: infinity when it overflows, zero when it
// underflows, as the nearest double would be. The grammar's float form is
// DIGIT+ "." DIGIT* (("e"|"E") sign? DIGIT+)?.
double out_of_range_float(std::string_view t) {
  std::size_t i = 0;
  std::int64_t magnitude = 0;  // decimal exponent of the leading significant digit, plus one
  bool significant = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (t[i] != '0') significant = true;
    if (significant) ++magnitude;
    ++i;
  }
  if (i < t.size() && t[i] == '.') ++i;
  while (!significant && i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (t[i] != '0')
      significant = true;
    else
      --magnitude;
    ++i;
  }
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
      if (exponent < 100000)
        exponent = exponent * 10 + (t[i] - '0');  // saturates well past the range
    if (negative) exponent = -exponent;
  }
  return significant && magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

double read_float(std::string_view t) {
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) return out_of_range_float(t);
  return v;
}

}  // namespace

// ---- Atoms ----

bool Builder::build_atom(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty atom");
  switch (c->as_rule()) {
    case Rule::literal: return build_literal(*c, out, depth);
    case Rule::parameter:
      out.node.emplace<Expr::Parameter>(InPlaceString{strip_dollars(c->as_str())});
      return true;
    case Rule::variable: out.node.emplace<Expr::Variable>(InPlaceString{c->as_str()}); return true;
    case Rule::count_star: out.node.emplace<Expr::CountStar>(); return true;
    case Rule::function_invocation:
      return build_function_invocation(*c, out.node.emplace<Expr::FunctionCall>(Fresh{}), depth);
    case Rule::case_expression:
      return build_case_expression(*c, out.node.emplace<Expr::Case>(Fresh{}), depth);
    case Rule::list_comprehension: return build_list_comprehension(*c, out, depth);
    case Rule::quantifier_expression: return build_quantifier_expression(*c, out, depth);
    case Rule::reduce_expression: return build_reduce_expression(*c, out, depth);
    case Rule::shortest_path_call: return build_shortest_path_call(*c, out, depth);
    case Rule::exists_subquery: return build_exists_subquery(*c, out, depth);
    case Rule::parenthesized_expr: {
      const std::optional<Pair> e = c->first_child();
      if (!e) return fail("Empty paren expr");
      return build_expression(*e, out, depth + 1);
    }
    default: return fail("Unknown atom: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_literal(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty literal");
  const std::string_view t = c->as_str();
  switch (c->as_rule()) {
    case Rule::integer_literal: out.node.emplace<Expr::Integer>(read_integer(t)); return true;
    case Rule::float_literal: out.node.emplace<Expr::Float>(read_float(t)); return true;
    case Rule::string_literal:
      out.node.emplace<Expr::String>(InPlaceString{t.size() >= 2 ? t.substr(1, t.size() - 2) : ""});
      return true;
    case Rule::boolean_literal:
      out.node.emplace<Expr::Boolean>(ascii_iequal(t, "TRUE"));
      return true;
    case Rule::null_literal: out.node.emplace<Expr::Null>(); return true;
    case Rule::list_literal: {
      std::vector<Expr>& items = out.node.emplace<Expr::List>(Fresh{}).items;
      items.reserve(count_children(*c, Rule::expression));
      for (Pair e : c->into_inner())
        if (e.as_rule() == Rule::expression &&
            !build_expression(e, items.emplace_back(Fresh{}), depth + 1))
          return false;
      return true;
    }
    case Rule::map_literal:
      return build_map_literal(*c, out.node.emplace<Expr::Map>(Fresh{}).entries, depth);
    default: return fail("Unknown literal: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_function_invocation(Pair p, Expr::FunctionCall& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> name = kids.next();
  if (!name) return fail("Function missing name");
  out.name = name->as_str();
  out.args.reserve(count_children(p, Rule::expression));
  for (Pair c : kids)
    if (c.as_rule() == Rule::expression &&
        !build_expression(c, out.args.emplace_back(Fresh{}), depth + 1))
      return false;
  const std::string_view src = p.source().substr(0, p.end());
  std::size_t at = after_blanks_and_comments(src, name->end());
  if (at < src.size() && src[at] == '(') at = after_blanks_and_comments(src, at + 1);
  out.distinct = starts_with_distinct(src.substr(at));
  return true;
}

// Each child's role comes from the last keyword in front of it.
bool Builder::build_case_expression(Pair p, Expr::Case& out, std::uint32_t depth) {
  enum class Role { none, operand, when, then, otherwise };
  const std::string_view src = p.source();
  bool when_pending = false;  // the last alternative still waits for its THEN
  std::uint32_t gap_start = p.start();
  for (Pair c : p.into_inner()) {
    // End of the last significant character in the gap, blanks and comments left out.
    const std::string_view gap = src.substr(0, c.start());
    std::size_t at = gap_start, word_end = gap_start;
    for (;;) {
      at = after_blanks_and_comments(gap, at);
      if (at >= gap.size()) break;
      word_end = ++at;
    }
    const std::string_view before = src.substr(gap_start, word_end - gap_start);
    Role role = Role::none;
    if (before.size() >= 4) {
      const std::string_view last = before.substr(before.size() - 4);
      if (ascii_iequal(last, "CASE"))
        role = Role::operand;
      else if (ascii_iequal(last, "WHEN"))
        role = Role::when;
      else if (ascii_iequal(last, "THEN"))
        role = Role::then;
      else if (ascii_iequal(last, "ELSE"))
        role = Role::otherwise;
    }
    gap_start = c.end();
    Expr* target = nullptr;
    Expr dropped;  // a THEN without its WHEN
    switch (role) {
      case Role::none: continue;
      case Role::operand: target = &*out.operand.emplace(std::in_place); break;
      case Role::when:
        if (!when_pending) out.alternatives.emplace_back(Fresh{});
        when_pending = true;
        target = &out.alternatives.back().condition;
        break;
      case Role::then:
        target = when_pending ? &out.alternatives.back().result : &dropped;
        when_pending = false;
        break;
      case Role::otherwise: target = &*out.else_expr.emplace(std::in_place); break;
    }
    if (!build_expression(c, *target, depth + 1)) return false;
  }
  if (when_pending) out.alternatives.pop_back();
  return true;
}

bool Builder::parse_filter_expression(Pair p, FilterExpression& out, std::uint32_t depth) {
  out.variable.clear();
  out.list.node.emplace<Expr::Null>();
  out.predicate.reset();
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::id_in_coll) {
      Pairs kids = c.into_inner();
      if (const std::optional<Pair> v = kids.next()) out.variable = v->as_str();
      if (const std::optional<Pair> list = kids.next())
        if (!build_expression(*list, out.list, depth + 1)) return false;
    } else if (c.as_rule() == Rule::expression) {
      if (!build_expression(c, out.predicate.emplace(Fresh{}), depth + 1)) return false;
    }
  }
  return true;
}

namespace {

std::optional<Box<Expr>> boxed(std::optional<Expr>& e) {
  if (!e) return std::nullopt;
  return Box<Expr>(std::move(*e));
}

}  // namespace


bool Builder::build_list_comprehension(Pair p, Expr& out, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  std::optional<Expr> projection;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::filter_expression) {
      if (!parse_filter_expression(c, f, depth)) return false;
    } else if (c.as_rule() == Rule::expression) {
      if (!build_expression(c, projection.emplace(Fresh{}), depth + 1)) return false;
    }
  }
  out.node.emplace<Expr::ListComprehension>(std::move(f.variable), Box<Expr>(std::move(f.list)),
                                            boxed(f.predicate), boxed(projection));
  return true;
}

bool Builder::build_quantifier_expression(Pair p, Expr& out, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::filter_expression && !parse_filter_expression(c, f, depth))
      return false;
  const auto make = [&](auto kind) {
    using Q = typename decltype(kind)::type;
    out.node.emplace<Q>(std::move(f.variable), Box<Expr>(std::move(f.list)), boxed(f.predicate));
    return true;
  };
  const std::string_view t = p.as_str();
  if (starts_with_word(t, "ALL")) return make(std::type_identity<Expr::All>{});
  if (starts_with_word(t, "ANY")) return make(std::type_identity<Expr::Any>{});
  if (starts_with_word(t, "NONE")) return make(std::type_identity<Expr::None>{});
  return make(std::type_identity<Expr::Single>{});
}

bool Builder::build_reduce_expression(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> accumulator = kids.next();
  if (!accumulator) return fail("REDUCE missing accumulator");
  const std::optional<Pair> init_pair = kids.next();
  if (!init_pair) return fail("REDUCE missing init expression");
  Box<Expr> init(std::in_place);
  if (!build_expression(*init_pair, *init, depth + 1)) return false;
  const std::optional<Pair> variable = kids.next();
  if (!variable) return fail("REDUCE missing loop variable");
  const std::optional<Pair> list_pair = kids.next();
  if (!list_pair) return fail("REDUCE missing source expression");
  Box<Expr> list(std::in_place);
  if (!build_expression(*list_pair, *list, depth + 1)) return false;
  const std::optional<Pair> projection_pair = kids.next();
  if (!projection_pair) return fail("REDUCE missing projection expression");
  Box<Expr> projection(std::in_place);
  if (!build_expression(*projection_pair, *projection, depth + 1)) return false;
  out.node.emplace<Expr::Reduce>(InPlaceString{accumulator->as_str()}, std::move(init),
                                 InPlaceString{variable->as_str()}, std::move(list), std::move(projection));
  return true;
}

bool Builder::build_shortest_path_call(Pair p, Expr& out, std::uint32_t depth) {
  const bool all = starts_with_word(p.as_str(), "ALL");
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("shortestPath missing start node");
  Box<ast::PatternElement> element(ast::PatternElement{});
  if (!build_node_pattern(*first, element->start, depth + 1)) return false;
  if (!build_chain(kids, element->chain, depth + 1, false)) return false;
  out.node.emplace<Expr::ShortestPath>(std::move(element), all);
  return true;
}

bool Builder::build_exists_subquery(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty EXISTS");
  Box<ast::ExistsSubquery> subquery(ast::ExistsSubquery{});
  if (c->as_rule() == Rule::pattern) {
    if (!build_pattern(*c, subquery->node.emplace<ast::ExistsSubquery::Pattern>().pattern,
                       depth + 1))
      return false;
  } else if (c->as_rule() == Rule::regular_query) {
    if (!build_regular_query(*c, subquery->node.emplace<ast::ExistsSubquery::Query>().query,
                             depth + 1))
      return false;
  } else {
    return fail("Unknown EXISTS subquery type");
  }
  out.node.emplace<Expr::Exists>(std::move(subquery));
  return true;
}

}  // namespace torvane::parser::builder
