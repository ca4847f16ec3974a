#pragma once
// SemanticValidator: checks one syntax tree against a schema and collects every
// finding in the order it is met. It never fails and never stops early; the
// order of the findings is visible to callers, so the walk order is fixed.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "keyed_hash.hpp"
#include "parser/ast.hpp"
#include "schema/schema.hpp"

namespace torvane::validator::semantic {

class SemanticValidator {
 public:
  // Borrows `schema` for the validator's lifetime.
  explicit SemanticValidator(const schema::Schema& schema);

  // The current scope: each bound variable with the node labels it is known to
  // carry or the relationship types it may have (empty when nothing is known).
  HashMap<std::vector<std::string>> bindings;
  const schema::Schema& schema;
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  std::vector<diagnostics::ValidationDiagnostic> diagnostics;
  // The schema's labels and types, sorted: the candidates of suggestions,
  // filled on the first unknown name, since most queries have none.
  std::vector<std::string_view> node_labels;
  std::vector<std::string_view> rel_types;

  void push_error(diagnostics::DiagnosticCode code, std::string message,
                  std::optional<diagnostics::Suggestion> suggestion);
  void push_warning(diagnostics::DiagnosticCode code, std::string message);

  // Query structure and scopes.
  void validate_query(const parser::ast::CypherQuery& query);
  void validate_single_query(const parser::ast::SingleQuery& query);
  void validate_return_clause(const parser::ast::ReturnClause& clause);
  void check_alias_uniqueness(const std::vector<parser::ast::ReturnItem>& items);
  void collect_reading_bindings(const parser::ast::ReadingClause& clause);
  void collect_updating_bindings(const parser::ast::UpdatingClause& clause);
  void collect_pattern_bindings(std::span<const parser::ast::PatternPart> parts);
  void collect_node_bindings(const parser::ast::NodePattern& node);

  // Clauses and patterns.
  void validate_reading_clause(const parser::ast::ReadingClause& clause);
  void validate_updating_clause(const parser::ast::UpdatingClause& clause);
  void validate_node_pattern(const parser::ast::NodePattern& node);
  void validate_rel_pattern_with_endpoints(const parser::ast::RelationshipPattern& rel,
                                           const std::vector<std::string>& left_labels,
                                           const std::vector<std::string>& right_labels);
  void check_endpoint_label(const std::vector<std::string>& labels, std::string_view expected,
                            std::string_view role, std::string_view rel_type);
  // The start node, then each relationship with its two neighbours' labels and its node.
  void validate_pattern_element(const parser::ast::PatternElement& element);

  // Expressions.
  void validate_expr(const parser::ast::Expr& expr);
  void validate_property_access(std::string_view variable, std::span<const std::string> keys);
  void validate_pagination_expr(const parser::ast::Expr& expr, std::string_view clause);
  static bool contains_aggregate(const parser::ast::Expr& expr);

 private:
  struct ExprChecker;

  void run_part(const std::vector<parser::ast::ReadingClause>& reading,
                const std::vector<parser::ast::UpdatingClause>& updating);
  void validate_with_clause(const parser::ast::WithClause& with);
  void check_match_warnings(const parser::ast::ReadingClause::Match& match);
  void bind_empty(const std::string& name);
  void bind_merged(const std::string& name, const std::vector<std::string>& names);
  bool is_bound(std::string_view name) const { return bindings.find(name) != bindings.end(); }
  std::span<const std::string_view> label_candidates();
  std::span<const std::string_view> type_candidates();
  void push_unknown_label(diagnostics::DiagnosticCode code, std::string_view lead,
                          std::string_view name, std::span<const std::string_view> candidates);
  void push_unknown_property(diagnostics::DiagnosticCode code, std::string message,
                             std::string_view key, std::span<const std::string_view> candidates);
  void push_aggregate_misuse(std::string_view context);
  // Every updating clause but FOREACH.
  [[gnu::noinline]] void validate_flat_updating_clause(const parser::ast::UpdatingClause& clause);
};

}  // namespace torvane::validator::semantic
