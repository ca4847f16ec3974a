#include "parser/builder_internal.hpp"

#include "parser/engine.hpp"

namespace torvane::parser::builder {

static_assert(kMaxNesting == kMaxRuleDepth, "the builder reports the grammar's nesting error");

// ---- Query structure ----

bool Builder::build_query(Pair cypher, ast::CypherQuery& out) {
  const std::optional<Pair> statement = cypher.first_child();
  if (!statement) return fail("Empty query");
  if (statement->as_rule() != Rule::statement)
    return fail("Expected statement, got ", rule_name(statement->as_rule()));
  const std::optional<Pair> c = statement->first_child();
  if (!c) return fail("Empty statement");
  if (c->as_rule() == Rule::regular_query)
    return build_regular_query(*c, fresh_alternative<ast::CypherQuery::Regular>(out.node).query, 0);
  if (c->as_rule() == Rule::standalone_call)
    return build_call_clause(*c, out.node.emplace<ast::CypherQuery::StandaloneCall>(Fresh{}).call,
                             0);
  return fail("Unknown statement type: ", rule_name(c->as_rule()));
}

bool Builder::build_regular_query(Pair p, ast::RegularQuery& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Missing single_query");
  if (!build_single_query(*first, out.first, depth)) return false;
  for (Pair u : kids) {
    if (u.as_rule() != Rule::union_clause) continue;
    const std::optional<Pair> single = first_child_of(u, Rule::single_query);
    if (!single) return fail("Missing union single_query");
    ast::Union& next = out.unions.emplace_back(Fresh{});
    next.all = keyword_after_lead(u, 5, "ALL");
    if (!build_single_query(*single, next.query, depth)) return false;
  }
  return true;
}

bool Builder::build_single_query(Pair p, ast::SingleQuery& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty single_query");
  if (c->as_rule() == Rule::single_part_query) {
    auto& part = fresh_alternative<ast::SingleQuery::SinglePart>(out.node);
    part.reading_clauses.reserve(count_children(*c, Rule::reading_clause));
    for (Pair k : c->into_inner()) {
      switch (k.as_rule()) {
        case Rule::reading_clause:
          if (!build_reading_clause(k, part.reading_clauses.emplace_back(Fresh{}), depth))
            return false;
          break;
        case Rule::updating_clause:
          if (!build_updating_clause(k, part.updating_clauses.emplace_back(Fresh{}), depth))
            return false;
          break;
        case Rule::return_clause:
          if (!build_return_clause(k, part.return_clause.emplace(Fresh{}), depth)) return false;
          break;
        default: break;
      }
    }
    return true;
  }
  if (c->as_rule() == Rule::multi_part_query) {
    ast::MultiPartQuery& query = out.node.emplace<ast::SingleQuery::MultiPart>(Fresh{}).query;
    // Every clause goes straight into its part; the clauses after the last
    // WITH start a part too, which becomes the final lists at the end.
    query.parts.reserve(count_children(*c, Rule::with_clause) + 1);
    ast::QueryPart* open = nullptr;
    for (Pair k : c->into_inner()) {
      const Rule r = k.as_rule();
      if (r == Rule::return_clause) {
        if (!build_return_clause(k, query.return_clause.emplace(Fresh{}), depth)) return false;
        continue;
      }
      if (r != Rule::reading_clause && r != Rule::updating_clause && r != Rule::with_clause)
        continue;
      if (!open) open = &query.parts.emplace_back(Fresh{});
      if (r == Rule::reading_clause) {
        if (!build_reading_clause(k, open->reading_clauses.emplace_back(Fresh{}), depth))
          return false;
      } else if (r == Rule::updating_clause) {
        if (!build_updating_clause(k, open->updating_clauses.emplace_back(Fresh{}), depth))
          return false;
      } else {
        if (!build_with_clause(k, open->with, depth)) return false;
        open = nullptr;
      }
    }
    if (open) {
      query.reading_clauses = std::move(open->reading_clauses);
      query.updating_clauses = std::move(open->updating_clauses);
      query.parts.pop_back();
    }
    return true;
  }
  return fail("Unknown single_query: ", rule_name(c->as_rule()));
}

bool Builder::build_with_clause(Pair p, ast::WithClause& out, std::uint32_t depth) {
  out.distinct = distinct_after_lead(p, 4);
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::return_body) {
      if (!build_return_body(c, out, depth)) return false;
    } else if (c.as_rule() == Rule::where_clause) {
      const std::optional<Pair> e = c.first_child();
      if (!e) return fail("WHERE missing expr");
      if (!build_expression(*e, out.where_clause.emplace(Fresh{}), depth + 1)) return false;
    }
  }
  return true;
}

namespace {

// The list of `items`, made a list where it was RETURN *.
std::vector<ast::ReturnItem>& item_list(ast::ReturnItems& items) {
  if (auto* list = std::get_if<ast::ReturnItems::Items>(&items.node)) return list->items;
  return items.node.emplace<ast::ReturnItems::Items>(Fresh{}).items;
}

}  // namespace

bool Builder::build_return_clause(Pair p, ast::ReturnClause& out, std::uint32_t depth) {
  item_list(out.items);
  out.distinct = distinct_after_lead(p, 6);
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::return_body && !build_return_body(c, out, depth)) return false;
  return true;
}

template <class Target>
bool Builder::build_return_body(Pair p, Target& out, std::uint32_t depth) {
  constexpr bool with = std::is_same_v<Target, ast::WithClause>;
  // The body starts empty: its items, ORDER BY, SKIP and LIMIT replace the target's.
  std::vector<ast::ReturnItem>* items;
  if constexpr (with) {
    out.star = false;
    items = &out.items;
  } else {
    items = &item_list(out.items);
  }
  items->clear();
  out.order_by.reset();
  out.skip.reset();
  out.limit.reset();
  for (Pair c : p.into_inner()) {
    switch (c.as_rule()) {
      case Rule::return_items: {
        // Items are pairs, and a star is none: only a list without pairs is looked at.
        if (!c.first_child() && trim(c.as_str()) == "*") {
          // WITH * keeps its list empty and says so in its flag.
          if constexpr (with) {
            out.star = true;
            items->clear();
          } else {
            out.items.node.template emplace<ast::ReturnItems::All>();
          }
          break;
        }
        if constexpr (!with) items = &item_list(out.items);
        items->clear();
        items->reserve(count_children(c, Rule::return_item));
        for (Pair item : c.into_inner()) {
          if (item.as_rule() != Rule::return_item) continue;
          Pairs parts = item.into_inner();
          const std::optional<Pair> e = parts.next();
          if (!e) return fail("Return item missing expr");
          ast::ReturnItem& built = items->emplace_back(Fresh{});
          if (!build_expression(*e, built.expr, depth + 1)) return false;
          for (Pair a : parts)
            if (a.as_rule() == Rule::variable) {
              built.alias.emplace(a.as_str());
              break;
            }
        }
        break;
      }
      case Rule::order_clause: {
        std::vector<ast::SortItem>& order = out.order_by.emplace();
        order.reserve(count_children(c, Rule::sort_item));
        for (Pair s : c.into_inner())
          if (s.as_rule() == Rule::sort_item &&
              !build_sort_item(s, order.emplace_back(Fresh{}), depth))
            return false;
        break;
      }
      case Rule::skip_clause: {
        const std::optional<Pair> e = c.first_child();
        if (!e) return fail("SKIP missing expr");
        if (!build_expression(*e, out.skip.emplace(Fresh{}), depth + 1)) return false;
        break;
      }
      case Rule::limit_clause: {
        const std::optional<Pair> e = c.first_child();
        if (!e) return fail("LIMIT missing expr");
        if (!build_expression(*e, out.limit.emplace(Fresh{}), depth + 1)) return false;
        break;
      }
      default: break;
    }
  }
  return true;
}

bool Builder::build_sort_item(Pair p, ast::SortItem& out, std::uint32_t depth) {
  const std::optional<Pair> e = p.first_child();
  if (!e) return fail("Sort item missing expr");
  out.descending = word_at(p, e->end(), "DESC");
  return build_expression(*e, out.expr, depth + 1);
}

// ---- The entry points ----

BuildResult<ast::CypherQuery> build_query(Pair cypher) {
  return run(&Builder::build_query, cypher);
}

std::optional<BuildFailure> build_query(Pair cypher, ast::CypherQuery& out) {
  Builder b;
  if (b.build_query(cypher, out)) return std::nullopt;
  if (b.too_deep) return BuildFailure{std::move(*b.too_deep)};
  return BuildFailure{std::move(*b.failure)};
}

}  // namespace torvane::parser::builder
