#pragma once
// SemanticValidator: checks one syntax tree against a schema and collects every
// finding in the order it is met. It never fails and never stops early; the
// order of the findings is visible to callers, so the walk order is fixed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "keyed_hash.hpp"
#include "parser/ast.hpp"
#include "parser/names.hpp"
#include "schema/schema.hpp"

namespace torvane::validator::semantic {

// The variables in scope, each with the node labels it is known to carry or
// the relationship types it may have (empty when nothing is known); names are
// views into the syntax tree being walked. A query binds a handful of
// variables, so they sit in a list searched in order; once the list outgrows
// kListedMax a keyed hash index over it takes the searches, so a query with
// thousands of variables costs no quadratic time.
class Scope {
 public:
  struct Binding {
    std::string_view name;
    std::vector<std::string_view> names;
  };

  const Binding* find(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  // The binding of `name`, added with no names when absent (then `second`
  // is true). The pointer lasts until the next change of the scope.
  std::pair<Binding*, bool> try_emplace(std::string_view name);
  void erase(std::string_view name);
  std::size_t size() const { return list_.size(); }

  static constexpr std::size_t kListedMax = 8;

 private:
  std::ptrdiff_t position(std::string_view name) const;

  std::vector<Binding> list_;
  // Positions in `list_`, kept from the moment the list first outgrew
  // kListedMax; none before, so a small scope builds no hasher.
  std::optional<std::unordered_map<std::string_view, std::size_t, KeyedHash, StringEqual>> index_;
};

// Schema entries already looked up, by name as written (the schema is asked
// for the name it stands for, without backticks): a query names a few
// labels and types again and again, and a short list searched in order costs
// less than hashing the name anew. Once the list is full, further names are
// looked up in the schema each time.
template <class Entry>
class LookupMemo {
 public:
  // The entry of `name` in `map`, or null when it has none.
  template <class Map>
  const Entry* find(const Map& map, std::string_view name) {
    for (std::size_t i = 0; i < size_; ++i)
      if (names_[i] == name) return entries_[i];
    auto it = map.find(parser::NameOf(name).get());
    const Entry* entry = it == map.end() ? nullptr : &it->second;
    if (size_ < names_.size()) {
      names_[size_] = name;
      entries_[size_++] = entry;
    }
    return entry;
  }

 private:
  std::array<std::string_view, Scope::kListedMax> names_;
  std::array<const Entry*, Scope::kListedMax> entries_;
  std::size_t size_ = 0;
};

class SemanticValidator {
 public:
  // Borrows `schema` for the validator's lifetime.
  explicit SemanticValidator(const schema::Schema& schema);

  // The current scope.
  Scope bindings;
  const schema::Schema& schema;
  std::vector<diagnostics::ValidationDiagnostic> diagnostics;
  std::size_t error_count = 0;  // of `diagnostics`, the errors
  // The subject of each unknown-property finding that has a suggestion, in
  // order: views into the tree walked.
  std::vector<diagnostics::FindingSubject> property_subjects;
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
  void check_property_keys(const Scope::Binding& bound, std::span<const std::string> keys);
  // `variable.key`: the key against the variable's labels or types, else the
  // variable reported unbound.
  [[gnu::noinline]] void validate_variable_property(std::string_view variable,
                                                    const std::string& key);
  void validate_pagination_expr(const parser::ast::Expr& expr, std::string_view clause);
  static bool contains_aggregate(const parser::ast::Expr& expr);

 private:
  struct ExprChecker;
  // validate_expr of an expression that is a chain link.
  [[gnu::noinline]] void validate_chain(const parser::ast::Expr& expr);

  void run_part(const std::vector<parser::ast::ReadingClause>& reading,
                const std::vector<parser::ast::UpdatingClause>& updating);
  void validate_with_clause(const parser::ast::WithClause& with);
  void check_match_warnings(const parser::ast::ReadingClause::Match& match);
  void bind_empty(std::string_view name);
  void bind_merged(std::string_view name, const std::vector<std::string>& names);
  // The scope a projection leaves: each output name bound as `from` binds
  // its variable, when the item is a bare variable, else with no names.
  static void project(const std::vector<parser::ast::ReturnItem>& items, const Scope& from,
                      Scope& to);
  bool is_bound(std::string_view name) const { return bindings.contains(name); }
  // The property names of a node label, or null when the schema lacks it.
  const HashSet* node_entry(std::string_view label) { return nodes_.find(schema.nodes, label); }
  const schema::RelationshipDef* rel_entry(std::string_view type) {
    return rels_.find(schema.relationships, type);
  }
  std::span<const std::string_view> label_candidates();
  std::span<const std::string_view> type_candidates();
  // The lists a closest-name search looks through: the schema's labels or
  // types, or the properties of one label or type (the owner).
  enum class Among : std::uint8_t { labels, types, label_properties, type_properties };
  // closest_match of `name` in that list, searched once per validation: a
  // query may repeat an unknown name many times. `owner` and `name` must
  // live as long as the validator (views into the tree it walks).
  std::optional<std::string_view> closest_name(Among among, std::string_view owner,
                                               std::string_view name);
  // Each of `labels` that the schema lacks, reported with `code`.
  void check_labels(const std::vector<std::string>& labels, diagnostics::DiagnosticCode code,
                    std::string_view lead);
  void push_unknown_label(diagnostics::DiagnosticCode code, std::string_view lead,
                          std::string_view name, Among among);
  // `variable`: the one the key is read from, if any (E303, E304).
  void push_unknown_property(diagnostics::DiagnosticCode code, std::string message,
                             std::string_view key, Among among, std::string_view owner,
                             std::string_view variable = {});
  void push_aggregate_misuse(std::string_view context);
  void push_unbound(std::string_view variable);
  // Every updating clause but FOREACH.
  [[gnu::noinline]] void validate_flat_updating_clause(const parser::ast::UpdatingClause& clause);

  LookupMemo<HashSet> nodes_;
  LookupMemo<schema::RelationshipDef> rels_;

  // While a FOREACH body is checked, each binding it makes first saves what
  // the name was bound to (nothing when it was unbound), so that the FOREACH
  // leaves the scope as it found it. Undone in reverse, a name saved twice
  // ends with its earliest state.
  struct SavedBinding {
    std::string_view name;
    std::optional<std::vector<std::string_view>> names;
  };
  void save_binding(std::string_view name);
  void restore_bindings(std::size_t from);
  std::vector<SavedBinding> saved_;
  std::size_t foreach_depth_ = 0;

  // The variable occurrences (their names' data) that a WITH's WHERE or
  // ORDER BY may use unbound: inside a part written as a projected
  // expression, bound before the WITH. Sorted; empty outside such a WITH.
  std::vector<const char*> unbound_allowed_;

  // The links of the chains validate_chain is walking, innermost last.
  std::vector<const parser::ast::Expr*> chain_;

  // What closest_name found, by list and name (views into the tree being
  // walked), searched in order; once the list outgrows Scope::kListedMax, a
  // keyed hash index over it takes the searches.
  struct Searched {
    Among among;
    std::string_view owner, name;
    std::optional<std::string_view> match;
  };
  std::vector<Searched> searched_;
  std::optional<HashMap<std::size_t>> searched_index_;
};

}  // namespace torvane::validator::semantic
