#include "parser/builder_internal.hpp"

#include <charconv>
#include <system_error>

namespace torvane::parser::builder {

namespace {

// A hop bound: one optional sign, then ASCII digits only, within 64 bits; else absent.
std::optional<std::int64_t> read_bound(std::string_view t) {
  std::string_view digits = t;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
  if (t.front() == '+') t = digits;  // from_chars takes a minus but no plus
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc{} || end != t.data() + t.size()) return std::nullopt;
  return v;
}

}  // namespace

// ---- Patterns and property maps ----

bool Builder::build_pattern(Pair p, ast::Pattern& out, std::uint32_t depth) {
  out.parts.clear();
  out.parts.reserve(count_children(p, Rule::pattern_part));
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::pattern_part &&
        !build_pattern_part(c, out.parts.emplace_back(Fresh{}), depth))
      return false;
  return true;
}

bool Builder::build_pattern_part(Pair p, ast::PatternPart& out, std::uint32_t depth) {
  bool have_element = false;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::variable) {
      out.variable.emplace(c.as_str());
    } else if (c.as_rule() == Rule::pattern_element) {
      if (have_element) out.element = {};
      if (!build_pattern_element(c, out.element, depth)) return false;
      have_element = true;
    }
  }
  if (!have_element) return fail("Pattern part missing element");
  return true;
}

bool Builder::build_pattern_element(Pair p, ast::PatternElement& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  std::optional<Pair> first = kids.next();
  if (!first) return fail("Pattern element missing node");
  if (first->as_rule() == Rule::shortest_path_call) {
    // A shortestPath standing as a pattern element is read as its plain path.
    kids = first->into_inner();
    first = kids.next();
    if (!first) return fail("shortestPath missing node");
  }
  return build_node_pattern(*first, out.start, depth) && build_chain(kids, out.chain, depth, true);
}

// The steps after the start node: each relationship pairs with the node that
// follows it; a relationship still waiting for its node sits at the back of
// the chain. `build_unpaired` says whether a node without a waiting
// relationship is still built (and so may fail) before it is dropped.
bool Builder::build_chain(Pairs rest, std::vector<ast::PatternStep>& out, std::uint32_t depth,
                          bool build_unpaired) {
  std::uint32_t steps = 0;
  for (Pair c : rest) steps += c.as_rule() == Rule::relationship_pattern;
  out.reserve(steps);
  bool pending = false;
  for (Pair c : rest) {
    if (c.as_rule() == Rule::relationship_pattern) {
      if (pending)
        out.back().relationship = {};  // a later relationship replaces it
      else
        out.emplace_back(Fresh{});
      pending = true;
      if (!build_relationship_pattern(c, out.back().relationship, depth)) return false;
    } else if (c.as_rule() == Rule::node_pattern) {
      if (pending) {
        if (!build_node_pattern(c, out.back().node, depth)) return false;
        pending = false;
      } else if (build_unpaired) {
        ast::NodePattern dropped;
        if (!build_node_pattern(c, dropped, depth)) return false;
      }
    }
  }
  if (pending) out.pop_back();
  return true;
}

bool Builder::build_node_pattern(Pair p, ast::NodePattern& out, std::uint32_t depth) {
  for (Pair c : p.into_inner()) {
    switch (c.as_rule()) {
      case Rule::variable: out.variable.emplace(c.as_str()); break;
      case Rule::node_labels: collect_names(c, Rule::label_name, out.labels); break;
      case Rule::properties:
        if (!build_properties(c, out.properties.emplace(Fresh{}), depth)) return false;
        break;
      default: break;
    }
  }
  return true;
}

bool Builder::build_relationship_pattern(Pair p, ast::RelationshipPattern& out,
                                         std::uint32_t depth) {
  const std::string_view t = p.as_str();
  if (!t.empty() && t.front() == '<')
    out.direction = ast::Direction::RightToLeft;
  else if (!t.empty() && t.back() == '>')
    out.direction = ast::Direction::LeftToRight;
  else
    out.direction = ast::Direction::Undirected;
  for (Pair c : p.into_inner()) {
    switch (c.as_rule()) {
      case Rule::variable: out.variable.emplace(c.as_str()); break;
      case Rule::rel_types: collect_names(c, Rule::rel_type_name, out.types); break;
      case Rule::range_literal: out.range = builder::build_range_literal(c); break;
      case Rule::properties:
        if (!build_properties(c, out.properties.emplace(Fresh{}), depth)) return false;
        break;
      default: break;
    }
  }
  return true;
}

bool Builder::build_properties(Pair p, ast::MapOrParam& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty properties");
  if (c->as_rule() == Rule::map_literal)
    return build_map_literal(*c, fresh_alternative<ast::MapOrParam::Map>(out.node).entries, depth);
  if (c->as_rule() == Rule::parameter) {
    out.node.emplace<ast::MapOrParam::Param>().name = strip_dollars(c->as_str());
    return true;
  }
  return fail("Unknown properties type");
}

bool Builder::build_map_literal(Pair p, ast::ExprMap& out, std::uint32_t depth) {
  out.reserve(count_children(p, Rule::property_key_value_pair));
  for (Pair entry : p.into_inner()) {
    if (entry.as_rule() != Rule::property_key_value_pair) continue;
    Pairs kids = entry.into_inner();
    const std::optional<Pair> key = kids.next();
    if (!key) return fail("Map missing key");
    const std::optional<Pair> value = kids.next();
    if (!value) return fail("Map missing value");
    // A key written again gets the value written last.
    if (!build_expression(*value, out.try_emplace(std::string(key->as_str())).first->second,
                          depth + 1))
      return false;
  }
  return true;
}

bool Builder::build_property_expression(Pair p, ast::PropertyExpr& out) {
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::variable) {
      out.variable = c.as_str();
    } else if (c.as_rule() == Rule::property_lookup) {
      const std::optional<Pair> key = c.first_child();
      if (!key) return fail("Property lookup missing key");
      out.keys.emplace_back(key->as_str());
    }
  }
  return true;
}

ast::Range build_range_literal(Pair p) {
  // Blanks and comments may stand around the bounds and the ".." (and end the
  // text); they are no part of a bound, so they are left out first.
  const std::string_view raw = p.as_str();
  std::string compact;
  for (std::size_t i = after_blanks_and_comments(raw, 0); i < raw.size(); i = after_blanks_and_comments(raw, i + 1))
    compact += raw[i];
  std::string_view t = compact;
  while (!t.empty() && t.front() == '*') t.remove_prefix(1);
  t = trim(t);
  if (t.empty()) return {};
  const std::size_t dots = t.find("..");
  if (dots == std::string_view::npos) {
    const std::optional<std::int64_t> both = read_bound(t);
    return {both, both};
  }
  // Pieces past the second are ignored.
  const std::string_view rest = t.substr(dots + 2);
  return {read_bound(trim(t.substr(0, dots))), read_bound(trim(rest.substr(0, rest.find(".."))))};
}

}  // namespace torvane::parser::builder
