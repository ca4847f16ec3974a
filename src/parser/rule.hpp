#pragma once
// The grammar rules, in grammar order. Their values order the expected-rule
// lists of syntax errors; their names appear in error texts.
#include <array>
#include <cstdint>
#include <string_view>

namespace torvane::parser {

enum class Rule : std::uint8_t {
  EOI, WHITESPACE, COMMENT, cypher, statement, regular_query, union_clause,
  single_query, single_part_query, multi_part_query, reading_clause, match_clause,
  unwind_clause, in_query_call, standalone_call, explicit_procedure_invocation,
  procedure_name, yield_items, yield_item, procedure_result_field, updating_clause,
  foreach_clause, create_clause, merge_clause, on_match_or_create, set_clause,
  set_item, remove_clause, remove_item, delete_clause, with_clause, return_clause,
  return_body, return_items, return_item, order_clause, sort_item, skip_clause,
  limit_clause, where_clause, pattern, pattern_part, pattern_element, node_pattern,
  node_labels, label_name, relationship_pattern, left_arrow, right_arrow, rel_types,
  rel_type_name, range_literal, properties, expression, or_kw, xor_kw, and_kw,
  not_kw, or_expr, xor_expr, and_expr, not_expr, comparison_expr, comparison_op,
  add_sub_expr, mul_div_expr, mod_expr, power_expr, unary_expr, postfix_expr,
  null_check_op, postfix_op, property_lookup, subscript_op, list_slice_op, atom,
  parenthesized_expr, count_star, function_invocation, function_name, namespace_,
  reduce_expression, shortest_path_call, case_expression, list_comprehension,
  filter_expression, id_in_coll, quantifier_expression, exists_subquery, literal,
  integer_literal, float_literal, string_literal, boolean_literal, null_literal,
  list_literal, map_literal, property_key_value_pair, property_key_name,
  property_expression, parameter, variable, identifier, backtick_identifier, keyword,
  count
};

inline constexpr std::size_t rule_count = static_cast<std::size_t>(Rule::count);

inline constexpr std::array<std::string_view, rule_count> rule_names = {
  "EOI", "WHITESPACE", "COMMENT", "cypher", "statement", "regular_query", "union_clause",
  "single_query", "single_part_query", "multi_part_query", "reading_clause", "match_clause",
  "unwind_clause", "in_query_call", "standalone_call", "explicit_procedure_invocation",
  "procedure_name", "yield_items", "yield_item", "procedure_result_field", "updating_clause",
  "foreach_clause", "create_clause", "merge_clause", "on_match_or_create", "set_clause",
  "set_item", "remove_clause", "remove_item", "delete_clause", "with_clause", "return_clause",
  "return_body", "return_items", "return_item", "order_clause", "sort_item", "skip_clause",
  "limit_clause", "where_clause", "pattern", "pattern_part", "pattern_element", "node_pattern",
  "node_labels", "label_name", "relationship_pattern", "left_arrow", "right_arrow", "rel_types",
  "rel_type_name", "range_literal", "properties", "expression", "or_kw", "xor_kw", "and_kw",
  "not_kw", "or_expr", "xor_expr", "and_expr", "not_expr", "comparison_expr", "comparison_op",
  "add_sub_expr", "mul_div_expr", "mod_expr", "power_expr", "unary_expr", "postfix_expr",
  "null_check_op", "postfix_op", "property_lookup", "subscript_op", "list_slice_op", "atom",
  "parenthesized_expr", "count_star", "function_invocation", "function_name", "namespace",
  "reduce_expression", "shortest_path_call", "case_expression", "list_comprehension",
  "filter_expression", "id_in_coll", "quantifier_expression", "exists_subquery", "literal",
  "integer_literal", "float_literal", "string_literal", "boolean_literal", "null_literal",
  "list_literal", "map_literal", "property_key_value_pair", "property_key_name",
  "property_expression", "parameter", "variable", "identifier", "backtick_identifier", "keyword",
};
static_assert(rule_count == 105);
static_assert(rule_names[static_cast<std::size_t>(Rule::keyword)] == "keyword");
static_assert(rule_names[static_cast<std::size_t>(Rule::literal)] == "literal");

constexpr std::string_view rule_name(Rule r) { return rule_names[static_cast<std::size_t>(r)]; }

// The operator levels of an expression, loosest first: each level's operands
// are pairs of the next, the last's a postfix_expr.
inline constexpr std::array<Rule, 10> kOperatorLevels = {
    Rule::or_expr,      Rule::xor_expr,     Rule::and_expr, Rule::not_expr,   Rule::comparison_expr,
    Rule::add_sub_expr, Rule::mul_div_expr, Rule::mod_expr, Rule::power_expr, Rule::unary_expr};

}  // namespace torvane::parser
