#pragma once
// The Cypher grammar: one function per rule, in grammar order. Each runs one
// attempt of its rule at the state's position (the silent WHITESPACE and
// COMMENT run their bodies alone).
#include <array>
#include <string_view>

#include "parser/engine.hpp"
#include "parser/peg.hpp"
#include "parser/rule.hpp"

namespace torvane::parser::grammar {

bool EOI(ParserState& s);
bool WHITESPACE(ParserState& s);
bool COMMENT(ParserState& s);
bool cypher(ParserState& s);
bool statement(ParserState& s);
bool regular_query(ParserState& s);
bool union_clause(ParserState& s);
bool single_query(ParserState& s);
bool single_part_query(ParserState& s);
bool multi_part_query(ParserState& s);
bool reading_clause(ParserState& s);
bool match_clause(ParserState& s);
bool unwind_clause(ParserState& s);
bool in_query_call(ParserState& s);
bool standalone_call(ParserState& s);
bool explicit_procedure_invocation(ParserState& s);
bool procedure_name(ParserState& s);
bool yield_items(ParserState& s);
bool yield_item(ParserState& s);
bool procedure_result_field(ParserState& s);
bool updating_clause(ParserState& s);
bool foreach_clause(ParserState& s);
bool create_clause(ParserState& s);
bool merge_clause(ParserState& s);
bool on_match_or_create(ParserState& s);
bool set_clause(ParserState& s);
bool set_item(ParserState& s);
bool remove_clause(ParserState& s);
bool remove_item(ParserState& s);
bool delete_clause(ParserState& s);
bool with_clause(ParserState& s);
bool return_clause(ParserState& s);
bool return_body(ParserState& s);
bool return_items(ParserState& s);
bool return_item(ParserState& s);
bool order_clause(ParserState& s);
bool sort_item(ParserState& s);
bool skip_clause(ParserState& s);
bool limit_clause(ParserState& s);
bool where_clause(ParserState& s);
bool pattern(ParserState& s);
bool pattern_part(ParserState& s);
bool pattern_element(ParserState& s);
bool node_pattern(ParserState& s);
bool node_labels(ParserState& s);
bool label_name(ParserState& s);
bool relationship_pattern(ParserState& s);
bool left_arrow(ParserState& s);
bool right_arrow(ParserState& s);
bool rel_types(ParserState& s);
bool rel_type_name(ParserState& s);
bool range_literal(ParserState& s);
bool properties(ParserState& s);
bool expression(ParserState& s);
bool or_kw(ParserState& s);
bool xor_kw(ParserState& s);
bool and_kw(ParserState& s);
bool not_kw(ParserState& s);
bool or_expr(ParserState& s);
bool xor_expr(ParserState& s);
bool and_expr(ParserState& s);
bool not_expr(ParserState& s);
bool comparison_expr(ParserState& s);
bool comparison_op(ParserState& s);
bool add_sub_expr(ParserState& s);
bool mul_div_expr(ParserState& s);
bool mod_expr(ParserState& s);
bool power_expr(ParserState& s);
bool unary_expr(ParserState& s);
bool postfix_expr(ParserState& s);
bool null_check_op(ParserState& s);
bool postfix_op(ParserState& s);
bool property_lookup(ParserState& s);
bool subscript_op(ParserState& s);
bool list_slice_op(ParserState& s);
bool atom(ParserState& s);
bool parenthesized_expr(ParserState& s);
bool count_star(ParserState& s);
bool function_invocation(ParserState& s);
bool function_name(ParserState& s);
bool namespace_(ParserState& s);
bool reduce_expression(ParserState& s);
bool shortest_path_call(ParserState& s);
bool case_expression(ParserState& s);
bool list_comprehension(ParserState& s);
bool filter_expression(ParserState& s);
bool id_in_coll(ParserState& s);
bool quantifier_expression(ParserState& s);
bool exists_subquery(ParserState& s);
bool literal(ParserState& s);
bool integer_literal(ParserState& s);
bool float_literal(ParserState& s);
bool string_literal(ParserState& s);
bool boolean_literal(ParserState& s);
bool null_literal(ParserState& s);
bool list_literal(ParserState& s);
bool map_literal(ParserState& s);
bool property_key_value_pair(ParserState& s);
bool property_key_name(ParserState& s);
bool property_expression(ParserState& s);
bool parameter(ParserState& s);
bool variable(ParserState& s);
bool identifier(ParserState& s);
bool backtick_identifier(ParserState& s);
bool keyword(ParserState& s);

// Whether `word` as a whole is one of the reserved words, in any case.
bool is_reserved_word(std::string_view word);

// The rule functions by `Rule` value.
extern const std::array<RuleFn, rule_count> rule_functions;

}  // namespace torvane::parser::grammar
