#pragma once
// parse_query and its result class QueryInfo: which labels, relationship types
// and property keys a query mentions, found without a schema.
#include <string>
#include <string_view>
#include <vector>

#include "bindings/binding.hpp"
#include "parser/ast.hpp"

namespace torvane::bindings::py_parser {

struct PyQueryInfo {
  bool is_valid = false;
  std::vector<std::string> errors;
  std::vector<std::string> labels_used;
  std::vector<std::string> rel_types_used;
  std::vector<std::string> properties_used;
};

// The names a walk found. Names point into the syntax tree, which outlives the
// walk; repeats are kept until sorted() drops them, so inserting is one append.
class NameSet {
 public:
  void insert(std::string_view name) {
    if (names_.empty()) names_.reserve(16);  // one allocation for most queries
    names_.push_back(name);
  }
  // Byte-wise ascending, without duplicates.
  std::vector<std::string> sorted();

 private:
  std::vector<std::string_view> names_;
};

// The walkers: each adds what its node mentions. Their recursion follows the
// tree's nesting, which the grammar bounds, and not its chains (see
// parser/ast.hpp), which they walk in loops.
void collect_single_query(const parser::ast::SingleQuery& query, NameSet& labels,
                          NameSet& rel_types, NameSet& properties);
void collect_updating(const parser::ast::UpdatingClause& clause, NameSet& labels,
                      NameSet& rel_types, NameSet& properties);
void collect_pattern(const parser::ast::Pattern& pattern, NameSet& labels, NameSet& rel_types,
                     NameSet& properties);
void collect_expr(const parser::ast::Expr& expr, NameSet& properties);

// The summary of one query text, and of a tree that parsed.
PyQueryInfo query_info(std::string_view query);
PyQueryInfo query_info(const parser::ast::CypherQuery& tree);

// The class object, created on first use. Null with the error set on failure.
PyTypeObject* query_info_type();

// The function parse_query bound to `module`. Null with the error set.
PyObject* parse_query_function(PyObject* module);

}  // namespace torvane::bindings::py_parser
