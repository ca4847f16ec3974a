#pragma once
// The parts of an expression written as one of a projection's expressions.
// After a WITH that has DISTINCT or an aggregate, its WHERE and ORDER BY may
// name such a part (`WITH u.state AS s, count(*) AS c WHERE u.state IS NOT
// NULL`): it stands for the value projected, so the variables inside it need
// not be in scope there.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "keyed_hash.hpp"
#include "parser/ast.hpp"

namespace torvane::validator::semantic {

// Whether two expressions are written alike: the same variants with the same
// names, keys and parameters byte for byte, function names in any ASCII case,
// literals of equal value and map entries in any order. A shortestPath or
// EXISTS expression is like no other.
bool same_expr(const parser::ast::Expr& a, const parser::ast::Expr& b);

class ProjectedExpressions {
 public:
  explicit ProjectedExpressions(std::span<const parser::ast::ReturnItem> items);

  // Appends every variable occurrence (the name in the tree) that stands
  // inside a part of `expr` written as one of the items' expressions.
  // Linear in the size of `expr`, whatever its shape: one pass hashes every
  // part, and only parts whose hash is an item's are compared.
  void variables_within(const parser::ast::Expr& expr,
                        std::vector<const std::string*>& out) const;

 private:
  std::uint64_t hash_parts(const parser::ast::Expr& expr,
                           std::vector<const std::string*>* out) const;

  KeyedHash text_hash_;
  // The items' expressions by hash, sorted.
  std::vector<std::pair<std::uint64_t, const parser::ast::Expr*>> items_;
};

}  // namespace torvane::validator::semantic
