#pragma once
// A compact, deterministic text form of syntax trees, so tests can state a
// whole tree in one line.
//
// Expressions are written variant(operands): Or(a, And(b, Not(Eq(c, 1)))).
// Leaves are bare: variables and keys as stored, integers as digits, floats
// always with a "." or exponent (1500.0), strings in single quotes, $param,
// true, false, null. Maps list their keys sorted. Clauses read like Cypher
// with the structure made explicit: each WITH part of a multi-part query is
// bracketed, `[MATCH (a) WITH a] RETURN a`.
#include <string>

#include "parser/ast.hpp"

namespace torvane::test {

std::string dump(const parser::ast::Expr& e);
std::string dump(const parser::ast::Pattern& p);
std::string dump(const parser::ast::PatternPart& p);
std::string dump(const parser::ast::CypherQuery& q);

}  // namespace torvane::test
