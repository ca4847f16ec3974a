#include "summary/query_info.hpp"

#include <algorithm>
#include <variant>

#include "parser/parse.hpp"

namespace torvane::summary {

namespace ast = parser::ast;

std::vector<std::string> MentionedNames::sorted() {
  std::sort(names_.begin(), names_.end());
  names_.erase(std::unique(names_.begin(), names_.end()), names_.end());
  return {names_.begin(), names_.end()};
}

namespace {

using ast::Quantifier;

// Variants that hold no property access, or whose insides are not looked at.
template <class T>
concept Opaque =
    ast::Leaf<T> || ast::OneOf<T, ast::Expr::Variable, ast::Expr::Reduce, ast::Expr::ShortestPath>;

void collect_optional(const std::optional<ast::Box<ast::Expr>>& e, MentionedNames& properties) {
  if (e) collect_expr(**e, properties);
}

// An EXISTS subquery contributes its property keys only; its labels and
// relationship types go to sets that are dropped.
[[gnu::noinline]] void collect_exists_query(const ast::RegularQuery& query,
                                            MentionedNames& properties) {
  MentionedNames labels;
  MentionedNames rel_types;
  collect_single_query(query.first, labels, rel_types, properties);
  for (const ast::Union& u : query.unions) {
    collect_single_query(u.query, labels, rel_types, properties);
  }
}

// What one expression adds besides its chain link, which collect_expr
// follows itself.
struct ExprWalker {
  MentionedNames& properties;

  void operator()(const ast::Expr::PropertyAccess& e) const { properties.insert(e.key); }
  void operator()(const ast::Expr::List& e) const {
    for (const ast::Expr& item : e.items) collect_expr(item, properties);
  }
  void operator()(const ast::Expr::Map& e) const {
    // The keys of a map literal are not property keys.
    for (const auto& entry : e.entries) collect_expr(entry.second, properties);
  }
  template <ast::chain::TwoOperands T>
  void operator()(const T& e) const {
    collect_expr(*e.rhs, properties);
  }
  template <ast::chain::OneOperand T>
  void operator()(const T&) const {}
  void operator()(const ast::Expr::Index& e) const { collect_expr(*e.index, properties); }
  void operator()(const ast::Expr::Slice& e) const {
    collect_optional(e.from, properties);
    collect_optional(e.to, properties);
  }
  void operator()(const ast::Expr::FunctionCall& e) const {
    for (const ast::Expr& arg : e.args) collect_expr(arg, properties);
  }
  void operator()(const ast::Expr::Case& e) const {
    collect_optional(e.operand, properties);
    for (const ast::Expr::When& w : e.alternatives) {
      collect_expr(w.condition, properties);
      collect_expr(w.result, properties);
    }
    collect_optional(e.else_expr, properties);
  }
  void operator()(const ast::Expr::ListComprehension& e) const {
    collect_expr(*e.list, properties);
    collect_optional(e.filter, properties);
    collect_optional(e.projection, properties);
  }
  template <Quantifier T>
  void operator()(const T& e) const {
    collect_expr(*e.list, properties);
    collect_optional(e.predicate, properties);
  }
  void operator()(const ast::Expr::Exists& e) const {
    if (const auto* q = std::get_if<ast::ExistsSubquery::Query>(&e.subquery->node)) {
      collect_exists_query(q->query, properties);
    }
  }
  template <Opaque T>
  void operator()(const T&) const {}
};

void collect_node(const ast::NodePattern& node, MentionedNames& labels,
                  MentionedNames& properties) {
  for (const std::string& label : node.labels) labels.insert(label);
  if (!node.properties) return;
  if (const auto* map = std::get_if<ast::MapOrParam::Map>(&node.properties->node)) {
    for (const auto& [key, value] : map->entries) {
      properties.insert(key);
      collect_expr(value, properties);
    }
  }
}

// A relationship gives its types only: its own property map is not read.
void collect_pattern_part(const ast::PatternPart& part, MentionedNames& labels,
                          MentionedNames& rel_types, MentionedNames& properties) {
  collect_node(part.element.start, labels, properties);
  for (const ast::PatternStep& step : part.element.chain) {
    for (const std::string& type : step.relationship.types) rel_types.insert(type);
    collect_node(step.node, labels, properties);
  }
}

void collect_reading(const ast::ReadingClause& clause, MentionedNames& labels,
                     MentionedNames& rel_types, MentionedNames& properties) {
  // UNWIND and CALL are not looked at.
  if (const auto* m = std::get_if<ast::ReadingClause::Match>(&clause.node)) {
    collect_pattern(m->pattern, labels, rel_types, properties);
    if (m->where_clause) collect_expr(*m->where_clause, properties);
  }
}

// Reading clauses, then updating clauses; a WITH that closes the part is not walked.
void collect_clauses(const std::vector<ast::ReadingClause>& reading,
                     const std::vector<ast::UpdatingClause>& updating, MentionedNames& labels,
                     MentionedNames& rel_types, MentionedNames& properties) {
  for (const ast::ReadingClause& c : reading) collect_reading(c, labels, rel_types, properties);
  for (const ast::UpdatingClause& c : updating) collect_updating(c, labels, rel_types, properties);
}

// The returned expressions only: aliases, ORDER BY, SKIP and LIMIT are not looked at.
void collect_return(const std::optional<ast::ReturnClause>& clause, MentionedNames& properties) {
  if (!clause) return;
  if (const auto* items = std::get_if<ast::ReturnItems::Items>(&clause->items.node)) {
    for (const ast::ReturnItem& item : items->items) collect_expr(item.expr, properties);
  }
}

}  // namespace

// Along a chain in a loop, into the other children by recursion; the names
// are sorted afterwards, so the order of the walk does not show.
void collect_expr(const ast::Expr& expr, MentionedNames& properties) {
  for (const ast::Expr* at = &expr; at; at = ast::chain_next(*at))
    std::visit(ExprWalker{properties}, at->node);
}

void collect_pattern(const ast::Pattern& pattern, MentionedNames& labels, MentionedNames& rel_types,
                     MentionedNames& properties) {
  for (const ast::PatternPart& part : pattern.parts) {
    collect_pattern_part(part, labels, rel_types, properties);
  }
}

void collect_updating(const ast::UpdatingClause& clause, MentionedNames& labels,
                      MentionedNames& rel_types, MentionedNames& properties) {
  // SET, REMOVE, DELETE and FOREACH are not looked at, nor the ON MATCH and
  // ON CREATE items of a MERGE.
  if (const auto* c = std::get_if<ast::UpdatingClause::Create>(&clause.node)) {
    collect_pattern(c->pattern, labels, rel_types, properties);
  } else if (const auto* m = std::get_if<ast::UpdatingClause::Merge>(&clause.node)) {
    collect_pattern_part(m->pattern_part, labels, rel_types, properties);
  }
}

void collect_single_query(const ast::SingleQuery& query, MentionedNames& labels,
                          MentionedNames& rel_types, MentionedNames& properties) {
  if (const auto* single = std::get_if<ast::SingleQuery::SinglePart>(&query.node)) {
    collect_clauses(single->reading_clauses, single->updating_clauses, labels, rel_types,
                    properties);
    collect_return(single->return_clause, properties);
    return;
  }
  const ast::MultiPartQuery& multi = std::get<ast::SingleQuery::MultiPart>(query.node).query;
  for (const ast::QueryPart& part : multi.parts) {
    collect_clauses(part.reading_clauses, part.updating_clauses, labels, rel_types, properties);
  }
  collect_clauses(multi.reading_clauses, multi.updating_clauses, labels, rel_types, properties);
  collect_return(multi.return_clause, properties);
}

QueryInfo query_info(std::string_view query) {
  auto tree = parser::parse(query);
  if (!tree) return QueryInfo{false, {tree.error().display()}, {}, {}, {}};
  return query_info(*tree);
}

QueryInfo query_info(const ast::CypherQuery& tree) {
  MentionedNames labels;
  MentionedNames rel_types;
  MentionedNames properties;
  // A standalone CALL mentions no names.
  if (const auto* regular = std::get_if<ast::CypherQuery::Regular>(&tree.node)) {
    collect_single_query(regular->query.first, labels, rel_types, properties);
    for (const ast::Union& u : regular->query.unions) {
      collect_single_query(u.query, labels, rel_types, properties);
    }
  }
  return QueryInfo{true, {}, labels.sorted(), rel_types.sorted(), properties.sorted()};
}

}  // namespace torvane::summary
