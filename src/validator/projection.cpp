#include "validator/projection.hpp"

#include <algorithm>
#include <bit>
#include <string_view>
#include <type_traits>

#include "ascii.hpp"

namespace torvane::validator::semantic {
namespace ast = parser::ast;

namespace {

// One piece of what an expression is written as, in order: a sub-expression
// (null for a missing optional one), a text, a function name (any ASCII
// case) or a number. A map gives its key and value per entry, in the map's
// own order, which carries no meaning.
struct Piece {
  enum class Kind : std::uint8_t { expr, text, function_name, number };
  Kind kind;
  const ast::Expr* expr = nullptr;
  std::string_view text;
  std::uint64_t number = 0;
};

using ast::chain::OneOperand;
using ast::chain::TwoOperands;

// shortestPath and EXISTS are compared with nothing.
bool opaque(const ast::Expr& e) {
  return std::holds_alternative<ast::Expr::ShortestPath>(e.node) ||
         std::holds_alternative<ast::Expr::Exists>(e.node);
}

class Pieces {
 public:
  explicit Pieces(std::vector<Piece>& out) : out_(out) { out_.clear(); }

  template <class T>
  void operator()(const T& v) {
    using E = ast::Expr;
    if constexpr (TwoOperands<T>) {
      expr(v.lhs.get());
      expr(v.rhs.get());
    } else if constexpr (OneOperand<T>) {
      expr(v.operand.get());
    } else if constexpr (ast::Quantifier<T>) {
      text(v.variable);
      expr(v.list.get());
      expr(v.predicate);
    } else if constexpr (std::is_same_v<T, E::Integer>) {
      number(static_cast<std::uint64_t>(v.value));
    } else if constexpr (std::is_same_v<T, E::Float>) {
      number(std::bit_cast<std::uint64_t>(v.value == 0 ? 0.0 : v.value));  // -0.0 is 0.0
    } else if constexpr (std::is_same_v<T, E::Boolean>) {
      number(v.value);
    } else if constexpr (std::is_same_v<T, E::String>) {
      text(v.value);
    } else if constexpr (std::is_same_v<T, E::Variable> || std::is_same_v<T, E::Parameter>) {
      text(v.name);
    } else if constexpr (std::is_same_v<T, E::List>) {
      for (const auto& item : v.items) expr(&item);
    } else if constexpr (std::is_same_v<T, E::Map>) {
      for (const auto& [key, value] : v.entries) {
        text(key);
        expr(&value);
      }
    } else if constexpr (std::is_same_v<T, E::PropertyAccess>) {
      expr(v.expr.get());
      text(v.key);
    } else if constexpr (std::is_same_v<T, E::Index>) {
      expr(v.base.get());
      expr(v.index.get());
    } else if constexpr (std::is_same_v<T, E::Slice>) {
      expr(v.expr.get());
      expr(v.from);
      expr(v.to);
    } else if constexpr (std::is_same_v<T, E::FunctionCall>) {
      out_.push_back({Piece::Kind::function_name, nullptr, v.name, 0});
      number(v.distinct);
      for (const auto& arg : v.args) expr(&arg);
    } else if constexpr (std::is_same_v<T, E::Case>) {
      expr(v.operand);
      number(v.alternatives.size());
      for (const auto& alt : v.alternatives) {
        expr(&alt.condition);
        expr(&alt.result);
      }
      expr(v.else_expr);
    } else if constexpr (std::is_same_v<T, E::ListComprehension>) {
      text(v.variable);
      expr(v.list.get());
      expr(v.filter);
      expr(v.projection);
    } else if constexpr (std::is_same_v<T, E::Reduce>) {
      text(v.accumulator);
      expr(v.init.get());
      text(v.variable);
      expr(v.list.get());
      expr(v.projection.get());
    } else {
      // null and count(*) are their variant alone; shortestPath and EXISTS
      // are never compared.
      static_assert(std::is_same_v<T, E::Null> || std::is_same_v<T, E::CountStar> ||
                        std::is_same_v<T, E::ShortestPath> || std::is_same_v<T, E::Exists>,
                    "an expression variant without its pieces");
    }
  }

 private:
  void expr(const ast::Expr* e) { out_.push_back({Piece::Kind::expr, e, {}, 0}); }
  void expr(const std::optional<ast::Box<ast::Expr>>& e) { expr(e ? e->get() : nullptr); }
  void text(std::string_view t) { out_.push_back({Piece::Kind::text, nullptr, t, 0}); }
  void number(std::uint64_t n) { out_.push_back({Piece::Kind::number, nullptr, {}, n}); }

  std::vector<Piece>& out_;
};

void pieces_of(const ast::Expr& e, std::vector<Piece>& out) { std::visit(Pieces{out}, e.node); }

std::uint64_t finish(std::uint64_t x) {  // splitmix64's finaliser
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

std::uint64_t combine(std::uint64_t h, std::uint64_t v) { return finish(h ^ (v + 0x9e3779b97f4a7c15u)); }

}  // namespace

bool same_expr(const ast::Expr& a, const ast::Expr& b) {
  // Pairs still to compare: no recursion, so a long chain costs no stack.
  std::vector<std::pair<const ast::Expr*, const ast::Expr*>> todo{{&a, &b}};
  std::vector<Piece> pa, pb;
  while (!todo.empty()) {
    const auto [x, y] = todo.back();
    todo.pop_back();
    if (x->node.index() != y->node.index() || opaque(*x)) return false;
    if (const auto* mx = std::get_if<ast::Expr::Map>(&x->node)) {
      const auto& my = std::get<ast::Expr::Map>(y->node);
      if (mx->entries.size() != my.entries.size()) return false;
      for (const auto& [key, value] : mx->entries) {
        const auto it = my.entries.find(key);
        if (it == my.entries.end()) return false;
        todo.emplace_back(&value, &it->second);
      }
      continue;
    }
    pieces_of(*x, pa);
    pieces_of(*y, pb);
    if (pa.size() != pb.size()) return false;
    for (std::size_t i = 0; i < pa.size(); ++i) {
      const Piece& p = pa[i];
      const Piece& q = pb[i];
      if (p.kind != q.kind) return false;
      switch (p.kind) {
        case Piece::Kind::expr:
          if (!p.expr != !q.expr) return false;
          if (p.expr) todo.emplace_back(p.expr, q.expr);
          break;
        case Piece::Kind::text:
          if (p.text != q.text) return false;
          break;
        case Piece::Kind::function_name:
          if (!ascii_iequal(p.text, q.text)) return false;
          break;
        case Piece::Kind::number:
          if (p.number != q.number) return false;
          break;
      }
    }
  }
  return true;
}

ProjectedExpressions::ProjectedExpressions(std::span<const ast::ReturnItem> items) {
  items_.reserve(items.size());
  for (const auto& item : items) items_.emplace_back(hash_parts(item.expr, nullptr), &item.expr);
  std::sort(items_.begin(), items_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

void ProjectedExpressions::variables_within(const ast::Expr& expr,
                                            std::vector<const std::string*>& out) const {
  if (!items_.empty()) hash_parts(expr, &out);
}

// Hashes every part of `expr` after its parts (an explicit stack, not
// recursion), and with `out`, collects the variables of each part that is
// written as an item's expression.
std::uint64_t ProjectedExpressions::hash_parts(const ast::Expr& expr,
                                               std::vector<const std::string*>* out) const {
  struct Frame {
    const ast::Expr* expr;
    bool entered;
  };
  std::vector<Frame> todo{{&expr, false}};
  std::vector<std::uint64_t> done;  // the hashes of the finished parts, in order
  std::vector<Piece> ps;
  while (!todo.empty()) {
    const ast::Expr& e = *todo.back().expr;
    if (opaque(e)) {
      todo.pop_back();
      done.push_back(combine(e.node.index(), reinterpret_cast<std::uintptr_t>(&e)));
      continue;
    }
    pieces_of(e, ps);
    if (!todo.back().entered) {
      todo.back().entered = true;
      // In reverse, so that the parts finish in their order.
      for (auto it = ps.rbegin(); it != ps.rend(); ++it)
        if (it->kind == Piece::Kind::expr && it->expr) todo.push_back({it->expr, false});
      continue;
    }
    todo.pop_back();
    std::size_t parts = 0;
    for (const Piece& p : ps) parts += p.kind == Piece::Kind::expr && p.expr;
    const std::uint64_t* part = done.data() + (done.size() - parts);
    std::uint64_t h = finish(e.node.index() + 1);
    std::uint64_t entries = 0, key = 0;  // a map's entries, added in any order
    const bool map = std::holds_alternative<ast::Expr::Map>(e.node);
    for (const Piece& p : ps) {
      std::uint64_t v = 0;
      switch (p.kind) {
        case Piece::Kind::expr: v = p.expr ? *part++ : 1; break;
        case Piece::Kind::text: v = text_hash_(p.text); break;
        case Piece::Kind::function_name: {
          std::string lower(p.text);
          for (char& c : lower) c = ascii_lower(c);
          v = text_hash_(lower);
          break;
        }
        case Piece::Kind::number: v = p.number; break;
      }
      if (!map) {
        h = combine(h, v);
      } else if (p.kind == Piece::Kind::text) {
        key = v;
      } else {
        entries += combine(key, v);
      }
    }
    if (map) h = combine(h, entries);
    done.resize(done.size() - parts);
    done.push_back(h);
    if (!out) continue;
    const auto first = std::lower_bound(items_.begin(), items_.end(), h,
                                        [](const auto& item, std::uint64_t x) { return item.first < x; });
    for (auto it = first; it != items_.end() && it->first == h; ++it) {
      if (!same_expr(e, *it->second)) continue;
      // Every variable of this part.
      std::vector<const ast::Expr*> inside{&e};
      std::vector<Piece> qs;
      while (!inside.empty()) {
        const ast::Expr& x = *inside.back();
        inside.pop_back();
        if (const auto* v = std::get_if<ast::Expr::Variable>(&x.node)) out->push_back(&v->name);
        if (opaque(x)) continue;
        pieces_of(x, qs);
        for (const Piece& q : qs)
          if (q.kind == Piece::Kind::expr && q.expr) inside.push_back(q.expr);
      }
      break;
    }
  }
  return done.back();
}

}  // namespace torvane::validator::semantic
