#pragma once
// The syntax tree of one Cypher query.
//
// Plain data: public fields, no behaviour beyond how a box frees and copies
// (below). Every node owns its children; every name, key and literal is an
// owned copy of the query text (names as written, backticks kept), so a tree
// never refers back to the text it came from.
// Copying any node makes a deep, independent copy; a copied map iterates in
// the order of the map it was copied from.
//
// Each type with variants holds them in a `std::variant` member named `node`,
// one struct per variant, named as the variant and nested in its type, in the
// listed order (so `node.index()` is the variant's number):
//
//   const ast::Expr& e = ...;
//   if (auto* a = std::get_if<ast::Expr::And>(&e.node)) walk(*a->lhs), walk(*a->rhs);
//   std::visit([](const auto& v) { ... }, e.node);
//
// An expression inside an expression is held through `Box<Expr>`, a never-null
// single-owner box that copies deeply; an optional one is `std::optional<Box<Expr>>`.
//
// A flat chain of operators (`a OR b OR ...`, `NOT NOT ...`, `n.a.b ...`,
// `x[0][1] ...`) folds into a tree as deep as the chain is long, all of that
// depth along one child per node, its chain link (see chain_link). Whatever
// walks a tree follows the links in a loop and recurses only into the other
// children, whose depth the grammar's nesting bound keeps small; boxes free
// and copy expressions so too.
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "keyed_hash.hpp"

namespace torvane::parser::ast {

template <class T>
class Box;
struct Expr;

// The child through which a chain goes on: the left operand of a two-operand
// operator, the operand of NOT, IS [NOT] NULL and unary minus, the base of a
// property access, subscript or slice; null for every other variant.
inline const Box<Expr>* chain_link(const Expr& e);
inline Box<Expr>* chain_link(Expr& e);

// Memory for one boxed expression, and its return (see ExprBlocks).
inline void* take_expr_block();
inline void give_expr_block(void* block) noexcept;

// A single-owner heap box that copies its content. Never null except after
// being moved from. Boxed expressions are freed and copied link by link along
// their chains, so neither recurses with a chain's length.
template <class T>
class Box {
 public:
  Box(T&& value) : p_(make(std::move(value))) {}
  Box(const T& value) : p_(make(value)) {}
  // An empty T, made in place from `{}`.
  explicit Box(std::in_place_t) : p_(make()) {}
  Box(const Box& o) : p_(copy(*o.p_)) {}
  Box(Box&&) noexcept = default;
  Box& operator=(const Box& o) {
    if (this != &o) p_ = copy(*o.p_);
    return *this;
  }
  Box& operator=(Box&&) noexcept = default;
  ~Box() {
    if constexpr (std::is_same_v<T, Expr>) {
      // Each node leaves with its chain link emptied, so freeing it goes no
      // deeper than its other children; the rest of the chain is next.
      Owned next = std::move(p_);
      while (next) {
        Box* link = chain_link(*next);
        Owned rest = link ? std::move(link->p_) : nullptr;
        next = std::move(rest);
      }
    }
  }

  T& operator*() { return *p_; }
  const T& operator*() const { return *p_; }
  T* operator->() { return p_.get(); }
  const T* operator->() const { return p_.get(); }
  T* get() { return p_.get(); }
  const T* get() const { return p_.get(); }

 private:
  // Expressions live in blocks from take_expr_block; anything else on the heap.
  struct Release {
    void operator()(T* p) const noexcept {
      if constexpr (std::is_same_v<T, Expr>) {
        p->~T();
        give_expr_block(p);
      } else {
        delete p;
      }
    }
  };
  using Owned = std::unique_ptr<T, Release>;

  // A T made from `args` (`{}` without any).
  template <class... Args>
  static Owned make(Args&&... args) {
    if constexpr (std::is_same_v<T, Expr>) {
      void* block = take_expr_block();
      try {
        return Owned(::new (block) T{std::forward<Args>(args)...});
      } catch (...) {
        give_expr_block(block);
        throw;
      }
    } else {
      return Owned(new T{std::forward<Args>(args)...});
    }
  }

  static Owned copy(const T& from) {
    if constexpr (std::is_same_v<T, Expr>) {
      // Down the chain of `from`, each link copied without its chain child,
      // which is filled in the next round.
      Owned root = make();
      T* to = root.get();
      for (const T* at = &from;;) {
        const Box* link = chain_link(*at);
        if (!link) {
          to->node = at->node;
          return root;
        }
        copy_link(*at, *to);
        to = chain_link(*to)->get();
        at = link->get();
      }
    } else {
      return make(from);
    }
  }

  Owned p_;
};

// Makes `to` a copy of the chain link `from` whose own link holds an empty
// expression.
inline void copy_link(const Expr& from, Expr& to);

struct PatternElement;
struct ExistsSubquery;

// An inline map: key text to value. A repeated key keeps the value written
// last; entries iterate in the map's own (randomly keyed) order.
using ExprMap = HashMap<Expr>;

// An expression: 47 variants, in this order.
struct Expr {
  struct Integer { std::int64_t value; };                              // 0
  struct Float { double value; };                                      // 1
  struct String { std::string value; };  // 2: between the quotes, escapes as written
  struct Boolean { bool value; };                                      // 3
  struct Null {};                                                      // 4
  struct List { std::vector<Expr> items; };                            // 5
  struct Map { ExprMap entries; };                                     // 6
  struct Variable { std::string name; };                               // 7
  struct PropertyAccess { Box<Expr> expr; std::string key; };          // 8  expr.key
  struct Index { Box<Expr> base; Box<Expr> index; };                   // 9  base[index]
  struct Slice {                                                       // 10 expr[from..to]
    Box<Expr> expr;
    std::optional<Box<Expr>> from;
    std::optional<Box<Expr>> to;
  };
  struct Parameter { std::string name; };                              // 11 $name, without '$'
  struct Or { Box<Expr> lhs; Box<Expr> rhs; };                         // 12
  struct Xor { Box<Expr> lhs; Box<Expr> rhs; };                        // 13
  struct And { Box<Expr> lhs; Box<Expr> rhs; };                        // 14
  struct Not { Box<Expr> operand; };                                   // 15
  struct Eq { Box<Expr> lhs; Box<Expr> rhs; };                         // 16 =
  struct Neq { Box<Expr> lhs; Box<Expr> rhs; };                        // 17 <>
  struct Lt { Box<Expr> lhs; Box<Expr> rhs; };                         // 18 <
  struct Lte { Box<Expr> lhs; Box<Expr> rhs; };                        // 19 <=
  struct Gt { Box<Expr> lhs; Box<Expr> rhs; };                         // 20 >
  struct Gte { Box<Expr> lhs; Box<Expr> rhs; };                        // 21 >=
  struct RegexMatch { Box<Expr> lhs; Box<Expr> rhs; };                 // 22 =~
  struct IsNull { Box<Expr> operand; };                                // 23
  struct IsNotNull { Box<Expr> operand; };                             // 24
  struct In { Box<Expr> lhs; Box<Expr> rhs; };                         // 25
  struct StartsWith { Box<Expr> lhs; Box<Expr> rhs; };                 // 26
  struct EndsWith { Box<Expr> lhs; Box<Expr> rhs; };                   // 27
  struct Contains { Box<Expr> lhs; Box<Expr> rhs; };                   // 28
  struct Add { Box<Expr> lhs; Box<Expr> rhs; };                        // 29
  struct Sub { Box<Expr> lhs; Box<Expr> rhs; };                        // 30
  struct Mul { Box<Expr> lhs; Box<Expr> rhs; };                        // 31
  struct Div { Box<Expr> lhs; Box<Expr> rhs; };                        // 32
  struct Mod { Box<Expr> lhs; Box<Expr> rhs; };                        // 33
  struct Pow { Box<Expr> lhs; Box<Expr> rhs; };                        // 34
  struct Neg { Box<Expr> operand; };                                   // 35
  struct FunctionCall {                                                // 36
    std::string name;  // as written, namespace and case kept
    std::vector<Expr> args;
    bool distinct;     // name(DISTINCT ...)
  };
  struct CountStar {};                                                 // 37 count(*)
  struct When;  // one WHEN condition THEN result of a CASE
  struct Case {                                                        // 38
    std::optional<Box<Expr>> operand;  // CASE operand WHEN ...
    std::vector<When> alternatives;
    std::optional<Box<Expr>> else_expr;
  };
  struct ListComprehension {                                           // 39
    std::string variable;  // [variable IN list WHERE filter | projection]
    Box<Expr> list;
    std::optional<Box<Expr>> filter;
    std::optional<Box<Expr>> projection;
  };
  struct All {                                                         // 40 all(v IN list WHERE p)
    std::string variable;
    Box<Expr> list;
    std::optional<Box<Expr>> predicate;
  };
  struct Any {                                                         // 41
    std::string variable;
    Box<Expr> list;
    std::optional<Box<Expr>> predicate;
  };
  struct None {                                                        // 42
    std::string variable;
    Box<Expr> list;
    std::optional<Box<Expr>> predicate;
  };
  struct Single {                                                      // 43
    std::string variable;
    Box<Expr> list;
    std::optional<Box<Expr>> predicate;
  };
  struct Reduce {                                                      // 44
    std::string accumulator;  // reduce(accumulator = init, variable IN list | projection)
    Box<Expr> init;
    std::string variable;
    Box<Expr> list;
    Box<Expr> projection;
  };
  struct ShortestPath {                                                // 45 as an expression
    Box<PatternElement> pattern;
    bool all;  // allShortestPaths
  };
  struct Exists { Box<ExistsSubquery> subquery; };                     // 46 EXISTS { ... }

  std::variant<Integer, Float, String, Boolean, Null, List, Map, Variable, PropertyAccess,
               Index, Slice, Parameter, Or, Xor, And, Not, Eq, Neq, Lt, Lte, Gt, Gte,
               RegexMatch, IsNull, IsNotNull, In, StartsWith, EndsWith, Contains, Add, Sub,
               Mul, Div, Mod, Pow, Neg, FunctionCall, CountStar, Case, ListComprehension,
               All, Any, None, Single, Reduce, ShortestPath, Exists>
      node;
};
static_assert(std::variant_size_v<decltype(Expr::node)> == 47);

// The blocks of boxed expressions that this thread freed, kept (up to
// kKept) for the next ones it makes: a query's tree is made and freed whole,
// and its boxes are the most frequent allocation in it, which so mostly
// skips malloc and free. None are kept under AddressSanitizer, which should
// see every free.
class ExprBlocks {
 public:
#if defined(__SANITIZE_ADDRESS__)
  static constexpr std::size_t kKept = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  static constexpr std::size_t kKept = 0;
#else
  static constexpr std::size_t kKept = 256;
#endif
#else
  static constexpr std::size_t kKept = 256;
#endif

  constexpr ExprBlocks() = default;
  ExprBlocks(const ExprBlocks&) = delete;
  ExprBlocks& operator=(const ExprBlocks&) = delete;
  // A box freed after this (by a static tree, say) then goes to the heap.
  ~ExprBlocks() {
    while (head_) ::operator delete(pop());
    kept_ = kKept;
  }

  void* take() { return head_ ? pop() : ::operator new(sizeof(Expr)); }
  void give(void* block) noexcept {
    if (kept_ == kKept) return ::operator delete(block);
    head_ = ::new (block) Free{head_};
    ++kept_;
  }

 private:
  // A kept block holds the next one.
  struct Free {
    Free* next;
  };
  void* pop() {
    Free* block = head_;
    head_ = block->next;
    --kept_;
    return block;
  }
  Free* head_ = nullptr;
  std::size_t kept_ = 0;
};

inline ExprBlocks& expr_blocks() {
  thread_local ExprBlocks blocks;
  return blocks;
}
inline void* take_expr_block() { return expr_blocks().take(); }
inline void give_expr_block(void* block) noexcept { expr_blocks().give(block); }

struct Expr::When {
  Expr condition;
  Expr result;
};

// Groups of expression variants that the tree's walks treat alike.
template <class T, class... U>
concept OneOf = (std::same_as<T, U> || ...);
// all, any, none and single: a variable over a list, and an optional predicate.
template <class T>
concept Quantifier = OneOf<T, Expr::All, Expr::Any, Expr::None, Expr::Single>;
// Literals other than lists and maps, parameters and count(*): nothing inside.
template <class T>
concept Leaf = OneOf<T, Expr::Integer, Expr::Float, Expr::String, Expr::Boolean, Expr::Null,
                     Expr::Parameter, Expr::CountStar>;

namespace chain {
// The variants with two operands, and those with one (NOT, IS NULL, IS NOT
// NULL, unary minus); a CASE's optional operand is no such operand.
template <class T>
concept TwoOperands = requires(T& e) {
  { e.lhs } -> std::same_as<Box<Expr>&>;
  { e.rhs } -> std::same_as<Box<Expr>&>;
};
template <class T>
concept OneOperand = requires(T& e) {
  { e.operand } -> std::same_as<Box<Expr>&>;
};
template <class T>
concept Postfix = OneOf<T, Expr::PropertyAccess, Expr::Index, Expr::Slice>;

template <class T>
concept Link = TwoOperands<T> || OneOperand<T> || Postfix<T>;

// Whether each variant, by its index, is a link: most expressions are not,
// which a look-up tells without visiting.
template <class V>
struct LinkTable;
template <class... T>
struct LinkTable<std::variant<T...>> {
  static constexpr bool is_link[] = {Link<T>...};
};

template <class T>
Box<Expr>* link_of(T& e) {
  if constexpr (TwoOperands<T>) {
    return &e.lhs;
  } else if constexpr (OneOperand<T>) {
    return &e.operand;
  } else if constexpr (std::is_same_v<T, Expr::Index>) {
    return &e.base;
  } else if constexpr (Postfix<T>) {
    return &e.expr;
  } else {
    return nullptr;
  }
}
}  // namespace chain

inline Box<Expr>* chain_link(Expr& e) {
  if (!chain::LinkTable<decltype(e.node)>::is_link[e.node.index()]) return nullptr;
  return std::visit([](auto& v) { return chain::link_of(v); }, e.node);
}

inline const Box<Expr>* chain_link(const Expr& e) { return chain_link(const_cast<Expr&>(e)); }

// The next expression along the chain of `e`, or null where it ends.
inline const Expr* chain_next(const Expr& e) {
  const Box<Expr>* link = chain_link(e);
  return link ? link->get() : nullptr;
}

inline void copy_link(const Expr& from, Expr& to) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (chain::TwoOperands<T>) {
          to.node.emplace<T>(Expr{}, v.rhs);
        } else if constexpr (chain::OneOperand<T>) {
          to.node.emplace<T>(Expr{});
        } else if constexpr (std::is_same_v<T, Expr::PropertyAccess>) {
          to.node.emplace<T>(Expr{}, v.key);
        } else if constexpr (std::is_same_v<T, Expr::Index>) {
          to.node.emplace<T>(Expr{}, v.index);
        } else if constexpr (std::is_same_v<T, Expr::Slice>) {
          to.node.emplace<T>(Expr{}, v.from, v.to);
        }
      },
      from.node);
}

// An inline property map or a parameter standing for one.
struct MapOrParam {
  struct Map { ExprMap entries; };
  struct Param { std::string name; };  // without '$'
  std::variant<Map, Param> node;
};

// ---- Patterns ----

struct NodePattern {
  std::optional<std::string> variable;
  std::vector<std::string> labels;  // source order, repeats kept
  std::optional<MapOrParam> properties;
};

enum class Direction : std::uint8_t {
  LeftToRight = 0,  // -[...]->
  RightToLeft = 1,  // <-[...]- (also written with both arrows)
  Undirected = 2,   // -[...]-
};

// The bounds of a variable-length relationship, `*min..max`; a bare `*` has neither.
struct Range {
  std::optional<std::int64_t> min;
  std::optional<std::int64_t> max;
};

struct RelationshipPattern {
  std::optional<std::string> variable;
  std::vector<std::string> types;  // the alternatives of :A|B, source order
  std::optional<MapOrParam> properties;
  std::optional<Range> range;  // absent without `*`
  Direction direction;
};

// One step of a path: the relationship, then the node it leads to.
struct PatternStep {
  RelationshipPattern relationship;
  NodePattern node;
};

struct PatternElement {
  NodePattern start;
  std::vector<PatternStep> chain;
};

struct PatternPart {
  std::optional<std::string> variable;  // p = ...
  PatternElement element;
};

struct Pattern {
  std::vector<PatternPart> parts;  // at least one
};

// The target n.a.b of a SET or REMOVE item.
struct PropertyExpr {
  std::string variable;
  std::vector<std::string> keys;  // at least one
};

// ---- Clauses ----

struct SortItem {
  Expr expr;
  bool descending;
};

struct ReturnItem {
  Expr expr;
  std::optional<std::string> alias;  // AS alias
};

struct ReturnItems {
  struct All {};  // RETURN *
  struct Items { std::vector<ReturnItem> items; };
  std::variant<All, Items> node;
};

struct ReturnClause {
  ReturnItems items;
  bool distinct;
  std::optional<std::vector<SortItem>> order_by;  // present with ORDER BY
  std::optional<Expr> skip;
  std::optional<Expr> limit;
};

struct WithClause {
  std::vector<ReturnItem> items;  // empty for WITH *
  bool distinct;
  std::optional<std::vector<SortItem>> order_by;
  std::optional<Expr> skip;
  std::optional<Expr> limit;
  std::optional<Expr> where_clause;
  // WITH *: every variable in scope passes on; `items` is then empty.
  bool star;
};

struct YieldItem {
  std::optional<std::string> field;  // only in `field AS variable`
  std::string variable;              // the name bound
};

struct CallClause {
  std::string procedure;  // as written, dot-separated segments
  std::vector<Expr> args;
  std::vector<YieldItem> yield_items;  // empty without YIELD
};

struct ReadingClause {
  struct Match {
    Pattern pattern;
    std::optional<Expr> where_clause;
    bool optional;  // OPTIONAL MATCH
  };
  struct Unwind {
    Expr expr;
    std::string variable;
  };
  struct Call { CallClause call; };
  std::variant<Match, Unwind, Call> node;
};

struct SetItem {
  struct Property { PropertyExpr property; Expr value; };            // n.a.b = value
  struct Variable { std::string variable; Expr value; };             // n = value
  struct VariableMerge { std::string variable; Expr value; };        // n += value
  struct Labels { std::string variable; std::vector<std::string> labels; };  // n:A:B
  std::variant<Property, Variable, VariableMerge, Labels> node;
};

struct RemoveItem {
  struct Labels { std::string variable; std::vector<std::string> labels; };
  struct Property { PropertyExpr property; };
  std::variant<Labels, Property> node;
};

struct UpdatingClause {
  struct Create { Pattern pattern; };
  struct Merge {
    PatternPart pattern_part;
    std::vector<std::vector<SetItem>> on_match;   // one list per ON MATCH SET
    std::vector<std::vector<SetItem>> on_create;  // one list per ON CREATE SET
  };
  struct Set { std::vector<SetItem> items; };
  struct Remove { std::vector<RemoveItem> items; };
  struct Delete {
    std::vector<Expr> expressions;
    bool detach;  // DETACH DELETE
  };
  struct Foreach {
    std::string variable;  // FOREACH (variable IN list | body)
    Expr list;
    std::vector<UpdatingClause> body;  // at least one
  };
  std::variant<Create, Merge, Set, Remove, Delete, Foreach> node;
};

// ---- Query structure ----

// The clauses before one WITH (since the previous WITH or the start), and the WITH.
struct QueryPart {
  std::vector<ReadingClause> reading_clauses;
  std::vector<UpdatingClause> updating_clauses;
  WithClause with;
};

struct MultiPartQuery {
  std::vector<QueryPart> parts;  // one per WITH
  // The final part, after the last WITH.
  std::vector<ReadingClause> reading_clauses;
  std::vector<UpdatingClause> updating_clauses;
  std::optional<ReturnClause> return_clause;
};

struct SingleQuery {
  // A query without WITH. Within a part all reading clauses precede all
  // updating clauses, so the two lists keep the source order.
  struct SinglePart {
    std::vector<ReadingClause> reading_clauses;
    std::vector<UpdatingClause> updating_clauses;
    std::optional<ReturnClause> return_clause;
  };
  struct MultiPart { MultiPartQuery query; };
  std::variant<SinglePart, MultiPart> node;
};

// One UNION [ALL] and the query after it.
struct Union {
  bool all;  // UNION ALL
  SingleQuery query;
};

struct RegularQuery {
  SingleQuery first;
  std::vector<Union> unions;
};

struct CypherQuery {
  struct Regular { RegularQuery query; };
  struct StandaloneCall { CallClause call; };  // never produced from parsed text
  std::variant<Regular, StandaloneCall> node;
};

struct ExistsSubquery {
  struct Query { RegularQuery query; };  // never produced from parsed text
  struct Pattern { ast::Pattern pattern; };
  std::variant<Query, Pattern> node;
};

}  // namespace torvane::parser::ast
