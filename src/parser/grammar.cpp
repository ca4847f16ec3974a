// The Cypher grammar, one function per rule in grammar order, each under its
// one-line definition. Notation: ~ sequence, | ordered choice, ?, *, +,
// "x" exact literal, ^"x" ASCII case-insensitive literal, !x negative
// lookahead, WE word end. Alternatives stay in the order of their lines:
// ordered choice and the failure report depend on it.
#include "parser/grammar.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>

namespace torvane::parser::grammar {

using namespace peg;

namespace {

// The remembered rules: the clauses that a query part without WITH reads once
// as a multi-part and again as a single-part query, and expressions, which
// alternatives such as a list literal and a list comprehension read again.
constexpr std::size_t kReadingSlot = 0, kUpdatingSlot = 1, kExpressionSlot = 2;
static_assert(kExpressionSlot < kMemoSlots);

// Character classes shared by the leaves.
constexpr auto DIGIT = range<'0', '9'>;
constexpr auto HEXDIGIT = alt(DIGIT, range<'a', 'f'>, range<'A', 'F'>);
constexpr auto OCTDIGIT = range<'0', '7'>;
constexpr auto BLANK = alt(lit<" ">, lit<"\t">, lit<"\r">, lit<"\n">);

// DISTINCT, unlike the clause words, needs a word end: distinctIds is a name.
constexpr auto DISTINCT = seq(kw<"DISTINCT">, we);

// The bytes that can begin the text of the rules that are most often tried
// where they cannot match (see ParserState::rule_first).
constexpr std::string_view kLiteralBegins = "0123456789\"'tTfFnN[{";
constexpr CharSet kLiteralFirst{kLiteralBegins};
constexpr std::uint32_t kLiteralInner = 7;  // literal's alternatives
constexpr CharSet kPostfixFirst{"iI.["};
constexpr CharSet kComparisonFirst{"<>=iIsSeEcC"};
constexpr CharSet kPropertiesFirst{"{$"};

// The 56 reserved words, lower-case and sorted, for the keyword test.
constexpr std::string_view kReservedWords[] = {
    "all",
    "and",
    "any",
    "as",
    "asc",
    "ascending",
    "by",
    "call",
    "case",
    "contains",
    "count",
    "create",
    "delete",
    "desc",
    "descending",
    "detach",
    "distinct",
    "do",
    "drop",
    "else",
    "end",
    "ends",
    "exists",
    "false",
    "for",
    "foreach",
    "from",
    "in",
    "is",
    "limit",
    "match",
    "merge",
    "new",
    "none",
    "not",
    "null",
    "on",
    "optional",
    "or",
    "order",
    "reduce",
    "remove",
    "return",
    "set",
    "single",
    "skip",
    "starts",
    "then",
    "true",
    "union",
    "unwind",
    "when",
    "where",
    "with",
    "xor",
    "yield",
};
static_assert(std::size(kReservedWords) == 56);

// Byte classes for the leaves written out by hand below.
enum : std::uint8_t { kLetter = 1, kDigit = 2, kUnderscore = 4 };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<char>(b);
    t[b] = is_letter(c) ? kLetter : c == '_' ? kUnderscore : is_word_char(c) ? kDigit : 0;
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

std::uint8_t byte_class(char c) { return kClasses[static_cast<unsigned char>(c)]; }

// (LETTER | "_") ~ WORDCHAR*, in the atomic rules that use it, where nothing
// is skipped between the two.
struct Name {
  bool operator()(ParserState& s) const {
    const std::string_view t = s.text();
    std::uint32_t p = s.pos();
    if (p >= t.size() || !(byte_class(t[p]) & (kLetter | kUnderscore))) return false;
    do ++p;
    while (p < t.size() && byte_class(t[p]) != 0);
    s.advance(p - s.pos());
    return true;
  }
};

// The body of `keyword`: the whole word at the position, compared without
// regard to ASCII case, is a reserved word. Every word of the rule line stands
// before the words that are its prefixes and all are letters only, so its
// choice followed by WE succeeds exactly then, consuming the word.
//
// A word of up to 8 letters is packed lower-cased into one integer, whose
// hash picks the one reserved word it can be.
constexpr std::size_t kPacked = 8;

constexpr std::uint64_t pack(std::string_view w) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < w.size() && i < kPacked; ++i)
    v |= std::uint64_t{static_cast<unsigned char>(w[i])} << (8 * i);
  return v;
}

constexpr std::size_t slot(std::uint64_t key, std::uint64_t multiplier) {
  return static_cast<std::size_t>((key * multiplier) >> 56);
}

// A multiplier that sends no two words to one slot (found by trying
// multiples of the golden ratio constant).
constexpr std::uint64_t kWordMultiplier = 0x23c28382b5ec2361u;

// The words by slot; 0 where none lands.
constexpr std::array<std::uint64_t, 256> make_word_table() {
  std::array<std::uint64_t, 256> t{};
  for (std::string_view w : kReservedWords) {
    if (w.size() > kPacked) continue;
    std::uint64_t& cell = t[slot(pack(w), kWordMultiplier)];
    if (cell != 0) throw "two reserved words share a slot";  // stops the compilation
    cell = pack(w);
  }
  return t;
}
constexpr std::array<std::uint64_t, 256> kWordTable = make_word_table();

// The run of word characters that `rest` begins with, and whether it is a
// reserved word.
struct Word {
  std::size_t size = 0;
  bool reserved = false;
};

[[gnu::always_inline]] inline Word word_at(std::string_view rest) {
  Word w;
  const char* const s = rest.data();
  std::uint8_t seen = 0;  // the classes of its bytes
  for (; w.size < rest.size(); ++w.size) {
    const std::uint8_t k = byte_class(s[w.size]);
    if (k == 0) break;
    seen |= k;
  }
  const std::size_t n = w.size;
  // Only letters make a reserved word, and none is longer than 10.
  if (seen != kLetter || n > 10) return w;
  // The first kPacked bytes, lower-cased: all letters, where setting bit 5 folds.
  std::uint64_t key = 0;
  if constexpr (std::endian::native == std::endian::little) {
    if (rest.size() >= kPacked) {
      std::memcpy(&key, s, kPacked);
      key |= 0x2020202020202020u;
      if (n < kPacked) key &= (std::uint64_t{1} << (8 * n)) - 1;
    }
  }
  if (key == 0) {
    for (std::size_t i = 0; i < n && i < kPacked; ++i)
      key |= std::uint64_t{static_cast<unsigned char>(fold_to_letter(s[i]))} << (8 * i);
  }
  const auto lower = [s](std::size_t i) { return fold_to_letter(s[i]); };
  w.reserved = n <= kPacked ? kWordTable[slot(key, kWordMultiplier)] == key
               : n == 9     ? key == pack("ascending") && lower(8) == 'g'
                            : key == pack("descending") && lower(8) == 'n' && lower(9) == 'g';
  return w;
}

struct ReservedWord {
  bool operator()(ParserState& s) const {
    const Word w = word_at(s.text().substr(s.pos()));
    if (!w.reserved) return false;
    s.advance(static_cast<std::uint32_t>(w.size));
    return true;
  }
};

// identifier where its caller is atomic, so that its attempt and those
// within it leave no pairs and no failure records: a name that is no reserved
// word is read with the attempts of identifier and keyword counted instead of
// made, and where neither a name nor a backtick begins, the rule fails with
// those of identifier, keyword and backtick_identifier, the last two one level
// deeper, counted. Anything else runs the rule.
struct Identifier {
  bool operator()(ParserState& s) const {
    const std::string_view rest = s.text().substr(s.pos());
    if (rest.empty() || !(byte_class(rest[0]) & (kLetter | kUnderscore))) {
      if ((rest.empty() || rest[0] != '`') && s.fail_at_once(Rule::identifier, 2, 1)) return false;
      return identifier(s);
    }
    const Word w = word_at(rest);
    if (w.reserved || !s.silent_attempts(2)) return identifier(s);
    s.advance(static_cast<std::uint32_t>(w.size));  // as Name would
    return true;
  }
};

// The attempts inside a function_invocation that fails at the position, or
// kMayBegin where it may match. Where words joined by dots begin there, each
// word after a dot beginning with a letter or "_", function_name matches them
// up to the end of one of those words (a reserved word ends its namespace and
// is read as the name); unless the skip after the last of them reaches a "(",
// function_invocation then fails, recording only its own failure. Inside it
// ran function_name and namespace, and for each word that namespace tried,
// identifier and keyword, and backtick_identifier after a reserved word.
struct CallRuledOut {
  std::uint32_t operator()(const ParserState& s) const {
    constexpr std::uint8_t kNameStart = kLetter | kUnderscore;
    const std::string_view t = s.text();
    std::uint32_t p = s.pos();
    if (p >= t.size() || !(byte_class(t[p]) & kNameStart)) return ParserState::kMayBegin;
    std::uint32_t inner = 2;
    bool namespace_tries = true;
    for (;;) {
      const Word w = word_at(t.substr(p));
      if (namespace_tries) {
        inner += w.reserved ? 3 : 2;
        namespace_tries = !w.reserved;
      }
      p += static_cast<std::uint32_t>(w.size);
      if (p == t.size() || t[p] != '.') break;
      if (++p == t.size() || !(byte_class(t[p]) & kNameStart)) return ParserState::kMayBegin;
    }
    p = s.after_blanks_and_comments(p);
    return p < t.size() && t[p] == '(' ? ParserState::kMayBegin : inner;
  }
};

static_assert([] {
  std::size_t longer = 0;
  for (std::string_view w : kReservedWords) longer += w.size() > kPacked;
  return longer == 2;
}());

}  // namespace

bool is_reserved_word(std::string_view word) {
  const Word w = word_at(word);
  return w.reserved && w.size == word.size();
}

// EOI = end of input (a normal rule: it makes an empty pair and is recorded)
bool EOI(ParserState& s) {
  return s.rule(Rule::EOI, [](ParserState& st) { return st.pos() == st.size(); });
}

// WHITESPACE (silent) = " " | "\t" | "\r" | "\n"
bool WHITESPACE(ParserState& s) { return atomic(BLANK)(s); }

// COMMENT (silent) = "//" ~ (!"\n" ~ ANY)* ~ "\n"? | "/*" ~ (!"*/" ~ ANY)* ~ "*/"
bool COMMENT(ParserState& s) {
  return atomic(alt(seq(lit<"//">, star(seq(neg(lit<"\n">), any)), opt(lit<"\n">)),
                    seq(lit<"/*">, star(seq(neg(lit<"*/">), any)), lit<"*/">)))(s);
}

// cypher = SOI ~ statement ~ ";"? ~ EOI
bool cypher(ParserState& s) { return s.rule(Rule::cypher, seq(soi, statement, opt(lit<";">), EOI)); }

// statement = regular_query | standalone_call
bool statement(ParserState& s) { return s.rule(Rule::statement, alt(regular_query, standalone_call)); }

// regular_query = single_query ~ union_clause*
bool regular_query(ParserState& s) {
  return s.rule(Rule::regular_query, seq(single_query, star(union_clause)));
}

// union_clause = ^"UNION" ~ ^"ALL"? ~ single_query
bool union_clause(ParserState& s) {
  return s.rule(Rule::union_clause, seq(kw<"UNION">, opt(kw<"ALL">), single_query));
}

// single_query = multi_part_query | single_part_query
bool single_query(ParserState& s) {
  return s.rule(Rule::single_query, alt(multi_part_query, single_part_query));
}

// single_part_query = reading_clause+ ~ updating_clause* ~ return_clause?
//                   | updating_clause+ ~ return_clause? | return_clause
bool single_part_query(ParserState& s) {
  return s.rule(Rule::single_part_query,
                alt(seq(plus(reading_clause), star(updating_clause), opt(return_clause)),
                    seq(plus(updating_clause), opt(return_clause)), return_clause));
}

// multi_part_query = (reading_clause* ~ updating_clause* ~ with_clause)+
//                    ~ reading_clause* ~ updating_clause* ~ return_clause?
bool multi_part_query(ParserState& s) {
  return s.rule(Rule::multi_part_query,
                seq(plus(seq(star(reading_clause), star(updating_clause), with_clause)),
                    star(reading_clause), star(updating_clause), opt(return_clause)));
}

// reading_clause = match_clause | unwind_clause | in_query_call
bool reading_clause(ParserState& s) {
  return s.memo_rule<kReadingSlot>(Rule::reading_clause, alt(match_clause, unwind_clause, in_query_call));
}

// match_clause = ^"OPTIONAL"? ~ ^"MATCH" ~ pattern ~ where_clause?
bool match_clause(ParserState& s) {
  return s.rule(Rule::match_clause, seq(opt(kw<"OPTIONAL">), kw<"MATCH">, pattern, opt(where_clause)));
}

// unwind_clause = ^"UNWIND" ~ expression ~ ^"AS" ~ variable
bool unwind_clause(ParserState& s) {
  return s.rule(Rule::unwind_clause, seq(kw<"UNWIND">, expression, kw<"AS">, variable));
}

// in_query_call = ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
bool in_query_call(ParserState& s) {
  return s.rule(Rule::in_query_call,
                seq(kw<"CALL">, explicit_procedure_invocation, opt(seq(kw<"YIELD">, yield_items))));
}

// standalone_call = ^"CALL" ~ explicit_procedure_invocation ~ (^"YIELD" ~ yield_items)?
bool standalone_call(ParserState& s) {
  return s.rule(Rule::standalone_call,
                seq(kw<"CALL">, explicit_procedure_invocation, opt(seq(kw<"YIELD">, yield_items))));
}

// explicit_procedure_invocation = procedure_name ~ "(" ~ (expression ~ ("," ~ expression)*)? ~ ")"
bool explicit_procedure_invocation(ParserState& s) {
  return s.rule(Rule::explicit_procedure_invocation,
                seq(procedure_name, lit<"(">, opt(seq(expression, star(seq(lit<",">, expression)))),
                    lit<")">));
}

// procedure_name (atomic) = identifier ~ ("." ~ identifier)*
bool procedure_name(ParserState& s) {
  return s.rule(Rule::procedure_name, atomic(seq(Identifier{}, star(seq(lit<".">, Identifier{})))));
}

// yield_items = yield_item ~ ("," ~ yield_item)*
bool yield_items(ParserState& s) {
  return s.rule(Rule::yield_items, seq(yield_item, star(seq(lit<",">, yield_item))));
}

// yield_item = (procedure_result_field ~ ^"AS")? ~ variable
bool yield_item(ParserState& s) {
  return s.rule(Rule::yield_item, seq(opt(seq(procedure_result_field, kw<"AS">)), variable));
}

// procedure_result_field (atomic) = identifier
bool procedure_result_field(ParserState& s) {
  return s.rule(Rule::procedure_result_field, atomic(Identifier{}));
}

// updating_clause = create_clause | merge_clause | foreach_clause | set_clause
//                 | remove_clause | delete_clause
bool updating_clause(ParserState& s) {
  return s.memo_rule<kUpdatingSlot>(Rule::updating_clause, alt(create_clause, merge_clause, foreach_clause,
                                                                set_clause, remove_clause, delete_clause));
}

// foreach_clause = ^"FOREACH" ~ "(" ~ variable ~ ^"IN" ~ expression ~ "|" ~ updating_clause+ ~ ")"
bool foreach_clause(ParserState& s) {
  return s.rule(Rule::foreach_clause, seq(kw<"FOREACH">, lit<"(">, variable, kw<"IN">, expression,
                                          lit<"|">, plus(updating_clause), lit<")">));
}

// create_clause = ^"CREATE" ~ pattern
bool create_clause(ParserState& s) { return s.rule(Rule::create_clause, seq(kw<"CREATE">, pattern)); }

// merge_clause = ^"MERGE" ~ pattern_part ~ on_match_or_create*
bool merge_clause(ParserState& s) {
  return s.rule(Rule::merge_clause, seq(kw<"MERGE">, pattern_part, star(on_match_or_create)));
}

// on_match_or_create = ^"ON" ~ (^"MATCH" ~ set_clause | ^"CREATE" ~ set_clause)
bool on_match_or_create(ParserState& s) {
  return s.rule(Rule::on_match_or_create,
                seq(kw<"ON">, alt(seq(kw<"MATCH">, set_clause), seq(kw<"CREATE">, set_clause))));
}

// set_clause = ^"SET" ~ set_item ~ ("," ~ set_item)*
bool set_clause(ParserState& s) {
  return s.rule(Rule::set_clause, seq(kw<"SET">, set_item, star(seq(lit<",">, set_item))));
}

// set_item = property_expression ~ "=" ~ expression | variable ~ "=" ~ expression
//          | variable ~ ("+=" ~ expression | ":" ~ node_labels)
bool set_item(ParserState& s) {
  return s.rule(Rule::set_item,
                alt(seq(property_expression, lit<"=">, expression), seq(variable, lit<"=">, expression),
                    seq(variable, alt(seq(lit<"+=">, expression), seq(lit<":">, node_labels)))));
}

// remove_clause = ^"REMOVE" ~ remove_item ~ ("," ~ remove_item)*
bool remove_clause(ParserState& s) {
  return s.rule(Rule::remove_clause, seq(kw<"REMOVE">, remove_item, star(seq(lit<",">, remove_item))));
}

// remove_item = variable ~ ":" ~ node_labels | property_expression
bool remove_item(ParserState& s) {
  return s.rule(Rule::remove_item, alt(seq(variable, lit<":">, node_labels), property_expression));
}

// delete_clause = ^"DETACH"? ~ ^"DELETE" ~ expression ~ ("," ~ expression)*
bool delete_clause(ParserState& s) {
  return s.rule(Rule::delete_clause, seq(opt(kw<"DETACH">), kw<"DELETE">, expression,
                                         star(seq(lit<",">, expression))));
}

// with_clause = ^"WITH" ~ (^"DISTINCT" ~ WE)? ~ return_body ~ where_clause?
bool with_clause(ParserState& s) {
  return s.rule(Rule::with_clause, seq(kw<"WITH">, opt(DISTINCT), return_body, opt(where_clause)));
}

// return_clause = ^"RETURN" ~ (^"DISTINCT" ~ WE)? ~ return_body
bool return_clause(ParserState& s) {
  return s.rule(Rule::return_clause, seq(kw<"RETURN">, opt(DISTINCT), return_body));
}

// return_body = return_items ~ order_clause? ~ skip_clause? ~ limit_clause?
bool return_body(ParserState& s) {
  return s.rule(Rule::return_body,
                seq(return_items, opt(order_clause), opt(skip_clause), opt(limit_clause)));
}

// return_items = "*" | return_item ~ ("," ~ return_item)*
bool return_items(ParserState& s) {
  return s.rule(Rule::return_items, alt(lit<"*">, seq(return_item, star(seq(lit<",">, return_item)))));
}

// return_item = expression ~ (^"AS" ~ variable)?
bool return_item(ParserState& s) {
  return s.rule(Rule::return_item, seq(expression, opt(seq(kw<"AS">, variable))));
}

// order_clause = ^"ORDER" ~ ^"BY" ~ sort_item ~ ("," ~ sort_item)*
bool order_clause(ParserState& s) {
  return s.rule(Rule::order_clause,
                seq(kw<"ORDER">, kw<"BY">, sort_item, star(seq(lit<",">, sort_item))));
}

// sort_item = expression ~ (^"ASCENDING" | ^"ASC" | ^"DESCENDING" | ^"DESC")?
bool sort_item(ParserState& s) {
  return s.rule(Rule::sort_item,
                seq(expression, opt(alt(kw<"ASCENDING">, kw<"ASC">, kw<"DESCENDING">, kw<"DESC">))));
}

// skip_clause = ^"SKIP" ~ expression
bool skip_clause(ParserState& s) { return s.rule(Rule::skip_clause, seq(kw<"SKIP">, expression)); }

// limit_clause = ^"LIMIT" ~ expression
bool limit_clause(ParserState& s) { return s.rule(Rule::limit_clause, seq(kw<"LIMIT">, expression)); }

// where_clause = ^"WHERE" ~ expression
bool where_clause(ParserState& s) { return s.rule(Rule::where_clause, seq(kw<"WHERE">, expression)); }

// pattern = pattern_part ~ ("," ~ pattern_part)*
bool pattern(ParserState& s) {
  return s.rule(Rule::pattern, seq(pattern_part, star(seq(lit<",">, pattern_part))));
}

// pattern_part = (variable ~ "=")? ~ pattern_element
bool pattern_part(ParserState& s) {
  return s.rule(Rule::pattern_part, seq(opt(seq(variable, lit<"=">)), pattern_element));
}

// pattern_element = shortest_path_call | node_pattern ~ (relationship_pattern ~ node_pattern)*
bool pattern_element(ParserState& s) {
  return s.rule(Rule::pattern_element,
                alt(shortest_path_call, seq(node_pattern, star(seq(relationship_pattern, node_pattern)))));
}

// node_pattern = "(" ~ variable? ~ node_labels? ~ properties? ~ ")"
bool node_pattern(ParserState& s) {
  return s.rule(Rule::node_pattern,
                seq(lit<"(">, opt(variable), opt(node_labels), opt(properties), lit<")">));
}

// node_labels = (":" ~ label_name)+
bool node_labels(ParserState& s) { return s.rule(Rule::node_labels, plus(seq(lit<":">, label_name))); }

// label_name (atomic) = identifier
bool label_name(ParserState& s) { return s.rule(Rule::label_name, atomic(Identifier{})); }

// relationship_pattern = left_arrow? ~ ("-" ~ "[" ~ variable? ~ rel_types? ~ range_literal?
//                        ~ properties? ~ "]" ~ "-" ~ right_arrow? | "--" ~ right_arrow?)
bool relationship_pattern(ParserState& s) {
  return s.rule(Rule::relationship_pattern,
                seq(opt(left_arrow),
                    alt(seq(lit<"-">, lit<"[">, opt(variable), opt(rel_types), opt(range_literal),
                            opt(properties), lit<"]">, lit<"-">, opt(right_arrow)),
                        seq(lit<"--">, opt(right_arrow)))));
}

// left_arrow = "<"
bool left_arrow(ParserState& s) { return s.rule(Rule::left_arrow, lit<"<">); }

// right_arrow = ">"
bool right_arrow(ParserState& s) { return s.rule(Rule::right_arrow, lit<">">); }

// rel_types = ":" ~ rel_type_name ~ ("|" ~ ":"? ~ rel_type_name)*
bool rel_types(ParserState& s) {
  return s.rule(Rule::rel_types,
                seq(lit<":">, rel_type_name, star(seq(lit<"|">, opt(lit<":">), rel_type_name))));
}

// rel_type_name (atomic) = identifier
bool rel_type_name(ParserState& s) { return s.rule(Rule::rel_type_name, atomic(Identifier{})); }

// range_literal = "*" ~ (integer_literal ~ (".." ~ integer_literal?)?)?
bool range_literal(ParserState& s) {
  return s.rule(Rule::range_literal,
                seq(lit<"*">, opt(seq(integer_literal, opt(seq(lit<"..">, opt(integer_literal)))))));
}

// properties = map_literal | parameter
bool properties(ParserState& s) {
  return s.rule_first<kPropertiesFirst, 2>(Rule::properties, alt(map_literal, parameter));
}

// expression = or_expr
bool expression(ParserState& s) { return s.memo_rule<kExpressionSlot, true>(Rule::expression, or_expr); }

// or_kw (atomic) = ^"OR" ~ WE
bool or_kw(ParserState& s) { return s.rule(Rule::or_kw, atomic(seq(kw<"OR">, we))); }

// xor_kw (atomic) = ^"XOR" ~ WE
bool xor_kw(ParserState& s) { return s.rule(Rule::xor_kw, atomic(seq(kw<"XOR">, we))); }

// and_kw (atomic) = ^"AND" ~ WE
bool and_kw(ParserState& s) { return s.rule(Rule::and_kw, atomic(seq(kw<"AND">, we))); }

// not_kw (atomic) = ^"NOT" ~ WE
bool not_kw(ParserState& s) { return s.rule(Rule::not_kw, atomic(seq(kw<"NOT">, we))); }

// ---- The operator levels ----
//
// An operand passes through the ten levels from or_expr to unary_expr, and
// most pass without an operator. Run rule by rule, each level costs an
// attempt and a probe for its operator. With the shortcuts on, `levels` runs
// them as one: the attempts open together, a probe that the byte after the
// skip rules out fails at once, and the levels close together, which gives the
// pairs, the position, the failure records and the count of attempts of the
// rules written out in `level_rule`, which the plain engine runs.

namespace {

enum Level : std::uint8_t { kOr, kXor, kAnd, kNot, kComparison, kAddSub, kMulDiv, kMod, kPower, kUnary, kLevels };

static_assert(kOperatorLevels.size() == kLevels && kOperatorLevels[kNot] == Rule::not_expr &&
              kOperatorLevels[kComparison] == Rule::comparison_expr);

// Each binary level's operator loop, the part after its first element.
constexpr auto kOrTail = star(seq(or_kw, xor_expr));
constexpr auto kXorTail = star(seq(xor_kw, and_expr));
constexpr auto kAndTail = star(seq(and_kw, not_expr));
constexpr auto kComparisonTail = star(seq(comparison_op, add_sub_expr));
constexpr auto kAddSubTail = star(seq(alt(lit<"+">, lit<"-">), mul_div_expr));
constexpr auto kMulDivTail = star(seq(alt(lit<"*">, lit<"/">), mod_expr));
constexpr auto kModTail = star(seq(lit<"%">, power_expr));
constexpr auto kPowerTail = star(seq(lit<"^">, unary_expr));
constexpr auto kNotPrefix = star(not_kw);

bool level_rule(ParserState& s, Level l) {
  switch (l) {
    // or_expr = xor_expr ~ (or_kw ~ xor_expr)*
    case kOr: return s.rule(Rule::or_expr, seq(xor_expr, kOrTail));
    // xor_expr = and_expr ~ (xor_kw ~ and_expr)*
    case kXor: return s.rule(Rule::xor_expr, seq(and_expr, kXorTail));
    // and_expr = not_expr ~ (and_kw ~ not_expr)*
    case kAnd: return s.rule(Rule::and_expr, seq(not_expr, kAndTail));
    // not_expr = not_kw* ~ comparison_expr
    case kNot: return s.rule(Rule::not_expr, seq(kNotPrefix, comparison_expr));
    // comparison_expr = add_sub_expr ~ (comparison_op ~ add_sub_expr)*
    case kComparison: return s.rule(Rule::comparison_expr, seq(add_sub_expr, kComparisonTail));
    // add_sub_expr = mul_div_expr ~ (("+" | "-") ~ mul_div_expr)*
    case kAddSub: return s.rule(Rule::add_sub_expr, seq(mul_div_expr, kAddSubTail));
    // mul_div_expr = mod_expr ~ (("*" | "/") ~ mod_expr)*
    case kMulDiv: return s.rule(Rule::mul_div_expr, seq(mod_expr, kMulDivTail));
    // mod_expr = power_expr ~ ("%" ~ power_expr)*
    case kMod: return s.rule(Rule::mod_expr, seq(power_expr, kModTail));
    // power_expr = unary_expr ~ ("^" ~ unary_expr)*
    case kPower: return s.rule(Rule::power_expr, seq(unary_expr, kPowerTail));
    // unary_expr = "-"? ~ postfix_expr
    case kUnary: return s.rule(Rule::unary_expr, seq(opt(lit<"-">), postfix_expr));
    case kLevels: break;
  }
  return false;
}

constexpr CharSet kOrFirst{"oO"}, kXorFirst{"xX"}, kAndFirst{"aA"}, kNotFirst{"nN"};
constexpr CharSet kAddSubFirst{"+-"}, kMulDivFirst{"*/"}, kModFirst{"%"}, kPowerFirst{"^"};

// `loop` where the byte at the position may begin its operator; elsewhere
// the loop's first probe fails, which costs the attempt of `probe` where the
// operator is a rule and nothing where it is a sign.
template <const CharSet& First, class Loop>
void probe_then(ParserState& s, const Loop& loop, Rule probe = Rule::count) {
  if (s.next_in(First) || (probe != Rule::count && !s.fail_at_once(probe))) (void)loop(s);
}

// For each byte, the binary levels whose operator may begin with it (bit l
// for level l).
constexpr std::array<std::uint16_t, 256> kOperatorBegins = [] {
  std::array<std::uint16_t, 256> at{};
  const std::pair<Level, const CharSet*> firsts[] = {
      {kOr, &kOrFirst},         {kXor, &kXorFirst},
      {kAnd, &kAndFirst},       {kComparison, &kComparisonFirst},
      {kAddSub, &kAddSubFirst}, {kMulDiv, &kMulDivFirst},
      {kMod, &kModFirst},       {kPower, &kPowerFirst}};
  for (int b = 0; b < 256; ++b)
    for (const auto& [level, first] : firsts)
      if (first->has(static_cast<unsigned char>(b)))
        at[b] |= static_cast<std::uint16_t>(1u << level);
  return at;
}();

// The rule whose attempt each binary level's operator loop makes first, where
// its operator is a rule (Rule::count where it is a sign or the level has no
// loop).
constexpr std::array<Rule, kLevels> kProbes = {
    Rule::or_kw, Rule::xor_kw, Rule::and_kw, Rule::count, Rule::comparison_op,
    Rule::count, Rule::count,  Rule::count,  Rule::count, Rule::count};

// The levels whose probe is a rule (bit l for level l), and those probes in
// the order the levels run their loops, innermost first.
constexpr std::uint16_t kRuleProbes = [] {
  std::uint16_t bits = 0;
  for (int l = 0; l < kLevels; ++l)
    if (kProbes[l] != Rule::count) bits |= static_cast<std::uint16_t>(1u << l);
  return bits;
}();
// How many probes each set of kRuleProbes holds.
constexpr std::array<std::uint8_t, kRuleProbes + 1> kProbeCounts = [] {
  std::array<std::uint8_t, kRuleProbes + 1> counts{};
  for (std::size_t b = 0; b < counts.size(); ++b)
    counts[b] = static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(b)));
  return counts;
}();
constexpr std::array<Rule, 4> kProbesInnermostFirst = {Rule::comparison_op, Rule::and_kw,
                                                       Rule::xor_kw, Rule::or_kw};

// A level's operator loop, run where the byte after the skip may begin its
// operator.
void level_loop(ParserState& s, Level l) {
  switch (l) {
    case kOr: return (void)kOrTail(s);
    case kXor: return (void)kXorTail(s);
    case kAnd: return (void)kAndTail(s);
    case kComparison: return (void)kComparisonTail(s);
    case kAddSub: return (void)kAddSubTail(s);
    case kMulDiv: return (void)kMulDivTail(s);
    case kMod: return (void)kModTail(s);
    case kPower: return (void)kPowerTail(s);
    default: return;
  }
}

// The open attempts of a run of levels: the levels down to not_expr opened
// where the operand begins, the rest after its NOTs.
struct OpenLevels {
  Level from, inner;
  ParserState::Attempt outer, core;
  ParserState::Attempt of(int l) const {
    return l < inner ? ParserState::nested(outer, l - from) : ParserState::nested(core, l - inner);
  }
};

// Closes levels `hi` down to `lo`, each of whose operators the byte after the
// skip rules out: each loop's first probe fails at once, as one for all of
// them, and the attempts close.
void close_ruled_out(ParserState& s, const OpenLevels& open, int hi, int lo) {
  const std::span<const Rule> rules(kOperatorLevels);
  const auto bits = static_cast<std::uint16_t>(kRuleProbes & ((2u << hi) - (1u << lo)));
  if (bits != 0) {
    // The probes of the levels in range, a run of kProbesInnermostFirst.
    const int innermost = std::bit_width(bits) - 1;
    const std::size_t first = innermost == kComparison ? 0 : kAnd - innermost + 1;
    const auto probes =
        std::span<const Rule>(kProbesInnermostFirst).subspan(first, kProbeCounts[bits]);
    if (!s.fail_all_at_once(probes, static_cast<std::uint32_t>(hi - innermost))) {
      // One by one, as the loops would run them.
      for (int l = hi; l >= lo; --l) {
        if (kProbes[l] != Rule::count && !s.fail_at_once(kProbes[l]))
          level_loop(s, static_cast<Level>(l));
        s.close_attempt(rules[l], open.of(l));
      }
      return;
    }
  }
  // The two groups of attempts, inner one first.
  if (hi >= open.inner) {
    const int top = std::max(lo, int{open.inner});
    s.close_attempts(rules.subspan(top, hi - top + 1), open.of(top));
    hi = top - 1;
  }
  if (hi >= lo) s.close_attempts(rules.subspan(lo, hi - lo + 1), open.of(lo));
}

// The levels from `from` to unary_expr, opened as `open` and their operand
// read: each level's tail, the skip and its operator loop, and its close, from
// unary_expr out. Most operands are followed by no operator at all, which the
// one skip after them shows, and the levels then close as one.
void close_levels(ParserState& s, const OpenLevels& open, int last) {
  const std::span<const Rule> rules(kOperatorLevels);
  std::uint32_t skipped_at = UINT32_MAX;
  std::uint16_t operators = 0;  // the levels whose operator may begin there
  for (int l = last; l >= open.from;) {
    if (l == kUnary || l == kNot) {
      // No tail, so no skip before the close.
      s.close_attempt(rules[l], open.of(l));
      --l;
      continue;
    }
    if (s.pos() != skipped_at) {
      s.skip();
      skipped_at = s.pos();
      operators =
          s.pos() < s.size() ? kOperatorBegins[static_cast<unsigned char>(s.text()[s.pos()])] : 0;
    }
    // The innermost level at or outside `l` whose operator may begin here.
    const auto may = static_cast<std::uint16_t>(operators & ((2u << l) - (1u << open.from)));
    const int k = may == 0 ? open.from - 1 : std::bit_width(may) - 1;
    if (k < l) close_ruled_out(s, open, l, k + 1);
    if (k < open.from) return;
    level_loop(s, static_cast<Level>(k));
    s.close_attempt(rules[k], open.of(k));
    l = k - 1;
  }
}

// The levels from `from` to unary_expr: those down to not_expr open where
// the operand begins, the rest after its NOTs.
bool levels(ParserState& s, Level from) {
  if (!s.shortcuts_on()) return level_rule(s, from);
  const std::span<const Rule> rules(kOperatorLevels);
  OpenLevels open{from, std::max(from, kComparison), {}, {}};
  if (from < open.inner) {
    if (!s.open_attempts(rules.subspan(from, open.inner - from), open.outer))
      return level_rule(s, from);
    probe_then<kNotFirst>(s, kNotPrefix, Rule::not_kw);
    s.skip();
  }
  bool ok;
  int last = kUnary;
  if (s.open_attempts(rules.subspan(open.inner), open.core)) {
    (void)opt(lit<"-">)(s);
    s.skip();
    ok = postfix_expr(s);
  } else {
    ok = level_rule(s, open.inner);
    last = open.inner - 1;
  }
  if (ok) {
    close_levels(s, open, last);
  } else {
    for (int l = last; l >= from; --l) s.fail_attempt(rules[l], open.of(l));
  }
  return ok;
}

}  // namespace

bool or_expr(ParserState& s) { return levels(s, kOr); }
bool xor_expr(ParserState& s) { return levels(s, kXor); }
bool and_expr(ParserState& s) { return levels(s, kAnd); }
bool not_expr(ParserState& s) { return levels(s, kNot); }
bool comparison_expr(ParserState& s) { return levels(s, kComparison); }
bool add_sub_expr(ParserState& s) { return levels(s, kAddSub); }
bool mul_div_expr(ParserState& s) { return levels(s, kMulDiv); }
bool mod_expr(ParserState& s) { return levels(s, kMod); }
bool power_expr(ParserState& s) { return levels(s, kPower); }
bool unary_expr(ParserState& s) { return levels(s, kUnary); }

// comparison_op = "<=" | ">=" | "<>" | "<" | ">" | "=~" | "=" | ^"IN" ~ WE
//               | ^"STARTS" ~ ^"WITH" ~ WE | ^"ENDS" ~ ^"WITH" ~ WE | ^"CONTAINS" ~ WE
bool comparison_op(ParserState& s) {
  return s.rule_first<kComparisonFirst, 0>(Rule::comparison_op,
                alt(lit<"<=">, lit<">=">, lit<"<>">, lit<"<">, lit<">">, lit<"=~">, lit<"=">,
                    seq(kw<"IN">, we), seq(kw<"STARTS">, kw<"WITH">, we),
                    seq(kw<"ENDS">, kw<"WITH">, we), seq(kw<"CONTAINS">, we)));
}

// postfix_expr = atom ~ postfix_op*
bool postfix_expr(ParserState& s) { return s.rule(Rule::postfix_expr, seq(atom, star(postfix_op))); }

// null_check_op (atomic) = ^"IS" ~ BLANK+ ~ (^"NOT" ~ BLANK+ ~ ^"NULL" ~ WE | ^"NULL" ~ WE)
bool null_check_op(ParserState& s) {
  return s.rule(Rule::null_check_op,
                atomic(seq(kw<"IS">, plus(BLANK),
                           alt(seq(kw<"NOT">, plus(BLANK), kw<"NULL">, we), seq(kw<"NULL">, we)))));
}

// postfix_op = null_check_op | property_lookup | subscript_op | list_slice_op
bool postfix_op(ParserState& s) {
  return s.rule_first<kPostfixFirst, 4>(Rule::postfix_op,
                                        alt(null_check_op, property_lookup, subscript_op, list_slice_op));
}

// property_lookup = "." ~ property_key_name
bool property_lookup(ParserState& s) {
  return s.rule(Rule::property_lookup, seq(lit<".">, property_key_name));
}

// subscript_op = "[" ~ expression ~ "]"
bool subscript_op(ParserState& s) {
  return s.rule(Rule::subscript_op, seq(lit<"[">, expression, lit<"]">));
}

// list_slice_op = "[" ~ expression? ~ ".." ~ expression? ~ "]"
bool list_slice_op(ParserState& s) {
  return s.rule(Rule::list_slice_op,
                seq(lit<"[">, opt(expression), lit<"..">, opt(expression), lit<"]">));
}

namespace {

// atom's choice, where most alternatives cannot begin with the byte at the
// position: each such one fails at once, with the attempts its body would make
// inside it counted (see ParserState::fail_at_once), instead of running. Most
// begin with a word or a sign, which tries no rule, and so fail recording only
// their own failure; literal and variable fail as their own shortcuts count.
// function_invocation decides for itself.
struct AtomAlternative {
  RuleFn fn;
  Rule rule;
  std::string_view first;              // the bytes its text can begin with; empty: any
  std::uint32_t inner = 0, below = 0;  // attempts inside its failure, levels below it
};

// The name rules read an identifier: a letter, an underscore or a backtick
// begins it. Failing, variable tries identifier, and that keyword and
// backtick_identifier.
constexpr std::string_view kNameFirst = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_`";

constexpr AtomAlternative kAtomAlternatives[] = {
    {reduce_expression, Rule::reduce_expression, "rR"},
    {shortest_path_call, Rule::shortest_path_call, "aAsS"},
    {literal, Rule::literal, kLiteralBegins, kLiteralInner, 1},
    {parameter, Rule::parameter, "$"},
    {case_expression, Rule::case_expression, "cC"},
    {list_comprehension, Rule::list_comprehension, "["},
    {quantifier_expression, Rule::quantifier_expression, "aAnNsS"},
    {exists_subquery, Rule::exists_subquery, "eE"},
    {count_star, Rule::count_star, "cC"},
    {function_invocation, Rule::function_invocation, ""},
    {variable, Rule::variable, kNameFirst, 3, 2},
    {parenthesized_expr, Rule::parenthesized_expr, "("},
};
static_assert(std::size(kAtomAlternatives) <= 16);

// For each byte, and last for the end of the text, the alternatives that may
// begin there (bit i for alternative i).
constexpr std::array<std::uint16_t, 257> kAtomMayBegin = [] {
  std::array<std::uint16_t, 257> at{};
  for (std::size_t i = 0; i < std::size(kAtomAlternatives); ++i) {
    const auto bit = static_cast<std::uint16_t>(1u << i);
    const std::string_view first = kAtomAlternatives[i].first;
    if (first.empty()) {
      for (auto& m : at) m |= bit;
    } else {
      for (const char c : first) at[static_cast<unsigned char>(c)] |= bit;
    }
  }
  return at;
}();

struct AtomChoice {
  bool operator()(ParserState& s) const {
    const std::uint16_t may =
        kAtomMayBegin[s.pos() < s.size() ? static_cast<unsigned char>(s.text()[s.pos()]) : 256];
    for (std::size_t i = 0; i < std::size(kAtomAlternatives); ++i) {
      const AtomAlternative& a = kAtomAlternatives[i];
      if (!((may >> i) & 1u) && s.fail_at_once(a.rule, a.inner, a.below)) continue;
      if (a.fn(s)) return true;
    }
    return false;
  }
};

}  // namespace

// atom = reduce_expression | shortest_path_call | literal | parameter | case_expression
//      | list_comprehension | quantifier_expression | exists_subquery | count_star
//      | function_invocation | variable | parenthesized_expr
bool atom(ParserState& s) {
  if (!s.shortcuts_on()) {
    return s.rule(Rule::atom,
                  alt(reduce_expression, shortest_path_call, literal, parameter, case_expression,
                      list_comprehension, quantifier_expression, exists_subquery, count_star,
                      function_invocation, variable, parenthesized_expr));
  }
  return s.rule(Rule::atom, AtomChoice{});
}

// parenthesized_expr = "(" ~ expression ~ ")"
bool parenthesized_expr(ParserState& s) {
  return s.rule(Rule::parenthesized_expr, seq(lit<"(">, expression, lit<")">));
}

// count_star = ^"COUNT" ~ "(" ~ "*" ~ ")"
bool count_star(ParserState& s) {
  return s.rule(Rule::count_star, seq(kw<"COUNT">, lit<"(">, lit<"*">, lit<")">));
}

// function_invocation = function_name ~ "(" ~ (^"DISTINCT" ~ WE)? ~ (expression ~ ("," ~ expression)*)? ~ ")"
bool function_invocation(ParserState& s) {
  // Failing, its attempts nest four deep: function_name, namespace, identifier
  // and keyword, one within the other.
  return s.rule_unless<4>(Rule::function_invocation, CallRuledOut{},
                          seq(function_name, lit<"(">, opt(DISTINCT),
                              opt(seq(expression, star(seq(lit<",">, expression)))), lit<")">));
}

// function_name (atomic) = namespace? ~ (LETTER | "_") ~ WORDCHAR*
bool function_name(ParserState& s) {
  return s.rule(Rule::function_name, atomic(seq(opt(namespace_), Name{})));
}

// namespace (atomic) = (identifier ~ ".")+
bool namespace_(ParserState& s) {
  return s.rule(Rule::namespace_, atomic(plus(seq(Identifier{}, lit<".">))));
}

// reduce_expression = ^"REDUCE" ~ "(" ~ variable ~ "=" ~ expression ~ "," ~ variable ~ ^"IN"
//                     ~ expression ~ "|" ~ expression ~ ")"
bool reduce_expression(ParserState& s) {
  return s.rule(Rule::reduce_expression,
                seq(kw<"REDUCE">, lit<"(">, variable, lit<"=">, expression, lit<",">, variable,
                    kw<"IN">, expression, lit<"|">, expression, lit<")">));
}

// shortest_path_call = (^"allShortestPaths" | ^"shortestPath") ~ "(" ~ node_pattern
//                      ~ (relationship_pattern ~ node_pattern)* ~ ")"
bool shortest_path_call(ParserState& s) {
  return s.rule(Rule::shortest_path_call,
                seq(alt(kw<"allShortestPaths">, kw<"shortestPath">), lit<"(">, node_pattern,
                    star(seq(relationship_pattern, node_pattern)), lit<")">));
}

// case_expression = ^"CASE" ~ expression? ~ (^"WHEN" ~ expression ~ ^"THEN" ~ expression)+
//                   ~ (^"ELSE" ~ expression)? ~ ^"END"
bool case_expression(ParserState& s) {
  return s.rule(Rule::case_expression,
                seq(kw<"CASE">, opt(expression), plus(seq(kw<"WHEN">, expression, kw<"THEN">, expression)),
                    opt(seq(kw<"ELSE">, expression)), kw<"END">));
}

// list_comprehension = "[" ~ filter_expression ~ ("|" ~ expression)? ~ "]"
bool list_comprehension(ParserState& s) {
  return s.rule(Rule::list_comprehension,
                seq(lit<"[">, filter_expression, opt(seq(lit<"|">, expression)), lit<"]">));
}

// filter_expression = id_in_coll ~ (^"WHERE" ~ expression)?
bool filter_expression(ParserState& s) {
  return s.rule(Rule::filter_expression, seq(id_in_coll, opt(seq(kw<"WHERE">, expression))));
}

// id_in_coll = variable ~ ^"IN" ~ expression
bool id_in_coll(ParserState& s) { return s.rule(Rule::id_in_coll, seq(variable, kw<"IN">, expression)); }

// quantifier_expression = (^"ALL" | ^"ANY" | ^"NONE" | ^"SINGLE") ~ "(" ~ filter_expression ~ ")"
bool quantifier_expression(ParserState& s) {
  return s.rule(Rule::quantifier_expression,
                seq(alt(kw<"ALL">, kw<"ANY">, kw<"NONE">, kw<"SINGLE">), lit<"(">, filter_expression,
                    lit<")">));
}

// exists_subquery = ^"EXISTS" ~ "{" ~ pattern ~ "}"
bool exists_subquery(ParserState& s) {
  return s.rule(Rule::exists_subquery, seq(kw<"EXISTS">, lit<"{">, pattern, lit<"}">));
}

// literal = float_literal | integer_literal | string_literal | boolean_literal | null_literal
//         | list_literal | map_literal
bool literal(ParserState& s) {
  return s.rule_first<kLiteralFirst, kLiteralInner>(
      Rule::literal, alt(float_literal, integer_literal, string_literal, boolean_literal,
                         null_literal, list_literal, map_literal));
}

// integer_literal (atomic) = "0x" ~ HEXDIGIT+ | "0o" ~ OCTDIGIT+ | DIGIT+
bool integer_literal(ParserState& s) {
  return s.rule(Rule::integer_literal,
                atomic(alt(seq(lit<"0x">, plus(HEXDIGIT)), seq(lit<"0o">, plus(OCTDIGIT)), plus(DIGIT))));
}

// float_literal (atomic) = DIGIT+ ~ "." ~ DIGIT* ~ (("e" | "E") ~ ("+" | "-")? ~ DIGIT+)?
bool float_literal(ParserState& s) {
  return s.rule(Rule::float_literal,
                atomic(seq(plus(DIGIT), lit<".">, star(DIGIT),
                           opt(seq(alt(lit<"e">, lit<"E">), opt(alt(lit<"+">, lit<"-">)), plus(DIGIT))))));
}

// string_literal (atomic) = "\"" ~ (!"\"" ~ ANY)* ~ "\"" | "'" ~ (!"'" ~ ANY)* ~ "'"
bool string_literal(ParserState& s) {
  return s.rule(Rule::string_literal,
                atomic(alt(seq(lit<"\"">, star(seq(neg(lit<"\"">), any)), lit<"\"">),
                           seq(lit<"'">, star(seq(neg(lit<"'">), any)), lit<"'">))));
}

// boolean_literal = ^"TRUE" | ^"FALSE"
bool boolean_literal(ParserState& s) {
  return s.rule(Rule::boolean_literal, alt(kw<"TRUE">, kw<"FALSE">));
}

// null_literal = ^"NULL"
bool null_literal(ParserState& s) { return s.rule(Rule::null_literal, kw<"NULL">); }

// list_literal = "[" ~ (expression ~ ("," ~ expression)*)? ~ "]"
bool list_literal(ParserState& s) {
  return s.rule(Rule::list_literal,
                seq(lit<"[">, opt(seq(expression, star(seq(lit<",">, expression)))), lit<"]">));
}

// map_literal = "{" ~ (property_key_value_pair ~ ("," ~ property_key_value_pair)*)? ~ "}"
bool map_literal(ParserState& s) {
  return s.rule(Rule::map_literal,
                seq(lit<"{">, opt(seq(property_key_value_pair, star(seq(lit<",">, property_key_value_pair)))),
                    lit<"}">));
}

// property_key_value_pair = property_key_name ~ ":" ~ expression
bool property_key_value_pair(ParserState& s) {
  return s.rule(Rule::property_key_value_pair, seq(property_key_name, lit<":">, expression));
}

// property_key_name (atomic) = identifier
bool property_key_name(ParserState& s) { return s.rule(Rule::property_key_name, atomic(Identifier{})); }

// property_expression = variable ~ property_lookup+
bool property_expression(ParserState& s) {
  return s.rule(Rule::property_expression, seq(variable, plus(property_lookup)));
}

// parameter (atomic) = "$" ~ ((LETTER | "_") ~ WORDCHAR* | DIGIT+)
bool parameter(ParserState& s) {
  return s.rule(Rule::parameter,
                atomic(seq(lit<"$">, alt(Name{}, plus(DIGIT)))));
}

// variable (atomic) = identifier
bool variable(ParserState& s) { return s.rule(Rule::variable, atomic(Identifier{})); }

// identifier (atomic) = !keyword ~ (LETTER | "_") ~ WORDCHAR* | backtick_identifier
bool identifier(ParserState& s) {
  return s.rule(Rule::identifier, atomic(alt(seq(neg(keyword), Name{}), backtick_identifier)));
}

// backtick_identifier (atomic) = "`" ~ (!"`" ~ ANY | "``")* ~ "`"
// A doubled backtick inside stands for one, so that any name can be written.
bool backtick_identifier(ParserState& s) {
  return s.rule(Rule::backtick_identifier,
                atomic(seq(lit<"`">, star(alt(seq(neg(lit<"`">), any), lit<"``">)), lit<"`">)));
}

// keyword = (^"ALL" | ^"AND" | ... | ^"YIELD") ~ WE, the 56 reserved words, each before
// the listed words that are its prefixes
// (tested as one table look-up of the whole word, which gives the same outcome)
bool keyword(ParserState& s) { return s.rule(Rule::keyword, ReservedWord{}); }

namespace {
struct Entry {
  Rule rule;
  RuleFn fn;
};
constexpr Entry kTable[] = {
    {Rule::EOI, EOI},
    {Rule::WHITESPACE, WHITESPACE},
    {Rule::COMMENT, COMMENT},
    {Rule::cypher, cypher},
    {Rule::statement, statement},
    {Rule::regular_query, regular_query},
    {Rule::union_clause, union_clause},
    {Rule::single_query, single_query},
    {Rule::single_part_query, single_part_query},
    {Rule::multi_part_query, multi_part_query},
    {Rule::reading_clause, reading_clause},
    {Rule::match_clause, match_clause},
    {Rule::unwind_clause, unwind_clause},
    {Rule::in_query_call, in_query_call},
    {Rule::standalone_call, standalone_call},
    {Rule::explicit_procedure_invocation, explicit_procedure_invocation},
    {Rule::procedure_name, procedure_name},
    {Rule::yield_items, yield_items},
    {Rule::yield_item, yield_item},
    {Rule::procedure_result_field, procedure_result_field},
    {Rule::updating_clause, updating_clause},
    {Rule::foreach_clause, foreach_clause},
    {Rule::create_clause, create_clause},
    {Rule::merge_clause, merge_clause},
    {Rule::on_match_or_create, on_match_or_create},
    {Rule::set_clause, set_clause},
    {Rule::set_item, set_item},
    {Rule::remove_clause, remove_clause},
    {Rule::remove_item, remove_item},
    {Rule::delete_clause, delete_clause},
    {Rule::with_clause, with_clause},
    {Rule::return_clause, return_clause},
    {Rule::return_body, return_body},
    {Rule::return_items, return_items},
    {Rule::return_item, return_item},
    {Rule::order_clause, order_clause},
    {Rule::sort_item, sort_item},
    {Rule::skip_clause, skip_clause},
    {Rule::limit_clause, limit_clause},
    {Rule::where_clause, where_clause},
    {Rule::pattern, pattern},
    {Rule::pattern_part, pattern_part},
    {Rule::pattern_element, pattern_element},
    {Rule::node_pattern, node_pattern},
    {Rule::node_labels, node_labels},
    {Rule::label_name, label_name},
    {Rule::relationship_pattern, relationship_pattern},
    {Rule::left_arrow, left_arrow},
    {Rule::right_arrow, right_arrow},
    {Rule::rel_types, rel_types},
    {Rule::rel_type_name, rel_type_name},
    {Rule::range_literal, range_literal},
    {Rule::properties, properties},
    {Rule::expression, expression},
    {Rule::or_kw, or_kw},
    {Rule::xor_kw, xor_kw},
    {Rule::and_kw, and_kw},
    {Rule::not_kw, not_kw},
    {Rule::or_expr, or_expr},
    {Rule::xor_expr, xor_expr},
    {Rule::and_expr, and_expr},
    {Rule::not_expr, not_expr},
    {Rule::comparison_expr, comparison_expr},
    {Rule::comparison_op, comparison_op},
    {Rule::add_sub_expr, add_sub_expr},
    {Rule::mul_div_expr, mul_div_expr},
    {Rule::mod_expr, mod_expr},
    {Rule::power_expr, power_expr},
    {Rule::unary_expr, unary_expr},
    {Rule::postfix_expr, postfix_expr},
    {Rule::null_check_op, null_check_op},
    {Rule::postfix_op, postfix_op},
    {Rule::property_lookup, property_lookup},
    {Rule::subscript_op, subscript_op},
    {Rule::list_slice_op, list_slice_op},
    {Rule::atom, atom},
    {Rule::parenthesized_expr, parenthesized_expr},
    {Rule::count_star, count_star},
    {Rule::function_invocation, function_invocation},
    {Rule::function_name, function_name},
    {Rule::namespace_, namespace_},
    {Rule::reduce_expression, reduce_expression},
    {Rule::shortest_path_call, shortest_path_call},
    {Rule::case_expression, case_expression},
    {Rule::list_comprehension, list_comprehension},
    {Rule::filter_expression, filter_expression},
    {Rule::id_in_coll, id_in_coll},
    {Rule::quantifier_expression, quantifier_expression},
    {Rule::exists_subquery, exists_subquery},
    {Rule::literal, literal},
    {Rule::integer_literal, integer_literal},
    {Rule::float_literal, float_literal},
    {Rule::string_literal, string_literal},
    {Rule::boolean_literal, boolean_literal},
    {Rule::null_literal, null_literal},
    {Rule::list_literal, list_literal},
    {Rule::map_literal, map_literal},
    {Rule::property_key_value_pair, property_key_value_pair},
    {Rule::property_key_name, property_key_name},
    {Rule::property_expression, property_expression},
    {Rule::parameter, parameter},
    {Rule::variable, variable},
    {Rule::identifier, identifier},
    {Rule::backtick_identifier, backtick_identifier},
    {Rule::keyword, keyword},
};
static_assert(std::size(kTable) == rule_count);

constexpr bool table_in_rule_order() {
  for (std::size_t i = 0; i < std::size(kTable); ++i)
    if (static_cast<std::size_t>(kTable[i].rule) != i) return false;
  return true;
}
static_assert(table_in_rule_order());

constexpr std::array<RuleFn, rule_count> make_functions() {
  std::array<RuleFn, rule_count> fns{};
  for (std::size_t i = 0; i < rule_count; ++i) fns[i] = kTable[i].fn;
  return fns;
}
}  // namespace

const std::array<RuleFn, rule_count> rule_functions = make_functions();

}  // namespace torvane::parser::grammar
