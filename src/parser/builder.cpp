#include "parser/builder.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <utility>

namespace torvane::parser::builder {

using ast::Box;
using ast::Expr;

namespace {

// ---- Failures ----

[[gnu::cold, gnu::noinline]] Err<CypherError> fail(const char* message) {
  return Err{CypherError::parse(message)};
}

[[gnu::cold, gnu::noinline]] Err<CypherError> fail(std::string_view prefix,
                                                   std::string_view what) {
  std::string m;
  m.reserve(prefix.size() + what.size());
  m.append(prefix).append(what);
  return Err{CypherError::parse(std::move(m))};
}

// ---- Texts ----

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The offset after the blanks and comments that start at `p`, read as the
// grammar's implicit skip reads them (an unclosed "/*" is no comment).
std::size_t skip_blanks(std::string_view s, std::size_t p) {
  const std::size_t n = s.size();
  for (;;) {
    while (p < n && is_blank(s[p])) ++p;
    if (p + 1 >= n || s[p] != '/') return p;
    if (s[p + 1] == '/') {
      const std::size_t nl = s.find('\n', p + 2);
      p = nl == std::string_view::npos ? n : nl + 1;
    } else if (s[p + 1] == '*') {
      const std::size_t close = s.find("*/", p + 2);
      if (close == std::string_view::npos) return p;
      p = close + 2;
    } else {
      return p;
    }
  }
}

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

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

// Whether the text between `from` and the end of `p` begins, after blanks
// and comments, with `word`: how optional keywords that form no pair are read.
bool word_at(Pair p, std::uint32_t from, std::string_view word) {
  const std::string_view src = p.source().substr(0, p.end());
  return starts_with_word(src.substr(skip_blanks(src, from)), word);
}

// A clause's optional keyword after its leading word of `lead` bytes.
bool keyword_after_lead(Pair p, std::uint32_t lead, std::string_view word) {
  const std::uint32_t from = p.start() + lead;
  return from <= p.end() && word_at(p, from, word);
}

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
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
    if (t[i] != '0') significant = true;
    else --magnitude;
    ++i;
  }
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
      if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');  // saturates well past the range
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

// ---- Pairs ----

std::optional<Pair> first_child(Pair p) { return p.into_inner().peek(); }

std::string text(Pair p) { return std::string(p.as_str()); }

std::uint32_t count_children(Pair p) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) {
    (void)c;
    ++n;
  }
  return n;
}

std::uint32_t count_children(Pair p, Rule r) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) n += c.as_rule() == r;
  return n;
}

// ---- Expression helpers ----

template <class Op>
Expr binary(Expr lhs, Expr rhs) {
  return Expr{Op{Box<Expr>(std::move(lhs)), Box<Expr>(std::move(rhs))}};
}

template <class Op>
Expr unary(Expr operand) {
  return Expr{Op{Box<Expr>(std::move(operand))}};
}

std::optional<Box<Expr>> boxed(std::optional<Expr> e) {
  if (!e) return std::nullopt;
  return Box<Expr>(std::move(*e));
}

// Left fold of the operands of `p` into Op. `keyword` operands are dropped
// (Rule::count keeps all). The k-th of n operands sits n - k + 1 levels below
// the result (the first one n - 1), which bounds the fold's depth up front.
template <class Op>
BuildResult<Expr> fold(Pair p, Rule keyword, std::uint32_t operands, std::uint32_t depth) {
  std::optional<Expr> acc;
  std::uint32_t k = 0;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    ++k;
    const std::uint32_t at = depth + operands - (k == 1 ? 1 : k - 1);
    TRY_ASSIGN(x, build_expression(c, at));
    acc = acc ? binary<Op>(std::move(*acc), std::move(x)) : std::move(x);
  }
  return std::move(*acc);
}

// Number of operands of a keyword level, counting no further than two.
std::uint32_t count_operands(Pair p, Rule keyword, std::optional<Pair>* only) {
  std::uint32_t n = 0;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == keyword) continue;
    if (n++ == 0) *only = c;
  }
  return n;
}

Rule keyword_of(Rule level) {
  return level == Rule::or_expr ? Rule::or_kw : level == Rule::xor_expr ? Rule::xor_kw : Rule::and_kw;
}

// Fold of `add_sub_expr` or `mul_div_expr`: the operator of each step stands
// in the text between the previous operand and the next.
BuildResult<Expr> build_arithmetic(Pair p, std::uint32_t operands, std::uint32_t depth) {
  const std::string_view src = p.source();
  std::optional<Expr> acc;
  std::uint32_t k = 0;
  std::uint32_t prev_end = 0;
  for (Pair c : p.into_inner()) {
    ++k;
    const std::uint32_t at = depth + operands - (k == 1 ? 1 : k - 1);
    TRY_ASSIGN(x, build_expression(c, at));
    if (!acc) {
      acc = std::move(x);
    } else {
      const std::size_t op = skip_blanks(src.substr(0, c.start()), prev_end);
      const char sign = op < c.start() ? src[op] : '\0';
      switch (sign) {
        case '+': acc = binary<Expr::Add>(std::move(*acc), std::move(x)); break;
        case '-': acc = binary<Expr::Sub>(std::move(*acc), std::move(x)); break;
        case '*': acc = binary<Expr::Mul>(std::move(*acc), std::move(x)); break;
        default: acc = binary<Expr::Div>(std::move(*acc), std::move(x)); break;
      }
    }
    prev_end = c.end();
  }
  return std::move(*acc);
}

BuildResult<Expr> build_not_expr(Pair p, std::uint32_t nots, std::uint32_t depth) {
  std::optional<Pair> operand;
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::comparison_expr) {
      operand = c;
      break;
    }
  if (!operand) return fail("NOT missing comparison_expr");
  TRY_ASSIGN(e, build_comparison_expr(*operand, depth + nots));
  for (std::uint32_t i = 0; i < nots; ++i) e = unary<Expr::Not>(std::move(e));
  return e;
}

BuildResult<Expr> build_unary_minus(Pair p, std::uint32_t depth) {
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::postfix_expr) {
      TRY_ASSIGN(e, build_postfix_expr(c, depth + 1));
      return unary<Expr::Neg>(std::move(e));
    }
  return fail("Unary missing postfix");
}

// ---- Patterns ----

// The steps after the start node: each relationship pairs with the node that
// follows it. `build_unpaired` says whether a node without a pending
// relationship is still built (and so may fail) before it is dropped.
BuildResult<std::vector<ast::PatternStep>> build_chain(Pairs rest, std::uint32_t depth,
                                                       bool build_unpaired) {
  std::vector<ast::PatternStep> chain;
  std::optional<ast::RelationshipPattern> pending;
  for (Pair c : rest) {
    if (c.as_rule() == Rule::relationship_pattern) {
      TRY_ASSIGN(r, build_relationship_pattern(c, depth));
      pending = std::move(r);
    } else if (c.as_rule() == Rule::node_pattern) {
      if (!pending && !build_unpaired) continue;
      TRY_ASSIGN(n, build_node_pattern(c, depth));
      if (pending) {
        chain.push_back(ast::PatternStep{std::move(*pending), std::move(n)});
        pending.reset();
      }
    }
  }
  return chain;
}

BuildResult<ast::PatternElement> build_pattern_element(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  std::optional<Pair> first = kids.next();
  if (!first) return fail("Pattern element missing node");
  if (first->as_rule() == Rule::shortest_path_call) {
    // A shortestPath standing as a pattern element is read as its plain path.
    kids = first->into_inner();
    first = kids.next();
    if (!first) return fail("shortestPath missing node");
  }
  TRY_ASSIGN(start, build_node_pattern(*first, depth));
  TRY_ASSIGN(chain, build_chain(kids, depth, true));
  return ast::PatternElement{std::move(start), std::move(chain)};
}

// ---- Atoms ----

BuildResult<Expr> build_function_invocation(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> name = kids.next();
  if (!name) return fail("Function missing name");
  Expr::FunctionCall call{text(*name), {}, false};
  for (Pair c : kids) {
    if (c.as_rule() != Rule::expression) continue;
    TRY_ASSIGN(arg, build_expression(c, depth + 1));
    call.args.push_back(std::move(arg));
  }
  const std::string_view src = p.source().substr(0, p.end());
  std::size_t at = skip_blanks(src, name->end());
  if (at < src.size() && src[at] == '(') at = skip_blanks(src, at + 1);
  call.distinct = starts_with_word(src.substr(at), "DISTINCT");
  return Expr{std::move(call)};
}

// Each child's role comes from the last keyword in front of it.
BuildResult<Expr> build_case_expression(Pair p, std::uint32_t depth) {
  enum class Role { none, operand, when, then, otherwise };
  const std::string_view src = p.source();
  Expr::Case out{std::nullopt, {}, std::nullopt};
  std::optional<Expr> condition;
  std::uint32_t gap_start = p.start();
  for (Pair c : p.into_inner()) {
    // End of the last significant character in the gap, blanks and comments left out.
    const std::string_view gap = src.substr(0, c.start());
    std::size_t at = gap_start, word_end = gap_start;
    for (;;) {
      at = skip_blanks(gap, at);
      if (at >= gap.size()) break;
      word_end = ++at;
    }
    const std::string_view before = src.substr(gap_start, word_end - gap_start);
    Role role = Role::none;
    if (before.size() >= 4) {
      const std::string_view last = before.substr(before.size() - 4);
      if (starts_with_word(last, "CASE")) role = Role::operand;
      else if (starts_with_word(last, "WHEN")) role = Role::when;
      else if (starts_with_word(last, "THEN")) role = Role::then;
      else if (starts_with_word(last, "ELSE")) role = Role::otherwise;
    }
    gap_start = c.end();
    if (role == Role::none) continue;
    TRY_ASSIGN(e, build_expression(c, depth + 1));
    switch (role) {
      case Role::operand: out.operand = Box<Expr>(std::move(e)); break;
      case Role::when: condition = std::move(e); break;
      case Role::then:
        if (condition) {
          out.alternatives.push_back(Expr::When{std::move(*condition), std::move(e)});
          condition.reset();
        }
        break;
      case Role::otherwise: out.else_expr = Box<Expr>(std::move(e)); break;
      case Role::none: break;
    }
  }
  return Expr{std::move(out)};
}

BuildResult<Expr> build_list_comprehension(Pair p, std::uint32_t depth) {
  Expr::ListComprehension out{{}, Box<Expr>(Expr{Expr::Null{}}), std::nullopt, std::nullopt};
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::filter_expression) {
      TRY_ASSIGN(f, parse_filter_expression(c, depth));
      out.variable = std::move(f.variable);
      out.list = Box<Expr>(std::move(f.list));
      out.filter = boxed(std::move(f.predicate));
    } else if (c.as_rule() == Rule::expression) {
      TRY_ASSIGN(e, build_expression(c, depth + 1));
      out.projection = Box<Expr>(std::move(e));
    }
  }
  return Expr{std::move(out)};
}

template <class Q>
Expr quantifier(FilterExpression f) {
  return Expr{Q{std::move(f.variable), Box<Expr>(std::move(f.list)), boxed(std::move(f.predicate))}};
}

BuildResult<Expr> build_quantifier_expression(Pair p, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::filter_expression) {
      TRY_ASSIGN(built, parse_filter_expression(c, depth));
      f = std::move(built);
    }
  const std::string_view t = p.as_str();
  if (starts_with_word(t, "ALL")) return quantifier<Expr::All>(std::move(f));
  if (starts_with_word(t, "ANY")) return quantifier<Expr::Any>(std::move(f));
  if (starts_with_word(t, "NONE")) return quantifier<Expr::None>(std::move(f));
  return quantifier<Expr::Single>(std::move(f));
}

BuildResult<Expr> build_reduce_expression(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> accumulator = kids.next();
  if (!accumulator) return fail("REDUCE missing accumulator");
  const std::optional<Pair> init_pair = kids.next();
  if (!init_pair) return fail("REDUCE missing init expression");
  TRY_ASSIGN(init, build_expression(*init_pair, depth + 1));
  const std::optional<Pair> variable = kids.next();
  if (!variable) return fail("REDUCE missing loop variable");
  const std::optional<Pair> list_pair = kids.next();
  if (!list_pair) return fail("REDUCE missing source expression");
  TRY_ASSIGN(list, build_expression(*list_pair, depth + 1));
  const std::optional<Pair> projection_pair = kids.next();
  if (!projection_pair) return fail("REDUCE missing projection expression");
  TRY_ASSIGN(projection, build_expression(*projection_pair, depth + 1));
  return Expr{Expr::Reduce{text(*accumulator), Box<Expr>(std::move(init)), text(*variable),
                           Box<Expr>(std::move(list)), Box<Expr>(std::move(projection))}};
}

BuildResult<Expr> build_shortest_path_call(Pair p, std::uint32_t depth) {
  const bool all = starts_with_word(p.as_str(), "ALL");
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("shortestPath missing start node");
  TRY_ASSIGN(start, build_node_pattern(*first, depth + 1));
  TRY_ASSIGN(chain, build_chain(kids, depth + 1, false));
  return Expr{Expr::ShortestPath{
      Box<ast::PatternElement>(ast::PatternElement{std::move(start), std::move(chain)}), all}};
}

BuildResult<Expr> build_exists_subquery(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty EXISTS");
  if (c->as_rule() == Rule::pattern) {
    TRY_ASSIGN(pattern, build_pattern(*c, depth + 1));
    return Expr{Expr::Exists{Box<ast::ExistsSubquery>(
        ast::ExistsSubquery{ast::ExistsSubquery::Pattern{std::move(pattern)}})}};
  }
  if (c->as_rule() == Rule::regular_query) {
    TRY_ASSIGN(query, build_regular_query(*c, depth + 1));
    return Expr{Expr::Exists{Box<ast::ExistsSubquery>(
        ast::ExistsSubquery{ast::ExistsSubquery::Query{std::move(query)}})}};
  }
  return fail("Unknown EXISTS subquery type");
}

// ---- Clauses ----

BuildResult<ast::SetItem> build_set_item(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  const std::optional<Pair> second = kids.next();
  if (!first || !second) return fail("Invalid SET item");
  if (first->as_rule() == Rule::property_expression) {
    TRY_ASSIGN(target, build_property_expression(*first));
    TRY_ASSIGN(value, build_expression(*second, depth + 1));
    return ast::SetItem{ast::SetItem::Property{std::move(target), std::move(value)}};
  }
  if (first->as_rule() != Rule::variable) return fail("Unknown SET item");
  if (second->as_rule() == Rule::node_labels)
    return ast::SetItem{ast::SetItem::Labels{text(*first), build_node_labels(*second)}};
  TRY_ASSIGN(value, build_expression(*second, depth + 1));
  const std::string_view src = p.source().substr(0, second->start());
  const std::size_t op = skip_blanks(src, first->end());
  if (src.substr(op).starts_with("+="))
    return ast::SetItem{ast::SetItem::VariableMerge{text(*first), std::move(value)}};
  return ast::SetItem{ast::SetItem::Variable{text(*first), std::move(value)}};
}

BuildResult<ast::RemoveItem> build_remove_item(Pair p) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Empty remove_item");
  if (first->as_rule() == Rule::property_expression) {
    TRY_ASSIGN(target, build_property_expression(*first));
    return ast::RemoveItem{ast::RemoveItem::Property{std::move(target)}};
  }
  if (first->as_rule() != Rule::variable) return fail("Unknown REMOVE item");
  const std::optional<Pair> second = kids.next();
  std::vector<std::string> labels;
  if (second && second->as_rule() == Rule::node_labels) labels = build_node_labels(*second);
  return ast::RemoveItem{ast::RemoveItem::Labels{text(*first), std::move(labels)}};
}

BuildResult<ast::ReadingClause> build_match_clause(Pair p, std::uint32_t depth) {
  std::optional<ast::Pattern> pattern;
  std::optional<Expr> where;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::pattern) {
      TRY_ASSIGN(built, build_pattern(c, depth));
      pattern = std::move(built);
    } else if (c.as_rule() == Rule::where_clause) {
      const std::optional<Pair> e = first_child(c);
      if (!e) return fail("Empty WHERE");
      TRY_ASSIGN(built, build_expression(*e, depth + 1));
      where = std::move(built);
    }
  }
  if (!pattern) return fail("MATCH missing pattern");
  const bool optional = starts_with_word(p.as_str(), "OPTIONAL");
  return ast::ReadingClause{
      ast::ReadingClause::Match{std::move(*pattern), std::move(where), optional}};
}

BuildResult<ast::UpdatingClause> build_merge_clause(Pair p, std::uint32_t depth) {
  ast::UpdatingClause::Merge merge;
  bool have_part = false;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::pattern_part) {
      TRY_ASSIGN(part, build_pattern_part(c, depth));
      merge.pattern_part = std::move(part);
      have_part = true;
    } else if (c.as_rule() == Rule::on_match_or_create) {
      const bool on_match = keyword_after_lead(c, 2, "MATCH");
      for (Pair set : c.into_inner()) {
        if (set.as_rule() != Rule::set_clause) continue;
        TRY_ASSIGN(items, build_set_clause(set, depth));
        (on_match ? merge.on_match : merge.on_create).push_back(std::move(items));
      }
    }
  }
  if (!have_part) return fail("MERGE missing pattern_part");
  return ast::UpdatingClause{std::move(merge)};
}

BuildResult<ast::UpdatingClause> build_foreach_clause(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> variable = kids.next();
  if (!variable) return fail("FOREACH missing variable");
  const std::optional<Pair> list_pair = kids.next();
  if (!list_pair) return fail("FOREACH missing list expression");
  TRY_ASSIGN(list, build_expression(*list_pair, depth + 1));
  std::vector<ast::UpdatingClause> body;
  for (Pair c : kids) {
    if (c.as_rule() != Rule::updating_clause) continue;
    TRY_ASSIGN(clause, build_updating_clause(c, depth));
    body.push_back(std::move(clause));
  }
  if (body.empty()) return fail("FOREACH body is empty");
  return ast::UpdatingClause{
      ast::UpdatingClause::Foreach{text(*variable), std::move(list), std::move(body)}};
}

}  // namespace

// ---- Query structure ----

BuildResult<ast::CypherQuery> build_query(Pair cypher) {
  const std::optional<Pair> statement = first_child(cypher);
  if (!statement) return fail("Empty query");
  if (statement->as_rule() != Rule::statement)
    return fail("Expected statement, got ", rule_name(statement->as_rule()));
  const std::optional<Pair> c = first_child(*statement);
  if (!c) return fail("Empty statement");
  if (c->as_rule() == Rule::regular_query) {
    TRY_ASSIGN(query, build_regular_query(*c));
    return ast::CypherQuery{ast::CypherQuery::Regular{std::move(query)}};
  }
  if (c->as_rule() == Rule::standalone_call) {
    TRY_ASSIGN(call, build_call_clause(*c));
    return ast::CypherQuery{ast::CypherQuery::StandaloneCall{std::move(call)}};
  }
  return fail("Unknown statement type: ", rule_name(c->as_rule()));
}

BuildResult<ast::RegularQuery> build_regular_query(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Missing single_query");
  TRY_ASSIGN(query, build_single_query(*first, depth));
  ast::RegularQuery out{std::move(query), {}};
  for (Pair u : kids) {
    if (u.as_rule() != Rule::union_clause) continue;
    const bool all = keyword_after_lead(u, 5, "ALL");
    std::optional<Pair> single;
    for (Pair c : u.into_inner())
      if (c.as_rule() == Rule::single_query) {
        single = c;
        break;
      }
    if (!single) return fail("Missing union single_query");
    TRY_ASSIGN(next, build_single_query(*single, depth));
    out.unions.push_back(ast::Union{all, std::move(next)});
  }
  return out;
}

BuildResult<ast::SingleQuery> build_single_query(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty single_query");
  if (c->as_rule() == Rule::single_part_query) {
    ast::SingleQuery::SinglePart part;
    for (Pair k : c->into_inner()) {
      if (k.as_rule() == Rule::reading_clause) {
        TRY_ASSIGN(clause, build_reading_clause(k, depth));
        part.reading_clauses.push_back(std::move(clause));
      } else if (k.as_rule() == Rule::updating_clause) {
        TRY_ASSIGN(clause, build_updating_clause(k, depth));
        part.updating_clauses.push_back(std::move(clause));
      } else if (k.as_rule() == Rule::return_clause) {
        TRY_ASSIGN(ret, build_return_clause(k, depth));
        part.return_clause = std::move(ret);
      }
    }
    return ast::SingleQuery{std::move(part)};
  }
  if (c->as_rule() == Rule::multi_part_query) {
    ast::MultiPartQuery query;
    for (Pair k : c->into_inner()) {
      if (k.as_rule() == Rule::reading_clause) {
        TRY_ASSIGN(clause, build_reading_clause(k, depth));
        query.reading_clauses.push_back(std::move(clause));
      } else if (k.as_rule() == Rule::updating_clause) {
        TRY_ASSIGN(clause, build_updating_clause(k, depth));
        query.updating_clauses.push_back(std::move(clause));
      } else if (k.as_rule() == Rule::with_clause) {
        TRY_ASSIGN(with, build_with_clause(k, depth));
        query.parts.push_back(ast::QueryPart{std::move(query.reading_clauses),
                                             std::move(query.updating_clauses), std::move(with)});
        query.reading_clauses.clear();
        query.updating_clauses.clear();
      } else if (k.as_rule() == Rule::return_clause) {
        TRY_ASSIGN(ret, build_return_clause(k, depth));
        query.return_clause = std::move(ret);
      }
    }
    return ast::SingleQuery{ast::SingleQuery::MultiPart{std::move(query)}};
  }
  return fail("Unknown single_query: ", rule_name(c->as_rule()));
}

BuildResult<ast::WithClause> build_with_clause(Pair p, std::uint32_t depth) {
  ast::WithClause with{};
  with.distinct = keyword_after_lead(p, 4, "DISTINCT");
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::return_body) {
      TRY_ASSIGN(body, build_return_body(c, depth));
      if (auto* items = std::get_if<ast::ReturnItems::Items>(&body.items.node)) {
        with.items = std::move(items->items);
        with.star = false;
      } else {
        with.items.clear();
        with.star = true;
      }
      with.order_by = std::move(body.order_by);
      with.skip = std::move(body.skip);
      with.limit = std::move(body.limit);
    } else if (c.as_rule() == Rule::where_clause) {
      const std::optional<Pair> e = first_child(c);
      if (!e) return fail("WHERE missing expr");
      TRY_ASSIGN(where, build_expression(*e, depth + 1));
      with.where_clause = std::move(where);
    }
  }
  return with;
}

BuildResult<ast::ReturnClause> build_return_clause(Pair p, std::uint32_t depth) {
  ast::ReturnClause ret{ast::ReturnItems{ast::ReturnItems::Items{}}, false, std::nullopt,
                        std::nullopt, std::nullopt};
  ret.distinct = keyword_after_lead(p, 6, "DISTINCT");
  for (Pair c : p.into_inner()) {
    if (c.as_rule() != Rule::return_body) continue;
    TRY_ASSIGN(body, build_return_body(c, depth));
    ret.items = std::move(body.items);
    ret.order_by = std::move(body.order_by);
    ret.skip = std::move(body.skip);
    ret.limit = std::move(body.limit);
  }
  return ret;
}

BuildResult<ReturnBody> build_return_body(Pair p, std::uint32_t depth) {
  ReturnBody body{ast::ReturnItems{ast::ReturnItems::Items{}}, std::nullopt, std::nullopt,
                  std::nullopt};
  for (Pair c : p.into_inner()) {
    switch (c.as_rule()) {
      case Rule::return_items: {
        if (trim(c.as_str()) == "*") {
          body.items = ast::ReturnItems{ast::ReturnItems::All{}};
          break;
        }
        ast::ReturnItems::Items items;
        for (Pair item : c.into_inner()) {
          if (item.as_rule() != Rule::return_item) continue;
          Pairs parts = item.into_inner();
          const std::optional<Pair> e = parts.next();
          if (!e) return fail("Return item missing expr");
          TRY_ASSIGN(expr, build_expression(*e, depth + 1));
          std::optional<std::string> alias;
          for (Pair a : parts)
            if (a.as_rule() == Rule::variable) {
              alias = text(a);
              break;
            }
          items.items.push_back(ast::ReturnItem{std::move(expr), std::move(alias)});
        }
        body.items = ast::ReturnItems{std::move(items)};
        break;
      }
      case Rule::order_clause: {
        std::vector<ast::SortItem> order;
        for (Pair s : c.into_inner()) {
          if (s.as_rule() != Rule::sort_item) continue;
          TRY_ASSIGN(item, build_sort_item(s, depth));
          order.push_back(std::move(item));
        }
        body.order_by = std::move(order);
        break;
      }
      case Rule::skip_clause: {
        const std::optional<Pair> e = first_child(c);
        if (!e) return fail("SKIP missing expr");
        TRY_ASSIGN(skip, build_expression(*e, depth + 1));
        body.skip = std::move(skip);
        break;
      }
      case Rule::limit_clause: {
        const std::optional<Pair> e = first_child(c);
        if (!e) return fail("LIMIT missing expr");
        TRY_ASSIGN(limit, build_expression(*e, depth + 1));
        body.limit = std::move(limit);
        break;
      }
      default:
        break;
    }
  }
  return body;
}

BuildResult<ast::SortItem> build_sort_item(Pair p, std::uint32_t depth) {
  const std::optional<Pair> e = first_child(p);
  if (!e) return fail("Sort item missing expr");
  const bool descending = word_at(p, e->end(), "DESC");
  TRY_ASSIGN(expr, build_expression(*e, depth + 1));
  return ast::SortItem{std::move(expr), descending};
}

// ---- Reading and updating clauses ----

BuildResult<ast::ReadingClause> build_reading_clause(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty reading_clause");
  switch (c->as_rule()) {
    case Rule::match_clause:
      return build_match_clause(*c, depth);
    case Rule::unwind_clause: {
      Pairs kids = c->into_inner();
      const std::optional<Pair> e = kids.next();
      if (!e) return fail("UNWIND missing expr");
      TRY_ASSIGN(expr, build_expression(*e, depth + 1));
      const std::optional<Pair> variable = kids.next();
      if (!variable) return fail("UNWIND missing variable");
      return ast::ReadingClause{ast::ReadingClause::Unwind{std::move(expr), text(*variable)}};
    }
    case Rule::in_query_call: {
      TRY_ASSIGN(call, build_call_clause(*c, depth));
      return ast::ReadingClause{ast::ReadingClause::Call{std::move(call)}};
    }
    default:
      return fail("Unknown reading clause: ", rule_name(c->as_rule()));
  }
}

BuildResult<ast::CallClause> build_call_clause(Pair p, std::uint32_t depth) {
  ast::CallClause call;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::explicit_procedure_invocation) {
      for (Pair k : c.into_inner()) {
        if (k.as_rule() == Rule::procedure_name) {
          call.procedure = text(k);
        } else if (k.as_rule() == Rule::expression) {
          TRY_ASSIGN(arg, build_expression(k, depth + 1));
          call.args.push_back(std::move(arg));
        }
      }
    } else if (c.as_rule() == Rule::yield_items) {
      for (Pair item : c.into_inner()) {
        if (item.as_rule() != Rule::yield_item) continue;
        ast::YieldItem y;
        for (Pair k : item.into_inner()) {
          if (k.as_rule() == Rule::procedure_result_field) y.field = text(k);
          else if (k.as_rule() == Rule::variable) y.variable = text(k);
        }
        call.yield_items.push_back(std::move(y));
      }
    }
  }
  return call;
}

BuildResult<ast::UpdatingClause> build_updating_clause(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty updating_clause");
  switch (c->as_rule()) {
    case Rule::create_clause: {
      const std::optional<Pair> pattern_pair = first_child(*c);
      if (!pattern_pair) return fail("CREATE missing pattern");
      TRY_ASSIGN(pattern, build_pattern(*pattern_pair, depth));
      return ast::UpdatingClause{ast::UpdatingClause::Create{std::move(pattern)}};
    }
    case Rule::merge_clause:
      return build_merge_clause(*c, depth);
    case Rule::set_clause: {
      TRY_ASSIGN(items, build_set_clause(*c, depth));
      return ast::UpdatingClause{ast::UpdatingClause::Set{std::move(items)}};
    }
    case Rule::remove_clause: {
      ast::UpdatingClause::Remove remove;
      for (Pair item : c->into_inner()) {
        if (item.as_rule() != Rule::remove_item) continue;
        TRY_ASSIGN(built, build_remove_item(item));
        remove.items.push_back(std::move(built));
      }
      return ast::UpdatingClause{std::move(remove)};
    }
    case Rule::delete_clause: {
      ast::UpdatingClause::Delete del{{}, starts_with_word(c->as_str(), "DETACH")};
      for (Pair e : c->into_inner()) {
        if (e.as_rule() != Rule::expression) continue;
        TRY_ASSIGN(expr, build_expression(e, depth + 1));
        del.expressions.push_back(std::move(expr));
      }
      return ast::UpdatingClause{std::move(del)};
    }
    case Rule::foreach_clause:
      return build_foreach_clause(*c, depth);
    default:
      return fail("Unknown updating clause: ", rule_name(c->as_rule()));
  }
}

BuildResult<std::vector<ast::SetItem>> build_set_clause(Pair p, std::uint32_t depth) {
  std::vector<ast::SetItem> items;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() != Rule::set_item) continue;
    TRY_ASSIGN(item, build_set_item(c, depth));
    items.push_back(std::move(item));
  }
  return items;
}

// ---- Patterns and property maps ----

BuildResult<ast::Pattern> build_pattern(Pair p, std::uint32_t depth) {
  ast::Pattern pattern;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() != Rule::pattern_part) continue;
    TRY_ASSIGN(part, build_pattern_part(c, depth));
    pattern.parts.push_back(std::move(part));
  }
  return pattern;
}

BuildResult<ast::PatternPart> build_pattern_part(Pair p, std::uint32_t depth) {
  std::optional<std::string> variable;
  std::optional<ast::PatternElement> element;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::variable) {
      variable = text(c);
    } else if (c.as_rule() == Rule::pattern_element) {
      TRY_ASSIGN(built, build_pattern_element(c, depth));
      element = std::move(built);
    }
  }
  if (!element) return fail("Pattern part missing element");
  return ast::PatternPart{std::move(variable), std::move(*element)};
}

BuildResult<ast::NodePattern> build_node_pattern(Pair p, std::uint32_t depth) {
  ast::NodePattern node;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::variable) {
      node.variable = text(c);
    } else if (c.as_rule() == Rule::node_labels) {
      node.labels = build_node_labels(c);
    } else if (c.as_rule() == Rule::properties) {
      TRY_ASSIGN(props, build_properties(c, depth));
      node.properties = std::move(props);
    }
  }
  return node;
}

BuildResult<ast::RelationshipPattern> build_relationship_pattern(Pair p, std::uint32_t depth) {
  ast::RelationshipPattern rel{std::nullopt, {}, std::nullopt, std::nullopt,
                               ast::Direction::Undirected};
  const std::string_view t = p.as_str();
  if (!t.empty() && t.front() == '<') rel.direction = ast::Direction::RightToLeft;
  else if (!t.empty() && t.back() == '>') rel.direction = ast::Direction::LeftToRight;
  for (Pair c : p.into_inner()) {
    switch (c.as_rule()) {
      case Rule::variable: rel.variable = text(c); break;
      case Rule::rel_types: rel.types = build_rel_types(c); break;
      case Rule::range_literal: rel.range = build_range_literal(c); break;
      case Rule::properties: {
        TRY_ASSIGN(props, build_properties(c, depth));
        rel.properties = std::move(props);
        break;
      }
      default: break;
    }
  }
  return rel;
}

ast::Range build_range_literal(Pair p) {
  // Blanks and comments may stand around the bounds and the ".." (and end the
  // text); they are no part of a bound, so they are left out first.
  const std::string_view raw = p.as_str();
  std::string compact;
  for (std::size_t i = skip_blanks(raw, 0); i < raw.size(); i = skip_blanks(raw, i + 1)) compact += raw[i];
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

std::vector<std::string> build_node_labels(Pair p) {
  std::vector<std::string> labels;
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::label_name) labels.push_back(text(c));
  return labels;
}

std::vector<std::string> build_rel_types(Pair p) {
  std::vector<std::string> types;
  for (Pair c : p.into_inner())
    if (c.as_rule() == Rule::rel_type_name) types.push_back(text(c));
  return types;
}

BuildResult<ast::MapOrParam> build_properties(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty properties");
  if (c->as_rule() == Rule::map_literal) {
    TRY_ASSIGN(map, build_map_literal(*c, depth));
    return ast::MapOrParam{ast::MapOrParam::Map{std::move(map)}};
  }
  if (c->as_rule() == Rule::parameter)
    return ast::MapOrParam{ast::MapOrParam::Param{std::string(strip_dollars(c->as_str()))}};
  return fail("Unknown properties type");
}

BuildResult<ast::ExprMap> build_map_literal(Pair p, std::uint32_t depth) {
  ast::ExprMap map;
  for (Pair entry : p.into_inner()) {
    if (entry.as_rule() != Rule::property_key_value_pair) continue;
    Pairs kids = entry.into_inner();
    const std::optional<Pair> key = kids.next();
    if (!key) return fail("Map missing key");
    const std::optional<Pair> value_pair = kids.next();
    if (!value_pair) return fail("Map missing value");
    TRY_ASSIGN(value, build_expression(*value_pair, depth + 1));
    map.insert_or_assign(text(*key), std::move(value));
  }
  return map;
}

BuildResult<ast::PropertyExpr> build_property_expression(Pair p) {
  ast::PropertyExpr target;
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::variable) {
      target.variable = text(c);
    } else if (c.as_rule() == Rule::property_lookup) {
      const std::optional<Pair> key = first_child(c);
      if (!key) return fail("Property lookup missing key");
      target.keys.push_back(text(*key));
    }
  }
  return target;
}

// ---- Expressions ----

// Levels that hold a single operand and no operator add no node, so they are
// walked in a loop rather than by recursion: a query's expressions then cost
// a few frames per level of parentheses, not one per precedence level.
BuildResult<Expr> build_expression(Pair p, std::uint32_t depth) {
  if (depth > kMaxTreeDepth) return fail(kTooDeepMessage);
  for (;;) {
    switch (p.as_rule()) {
      case Rule::expression: {
        const std::optional<Pair> c = first_child(p);
        if (!c) return fail("Empty expression");
        p = *c;
        continue;
      }
      case Rule::or_expr:
      case Rule::xor_expr:
      case Rule::and_expr: {
        std::optional<Pair> only;
        if (count_operands(p, keyword_of(p.as_rule()), &only) != 1) return build_or_expr(p, depth);
        p = *only;
        continue;
      }
      case Rule::not_expr: {
        const std::uint32_t nots = count_children(p, Rule::not_kw);
        if (nots > 0) return build_not_expr(p, nots, depth);
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
        if (!first || !kids.empty()) return build_comparison_expr(p, depth);
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
        const std::uint32_t n = count_children(p);
        if (p.as_rule() == Rule::mod_expr) return fold<Expr::Mod>(p, Rule::count, n, depth);
        if (p.as_rule() == Rule::power_expr) return fold<Expr::Pow>(p, Rule::count, n, depth);
        return build_arithmetic(p, n, depth);
      }
      case Rule::unary_expr: {
        if (!p.as_str().empty() && p.as_str().front() == '-') return build_unary_minus(p, depth);
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
          return build_postfix_expr(p, depth);
        return build_atom(*first, depth);
      }
      case Rule::atom:
        return build_atom(p, depth);
      default:
        return fail("Unexpected rule in expression: ", rule_name(p.as_rule()));
    }
  }
}

BuildResult<Expr> build_or_expr(Pair p, std::uint32_t depth) {
  const Rule keyword = keyword_of(p.as_rule());
  std::optional<Pair> only;
  const std::uint32_t n = count_operands(p, keyword, &only);
  if (n == 0) {
    if (p.as_rule() == Rule::or_expr) return fail("Empty or_expr");
    if (p.as_rule() == Rule::xor_expr) return fail("Empty xor_expr");
    return fail("Empty and_expr");
  }
  if (p.as_rule() == Rule::or_expr) return fold<Expr::Or>(p, keyword, n, depth);
  if (p.as_rule() == Rule::xor_expr) return fold<Expr::Xor>(p, keyword, n, depth);
  return fold<Expr::And>(p, keyword, n, depth);
}

BuildResult<Expr> build_comparison_expr(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Empty comparison_expr");
  const std::uint32_t operands = (count_children(p) + 1) / 2;
  TRY_ASSIGN(acc, build_expression(*first, depth + operands - 1));
  for (std::uint32_t k = 2;; ++k) {
    const std::optional<Pair> op = kids.next();
    if (!op) return acc;
    const std::optional<Pair> operand = kids.next();
    if (!operand) return acc;
    TRY_ASSIGN(rhs, build_expression(*operand, depth + operands - (k - 1)));
    const std::string o = upper(op->as_str());
    if (o == "=") acc = binary<Expr::Eq>(std::move(acc), std::move(rhs));
    else if (o == "<>") acc = binary<Expr::Neq>(std::move(acc), std::move(rhs));
    else if (o == "<") acc = binary<Expr::Lt>(std::move(acc), std::move(rhs));
    else if (o == "<=") acc = binary<Expr::Lte>(std::move(acc), std::move(rhs));
    else if (o == ">") acc = binary<Expr::Gt>(std::move(acc), std::move(rhs));
    else if (o == ">=") acc = binary<Expr::Gte>(std::move(acc), std::move(rhs));
    else if (o == "=~") acc = binary<Expr::RegexMatch>(std::move(acc), std::move(rhs));
    else if (o == "IN") acc = binary<Expr::In>(std::move(acc), std::move(rhs));
    else if (o.starts_with("STARTS")) acc = binary<Expr::StartsWith>(std::move(acc), std::move(rhs));
    else if (o.starts_with("ENDS")) acc = binary<Expr::EndsWith>(std::move(acc), std::move(rhs));
    else if (o == "CONTAINS") acc = binary<Expr::Contains>(std::move(acc), std::move(rhs));
    else return fail("Unknown comparison op: ", o);
  }
}

BuildResult<Expr> build_postfix_expr(Pair p, std::uint32_t depth) {
  Pairs kids = p.into_inner();
  const std::optional<Pair> first = kids.next();
  if (!first) return fail("Postfix missing atom");
  // Each postfix operator wraps the accumulator once, so the atom sits one
  // level deeper per operator.
  std::uint32_t level = depth + count_children(p, Rule::postfix_op);
  if (level > kMaxTreeDepth) return fail(kTooDeepMessage);
  TRY_ASSIGN(acc, build_atom(*first, level));
  for (Pair c : kids) {
    if (c.as_rule() != Rule::postfix_op) continue;
    const std::optional<Pair> op = first_child(c);
    if (!op) return fail("Empty postfix_op");
    switch (op->as_rule()) {
      case Rule::null_check_op:
        acc = upper(op->as_str()).find("NOT") != std::string::npos ? unary<Expr::IsNotNull>(std::move(acc))
                                                                  : unary<Expr::IsNull>(std::move(acc));
        break;
      case Rule::property_lookup: {
        const std::optional<Pair> key = first_child(*op);
        if (!key) return fail("Property lookup missing key");
        acc = Expr{Expr::PropertyAccess{Box<Expr>(std::move(acc)), text(*key)}};
        break;
      }
      case Rule::subscript_op: {
        const std::optional<Pair> index_pair = first_child(*op);
        if (!index_pair) return fail("Subscript missing index");
        TRY_ASSIGN(index, build_expression(*index_pair, level));
        acc = Expr{Expr::Index{Box<Expr>(std::move(acc)), Box<Expr>(std::move(index))}};
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
          const std::size_t at = skip_blanks(src, op->start() + 1);
          (src.substr(at).starts_with("..") ? to_pair : from_pair) = a;
        }
        std::optional<Box<Expr>> from, to;
        if (from_pair) {
          TRY_ASSIGN(e, build_expression(*from_pair, level));
          from = Box<Expr>(std::move(e));
        }
        if (to_pair) {
          TRY_ASSIGN(e, build_expression(*to_pair, level));
          to = Box<Expr>(std::move(e));
        }
        acc = Expr{Expr::Slice{Box<Expr>(std::move(acc)), std::move(from), std::move(to)}};
        break;
      }
      default:
        continue;
    }
    --level;
  }
  return acc;
}

BuildResult<Expr> build_atom(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty atom");
  switch (c->as_rule()) {
    case Rule::literal: return build_literal(*c, depth);
    case Rule::parameter: return Expr{Expr::Parameter{std::string(strip_dollars(c->as_str()))}};
    case Rule::variable: return Expr{Expr::Variable{text(*c)}};
    case Rule::count_star: return Expr{Expr::CountStar{}};
    case Rule::function_invocation: return build_function_invocation(*c, depth);
    case Rule::case_expression: return build_case_expression(*c, depth);
    case Rule::list_comprehension: return build_list_comprehension(*c, depth);
    case Rule::quantifier_expression: return build_quantifier_expression(*c, depth);
    case Rule::reduce_expression: return build_reduce_expression(*c, depth);
    case Rule::shortest_path_call: return build_shortest_path_call(*c, depth);
    case Rule::exists_subquery: return build_exists_subquery(*c, depth);
    case Rule::parenthesized_expr: {
      const std::optional<Pair> e = first_child(*c);
      if (!e) return fail("Empty paren expr");
      return build_expression(*e, depth);
    }
    default: return fail("Unknown atom: ", rule_name(c->as_rule()));
  }
}

BuildResult<Expr> build_literal(Pair p, std::uint32_t depth) {
  const std::optional<Pair> c = first_child(p);
  if (!c) return fail("Empty literal");
  const std::string_view t = c->as_str();
  switch (c->as_rule()) {
    case Rule::integer_literal: return Expr{Expr::Integer{read_integer(t)}};
    case Rule::float_literal: return Expr{Expr::Float{read_float(t)}};
    case Rule::string_literal:
      return Expr{Expr::String{std::string(t.size() >= 2 ? t.substr(1, t.size() - 2) : "")}};
    case Rule::boolean_literal: return Expr{Expr::Boolean{upper(t) == "TRUE"}};
    case Rule::null_literal: return Expr{Expr::Null{}};
    case Rule::list_literal: {
      Expr::List list;
      for (Pair e : c->into_inner()) {
        if (e.as_rule() != Rule::expression) continue;
        TRY_ASSIGN(item, build_expression(e, depth + 1));
        list.items.push_back(std::move(item));
      }
      return Expr{std::move(list)};
    }
    case Rule::map_literal: {
      TRY_ASSIGN(map, build_map_literal(*c, depth));
      return Expr{Expr::Map{std::move(map)}};
    }
    default: return fail("Unknown literal: ", rule_name(c->as_rule()));
  }
}

BuildResult<FilterExpression> parse_filter_expression(Pair p, std::uint32_t depth) {
  FilterExpression f{{}, Expr{Expr::Null{}}, std::nullopt};
  for (Pair c : p.into_inner()) {
    if (c.as_rule() == Rule::id_in_coll) {
      Pairs kids = c.into_inner();
      if (const std::optional<Pair> v = kids.next()) f.variable = text(*v);
      if (const std::optional<Pair> list = kids.next()) {
        TRY_ASSIGN(e, build_expression(*list, depth + 1));
        f.list = std::move(e);
      }
    } else if (c.as_rule() == Rule::expression) {
      TRY_ASSIGN(e, build_expression(c, depth + 1));
      f.predicate = std::move(e);
    }
  }
  return f;
}

}  // namespace torvane::parser::builder
