#include "parser/builder_internal.hpp"

namespace torvane::parser::builder {

// ---- Reading and updating clauses ----

bool Builder::build_reading_clause(Pair p, ast::ReadingClause& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty reading_clause");
  switch (c->as_rule()) {
    case Rule::match_clause:
      return build_match_clause(*c, fresh_alternative<ast::ReadingClause::Match>(out.node), depth);
    case Rule::unwind_clause: {
      auto& unwind = out.node.emplace<ast::ReadingClause::Unwind>(Fresh{});
      Pairs kids = c->into_inner();
      const std::optional<Pair> e = kids.next();
      if (!e) return fail("UNWIND missing expr");
      if (!build_expression(*e, unwind.expr, depth + 1)) return false;
      const std::optional<Pair> variable = kids.next();
      if (!variable) return fail("UNWIND missing variable");
      unwind.variable = variable->as_str();
      return true;
    }
    case Rule::in_query_call:
      return build_call_clause(*c, out.node.emplace<ast::ReadingClause::Call>(Fresh{}).call, depth);
    default: return fail("Unknown reading clause: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_match_clause(Pair p, ast::ReadingClause::Match& out, std::uint32_t depth) {
  out.optional = starts_with_word(p.as_str(), "OPTIONAL");
  bool have_pattern = false;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::pattern) {
      if (!build_pattern(c, out.pattern, depth)) return false;
      have_pattern = true;
    } else if (c.as_rule() == Rule::where_clause) {
      const std::optional<Pair> e = c.first_child();
      if (!e) return fail("Empty WHERE");
      if (!build_expression(*e, out.where_clause.emplace(Fresh{}), depth + 1)) return false;
    }
  }
  if (!have_pattern) return fail("MATCH missing pattern");
  return true;
}

bool Builder::build_call_clause(Pair p, ast::CallClause& out, std::uint32_t depth) {
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::explicit_procedure_invocation) {
      out.args.reserve(out.args.size() + count_children(c, Rule::expression));
      for (Pair k : c.into_inner()) {
        if (k.as_rule() == Rule::procedure_name) {
          out.procedure = k.as_str();
        } else if (k.as_rule() == Rule::expression) {
          if (!build_expression(k, out.args.emplace_back(Fresh{}), depth + 1)) return false;
        }
      }
    } else if (c.as_rule() == Rule::yield_items) {
      for (Pair item : c.into_inner()) {
        if (item.as_rule() != Rule::yield_item) continue;
        ast::YieldItem& y = out.yield_items.emplace_back(Fresh{});
        for (Pair k : item.into_inner()) {
          if (k.as_rule() == Rule::procedure_result_field)
            y.field.emplace(k.as_str());
          else if (k.as_rule() == Rule::variable)
            y.variable = k.as_str();
        }
      }
    }
  }
  return true;
}

bool Builder::build_updating_clause(Pair p, ast::UpdatingClause& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty updating_clause");
  switch (c->as_rule()) {
    case Rule::create_clause: {
      auto& create = fresh_alternative<ast::UpdatingClause::Create>(out.node);
      const std::optional<Pair> pattern = c->first_child();
      if (!pattern) return fail("CREATE missing pattern");
      return build_pattern(*pattern, create.pattern, depth);
    }
    case Rule::merge_clause:
      return build_merge_clause(*c, out.node.emplace<ast::UpdatingClause::Merge>(Fresh{}), depth);
    case Rule::set_clause:
      return build_set_clause(*c, out.node.emplace<ast::UpdatingClause::Set>(Fresh{}).items, depth);
    case Rule::remove_clause: {
      auto& remove = out.node.emplace<ast::UpdatingClause::Remove>(Fresh{});
      remove.items.reserve(count_children(*c, Rule::remove_item));
      for (Pair item : c->into_inner())
        if (item.as_rule() == Rule::remove_item &&
            !build_remove_item(item, remove.items.emplace_back(Fresh{})))
          return false;
      return true;
    }
    case Rule::delete_clause: {
      auto& del = out.node.emplace<ast::UpdatingClause::Delete>(Fresh{});
      del.detach = starts_with_word(c->as_str(), "DETACH");
      for (Pair e : c->into_inner())
        if (e.as_rule() == Rule::expression &&
            !build_expression(e, del.expressions.emplace_back(Fresh{}), depth + 1))
          return false;
      return true;
    }
    case Rule::foreach_clause:
      return build_foreach_clause(*c, out.node.emplace<ast::UpdatingClause::Foreach>(Fresh{}),
                                  depth);
    default: return fail("Unknown updating clause: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_merge_clause(Pair p, ast::UpdatingClause::Merge& out, std::uint32_t depth) {
  bool have_part = false;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::pattern_part) {
      if (have_part) out.pattern_part = {};
      if (!build_pattern_part(c, out.pattern_part, depth)) return false;
      have_part = true;
    } else if (c.as_rule() == Rule::on_match_or_create) {
      auto& actions = keyword_after_lead(c, 2, "MATCH") ? out.on_match : out.on_create;
      for (Pair set : c.into_inner())
        if (set.as_rule() == Rule::set_clause &&
            !build_set_clause(set, actions.emplace_back(), depth))
          return false;
    }
  }
  if (!have_part) return fail("MERGE missing pattern_part");
  return true;
}

bool Builder::build_foreach_clause(Pair p, ast::UpdatingClause::Foreach& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> variable = kids.next();
  if (!variable) return fail("FOREACH missing variable");
  const std::optional<Pair> list = kids.next();
  if (!list) return fail("FOREACH missing list expression");
  out.variable = variable->as_str();
  if (!build_expression(*list, out.list, depth + 1)) return false;
  for (Pair c : kids)
    if (c.as_rule() == Rule::updating_clause &&
        !build_updating_clause(c, out.body.emplace_back(Fresh{}), depth + 1))
      return false;
  if (out.body.empty()) return fail("FOREACH body is empty");
  return true;
}

bool Builder::build_set_clause(Pair p, std::vector<ast::SetItem>& out, std::uint32_t depth) {
  out.reserve(count_children(p, Rule::set_item));
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::set_item && !build_set_item(c, out.emplace_back(Fresh{}), depth))
      return false;
  return true;
}

bool Builder::build_set_item(Pair p, ast::SetItem& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  const std::optional<Pair> second = kids.next();
  if (!first || !second) return fail("Invalid SET item");
  if (first->as_rule() == Rule::property_expression) {
    auto& item = out.node.emplace<ast::SetItem::Property>();
    return build_property_expression(*first, item.property) &&
           build_expression(*second, item.value, depth + 1);
  }
  if (first->as_rule() != Rule::variable) return fail("Unknown SET item");
  if (second->as_rule() == Rule::node_labels) {
    auto& item = out.node.emplace<ast::SetItem::Labels>();
    item.variable = first->as_str();
    collect_names(*second, Rule::label_name, item.labels);
    return true;
  }
  // "+=" or "=" stands between the variable and the value.
  const std::string_view src = p.source().substr(0, second->start());
  if (src.substr(after_blanks_and_comments(src, first->end())).starts_with("+=")) {
    auto& item = out.node.emplace<ast::SetItem::VariableMerge>();
    item.variable = first->as_str();
    return build_expression(*second, item.value, depth + 1);
  }
  auto& item = out.node.emplace<ast::SetItem::Variable>();
  item.variable = first->as_str();
  return build_expression(*second, item.value, depth + 1);
}

bool Builder::build_remove_item(Pair p, ast::RemoveItem& out) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Empty remove_item");
  if (first->as_rule() == Rule::property_expression)
    return build_property_expression(*first,
                                     out.node.emplace<ast::RemoveItem::Property>().property);
  if (first->as_rule() != Rule::variable) return fail("Unknown REMOVE item");
  auto& item = out.node.emplace<ast::RemoveItem::Labels>();
  item.variable = first->as_str();
  const std::optional<Pair> second = kids.next();
  if (second && second->as_rule() == Rule::node_labels)
    collect_names(*second, Rule::label_name, item.labels);
  return true;
}

}  // namespace torvane::parser::builder
