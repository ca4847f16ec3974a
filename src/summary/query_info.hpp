#pragma once
// The summary of a query without a schema: whether it parses, and which node
// labels, relationship types and property keys a fixed set of its places
// mention, each list sorted byte-wise without repeats.
#include <string>
#include <string_view>
#include <vector>

#include "parser/ast.hpp"

namespace torvane::summary {

struct QueryInfo {
  bool is_valid = false;
  std::vector<std::string> errors;
  std::vector<std::string> labels_used;
  std::vector<std::string> rel_types_used;
  std::vector<std::string> properties_used;
};

// The names a walk found. Names point into the syntax tree, which outlives the
// walk; repeats are kept until sorted() drops them, so inserting is one append.
class MentionedNames {
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
void collect_single_query(const parser::ast::SingleQuery& query, MentionedNames& labels,
                          MentionedNames& rel_types, MentionedNames& properties);
void collect_updating(const parser::ast::UpdatingClause& clause, MentionedNames& labels,
                      MentionedNames& rel_types, MentionedNames& properties);
void collect_pattern(const parser::ast::Pattern& pattern, MentionedNames& labels,
                     MentionedNames& rel_types, MentionedNames& properties);
void collect_expr(const parser::ast::Expr& expr, MentionedNames& properties);

// The summary of one query text, and of a tree that parsed.
QueryInfo query_info(std::string_view query);
QueryInfo query_info(const parser::ast::CypherQuery& tree);

}  // namespace torvane::summary
