#pragma once
// The tree builder: walks the pairs of an accepted query into the syntax tree.
//
// build_query takes the `cypher` pair and returns the tree or a
// CypherError::ParseError; its steps, one per grammar rule, are the builder's
// own (parser/builder_internal.hpp). Keywords and operators form no pairs, so
// flags and operators are read from the pair texts. The first failure ends the
// whole build.
//
// The builder's recursion follows how deeply a value is nested in brackets,
// lists, maps, calls, clauses and the like. A flat chain such as `a OR b OR
// ...` is no nesting: it is built in a loop, however deep the left-folded tree
// it makes (see parser/ast.hpp). Past kMaxNesting a build fails as the grammar
// fails past its nesting bound, with the same syntax error at the place; every
// level of nesting here is at least one nested grammar rule there, so a text
// the grammar accepts stays within it.
#include <cstdint>
#include <optional>
#include <variant>

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

BuildResult<ast::CypherQuery> build_query(Pair cypher);
// The same into a tree the caller holds (made empty), so that the tree lands
// in the caller's result without being moved; the failure, if any: the
// syntax error of a text nested past kMaxNesting, else the builder's error.
// (The value form carries that syntax error's text as a ParseError.)
using BuildFailure = std::variant<SyntaxError, CypherError>;
std::optional<BuildFailure> build_query(Pair cypher, ast::CypherQuery& out);

}  // namespace torvane::parser::builder
