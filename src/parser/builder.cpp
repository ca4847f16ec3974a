#include "parser/builder.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "ascii.hpp"
#include "parser/engine.hpp"
#include "parser/lexical.hpp"

namespace torvane::parser::builder {

static_assert(kMaxNesting == kMaxRuleDepth, "the builder reports the grammar's nesting error");

using ast::Box;
using ast::Expr;

namespace {

// ---- Texts ----

// Whether `s` begins with `word` (upper case), ASCII letters in either case.
bool starts_with_word(std::string_view s, std::string_view word) {
  if (s.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (ascii_upper(s[i]) != word[i]) return false;
  return true;
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = ascii_upper(c);
  return u;
}

// Whether `s` begins with DISTINCT as a whole word: unlike the clause words,
// the grammar reads it only where no word character follows.
bool starts_with_distinct(std::string_view s) {
  constexpr std::string_view word = "DISTINCT";
  if (!starts_with_word(s, word)) return false;
  if (s.size() == word.size()) return true;
  return !is_word_char(s[word.size()]);
}

// The text between `from` and the end of `p` after blanks and comments: where
// optional keywords that form no pair are read.
std::string_view text_after(Pair p, std::uint32_t from) {
  const std::string_view src = p.source().substr(0, p.end());
  return src.substr(after_blanks_and_comments(src, from));
}

bool word_at(Pair p, std::uint32_t from, std::string_view word) {
  return starts_with_word(text_after(p, from), word);
}

// A clause's optional keyword after its leading word of `lead` bytes.
bool keyword_after_lead(Pair p, std::uint32_t lead, std::string_view word) {
  const std::uint32_t from = p.start() + lead;
  return from <= p.end() && word_at(p, from, word);
}

bool distinct_after_lead(Pair p, std::uint32_t lead) {
  const std::uint32_t from = p.start() + lead;
  return from <= p.end() && starts_with_distinct(text_after(p, from));
}

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Decodes the UTF-8 character of `len` bytes at `s` (the text is valid UTF-8).
char32_t decode(const char* s, std::size_t len) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (len == 1) return b0;
  char32_t c = b0 & (0x7Fu >> len);
  for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3Fu);
  return c;
}

std::size_t utf8_length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Removes leading and trailing White_Space characters.
std::string_view trim(std::string_view s) {
  while (!s.empty()) {
    const std::size_t len = std::min(utf8_length(static_cast<unsigned char>(s[0])), s.size());
    if (!is_white_space(decode(s.data(), len))) break;
    s.remove_prefix(len);
  }
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0u) == 0x80u) --start;
    if (!is_white_space(decode(s.data() + start, s.size() - start))) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

std::string_view strip_dollars(std::string_view s) {
  while (!s.empty() && s.front() == '$') s.remove_prefix(1);
  return s;
}

// A text copied into the string it initialises: a node's name member is made
// in place from it, with no temporary string moved in.
struct Copy {
  std::string_view text;
  operator std::string() const { return std::string(text); }
};

// ---- Numbers ----

// An integer literal: 0x hexadecimal, 0o octal, else decimal; a value outside
// the signed 64-bit range reads as 0.
std::int64_t read_integer(std::string_view t) {
  int base = 10;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'o')) {
    base = t[1] == 'x' ? 16 : 8;
    t.remove_prefix(2);
  }
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (ec != std::errc{} || end != t.data() + t.size()) return 0;
  return v;
}

// A literal beyond the double range: infinity when it overflows, zero when it
// underflows, as the nearest double would be. The grammar's float form is
// DIGIT+ "." DIGIT* (("e"|"E") sign? DIGIT+)?.
double out_of_range_float(std::string_view t) {
  std::size_t i = 0;
  std::int64_t magnitude = 0;  // decimal exponent of the leading significant digit, plus one
  bool significant = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (t[i] != '0') significant = true;
    if (significant) ++magnitude;
    ++i;
  }
  if (i < t.size() && t[i] == '.') ++i;
  while (!significant && i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (t[i] != '0')
      significant = true;
    else
      --magnitude;
    ++i;
  }
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
      if (exponent < 100000)
        exponent = exponent * 10 + (t[i] - '0');  // saturates well past the range
    if (negative) exponent = -exponent;
  }
  return significant && magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

double read_float(std::string_view t) {
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) return out_of_range_float(t);
  return v;
}

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

// Whether `s` equals `word` (upper case), ASCII letters in either case.
bool equals_word(std::string_view s, std::string_view word) {
  return s.size() == word.size() && starts_with_word(s, word);
}

// Whether `word` (upper case) occurs in `s`, ASCII letters in either case.
bool contains_word(std::string_view s, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= s.size(); ++i)
    if (starts_with_word(s.substr(i), word)) return true;
  return false;
}

// ---- Pairs ----

std::uint32_t count_children(Pair p, Rule r) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) n += c.as_rule() == r;
  return n;
}

// Number of operands of a keyword level; `only` receives the first one.
std::uint32_t count_operands(Pair p, Rule keyword, std::optional<Pair>* only) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    if (n++ == 0) *only = c;
  }
  return n;
}

Rule keyword_of(Rule level) {
  return level == Rule::or_expr    ? Rule::or_kw
         : level == Rule::xor_expr ? Rule::xor_kw
                                   : Rule::and_kw;
}

// The label list of `node_labels` or the type list of `rel_types`: the texts
// of the children of rule `name`, in order, repeats kept.
void collect_names(Pair p, Rule name, std::vector<std::string>& out) {
  out.clear();
  out.reserve(count_children(p, name));
  for (Pair c : p.into_inner())
    if (c.as_rule() == name) out.emplace_back(c.as_str());
}

// ---- Expression nodes ----

// Turns `acc` into Op(acc, rhs): the accumulator moves to the heap as the
// left operand.
template <class Op>
void join(Expr& acc, Box<Expr> rhs) {
  Box<Expr> lhs(std::move(acc));
  acc.node.emplace<Op>(std::move(lhs), std::move(rhs));
}

// Turns `acc` into Op(acc).
template <class Op>
void wrap(Expr& acc) {
  Box<Expr> operand(std::move(acc));
  acc.node.emplace<Op>(std::move(operand));
}

enum class Comparison {
  Eq,
  Neq,
  Lt,
  Lte,
  Gt,
  Gte,
  RegexMatch,
  In,
  StartsWith,
  EndsWith,
  Contains,
  Unknown
};

// The comparison an operator text stands for, letters in either case.
Comparison comparison_of(std::string_view o) {
  if (o == "=") return Comparison::Eq;
  if (o == "<>") return Comparison::Neq;
  if (o == "<") return Comparison::Lt;
  if (o == "<=") return Comparison::Lte;
  if (o == ">") return Comparison::Gt;
  if (o == ">=") return Comparison::Gte;
  if (o == "=~") return Comparison::RegexMatch;
  if (equals_word(o, "IN")) return Comparison::In;
  // STARTS WITH and ENDS WITH by their first word: blanks and comments may
  // stand between the two.
  if (starts_with_word(o, "STARTS")) return Comparison::StartsWith;
  if (starts_with_word(o, "ENDS")) return Comparison::EndsWith;
  if (equals_word(o, "CONTAINS")) return Comparison::Contains;
  return Comparison::Unknown;
}

// The steps. Each builds into storage its caller already holds (a field of
// the parent, or an element put in place in its list), so nothing built is
// moved on its way up. A step returns whether it succeeded; the first failure
// waits in `failure`, and every step above it returns false at once.
class Builder {
 public:
  std::optional<CypherError> failure;
  // Set beside `failure` when the nesting bound stopped the build.
  std::optional<SyntaxError> too_deep;

  // Query structure.
  bool build_query(Pair p, ast::CypherQuery& out);
  bool build_regular_query(Pair p, ast::RegularQuery& out, std::uint32_t depth);
  bool build_single_query(Pair p, ast::SingleQuery& out, std::uint32_t depth);
  bool build_with_clause(Pair p, ast::WithClause& out, std::uint32_t depth);
  bool build_return_clause(Pair p, ast::ReturnClause& out, std::uint32_t depth);
  // Into a ReturnBody or ReturnClause (items as ReturnItems), or a WithClause
  // (a plain list and the star flag).
  template <class Target>
  bool build_return_body(Pair p, Target& out, std::uint32_t depth);
  bool build_sort_item(Pair p, ast::SortItem& out, std::uint32_t depth);

  // Reading and updating clauses.
  bool build_reading_clause(Pair p, ast::ReadingClause& out, std::uint32_t depth);
  bool build_call_clause(Pair p, ast::CallClause& out, std::uint32_t depth);
  bool build_updating_clause(Pair p, ast::UpdatingClause& out, std::uint32_t depth);
  bool build_set_clause(Pair p, std::vector<ast::SetItem>& out, std::uint32_t depth);

  // Patterns and property maps.
  bool build_pattern(Pair p, ast::Pattern& out, std::uint32_t depth);
  bool build_pattern_part(Pair p, ast::PatternPart& out, std::uint32_t depth);
  bool build_node_pattern(Pair p, ast::NodePattern& out, std::uint32_t depth);
  bool build_relationship_pattern(Pair p, ast::RelationshipPattern& out, std::uint32_t depth);
  bool build_properties(Pair p, ast::MapOrParam& out, std::uint32_t depth);
  bool build_map_literal(Pair p, ast::ExprMap& out, std::uint32_t depth);
  bool build_property_expression(Pair p, ast::PropertyExpr& out);

  // Expressions.
  bool build_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_or_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_comparison_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_postfix_expr(Pair p, Expr& out, std::uint32_t depth);
  bool build_atom(Pair p, Expr& out, std::uint32_t depth);
  bool build_literal(Pair p, Expr& out, std::uint32_t depth);
  bool parse_filter_expression(Pair p, FilterExpression& out, std::uint32_t depth);

 private:
  [[gnu::cold, gnu::noinline]] bool fail(const char* message) {
    failure = CypherError::parse(message);
    return false;
  }
  [[gnu::cold, gnu::noinline]] bool fail(std::string_view prefix, std::string_view what) {
    std::string m;
    m.reserve(prefix.size() + what.size());
    m.append(prefix).append(what);
    failure = CypherError::parse(std::move(m));
    return false;
  }
  // The grammar's own nesting error, at the pair that went past the bound.
  [[gnu::cold, gnu::noinline]] bool fail_too_deep(Pair p) {
    too_deep = make_nesting_error(p.source(), p.start());
    failure = CypherError::parse(too_deep->display());
    return false;
  }

  bool build_match_clause(Pair p, ast::ReadingClause::Match& out, std::uint32_t depth);
  bool build_merge_clause(Pair p, ast::UpdatingClause::Merge& out, std::uint32_t depth);
  bool build_foreach_clause(Pair p, ast::UpdatingClause::Foreach& out, std::uint32_t depth);
  bool build_set_item(Pair p, ast::SetItem& out, std::uint32_t depth);
  bool build_remove_item(Pair p, ast::RemoveItem& out);
  bool build_pattern_element(Pair p, ast::PatternElement& out, std::uint32_t depth);
  bool build_chain(Pairs rest, std::vector<ast::PatternStep>& out, std::uint32_t depth,
                   bool build_unpaired);

  template <class Op>
  bool fold(Pair p, Rule keyword, Expr& out, std::uint32_t depth);
  // Builds `operand` as the right operand of Op(out, operand).
  template <class Op>
  bool join_operand(Pair operand, Expr& out, std::uint32_t depth);
  bool build_arithmetic(Pair p, Expr& out, std::uint32_t depth);
  bool build_not_expr(Pair p, std::uint32_t nots, Expr& out, std::uint32_t depth);
  bool build_unary_minus(Pair p, Expr& out, std::uint32_t depth);
  bool build_comparison(Comparison c, std::string_view op, Pair operand, Expr& out,
                        std::uint32_t depth);

  bool build_function_invocation(Pair p, Expr::FunctionCall& out, std::uint32_t depth);
  bool build_case_expression(Pair p, Expr::Case& out, std::uint32_t depth);
  bool build_list_comprehension(Pair p, Expr& out, std::uint32_t depth);
  bool build_quantifier_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_reduce_expression(Pair p, Expr& out, std::uint32_t depth);
  bool build_shortest_path_call(Pair p, Expr& out, std::uint32_t depth);
  bool build_exists_subquery(Pair p, Expr& out, std::uint32_t depth);
};

// ---- Query structure ----

bool Builder::build_query(Pair cypher, ast::CypherQuery& out) {
  const std::optional<Pair> statement = cypher.first_child();
  if (!statement) return fail("Empty query");
  if (statement->as_rule() != Rule::statement)
    return fail("Expected statement, got ", rule_name(statement->as_rule()));
  const std::optional<Pair> c = statement->first_child();
  if (!c) return fail("Empty statement");
  if (c->as_rule() == Rule::regular_query)
    return build_regular_query(*c, out.node.emplace<ast::CypherQuery::Regular>().query, 0);
  if (c->as_rule() == Rule::standalone_call)
    return build_call_clause(*c, out.node.emplace<ast::CypherQuery::StandaloneCall>().call, 0);
  return fail("Unknown statement type: ", rule_name(c->as_rule()));
}

bool Builder::build_regular_query(Pair p, ast::RegularQuery& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Missing single_query");
  if (!build_single_query(*first, out.first, depth)) return false;
  for (Pair u : kids) {
    if (u.as_rule() != Rule::union_clause) continue;
    std::optional<Pair> single;
    for (Pair c : u.into_inner())
      if (c.as_rule() == Rule::single_query) {
        single = c;
        break;
      }
    if (!single) return fail("Missing union single_query");
    ast::Union& next = out.unions.emplace_back();
    next.all = keyword_after_lead(u, 5, "ALL");
    if (!build_single_query(*single, next.query, depth)) return false;
  }
  return true;
}

bool Builder::build_single_query(Pair p, ast::SingleQuery& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty single_query");
  if (c->as_rule() == Rule::single_part_query) {
    auto& part = out.node.emplace<ast::SingleQuery::SinglePart>();
    part.reading_clauses.reserve(count_children(*c, Rule::reading_clause));
    for (Pair k : c->into_inner()) {
      switch (k.as_rule()) {
        case Rule::reading_clause:
          if (!build_reading_clause(k, part.reading_clauses.emplace_back(), depth)) return false;
          break;
        case Rule::updating_clause:
          if (!build_updating_clause(k, part.updating_clauses.emplace_back(), depth)) return false;
          break;
        case Rule::return_clause:
          if (!build_return_clause(k, part.return_clause.emplace(), depth)) return false;
          break;
        default: break;
      }
    }
    return true;
  }
  if (c->as_rule() == Rule::multi_part_query) {
    ast::MultiPartQuery& query = out.node.emplace<ast::SingleQuery::MultiPart>().query;
    // Every clause goes straight into its part; the clauses after the last
    // WITH start a part too, which becomes the final lists at the end.
    query.parts.reserve(count_children(*c, Rule::with_clause) + 1);
    ast::QueryPart* open = nullptr;
    for (Pair k : c->into_inner()) {
      const Rule r = k.as_rule();
      if (r == Rule::return_clause) {
        if (!build_return_clause(k, query.return_clause.emplace(), depth)) return false;
        continue;
      }
      if (r != Rule::reading_clause && r != Rule::updating_clause && r != Rule::with_clause)
        continue;
      if (!open) open = &query.parts.emplace_back();
      if (r == Rule::reading_clause) {
        if (!build_reading_clause(k, open->reading_clauses.emplace_back(), depth)) return false;
      } else if (r == Rule::updating_clause) {
        if (!build_updating_clause(k, open->updating_clauses.emplace_back(), depth)) return false;
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
      if (!build_expression(*e, out.where_clause.emplace(), depth + 1)) return false;
    }
  }
  return true;
}

bool Builder::build_return_clause(Pair p, ast::ReturnClause& out, std::uint32_t depth) {
  out.items.node.emplace<ast::ReturnItems::Items>();
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
    items->clear();
  } else {
    items = &out.items.node.template emplace<ast::ReturnItems::Items>().items;
  }
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
        if constexpr (!with)
          items = &out.items.node.template emplace<ast::ReturnItems::Items>().items;
        items->clear();
        items->reserve(count_children(c, Rule::return_item));
        for (Pair item : c.into_inner()) {
          if (item.as_rule() != Rule::return_item) continue;
          Pairs parts = item.into_inner();
          const std::optional<Pair> e = parts.next();
          if (!e) return fail("Return item missing expr");
          ast::ReturnItem& built = items->emplace_back();
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
          if (s.as_rule() == Rule::sort_item && !build_sort_item(s, order.emplace_back(), depth))
            return false;
        break;
      }
      case Rule::skip_clause: {
        const std::optional<Pair> e = c.first_child();
        if (!e) return fail("SKIP missing expr");
        if (!build_expression(*e, out.skip.emplace(), depth + 1)) return false;
        break;
      }
      case Rule::limit_clause: {
        const std::optional<Pair> e = c.first_child();
        if (!e) return fail("LIMIT missing expr");
        if (!build_expression(*e, out.limit.emplace(), depth + 1)) return false;
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

// ---- Reading and updating clauses ----

bool Builder::build_reading_clause(Pair p, ast::ReadingClause& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty reading_clause");
  switch (c->as_rule()) {
    case Rule::match_clause:
      return build_match_clause(*c, out.node.emplace<ast::ReadingClause::Match>(), depth);
    case Rule::unwind_clause: {
      auto& unwind = out.node.emplace<ast::ReadingClause::Unwind>();
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
      return build_call_clause(*c, out.node.emplace<ast::ReadingClause::Call>().call, depth);
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
      if (!build_expression(*e, out.where_clause.emplace(), depth + 1)) return false;
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
          if (!build_expression(k, out.args.emplace_back(), depth + 1)) return false;
        }
      }
    } else if (c.as_rule() == Rule::yield_items) {
      for (Pair item : c.into_inner()) {
        if (item.as_rule() != Rule::yield_item) continue;
        ast::YieldItem& y = out.yield_items.emplace_back();
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
      auto& create = out.node.emplace<ast::UpdatingClause::Create>();
      const std::optional<Pair> pattern = c->first_child();
      if (!pattern) return fail("CREATE missing pattern");
      return build_pattern(*pattern, create.pattern, depth);
    }
    case Rule::merge_clause:
      return build_merge_clause(*c, out.node.emplace<ast::UpdatingClause::Merge>(), depth);
    case Rule::set_clause:
      return build_set_clause(*c, out.node.emplace<ast::UpdatingClause::Set>().items, depth);
    case Rule::remove_clause: {
      auto& remove = out.node.emplace<ast::UpdatingClause::Remove>();
      remove.items.reserve(count_children(*c, Rule::remove_item));
      for (Pair item : c->into_inner())
        if (item.as_rule() == Rule::remove_item &&
            !build_remove_item(item, remove.items.emplace_back()))
          return false;
      return true;
    }
    case Rule::delete_clause: {
      auto& del = out.node.emplace<ast::UpdatingClause::Delete>();
      del.detach = starts_with_word(c->as_str(), "DETACH");
      for (Pair e : c->into_inner())
        if (e.as_rule() == Rule::expression &&
            !build_expression(e, del.expressions.emplace_back(), depth + 1))
          return false;
      return true;
    }
    case Rule::foreach_clause:
      return build_foreach_clause(*c, out.node.emplace<ast::UpdatingClause::Foreach>(), depth);
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
        !build_updating_clause(c, out.body.emplace_back(), depth + 1))
      return false;
  if (out.body.empty()) return fail("FOREACH body is empty");
  return true;
}

bool Builder::build_set_clause(Pair p, std::vector<ast::SetItem>& out, std::uint32_t depth) {
  out.reserve(count_children(p, Rule::set_item));
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::set_item && !build_set_item(c, out.emplace_back(), depth))
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

// ---- Patterns and property maps ----

bool Builder::build_pattern(Pair p, ast::Pattern& out, std::uint32_t depth) {
  out.parts.clear();
  out.parts.reserve(count_children(p, Rule::pattern_part));
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::pattern_part &&
        !build_pattern_part(c, out.parts.emplace_back(), depth))
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
        out.emplace_back();
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
        if (!build_properties(c, out.properties.emplace(), depth)) return false;
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
        if (!build_properties(c, out.properties.emplace(), depth)) return false;
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
    return build_map_literal(*c, out.node.emplace<ast::MapOrParam::Map>().entries, depth);
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

// ---- Expressions ----

// The operand of each expression level on its common path, where the level
// holds that one pair and no operator, and so adds no node: from `expression`
// down to `atom`, the chain that nearly every operand walks. Other rules map
// to Rule::count, which no pair has.
constexpr std::array<Rule, rule_count> kSoleOperand = [] {
  std::array<Rule, rule_count> operand{};
  operand.fill(Rule::count);
  const auto set = [&](Rule level, Rule op) { operand[static_cast<std::size_t>(level)] = op; };
  Rule level = Rule::expression;
  for (const Rule next : kOperatorLevels) {
    set(level, next);
    level = next;
  }
  set(level, Rule::postfix_expr);
  set(Rule::postfix_expr, Rule::atom);
  return operand;
}();

// Levels that hold a single operand and no operator add no node, so they are
// walked in a loop rather than by recursion: a query's expressions then cost
// a few frames per level of parentheses, not one per precedence level.
bool Builder::build_expression(Pair p, Expr& out, std::uint32_t depth) {
  if (depth > kMaxNesting) return fail_too_deep(p);
  for (;;) {
    // The common path first; whatever leaves it takes the general steps.
    p = p.descend_while([](Pair level, Rule rule, Rule inner) {
      return inner == kSoleOperand[static_cast<std::size_t>(rule)] &&
             (rule != Rule::unary_expr || !level.as_str().starts_with('-'));
    });
    switch (p.as_rule()) {
      case Rule::expression: {
        const std::optional<Pair> c = p.first_child();
        if (!c) return fail("Empty expression");
        p = *c;
        continue;
      }
      case Rule::or_expr:
      case Rule::xor_expr:
      case Rule::and_expr: {
        std::optional<Pair> only;
        if (count_operands(p, keyword_of(p.as_rule()), &only) != 1)
          return build_or_expr(p, out, depth);
        p = *only;
        continue;
      }
      case Rule::not_expr: {
        const std::uint32_t nots = count_children(p, Rule::not_kw);
        if (nots > 0) return build_not_expr(p, nots, out, depth);
        std::optional<Pair> operand;
        for (Pair c : p.into_inner())
          if (c.as_rule() == Rule::comparison_expr) {
            operand = c;
            break;
          }
        if (!operand) return fail("NOT missing comparison_expr");
        p = *operand;
        continue;
      }
      case Rule::comparison_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first || !kids.empty()) return build_comparison_expr(p, out, depth);
        p = *first;
        continue;
      }
      case Rule::add_sub_expr:
      case Rule::mul_div_expr:
      case Rule::mod_expr:
      case Rule::power_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first) {
          switch (p.as_rule()) {
            case Rule::add_sub_expr: return fail("Empty add_sub_expr");
            case Rule::mul_div_expr: return fail("Empty mul_div_expr");
            case Rule::mod_expr: return fail("Empty mod_expr");
            default: return fail("Empty power_expr");
          }
        }
        if (kids.empty()) {
          p = *first;
          continue;
        }
        if (p.as_rule() == Rule::mod_expr) return fold<Expr::Mod>(p, Rule::count, out, depth);
        if (p.as_rule() == Rule::power_expr) return fold<Expr::Pow>(p, Rule::count, out, depth);
        return build_arithmetic(p, out, depth);
      }
      case Rule::unary_expr: {
        if (!p.as_str().empty() && p.as_str().front() == '-')
          return build_unary_minus(p, out, depth);
        std::optional<Pair> operand;
        for (Pair c : p.into_inner())
          if (c.as_rule() == Rule::postfix_expr) {
            operand = c;
            break;
          }
        if (!operand) return fail("Unary missing postfix");
        p = *operand;
        continue;
      }
      case Rule::postfix_expr: {
        Pairs kids = p.into_inner();
        const std::optional<Pair> first = kids.next();
        if (!first || !kids.empty() || first->as_rule() != Rule::atom)
          return build_postfix_expr(p, out, depth);
        return build_atom(*first, out, depth);
      }
      case Rule::atom: return build_atom(p, out, depth);
      default: return fail("Unexpected rule in expression: ", rule_name(p.as_rule()));
    }
  }
}

template <class Op>
bool Builder::join_operand(Pair operand, Expr& out, std::uint32_t depth) {
  Box<Expr> rhs(Expr{});
  if (!build_expression(operand, *rhs, depth)) return false;
  join<Op>(out, std::move(rhs));
  return true;
}

// Left fold of the operands of `p` into Op. `keyword` operands are dropped
// (Rule::count keeps all). The operands stand at the level's own nesting
// depth: a chain is not nesting, however deep its tree.
template <class Op>
bool Builder::fold(Pair p, Rule keyword, Expr& out, std::uint32_t depth) {
  bool first = true;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    if (!(first ? build_expression(c, out, depth) : join_operand<Op>(c, out, depth))) return false;
    first = false;
  }
  return true;
}

bool Builder::build_or_expr(Pair p, Expr& out, std::uint32_t depth) {
  const Rule keyword = keyword_of(p.as_rule());
  std::optional<Pair> only;
  if (count_operands(p, keyword, &only) == 0) {
    if (p.as_rule() == Rule::or_expr) return fail("Empty or_expr");
    if (p.as_rule() == Rule::xor_expr) return fail("Empty xor_expr");
    return fail("Empty and_expr");
  }
  if (p.as_rule() == Rule::or_expr) return fold<Expr::Or>(p, keyword, out, depth);
  if (p.as_rule() == Rule::xor_expr) return fold<Expr::Xor>(p, keyword, out, depth);
  return fold<Expr::And>(p, keyword, out, depth);
}

// Fold of `add_sub_expr` or `mul_div_expr`: the operator of each step stands
// in the text between the previous operand and the next.
bool Builder::build_arithmetic(Pair p, Expr& out, std::uint32_t depth) {
  const std::string_view src = p.source();
  bool first = true;
  std::uint32_t prev_end = 0;
  for (Pair c : p.into_inner()) {
    bool ok;
    if (first) {
      ok = build_expression(c, out, depth);
      first = false;
    } else {
      const std::size_t op = after_blanks_and_comments(src.substr(0, c.start()), prev_end);
      switch (op < c.start() ? src[op] : '\0') {
        case '+': ok = join_operand<Expr::Add>(c, out, depth); break;
        case '-': ok = join_operand<Expr::Sub>(c, out, depth); break;
        case '*': ok = join_operand<Expr::Mul>(c, out, depth); break;
        default: ok = join_operand<Expr::Div>(c, out, depth); break;
      }
    }
    if (!ok) return false;
    prev_end = c.end();
  }
  return true;
}

bool Builder::build_not_expr(Pair p, std::uint32_t nots, Expr& out, std::uint32_t depth) {
  std::optional<Pair> operand;
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::comparison_expr) {
      operand = c;
      break;
    }
  if (!operand) return fail("NOT missing comparison_expr");
  if (!build_comparison_expr(*operand, out, depth)) return false;
  for (std::uint32_t i = 0; i < nots; ++i) wrap<Expr::Not>(out);
  return true;
}

bool Builder::build_unary_minus(Pair p, Expr& out, std::uint32_t depth) {
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::postfix_expr) {
      if (!build_postfix_expr(c, out, depth)) return false;
      wrap<Expr::Neg>(out);
      return true;
    }
  return fail("Unary missing postfix");
}

bool Builder::build_comparison_expr(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Empty comparison_expr");
  if (!build_expression(*first, out, depth)) return false;
  for (;;) {
    const std::optional<Pair> op = kids.next();
    if (!op) return true;
    const std::optional<Pair> operand = kids.next();
    if (!operand) return true;  // a trailing operator is ignored
    const std::string_view o = op->as_str();
    if (!build_comparison(comparison_of(o), o, *operand, out, depth)) return false;
  }
}

// The operand is built before the operator is looked at.
bool Builder::build_comparison(Comparison c, std::string_view op, Pair operand, Expr& out,
                               std::uint32_t depth) {
  switch (c) {
    case Comparison::Eq: return join_operand<Expr::Eq>(operand, out, depth);
    case Comparison::Neq: return join_operand<Expr::Neq>(operand, out, depth);
    case Comparison::Lt: return join_operand<Expr::Lt>(operand, out, depth);
    case Comparison::Lte: return join_operand<Expr::Lte>(operand, out, depth);
    case Comparison::Gt: return join_operand<Expr::Gt>(operand, out, depth);
    case Comparison::Gte: return join_operand<Expr::Gte>(operand, out, depth);
    case Comparison::RegexMatch: return join_operand<Expr::RegexMatch>(operand, out, depth);
    case Comparison::In: return join_operand<Expr::In>(operand, out, depth);
    case Comparison::StartsWith: return join_operand<Expr::StartsWith>(operand, out, depth);
    case Comparison::EndsWith: return join_operand<Expr::EndsWith>(operand, out, depth);
    case Comparison::Contains: return join_operand<Expr::Contains>(operand, out, depth);
    case Comparison::Unknown: break;
  }
  Expr ignored;
  if (!build_expression(operand, ignored, depth)) return false;
  return fail("Unknown comparison op: ", upper(op));
}

bool Builder::build_postfix_expr(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Postfix missing atom");
  // The operators wrap the atom one after the other, a chain; only the
  // brackets of a subscript or slice nest.
  if (!build_atom(*first, out, depth)) return false;
  for (Pair c : kids) {
    if (c.as_rule() != Rule::postfix_op) continue;
    const std::optional<Pair> op = c.first_child();
    if (!op) return fail("Empty postfix_op");
    switch (op->as_rule()) {
      case Rule::null_check_op:
        if (contains_word(op->as_str(), "NOT"))
          wrap<Expr::IsNotNull>(out);
        else
          wrap<Expr::IsNull>(out);
        break;
      case Rule::property_lookup: {
        const std::optional<Pair> key = op->first_child();
        if (!key) return fail("Property lookup missing key");
        Box<Expr> base(std::move(out));
        out.node.emplace<Expr::PropertyAccess>(std::move(base), Copy{key->as_str()});
        break;
      }
      case Rule::subscript_op: {
        const std::optional<Pair> index = op->first_child();
        if (!index) return fail("Subscript missing index");
        if (!join_operand<Expr::Index>(*index, out, depth + 1)) return false;
        break;
      }
      case Rule::list_slice_op: {
        Pairs bounds = op->into_inner();
        const std::optional<Pair> a = bounds.next();
        const std::optional<Pair> b = bounds.next();
        std::optional<Pair> from_pair, to_pair;
        if (b) {
          from_pair = a;
          to_pair = b;
        } else if (a) {
          // A lone bound is the upper one when ".." stands between "[" and it.
          const std::string_view src = p.source().substr(0, a->start());
          const std::size_t at = after_blanks_and_comments(src, op->start() + 1);
          (src.substr(at).starts_with("..") ? to_pair : from_pair) = a;
        }
        std::optional<Box<Expr>> from, to;
        if (from_pair && !build_expression(*from_pair, *from.emplace(Expr{}), depth + 1))
          return false;
        if (to_pair && !build_expression(*to_pair, *to.emplace(Expr{}), depth + 1)) return false;
        Box<Expr> base(std::move(out));
        out.node.emplace<Expr::Slice>(std::move(base), std::move(from), std::move(to));
        break;
      }
      default: continue;
    }
  }
  return true;
}

// ---- Atoms ----

bool Builder::build_atom(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty atom");
  switch (c->as_rule()) {
    case Rule::literal: return build_literal(*c, out, depth);
    case Rule::parameter:
      out.node.emplace<Expr::Parameter>(Copy{strip_dollars(c->as_str())});
      return true;
    case Rule::variable: out.node.emplace<Expr::Variable>(Copy{c->as_str()}); return true;
    case Rule::count_star: out.node.emplace<Expr::CountStar>(); return true;
    case Rule::function_invocation:
      return build_function_invocation(*c, out.node.emplace<Expr::FunctionCall>(), depth);
    case Rule::case_expression:
      return build_case_expression(*c, out.node.emplace<Expr::Case>(), depth);
    case Rule::list_comprehension: return build_list_comprehension(*c, out, depth);
    case Rule::quantifier_expression: return build_quantifier_expression(*c, out, depth);
    case Rule::reduce_expression: return build_reduce_expression(*c, out, depth);
    case Rule::shortest_path_call: return build_shortest_path_call(*c, out, depth);
    case Rule::exists_subquery: return build_exists_subquery(*c, out, depth);
    case Rule::parenthesized_expr: {
      const std::optional<Pair> e = c->first_child();
      if (!e) return fail("Empty paren expr");
      return build_expression(*e, out, depth + 1);
    }
    default: return fail("Unknown atom: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_literal(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty literal");
  const std::string_view t = c->as_str();
  switch (c->as_rule()) {
    case Rule::integer_literal: out.node.emplace<Expr::Integer>(read_integer(t)); return true;
    case Rule::float_literal: out.node.emplace<Expr::Float>(read_float(t)); return true;
    case Rule::string_literal:
      out.node.emplace<Expr::String>(Copy{t.size() >= 2 ? t.substr(1, t.size() - 2) : ""});
      return true;
    case Rule::boolean_literal:
      out.node.emplace<Expr::Boolean>(equals_word(t, "TRUE"));
      return true;
    case Rule::null_literal: out.node.emplace<Expr::Null>(); return true;
    case Rule::list_literal: {
      std::vector<Expr>& items = out.node.emplace<Expr::List>().items;
      items.reserve(count_children(*c, Rule::expression));
      for (Pair e : c->into_inner())
        if (e.as_rule() == Rule::expression &&
            !build_expression(e, items.emplace_back(), depth + 1))
          return false;
      return true;
    }
    case Rule::map_literal:
      return build_map_literal(*c, out.node.emplace<Expr::Map>().entries, depth);
    default: return fail("Unknown literal: ", rule_name(c->as_rule()));
  }
}

bool Builder::build_function_invocation(Pair p, Expr::FunctionCall& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> name = kids.next();
  if (!name) return fail("Function missing name");
  out.name = name->as_str();
  out.args.reserve(count_children(p, Rule::expression));
  for (Pair c : kids)
    if (c.as_rule() == Rule::expression && !build_expression(c, out.args.emplace_back(), depth + 1))
      return false;
  const std::string_view src = p.source().substr(0, p.end());
  std::size_t at = after_blanks_and_comments(src, name->end());
  if (at < src.size() && src[at] == '(') at = after_blanks_and_comments(src, at + 1);
  out.distinct = starts_with_distinct(src.substr(at));
  return true;
}

// Each child's role comes from the last keyword in front of it.
bool Builder::build_case_expression(Pair p, Expr::Case& out, std::uint32_t depth) {
  enum class Role { none, operand, when, then, otherwise };
  const std::string_view src = p.source();
  bool when_pending = false;  // the last alternative still waits for its THEN
  std::uint32_t gap_start = p.start();
  for (Pair c : p.into_inner()) {
    // End of the last significant character in the gap, blanks and comments left out.
    const std::string_view gap = src.substr(0, c.start());
    std::size_t at = gap_start, word_end = gap_start;
    for (;;) {
      at = after_blanks_and_comments(gap, at);
      if (at >= gap.size()) break;
      word_end = ++at;
    }
    const std::string_view before = src.substr(gap_start, word_end - gap_start);
    Role role = Role::none;
    if (before.size() >= 4) {
      const std::string_view last = before.substr(before.size() - 4);
      if (starts_with_word(last, "CASE"))
        role = Role::operand;
      else if (starts_with_word(last, "WHEN"))
        role = Role::when;
      else if (starts_with_word(last, "THEN"))
        role = Role::then;
      else if (starts_with_word(last, "ELSE"))
        role = Role::otherwise;
    }
    gap_start = c.end();
    Expr* target = nullptr;
    Expr dropped;  // a THEN without its WHEN
    switch (role) {
      case Role::none: continue;
      case Role::operand: target = &*out.operand.emplace(Expr{}); break;
      case Role::when:
        if (!when_pending) out.alternatives.emplace_back();
        when_pending = true;
        target = &out.alternatives.back().condition;
        break;
      case Role::then:
        target = when_pending ? &out.alternatives.back().result : &dropped;
        when_pending = false;
        break;
      case Role::otherwise: target = &*out.else_expr.emplace(Expr{}); break;
    }
    if (!build_expression(c, *target, depth + 1)) return false;
  }
  if (when_pending) out.alternatives.pop_back();
  return true;
}

bool Builder::parse_filter_expression(Pair p, FilterExpression& out, std::uint32_t depth) {
  out.variable.clear();
  out.list.node.emplace<Expr::Null>();
  out.predicate.reset();
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::id_in_coll) {
      Pairs kids = c.into_inner();
      if (const std::optional<Pair> v = kids.next()) out.variable = v->as_str();
      if (const std::optional<Pair> list = kids.next())
        if (!build_expression(*list, out.list, depth + 1)) return false;
    } else if (c.as_rule() == Rule::expression) {
      if (!build_expression(c, out.predicate.emplace(), depth + 1)) return false;
    }
  }
  return true;
}

std::optional<Box<Expr>> boxed(std::optional<Expr>& e) {
  if (!e) return std::nullopt;
  return Box<Expr>(std::move(*e));
}

bool Builder::build_list_comprehension(Pair p, Expr& out, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  std::optional<Expr> projection;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::filter_expression) {
      if (!parse_filter_expression(c, f, depth)) return false;
    } else if (c.as_rule() == Rule::expression) {
      if (!build_expression(c, projection.emplace(), depth + 1)) return false;
    }
  }
  out.node.emplace<Expr::ListComprehension>(std::move(f.variable), Box<Expr>(std::move(f.list)),
                                            boxed(f.predicate), boxed(projection));
  return true;
}

bool Builder::build_quantifier_expression(Pair p, Expr& out, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::filter_expression && !parse_filter_expression(c, f, depth))
      return false;
  const auto make = [&](auto kind) {
    using Q = typename decltype(kind)::type;
    out.node.emplace<Q>(std::move(f.variable), Box<Expr>(std::move(f.list)), boxed(f.predicate));
    return true;
  };
  const std::string_view t = p.as_str();
  if (starts_with_word(t, "ALL")) return make(std::type_identity<Expr::All>{});
  if (starts_with_word(t, "ANY")) return make(std::type_identity<Expr::Any>{});
  if (starts_with_word(t, "NONE")) return make(std::type_identity<Expr::None>{});
  return make(std::type_identity<Expr::Single>{});
}

bool Builder::build_reduce_expression(Pair p, Expr& out, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> accumulator = kids.next();
  if (!accumulator) return fail("REDUCE missing accumulator");
  const std::optional<Pair> init_pair = kids.next();
  if (!init_pair) return fail("REDUCE missing init expression");
  Box<Expr> init(Expr{});
  if (!build_expression(*init_pair, *init, depth + 1)) return false;
  const std::optional<Pair> variable = kids.next();
  if (!variable) return fail("REDUCE missing loop variable");
  const std::optional<Pair> list_pair = kids.next();
  if (!list_pair) return fail("REDUCE missing source expression");
  Box<Expr> list(Expr{});
  if (!build_expression(*list_pair, *list, depth + 1)) return false;
  const std::optional<Pair> projection_pair = kids.next();
  if (!projection_pair) return fail("REDUCE missing projection expression");
  Box<Expr> projection(Expr{});
  if (!build_expression(*projection_pair, *projection, depth + 1)) return false;
  out.node.emplace<Expr::Reduce>(Copy{accumulator->as_str()}, std::move(init),
                                 Copy{variable->as_str()}, std::move(list), std::move(projection));
  return true;
}

bool Builder::build_shortest_path_call(Pair p, Expr& out, std::uint32_t depth) {
  const bool all = starts_with_word(p.as_str(), "ALL");
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("shortestPath missing start node");
  Box<ast::PatternElement> element(ast::PatternElement{});
  if (!build_node_pattern(*first, element->start, depth + 1)) return false;
  if (!build_chain(kids, element->chain, depth + 1, false)) return false;
  out.node.emplace<Expr::ShortestPath>(std::move(element), all);
  return true;
}

bool Builder::build_exists_subquery(Pair p, Expr& out, std::uint32_t depth) {
  const std::optional<Pair> c = p.first_child();
  if (!c) return fail("Empty EXISTS");
  Box<ast::ExistsSubquery> subquery(ast::ExistsSubquery{});
  if (c->as_rule() == Rule::pattern) {
    if (!build_pattern(*c, subquery->node.emplace<ast::ExistsSubquery::Pattern>().pattern,
                       depth + 1))
      return false;
  } else if (c->as_rule() == Rule::regular_query) {
    if (!build_regular_query(*c, subquery->node.emplace<ast::ExistsSubquery::Query>().query,
                             depth + 1))
      return false;
  } else {
    return fail("Unknown EXISTS subquery type");
  }
  out.node.emplace<Expr::Exists>(std::move(subquery));
  return true;
}

// Runs one step on fresh storage: the built value, or the step's failure.
// The value is built where the result holds it, so a whole tree is never
// moved on its way out.
template <class T, class... Args>
BuildResult<T> run(bool (Builder::*step)(Pair, T&, Args...), Pair p,
                   std::type_identity_t<Args>... args) {
  Builder b;
  BuildResult<T> built{T{}};
  if (!(b.*step)(p, built.value(), args...)) built = Err{std::move(*b.failure)};
  return built;
}

}  // namespace

// ---- The steps, each on its own ----

BuildResult<ast::CypherQuery> build_query(Pair cypher) {
  return run(&Builder::build_query, cypher);
}

std::optional<BuildFailure> build_query(Pair cypher, ast::CypherQuery& out) {
  Builder b;
  if (b.build_query(cypher, out)) return std::nullopt;
  if (b.too_deep) return BuildFailure{std::move(*b.too_deep)};
  return BuildFailure{std::move(*b.failure)};
}

BuildResult<ast::RegularQuery> build_regular_query(Pair p, std::uint32_t depth) {
  return run(&Builder::build_regular_query, p, depth);
}

BuildResult<ast::SingleQuery> build_single_query(Pair p, std::uint32_t depth) {
  return run(&Builder::build_single_query, p, depth);
}

BuildResult<ast::WithClause> build_with_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_with_clause, p, depth);
}

BuildResult<ast::ReturnClause> build_return_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_return_clause, p, depth);
}

BuildResult<ReturnBody> build_return_body(Pair p, std::uint32_t depth) {
  return run(&Builder::build_return_body<ReturnBody>, p, depth);
}

BuildResult<ast::SortItem> build_sort_item(Pair p, std::uint32_t depth) {
  return run(&Builder::build_sort_item, p, depth);
}

BuildResult<ast::ReadingClause> build_reading_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_reading_clause, p, depth);
}

BuildResult<ast::CallClause> build_call_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_call_clause, p, depth);
}

BuildResult<ast::UpdatingClause> build_updating_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_updating_clause, p, depth);
}

BuildResult<std::vector<ast::SetItem>> build_set_clause(Pair p, std::uint32_t depth) {
  return run(&Builder::build_set_clause, p, depth);
}

BuildResult<ast::Pattern> build_pattern(Pair p, std::uint32_t depth) {
  return run(&Builder::build_pattern, p, depth);
}

BuildResult<ast::PatternPart> build_pattern_part(Pair p, std::uint32_t depth) {
  return run(&Builder::build_pattern_part, p, depth);
}

BuildResult<ast::NodePattern> build_node_pattern(Pair p, std::uint32_t depth) {
  return run(&Builder::build_node_pattern, p, depth);
}

BuildResult<ast::RelationshipPattern> build_relationship_pattern(Pair p, std::uint32_t depth) {
  return run(&Builder::build_relationship_pattern, p, depth);
}

BuildResult<ast::MapOrParam> build_properties(Pair p, std::uint32_t depth) {
  return run(&Builder::build_properties, p, depth);
}

BuildResult<ast::ExprMap> build_map_literal(Pair p, std::uint32_t depth) {
  return run(&Builder::build_map_literal, p, depth);
}

BuildResult<ast::PropertyExpr> build_property_expression(Pair p) {
  return run(&Builder::build_property_expression, p);
}

std::vector<std::string> build_node_labels(Pair p) {
  std::vector<std::string> labels;
  collect_names(p, Rule::label_name, labels);
  return labels;
}

std::vector<std::string> build_rel_types(Pair p) {
  std::vector<std::string> types;
  collect_names(p, Rule::rel_type_name, types);
  return types;
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

BuildResult<Expr> build_expression(Pair p, std::uint32_t depth) {
  return run(&Builder::build_expression, p, depth);
}

BuildResult<Expr> build_or_expr(Pair p, std::uint32_t depth) {
  return run(&Builder::build_or_expr, p, depth);
}

BuildResult<Expr> build_comparison_expr(Pair p, std::uint32_t depth) {
  return run(&Builder::build_comparison_expr, p, depth);
}

BuildResult<Expr> build_postfix_expr(Pair p, std::uint32_t depth) {
  return run(&Builder::build_postfix_expr, p, depth);
}

BuildResult<Expr> build_atom(Pair p, std::uint32_t depth) {
  return run(&Builder::build_atom, p, depth);
}

BuildResult<Expr> build_literal(Pair p, std::uint32_t depth) {
  return run(&Builder::build_literal, p, depth);
}

BuildResult<FilterExpression> parse_filter_expression(Pair p, std::uint32_t depth) {
  return run(&Builder::parse_filter_expression, p, depth);
}

}  // namespace torvane::parser::builder
