#include "tree_dump.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <type_traits>
#include <vector>

namespace torvane::test {

namespace ast = parser::ast;

namespace {

template <class T>
std::string join(const std::vector<T>& items, const char* sep) {
  std::string out;
  for (const auto& x : items) {
    if (!out.empty()) out += sep;
    out += dump(x);
  }
  return out;
}

std::string opt(const std::optional<ast::Box<ast::Expr>>& e) { return e ? dump(**e) : "-"; }

std::string number(double v) {
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  // Whole numbers of ordinary size print in full (100000.0, not 1e+05).
  const bool whole = v == std::floor(v) && std::fabs(v) < 1e16;
  const auto r = whole ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                       : std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string map(const ast::ExprMap& m) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : m) keys.push_back(k);
  std::sort(keys.begin(), keys.end());
  std::string out = "{";
  for (const auto& k : keys) {
    if (out.size() > 1) out += ", ";
    out += k + ": " + dump(m.at(k));
  }
  return out + "}";
}

std::string props(const std::optional<ast::MapOrParam>& p) {
  if (!p) return "";
  if (auto* m = std::get_if<ast::MapOrParam::Map>(&p->node)) return " " + map(m->entries);
  return " $" + std::get<ast::MapOrParam::Param>(p->node).name;
}

std::string node(const ast::NodePattern& n) {
  std::string out = "(" + n.variable.value_or("");
  for (const auto& l : n.labels) out += ":" + l;
  return out + props(n.properties) + ")";
}

std::string bound(const std::optional<std::int64_t>& b) { return b ? std::to_string(*b) : ""; }

std::string relationship(const ast::RelationshipPattern& r) {
  std::string inner = r.variable.value_or("");
  for (std::size_t i = 0; i < r.types.size(); ++i) inner += (i ? "|" : ":") + r.types[i];
  if (r.range) {
    inner += "*";
    if (r.range->min || r.range->max) inner += bound(r.range->min) + ".." + bound(r.range->max);
  }
  inner += props(r.properties);
  switch (r.direction) {
    case ast::Direction::LeftToRight: return "-[" + inner + "]->";
    case ast::Direction::RightToLeft: return "<-[" + inner + "]-";
    case ast::Direction::Undirected: break;
  }
  return "-[" + inner + "]-";
}

std::string element(const ast::PatternElement& e) {
  std::string out = node(e.start);
  for (const auto& step : e.chain) out += relationship(step.relationship) + node(step.node);
  return out;
}

std::string item(const ast::ReturnItem& i) { return dump(i.expr) + (i.alias ? " AS " + *i.alias : ""); }

std::string items(const std::vector<ast::ReturnItem>& v) {
  std::string out;
  for (const auto& i : v) out += (out.empty() ? "" : ", ") + item(i);
  return out;
}

std::string tail(const std::optional<std::vector<ast::SortItem>>& order,
                 const std::optional<ast::Expr>& skip, const std::optional<ast::Expr>& limit) {
  std::string out;
  if (order) {
    out += " ORDER BY";
    for (std::size_t i = 0; i < order->size(); ++i)
      out += (i ? ", " : " ") + dump((*order)[i].expr) + ((*order)[i].descending ? " DESC" : "");
  }
  if (skip) out += " SKIP " + dump(*skip);
  if (limit) out += " LIMIT " + dump(*limit);
  return out;
}

std::string ret(const ast::ReturnClause& r) {
  std::string out = r.distinct ? "RETURN DISTINCT " : "RETURN ";
  if (std::holds_alternative<ast::ReturnItems::All>(r.items.node)) out += "*";
  else out += items(std::get<ast::ReturnItems::Items>(r.items.node).items);
  return out + tail(r.order_by, r.skip, r.limit);
}

std::string with(const ast::WithClause& w) {
  std::string out = w.distinct ? "WITH DISTINCT " : "WITH ";
  out += w.star ? "*" : items(w.items);
  out += tail(w.order_by, w.skip, w.limit);
  if (w.where_clause) out += " WHERE " + dump(*w.where_clause);
  return out;
}

std::string call(const ast::CallClause& c) {
  std::string out = "CALL " + c.procedure + "(" + join(c.args, ", ") + ")";
  for (std::size_t i = 0; i < c.yield_items.size(); ++i) {
    const auto& y = c.yield_items[i];
    out += i ? ", " : " YIELD ";
    out += y.field ? *y.field + " AS " + y.variable : y.variable;
  }
  return out;
}

std::string property(const ast::PropertyExpr& p) {
  std::string out = p.variable;
  for (const auto& k : p.keys) out += "." + k;
  return out;
}

std::string labels(const std::string& v, const std::vector<std::string>& ls) {
  std::string out = v;
  for (const auto& l : ls) out += ":" + l;
  return out;
}

std::string set_item(const ast::SetItem& s) {
  return std::visit(
      [](const auto& i) -> std::string {
        using T = std::decay_t<decltype(i)>;
        if constexpr (std::is_same_v<T, ast::SetItem::Property>)
          return property(i.property) + " = " + dump(i.value);
        else if constexpr (std::is_same_v<T, ast::SetItem::Variable>)
          return i.variable + " = " + dump(i.value);
        else if constexpr (std::is_same_v<T, ast::SetItem::VariableMerge>)
          return i.variable + " += " + dump(i.value);
        else
          return labels(i.variable, i.labels);
      },
      s.node);
}

std::string set_items(const std::vector<ast::SetItem>& v) {
  std::string out;
  for (const auto& s : v) out += (out.empty() ? "" : ", ") + set_item(s);
  return out;
}

std::string reading(const ast::ReadingClause& c) {
  if (auto* m = std::get_if<ast::ReadingClause::Match>(&c.node))
    return std::string(m->optional ? "OPTIONAL MATCH " : "MATCH ") + dump(m->pattern) +
           (m->where_clause ? " WHERE " + dump(*m->where_clause) : "");
  if (auto* u = std::get_if<ast::ReadingClause::Unwind>(&c.node))
    return "UNWIND " + dump(u->expr) + " AS " + u->variable;
  return call(std::get<ast::ReadingClause::Call>(c.node).call);
}

std::string updating(const ast::UpdatingClause& c);

std::string updatings(const std::vector<ast::UpdatingClause>& v) {
  std::string out;
  for (const auto& u : v) out += (out.empty() ? "" : " ") + updating(u);
  return out;
}

std::string updating(const ast::UpdatingClause& c) {
  return std::visit(
      [](const auto& u) -> std::string {
        using T = std::decay_t<decltype(u)>;
        if constexpr (std::is_same_v<T, ast::UpdatingClause::Create>) {
          return "CREATE " + dump(u.pattern);
        } else if constexpr (std::is_same_v<T, ast::UpdatingClause::Merge>) {
          std::string out = "MERGE " + dump(u.pattern_part);
          for (const auto& s : u.on_match) out += " ON MATCH SET " + set_items(s);
          for (const auto& s : u.on_create) out += " ON CREATE SET " + set_items(s);
          return out;
        } else if constexpr (std::is_same_v<T, ast::UpdatingClause::Set>) {
          return "SET " + set_items(u.items);
        } else if constexpr (std::is_same_v<T, ast::UpdatingClause::Remove>) {
          std::string out;
          for (const auto& r : u.items) {
            out += out.empty() ? "REMOVE " : ", ";
            if (auto* l = std::get_if<ast::RemoveItem::Labels>(&r.node)) out += labels(l->variable, l->labels);
            else out += property(std::get<ast::RemoveItem::Property>(r.node).property);
          }
          return out;
        } else if constexpr (std::is_same_v<T, ast::UpdatingClause::Delete>) {
          return (u.detach ? "DETACH DELETE " : "DELETE ") + join(u.expressions, ", ");
        } else {
          return "FOREACH (" + u.variable + " IN " + dump(u.list) + " | " + updatings(u.body) + ")";
        }
      },
      c.node);
}

std::string clauses(const std::vector<ast::ReadingClause>& r, const std::vector<ast::UpdatingClause>& u,
                    const std::optional<ast::ReturnClause>& rc) {
  std::vector<std::string> parts;
  for (const auto& c : r) parts.push_back(reading(c));
  for (const auto& c : u) parts.push_back(updating(c));
  if (rc) parts.push_back(ret(*rc));
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : " ") + p;
  return out;
}

std::string single(const ast::SingleQuery& q) {
  if (auto* s = std::get_if<ast::SingleQuery::SinglePart>(&q.node))
    return clauses(s->reading_clauses, s->updating_clauses, s->return_clause);
  const auto& m = std::get<ast::SingleQuery::MultiPart>(q.node).query;
  std::string out;
  for (const auto& part : m.parts) {
    std::string c = clauses(part.reading_clauses, part.updating_clauses, std::nullopt);
    out += (out.empty() ? "[" : " [") + c + (c.empty() ? "" : " ") + with(part.with) + "]";
  }
  std::string rest = clauses(m.reading_clauses, m.updating_clauses, m.return_clause);
  return rest.empty() ? out : out + " " + rest;
}

std::string regular(const ast::RegularQuery& q) {
  std::string out = single(q.first);
  for (const auto& u : q.unions) out += (u.all ? " UNION ALL " : " UNION ") + single(u.query);
  return out;
}

template <class Q>
std::string quantifier(const char* name, const Q& q) {
  return std::string(name) + "(" + q.variable + ", " + dump(*q.list) + ", " + opt(q.predicate) + ")";
}

}  // namespace

std::string dump(const ast::Pattern& p) { return join(p.parts, ", "); }

std::string dump(const ast::PatternPart& p) {
  return (p.variable ? *p.variable + " = " : "") + element(p.element);
}

std::string dump(const ast::CypherQuery& q) {
  if (auto* r = std::get_if<ast::CypherQuery::Regular>(&q.node)) return regular(r->query);
  return call(std::get<ast::CypherQuery::StandaloneCall>(q.node).call);
}

namespace {

// One expression with its chain link (ast::chain_link) left out: a link's
// text is its name, "(", the link's text, then this text after the "(".
std::string shallow(const ast::Expr& e) {
  using E = ast::Expr;
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        auto bin = [](const char* name, const auto& b) {
          return std::string(name) + "(, " + dump(*b.rhs) + ")";
        };
        auto un = [](const char* name, const auto&) { return std::string(name) + "()"; };
        if constexpr (std::is_same_v<T, E::Integer>) return std::to_string(v.value);
        else if constexpr (std::is_same_v<T, E::Float>) return number(v.value);
        else if constexpr (std::is_same_v<T, E::String>) return "'" + v.value + "'";
        else if constexpr (std::is_same_v<T, E::Boolean>) return v.value ? "true" : "false";
        else if constexpr (std::is_same_v<T, E::Null>) return "null";
        else if constexpr (std::is_same_v<T, E::List>) return "[" + join(v.items, ", ") + "]";
        else if constexpr (std::is_same_v<T, E::Map>) return map(v.entries);
        else if constexpr (std::is_same_v<T, E::Variable>) return v.name;
        else if constexpr (std::is_same_v<T, E::PropertyAccess>)
          return "PropertyAccess(, " + v.key + ")";
        else if constexpr (std::is_same_v<T, E::Index>)
          return "Index(, " + dump(*v.index) + ")";
        else if constexpr (std::is_same_v<T, E::Slice>)
          return "Slice(, " + opt(v.from) + ", " + opt(v.to) + ")";
        else if constexpr (std::is_same_v<T, E::Parameter>) return "$" + v.name;
        else if constexpr (std::is_same_v<T, E::Or>) return bin("Or", v);
        else if constexpr (std::is_same_v<T, E::Xor>) return bin("Xor", v);
        else if constexpr (std::is_same_v<T, E::And>) return bin("And", v);
        else if constexpr (std::is_same_v<T, E::Not>) return un("Not", v);
        else if constexpr (std::is_same_v<T, E::Eq>) return bin("Eq", v);
        else if constexpr (std::is_same_v<T, E::Neq>) return bin("Neq", v);
        else if constexpr (std::is_same_v<T, E::Lt>) return bin("Lt", v);
        else if constexpr (std::is_same_v<T, E::Lte>) return bin("Lte", v);
        else if constexpr (std::is_same_v<T, E::Gt>) return bin("Gt", v);
        else if constexpr (std::is_same_v<T, E::Gte>) return bin("Gte", v);
        else if constexpr (std::is_same_v<T, E::RegexMatch>) return bin("RegexMatch", v);
        else if constexpr (std::is_same_v<T, E::IsNull>) return un("IsNull", v);
        else if constexpr (std::is_same_v<T, E::IsNotNull>) return un("IsNotNull", v);
        else if constexpr (std::is_same_v<T, E::In>) return bin("In", v);
        else if constexpr (std::is_same_v<T, E::StartsWith>) return bin("StartsWith", v);
        else if constexpr (std::is_same_v<T, E::EndsWith>) return bin("EndsWith", v);
        else if constexpr (std::is_same_v<T, E::Contains>) return bin("Contains", v);
        else if constexpr (std::is_same_v<T, E::Add>) return bin("Add", v);
        else if constexpr (std::is_same_v<T, E::Sub>) return bin("Sub", v);
        else if constexpr (std::is_same_v<T, E::Mul>) return bin("Mul", v);
        else if constexpr (std::is_same_v<T, E::Div>) return bin("Div", v);
        else if constexpr (std::is_same_v<T, E::Mod>) return bin("Mod", v);
        else if constexpr (std::is_same_v<T, E::Pow>) return bin("Pow", v);
        else if constexpr (std::is_same_v<T, E::Neg>) return un("Neg", v);
        else if constexpr (std::is_same_v<T, E::FunctionCall>)
          return v.name + "(" + (v.distinct ? "DISTINCT " : "") + join(v.args, ", ") + ")";
        else if constexpr (std::is_same_v<T, E::CountStar>) return "count(*)";
        else if constexpr (std::is_same_v<T, E::Case>) {
          std::string out = "Case(" + opt(v.operand) + ";";
          for (const auto& w : v.alternatives) out += " " + dump(w.condition) + " => " + dump(w.result) + ";";
          return out + " " + opt(v.else_expr) + ")";
        } else if constexpr (std::is_same_v<T, E::ListComprehension>)
          return "ListComprehension(" + v.variable + ", " + dump(*v.list) + ", " + opt(v.filter) + ", " +
                 opt(v.projection) + ")";
        else if constexpr (std::is_same_v<T, E::All>) return quantifier("All", v);
        else if constexpr (std::is_same_v<T, E::Any>) return quantifier("Any", v);
        else if constexpr (std::is_same_v<T, E::None>) return quantifier("None", v);
        else if constexpr (std::is_same_v<T, E::Single>) return quantifier("Single", v);
        else if constexpr (std::is_same_v<T, E::Reduce>)
          return "Reduce(" + v.accumulator + ", " + dump(*v.init) + ", " + v.variable + ", " +
                 dump(*v.list) + ", " + dump(*v.projection) + ")";
        else if constexpr (std::is_same_v<T, E::ShortestPath>)
          return std::string(v.all ? "AllShortestPaths(" : "ShortestPath(") + element(*v.pattern) + ")";
        else {
          static_assert(std::is_same_v<T, E::Exists>);
          if (auto* p = std::get_if<ast::ExistsSubquery::Pattern>(&v.subquery->node))
            return "Exists{" + dump(p->pattern) + "}";
          return "Exists{" + regular(std::get<ast::ExistsSubquery::Query>(v.subquery->node).query) + "}";
        }
      },
      e.node);
}

}  // namespace

// Chains are written in a loop, so a chain of any length fits the stack.
std::string dump(const ast::Expr& e) {
  std::vector<std::string> closes;
  std::string out;
  const ast::Expr* at = &e;
  for (const ast::Expr* next; (next = ast::chain_next(*at)); at = next) {
    std::string text = shallow(*at);
    const std::size_t open = text.find('(') + 1;
    out.append(text, 0, open);
    closes.push_back(text.substr(open));
  }
  out += shallow(*at);
  for (auto c = closes.rbegin(); c != closes.rend(); ++c) out += *c;
  return out;
}

}  // namespace torvane::test
