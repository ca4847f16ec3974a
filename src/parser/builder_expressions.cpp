#include "parser/builder_internal.hpp"

#include <array>

namespace torvane::parser::builder {

namespace {

// The comparison an operator text stands for, letters in either case.
Comparison comparison_of(std::string_view o) {
  if (o == "=") return Comparison::Eq;
  if (o == "<>") return Comparison::Neq;
  if (o == "<") return Comparison::Lt;
  if (o == "<=") return Comparison::Lte;
  if (o == ">") return Comparison::Gt;
  if (o == ">=") return Comparison::Gte;
  if (o == "=~") return Comparison::RegexMatch;
  if (ascii_iequal(o, "IN")) return Comparison::In;
  // STARTS WITH and ENDS WITH by their first word: blanks and comments may
  // stand between the two.
  if (starts_with_word(o, "STARTS")) return Comparison::StartsWith;
  if (starts_with_word(o, "ENDS")) return Comparison::EndsWith;
  if (ascii_iequal(o, "CONTAINS")) return Comparison::Contains;
  return Comparison::Unknown;
}
}  // namespace

// ---- Expressions ----

// Levels that hold a single operand and no operator add no node, so they are
// walked in a loop rather than by recursion: a query's expressions then cost
// a few frames per level of parentheses, not one per precedence level.
bool Builder::build_expression(Pair p, Expr& out, std::uint32_t depth) {
  if (depth > kMaxNesting) return fail_too_deep(p);
  for (;;) {
    // The common path first, from `expression` down to `atom` through levels
    // that hold one operand and no operator, and so add no node; whatever
    // leaves it takes the general steps.
    p = p.descend_chain();
    switch (p.as_rule()) {
      case Rule::expression: {
        const std::optional<Pair> c = p.first_child();
        if (!c) return fail("Empty expression");
        p = *c;
        continue;
      }
      case Rule::or_expr:
      case Rule::xor_expr:
      case Rule::and_expr: {
        std::optional<Pair> only;
        if (count_operands(p, keyword_of(p.as_rule()), &only) != 1)
          return build_or_expr(p, out, depth);
        p = *only;
        continue;
      }
      case Rule::not_expr: {
        const std::uint32_t nots = count_children(p, Rule::not_kw);
        if (nots > 0) return build_not_expr(p, nots, out, depth);
        const std::optional<Pair> operand = first_child_of(p, Rule::comparison_expr);
        if (!operand) return fail("NOT missing comparison_expr");
        p = *operand;
        continue;
      }
      case Rule::comparison_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first || !kids.empty()) return build_comparison_expr(p, out, depth);
        p = *first;
        continue;
      }
      case Rule::add_sub_expr:
      case Rule::mul_div_expr:
      case Rule::mod_expr:
      case Rule::power_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first) {
          switch (p.as_rule()) {
            case Rule::add_sub_expr: return fail("Empty add_sub_expr");
            case Rule::mul_div_expr: return fail("Empty mul_div_expr");
            case Rule::mod_expr: return fail("Empty mod_expr");
            default: return fail("Empty power_expr");
          }
        }
        if (kids.empty()) {
          p = *first;
          continue;
        }
        if (p.as_rule() == Rule::mod_expr) return fold<Expr::Mod>(p, Rule::count, out, depth);
        if (p.as_rule() == Rule::power_expr) return fold<Expr::Pow>(p, Rule::count, out, depth);
        return build_arithmetic(p, out, depth);
      }
      case Rule::unary_expr: {
        if (!p.as_str().empty() && p.as_str().front() == '-')
          return build_unary_minus(p, out, depth);
        const std::optional<Pair> operand = first_child_of(p, Rule::postfix_expr);
        if (!operand) return fail("Unary missing postfix");
        p = *operand;
        continue;
      }
      case Rule::postfix_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first || !kids.empty() || first->as_rule() != Rule::atom)
          return build_postfix_expr(p, out, depth);
        return build_atom(*first, out, depth);
      }
      case Rule::atom: return build_atom(p, out, depth);
      default: return fail("Unexpected rule in expression: ", rule_name(p.as_rule()));
    }
  }
}

template <class Op>
bool Builder::join_operand(Pair operand, Expr& out, std::uint32_t depth) {
  Box<Expr> rhs(std::in_place);
  if (!build_expression(operand, *rhs, depth)) return false;
  join<Op>(out, std::move(rhs));
  return true;
}

// Left fold of the operands of `p` into Op. `keyword` operands are dropped
// (Rule::count keeps all). The operands stand at the level's own nesting
// depth: a chain is not nesting, however deep its tree.
template <class Op>
bool Builder::fold(Pair p, Rule keyword, Expr& out, std::uint32_t depth) {
  bool first = true;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    if (!(first ? build_expression(c, out, depth) : join_operand<Op>(c, out, depth))) return false;
    first = false;
  }
  return true;
}

bool Builder::build_or_expr(Pair p, Expr& out, std::uint32_t depth) {
  const Rule keyword = keyword_of(p.as_rule());
  std::optional<Pair> only;
  if (count_operands(p, keyword, &only) == 0) {
    if (p.as_rule() == Rule::or_expr) return fail("Empty or_expr");
    if (p.as_rule() == Rule::xor_expr) return fail("Empty xor_expr");
    return fail("Empty and_expr");
  }
  if (p.as_rule() == Rule::or_expr) return fold<Expr::Or>(p, keyword, out, depth);
  if (p.as_rule() == Rule::xor_expr) return fold<Expr::Xor>(p, keyword, out, depth);
  return fold<Expr::And>(p, keyword, out, depth);
}

// Fold of `add_sub_expr` or `mul_div_expr`: the operator of each step stands
// in the text between the previous operand and the next.
bool Builder::build_arithmetic(Pair p, Expr& out, std::uint32_t depth) {
  const std::string_view src = p.source();
  bool first = true;
  std::uint32_t prev_end = 0;
  for (Pair c : p.into_inner()) {
    bool ok;
    if (first) {
      ok = build_expression(c, out, depth);
      first = false;
    } else {
      const std::size_t op = after_blanks_and_comments(src.substr(0, c.start()), prev_end);
      switch (op < c.start() ? src[op] : '\0') {
        case '+': ok = join_operand<Expr::Add>(c, out, depth); break;
        case '-': ok = join_operand<Expr::Sub>(c, out, depth); break;
        case '*': ok = join_operand<Expr::Mul>(c, out, depth); break;
        default: ok = join_operand<Expr::Div>(c, out, depth); break;
      }
    }
    if (!ok) return false;
    prev_end = c.end();
  }
  return true;
}

bool Builder::build_not_expr(Pair p, std::uint32_t nots, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> operand = first_child_of(p, Rule::comparison_expr);
  if (!operand) return fail("NOT missing comparison_expr");
  if (!build_comparison_expr(*operand, out, depth)) return false;
  for (std::uint32_t i = 0; i < nots; ++i) wrap<Expr::Not>(out);
  return true;
}

bool Builder::build_unary_minus(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> operand = first_child_of(p, Rule::postfix_expr);
  if (!operand) return fail("Unary missing postfix");
  if (!build_postfix_expr(*operand, out, depth)) return false;
  wrap<Expr::Neg>(out);
  return true;
}

bool Builder::build_comparison_expr(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Empty comparison_expr");
  if (!build_expression(*first, out, depth)) return false;
  for (;;) {
    const std::optional<Pair> op = kids.next();
    if (!op) return true;
    const std::optional<Pair> operand = kids.next();
    if (!operand) return true;  // a trailing operator is ignored
    const std::string_view o = op->as_str();
    if (!build_comparison(comparison_of(o), o, *operand, out, depth)) return false;
  }
}

// The operand is built before the operator is looked at.
bool Builder::build_comparison(Comparison c, std::string_view op, Pair operand, Expr& out,
                               std::uint32_t depth) {
  switch (c) {
    case Comparison::Eq: return join_operand<Expr::Eq>(operand, out, depth);
    case Comparison::Neq: return join_operand<Expr::Neq>(operand, out, depth);
    case Comparison::Lt: return join_operand<Expr::Lt>(operand, out, depth);
    case Comparison::Lte: return join_operand<Expr::Lte>(operand, out, depth);
    case Comparison::Gt: return join_operand<Expr::Gt>(operand, out, depth);
    case Comparison::Gte: return join_operand<Expr::Gte>(operand, out, depth);
    case Comparison::RegexMatch: return join_operand<Expr::RegexMatch>(operand, out, depth);
    case Comparison::In: return join_operand<Expr::In>(operand, out, depth);
    case Comparison::StartsWith: return join_operand<Expr::StartsWith>(operand, out, depth);
    case Comparison::EndsWith: return join_operand<Expr::EndsWith>(operand, out, depth);
    case Comparison::Contains: return join_operand<Expr::Contains>(operand, out, depth);
    case Comparison::Unknown: break;
  }
  Expr ignored;
  if (!build_expression(operand, ignored, depth)) return false;
  return fail("Unknown comparison op: ", upper(op));
}

bool Builder::build_postfix_expr(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Postfix missing atom");
  // The operators wrap the atom one after the other, a chain; only the
  // brackets of a subscript or slice nest.
  if (!build_atom(*first, out, depth)) return false;
  for (Pair c : kids) {
    if (c.as_rule() != Rule::postfix_op) continue;
    const std::optional<Pair> op = c.first_child();
    if (!op) return fail("Empty postfix_op");
    switch (op->as_rule()) {
      case Rule::null_check_op:
        if (contains_word(op->as_str(), "NOT"))
          wrap<Expr::IsNotNull>(out);
        else
          wrap<Expr::IsNull>(out);
        break;
      case Rule::property_lookup: {
        const std::optional<Pair> key = op->first_child();
        if (!key) return fail("Property lookup missing key");
        Box<Expr> base(std::move(out));
        out.node.emplace<Expr::PropertyAccess>(std::move(base), InPlaceString{key->as_str()});
        break;
      }
      case Rule::subscript_op: {
        const std::optional<Pair> index = op->first_child();
        if (!index) return fail("Subscript missing index");
        if (!join_operand<Expr::Index>(*index, out, depth + 1)) return false;
        break;
      }
      case Rule::list_slice_op: {
        Pairs bounds = op->into_inner();
        const std::optional<Pair> a = bounds.next();
        const std::optional<Pair> b = bounds.next();
        std::optional<Pair> from_pair, to_pair;
        if (b) {
          from_pair = a;
          to_pair = b;
        } else if (a) {
          // A lone bound is the upper one when ".." stands between "[" and it.
          const std::string_view src = p.source().substr(0, a->start());
          const std::size_t at = after_blanks_and_comments(src, op->start() + 1);
          (src.substr(at).starts_with("..") ? to_pair : from_pair) = a;
        }
        std::optional<Box<Expr>> from, to;
        if (from_pair && !build_expression(*from_pair, *from.emplace(std::in_place), depth + 1))
          return false;
        if (to_pair && !build_expression(*to_pair, *to.emplace(std::in_place), depth + 1))
          return false;
        Box<Expr> base(std::move(out));
        out.node.emplace<Expr::Slice>(std::move(base), std::move(from), std::move(to));
        break;
      }
      default: continue;
    }
  }
  return true;
}

}  // namespace torvane::parser::builder
