#pragma once
// The tree builder's own pieces, shared by its files: the text and pair
// helpers its steps read with, and the Builder, whose steps each file defines
// for its area (builder.cpp the query structure, builder_clauses.cpp,
// builder_patterns.cpp, builder_expressions.cpp, builder_atoms.cpp;
// builder_text.cpp the text helpers). The small helpers that every area calls
// stay inline here, so that the steps inline them as they did in one file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "ascii.hpp"
#include "parser/builder.hpp"
#include "parser/lexical.hpp"

namespace torvane::parser::builder {

// Nothing of this leaves the library: hidden, the steps call each other
// directly, open to inlining even in position-independent code.
#pragma GCC visibility push(hidden)

using ast::Box;
using ast::Expr;

// The variable, list and predicate of `v IN list WHERE predicate`.
struct FilterExpression {
  std::string variable;
  ast::Expr list;
  std::optional<ast::Expr> predicate;
};

// ---- Texts ----

// Whether `s` begins with `word`, ASCII letters in either case.
inline bool starts_with_word(std::string_view s, std::string_view word) {
  return s.size() >= word.size() && ascii_iequal(s.substr(0, word.size()), word);
}

// `s` with its ASCII letters in upper case.
std::string upper(std::string_view s);

// Whether `s` begins with DISTINCT as a whole word: unlike the clause words,
// the grammar reads it only where no word character follows.
inline bool starts_with_distinct(std::string_view s) {
  constexpr std::string_view word = "DISTINCT";
  if (!starts_with_word(s, word)) return false;
  if (s.size() == word.size()) return true;
  return !is_word_char(s[word.size()]);
}

// The text between `from` and the end of `p` after blanks and comments: where
// optional keywords that form no pair are read.
inline std::string_view text_after(Pair p, std::uint32_t from) {
  const std::string_view src = p.source().substr(0, p.end());
  return src.substr(after_blanks_and_comments(src, from));
}

inline bool word_at(Pair p, std::uint32_t from, std::string_view word) {
  return starts_with_word(text_after(p, from), word);
}

// A clause's optional keyword after its leading word of `lead` bytes.
inline bool keyword_after_lead(Pair p, std::uint32_t lead, std::string_view word) {
  const std::uint32_t from = p.start() + lead;
  return from <= p.end() && word_at(p, from, word);
}

inline bool distinct_after_lead(Pair p, std::uint32_t lead) {
  const std::uint32_t from = p.start() + lead;
  return from <= p.end() && starts_with_distinct(text_after(p, from));
}

// Removes leading and trailing White_Space characters.
std::string_view trim(std::string_view s);

inline std::string_view strip_dollars(std::string_view s) {
  while (!s.empty() && s.front() == '$') s.remove_prefix(1);
  return s;
}

// A text copied into the string it initialises: a node's name member is made
// in place from it, with no temporary string moved in.
struct InPlaceString {
  std::string_view text;
  operator std::string() const { return std::string(text); }
};

// An empty value of whatever type it initialises, made in place from `{}`:
// member by member, where `emplace()` or `emplace_back()` with no argument
// (value-initialisation) would first zero the whole of a large node.
struct Fresh {
  template <class T>
  operator T() const {
    return T{};
  }
};

// The alternative T of a variant that its caller has just made: one it holds
// already (a new variant holds its first) is taken as it is, rather than
// destroyed and made anew.
template <class T, class V>
T& fresh_alternative(V& v) {
  if (T* held = std::get_if<T>(&v)) return *held;
  return v.template emplace<T>(Fresh{});
}

// Whether `word` occurs in `s`, ASCII letters in either case.
bool contains_word(std::string_view s, std::string_view word);

// ---- Pairs ----

inline std::uint32_t count_children(Pair p, Rule r) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) n += c.as_rule() == r;
  return n;
}

// The first child of `p` of rule `r`, if any.
inline std::optional<Pair> first_child_of(Pair p, Rule r) {
  for (Pair c : p.into_inner())
    if (c.as_rule() == r) return c;
  return std::nullopt;
}

// Number of operands of a keyword level; `only` receives the first one.
inline std::uint32_t count_operands(Pair p, Rule keyword, std::optional<Pair>* only) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    if (n++ == 0) *only = c;
  }
  return n;
}

inline Rule keyword_of(Rule level) {
  return level == Rule::or_expr    ? Rule::or_kw
         : level == Rule::xor_expr ? Rule::xor_kw
                                   : Rule::and_kw;
}

// The label list of `node_labels` or the type list of `rel_types`: the texts
// of the children of rule `name`, in order, repeats kept. Those children are
// all the pairs there are, each a leaf, which sizes the list without a count.
inline void collect_names(Pair p, Rule name, std::vector<std::string>& out) {
  out.clear();
  const Pairs names = p.into_inner();
  out.reserve(names.tokens() / 2);
  for (Pair c : names)
    if (c.as_rule() == name) out.emplace_back(c.as_str());
}

// ---- Expression nodes ----

// Turns `acc` into Op(acc, rhs): the accumulator moves to the heap as the
// left operand.
template <class Op>
void join(Expr& acc, Box<Expr> rhs) {
  Box<Expr> lhs(std::move(acc));
  acc.node.emplace<Op>(std::move(lhs), std::move(rhs));
}

// Turns `acc` into Op(acc).
template <class Op>
void wrap(Expr& acc) {
  Box<Expr> operand(std::move(acc));
  acc.node.emplace<Op>(std::move(operand));
}

enum class Comparison {
  Eq,
  Neq,
  Lt,
  Lte,
  Gt,
  Gte,
  RegexMatch,
  In,
  StartsWith,
  EndsWith,
  Contains,
  Unknown
};

// The steps. Each builds into storage its caller already holds (a field of
// the parent, or an element put in place in its list), so nothing built is
// moved on its way up. A step returns whether it succeeded; the first failure
// waits in `failure`, and every step above it returns false at once.
// `depth` is how deeply the value being built is nested (see builder.hpp).
class Builder {
 public:
  std::optional<CypherError> failure;
  // Set beside `failure` when the nesting bound stopped the build.
  std::optional<SyntaxError> too_deep;

  // Query structure.
  bool build_query(Pair p, ast::CypherQuery& out);
  bool build_regular_query(Pair p, ast::RegularQuery& out, std::uint32_t depth);
  bool build_single_query(Pair p, ast::SingleQuery& out, std::uint32_t depth);
  bool build_with_clause(Pair p, ast::WithClause& out, std::uint32_t depth);
  bool build_return_clause(Pair p, ast::ReturnClause& out, std::uint32_t depth);
  // Into a ReturnClause (items as ReturnItems) or a WithClause (a plain list
  // and the star flag).
  template <class Target>
  bool build_return_body(Pair p, Target& out, std::uint32_t depth);
  bool build_sort_item(Pair p, ast::SortItem& out, std::uint32_t depth);

  // Reading and updating clauses.
  bool build_reading_clause(Pair p, ast::ReadingClause& out, std::uint32_t depth);
  bool build_call_clause(Pair p, ast::CallClause& out, std::uint32_t depth);
  bool build_updating_clause(Pair p, ast::UpdatingClause& out, std::uint32_t depth);
  bool build_set_clause(Pair p, std::vector<ast::SetItem>& out, std::uint32_t depth);

  // Patterns and property maps.
  bool build_pattern(Pair p, ast::Pattern& out, std::uint32_t depth);
  bool build_pattern_part(Pair p, ast::PatternPart& out, std::uint32_t depth);
  bool build_node_pattern(Pair p, ast::NodePattern& out, std::uint32_t depth);
  bool build_relationship_pattern(Pair p, ast::RelationshipPattern& out, std::uint32_t depth);
  bool build_properties(Pair p, ast::MapOrParam& out, std::uint32_t depth);
  bool build_map_literal(Pair p, ast::ExprMap& out, std::uint32_t depth);
  bool build_property_expression(Pair p, ast::PropertyExpr& out);

  // Expressions.
  bool build_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_or_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_comparison_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_postfix_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_atom(Pair p, Expr& out, std::uint32_t depth);
  bool build_literal(Pair p, Expr& out, std::uint32_t depth);
  bool parse_filter_expression(Pair p, FilterExpression& out, std::uint32_t depth);

 private:
  [[gnu::cold, gnu::noinline]] bool fail(const char* message) {
    failure = CypherError::parse(message);
    return false;
  }
  [[gnu::cold, gnu::noinline]] bool fail(std::string_view prefix, std::string_view what) {
    std::string m;
    m.reserve(prefix.size() + what.size());
    m.append(prefix).append(what);
    failure = CypherError::parse(std::move(m));
    return false;
  }
  // The grammar's own nesting error, at the pair that went past the bound.
  [[gnu::cold, gnu::noinline]] bool fail_too_deep(Pair p) {
    too_deep = make_nesting_error(p.source(), p.start());
    failure = CypherError::parse(too_deep->display());
    return false;
  }

  bool build_match_clause(Pair p, ast::ReadingClause::Match& out, std::uint32_t depth);
  bool build_merge_clause(Pair p, ast::UpdatingClause::Merge& out, std::uint32_t depth);
  bool build_foreach_clause(Pair p, ast::UpdatingClause::Foreach& out, std::uint32_t depth);
  bool build_set_item(Pair p, ast::SetItem& out, std::uint32_t depth);
  bool build_remove_item(Pair p, ast::RemoveItem& out);
  bool build_pattern_element(Pair p, ast::PatternElement& out, std::uint32_t depth);
  bool build_chain(Pairs rest, std::vector<ast::PatternStep>& out, std::uint32_t depth,
                   bool build_unpaired);

  template <class Op>
  bool fold(Pair p, Rule keyword, Expr& out, std::uint32_t depth);
  // Builds `operand` as the right operand of Op(out, operand).
  template <class Op>
  bool join_operand(Pair operand, Expr& out, std::uint32_t depth);
  bool build_arithmetic(Pair p, Expr& out, std::uint32_t depth);
  bool build_not_expr(Pair p, std::uint32_t nots, Expr& out, std::uint32_t depth);
  bool build_unary_minus(Pair p, Expr& out, std::uint32_t depth);
  bool build_comparison(Comparison c, std::string_view op, Pair operand, Expr& out,
                        std::uint32_t depth);

  bool build_function_invocation(Pair p, Expr::FunctionCall& out, std::uint32_t depth);
  bool build_case_expression(Pair p, Expr::Case& out, std::uint32_t depth);
  bool build_list_comprehension(Pair p, Expr& out, std::uint32_t depth);
  bool build_quantifier_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_reduce_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_shortest_path_call(Pair p, Expr& out, std::uint32_t depth);
  bool build_exists_subquery(Pair p, Expr& out, std::uint32_t depth);
};

// Runs one step on fresh storage: the built value, or the step's failure.
// The value is built where the result holds it, so a whole tree is never
// moved on its way out.
template <class T, class... Args>
BuildResult<T> run(bool (Builder::*step)(Pair, T&, Args...), Pair p,
                   std::type_identity_t<Args>... args) {
  Builder b;
  BuildResult<T> built{std::in_place, Fresh{}};
  if (!(b.*step)(p, built.value(), args...)) built = Err{std::move(*b.failure)};
  return built;
}

ast::Range build_range_literal(Pair p);

#pragma GCC visibility pop

}  // namespace torvane::parser::builder
