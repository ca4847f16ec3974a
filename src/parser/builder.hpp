#pragma once
// The tree builder: walks the pairs of an accepted query into the syntax tree.
//
// One step per grammar rule, named build_<rule>; each takes a pair of that rule
// and returns the value it builds or a CypherError::ParseError. A step reads the
// direct children of its pair either by position or by scanning their rules;
// keywords and operators form no pairs, so flags and operators are read from
// the pair texts. The first failure ends the whole build.
//
// `depth` is how deeply the value being built is nested in brackets, lists,
// maps, calls, clauses and the like, which is what the builder's recursion
// follows. A flat chain such as `a OR b OR ...` is no nesting: it is built in
// a loop, however deep the left-folded tree it makes (see parser/ast.hpp).
// Past kMaxNesting a build fails as the grammar fails past its nesting bound,
// with the same syntax error at the place; every level of nesting here is at
// least one nested grammar rule there, so a text the grammar accepts stays
// within it.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "error/error.hpp"
#include "error/result.hpp"
#include "parser/ast.hpp"
#include "parser/pairs.hpp"
#include "parser/syntax_error.hpp"

namespace torvane::parser::builder {

// The grammar's bound on nested rules (kMaxRuleDepth), whose error it shares.
inline constexpr std::uint32_t kMaxNesting = 1000;

template <class T>
using BuildResult = Result<T, CypherError>;

// The projection of a RETURN or WITH.
struct ReturnBody {
  ast::ReturnItems items;
  std::optional<std::vector<ast::SortItem>> order_by;
  std::optional<ast::Expr> skip;
  std::optional<ast::Expr> limit;
};

// The variable, list and predicate of `v IN list WHERE predicate`.
struct FilterExpression {
  std::string variable;
  ast::Expr list;
  std::optional<ast::Expr> predicate;
};

// Query structure.
BuildResult<ast::CypherQuery> build_query(Pair cypher);
// The same into a tree the caller holds (made empty), so that the tree lands
// in the caller's result without being moved; the failure, if any: the
// syntax error of a text nested past kMaxNesting, else the builder's error.
// (The steps' own results carry that syntax error's text as a ParseError.)
using BuildFailure = std::variant<SyntaxError, CypherError>;
std::optional<BuildFailure> build_query(Pair cypher, ast::CypherQuery& out);
BuildResult<ast::RegularQuery> build_regular_query(Pair p, std::uint32_t depth = 0);
BuildResult<ast::SingleQuery> build_single_query(Pair p, std::uint32_t depth = 0);
BuildResult<ast::WithClause> build_with_clause(Pair p, std::uint32_t depth = 0);
BuildResult<ast::ReturnClause> build_return_clause(Pair p, std::uint32_t depth = 0);
BuildResult<ReturnBody> build_return_body(Pair p, std::uint32_t depth = 0);
BuildResult<ast::SortItem> build_sort_item(Pair p, std::uint32_t depth = 0);

// Reading and updating clauses.
BuildResult<ast::ReadingClause> build_reading_clause(Pair p, std::uint32_t depth = 0);
// Serves `in_query_call` and `standalone_call` alike.
BuildResult<ast::CallClause> build_call_clause(Pair p, std::uint32_t depth = 0);
BuildResult<ast::UpdatingClause> build_updating_clause(Pair p, std::uint32_t depth = 0);
BuildResult<std::vector<ast::SetItem>> build_set_clause(Pair p, std::uint32_t depth = 0);

// Patterns and property maps.
BuildResult<ast::Pattern> build_pattern(Pair p, std::uint32_t depth = 0);
BuildResult<ast::PatternPart> build_pattern_part(Pair p, std::uint32_t depth = 0);
BuildResult<ast::NodePattern> build_node_pattern(Pair p, std::uint32_t depth = 0);
BuildResult<ast::RelationshipPattern> build_relationship_pattern(Pair p,
                                                                 std::uint32_t depth = 0);
BuildResult<ast::MapOrParam> build_properties(Pair p, std::uint32_t depth = 0);
BuildResult<ast::ExprMap> build_map_literal(Pair p, std::uint32_t depth = 0);
BuildResult<ast::PropertyExpr> build_property_expression(Pair p);
std::vector<std::string> build_node_labels(Pair p);
std::vector<std::string> build_rel_types(Pair p);
ast::Range build_range_literal(Pair p);

// Expressions. build_expression takes any rule from `expression` down to `atom`.
BuildResult<ast::Expr> build_expression(Pair p, std::uint32_t depth = 0);
// Serves `or_expr`, `xor_expr` and `and_expr`.
BuildResult<ast::Expr> build_or_expr(Pair p, std::uint32_t depth = 0);
BuildResult<ast::Expr> build_comparison_expr(Pair p, std::uint32_t depth = 0);
BuildResult<ast::Expr> build_postfix_expr(Pair p, std::uint32_t depth = 0);
BuildResult<ast::Expr> build_atom(Pair p, std::uint32_t depth = 0);
BuildResult<ast::Expr> build_literal(Pair p, std::uint32_t depth = 0);
BuildResult<FilterExpression> parse_filter_expression(Pair p, std::uint32_t depth = 0);

}  // namespace torvane::parser::builder
