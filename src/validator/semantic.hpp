#pragma once
// SemanticValidator: checks one syntax tree against a schema and collects every
// finding in the order it is met. It never fails and never stops early; the
// order of the findings is visible to callers, so the walk order is fixed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "keyed_hash.hpp"
#include "parser/ast.hpp"
#include "parser/names.hpp"
#include "schema/schema.hpp"
#include "validator/suggestions.hpp"

namespace torvane::validator::semantic {

class SemanticValidator;

// A count of references held by one thread, for the lists below.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {
    if (p_) ++p_->refs;
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_ && --p_->refs == 0) release(p_);
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  // Out of line, so that the common case, a count to decrement, inlines.
  [[gnu::noinline]] static void release(T* p) { delete p; }

  T* p_ = nullptr;
};

// The node labels or relationship types bound to a variable: the first
// size() names of a buffer that only ever grows at its end. Every binding
// that got its names from another (WITH, aliases, FOREACH's saved state)
// shares the buffer, and a shared list that must grow grows in place when it
// ends where the buffer does, else in a buffer of its own over the shared
// part, so neither passing a list on nor growing one copies it. Past
// Scope::kListedMax names a buffer keeps a keyed hash index of what it holds.
// Names are views into the syntax tree being walked, compared for membership
// by the name they stand for (without backticks). Most variables carry one
// or two names: those sit in the list itself, with no buffer.
class NameList {
 public:
  NameList() = default;
  // `names` as written, repetitions kept.
  explicit NameList(std::span<const std::string> names) {
    if (names.size() > kInPlace) {
      buffered(names);
      return;
    }
    for (const auto& n : names) in_place_[size_++] = n;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Whether a name held stands for the same name as `name`.
  bool contains(std::string_view name) const;
  // Adds `name` at the end.
  void push_back(std::string_view name);
  // f(name) for each name in order.
  template <class F>
  void for_each(F&& f) const;
  std::vector<std::string_view> to_vector() const;

  // Over this many buffers below it, a list that must grow apart from the
  // others grows over a copy of its names instead, so that a search of the
  // buffers stays short; the copy is made once per buffer.
  static constexpr std::size_t kMaxDepth = 4;

  // On this thread, the steps taken so far over long lists of names, bound
  // (index searches, names indexed, copied, resolved or checked for a key)
  // or written on a node (labels checked for an inline map's keys or an
  // endpoint): what a test of their cost counts. Short lists go uncounted.
  static std::size_t& work() {
    static thread_local std::size_t steps = 0;
    return steps;
  }

  struct Buffer;

 private:
  friend class SemanticValidator;
  // The buffers of the list, bottom first, each with the count of its own
  // names in the list.
  struct Segment {
    const Buffer* buffer;
    std::size_t count;
  };
  std::size_t segments(std::array<Segment, kMaxDepth + 1>& out) const;
  // The constructor's case of a list that needs a buffer.
  void buffered(std::span<const std::string> names);

  static constexpr std::size_t kInPlace = 2;
  Ref<Buffer> buffer_;  // none while the names fit in `in_place_`
  std::size_t size_ = 0;
  std::array<std::string_view, kInPlace> in_place_;
};

// The variables in scope, each with the node labels it is known to carry or
// the relationship types it may have (empty when nothing is known); names are
// views into the syntax tree being walked. A query binds a handful of
// variables, so they sit in a list searched in order; once the list outgrows
// kListedMax a keyed hash index over it takes the searches, so a query with
// thousands of variables costs no quadratic time.
class Scope {
 public:
  struct Binding {
    std::string_view name;
    NameList names;
    // The depth of the innermost FOREACH body that saved this binding's
    // state before changing it (0: none).
    std::size_t saved_at = 0;
  };

  const Binding* find(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  // The binding of `name`, added with no names when absent (then `second`
  // is true). The pointer lasts until the next change of the scope.
  std::pair<Binding*, bool> try_emplace(std::string_view name);
  void erase(std::string_view name);
  std::size_t size() const { return list_.size(); }

  static constexpr std::size_t kListedMax = 8;

 private:
  // Inline, as it is asked for nearly every variable written; the index's
  // search out of line.
  std::ptrdiff_t position(std::string_view name) const {
    if (index_) return indexed_position(name);
    for (std::size_t i = 0; i < list_.size(); ++i)
      if (list_[i].name == name) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  std::ptrdiff_t indexed_position(std::string_view name) const;

  std::vector<Binding> list_;
  // Positions in `list_`, kept from the moment the list first outgrew
  // kListedMax; none before, so a small scope builds no hasher.
  std::optional<std::unordered_map<std::string_view, std::size_t, KeyedHash, StringEqual>> index_;
};

// What a buffer of names holds besides them: the index of its names and,
// for property access on a long list, its names resolved in the schema and
// which of them lack each key asked for, so that many accesses to one list
// look each (name, key) pair up once.
struct NameList::Buffer {
  std::size_t refs = 0;
  // The names before `own`: the first base_size of `base`.
  Ref<Buffer> base;
  std::size_t base_size = 0;
  std::size_t depth = 0;  // buffers below
  std::vector<std::string_view> own;
  // Of a buffer kMaxDepth deep, its first names in one buffer: the base of
  // the lists that grow apart from it (see push_back).
  Ref<Buffer> flat;
  // Positions in `own` by the name each stands for (the first of equal
  // ones), built on the first search of an `own` longer than
  // Scope::kListedMax: open addressing, 0 for an empty slot, else the
  // position plus one.
  struct Index {
    KeyedHash hash;
    std::vector<std::uint32_t> slots;
    std::size_t count = 0;
  };
  mutable std::unique_ptr<Index> index;
  // The position in own[0, count) of a name standing for `bare`, if any.
  std::optional<std::size_t> find(std::string_view bare, std::size_t count) const;

  // Of `own`, the names the schema knows, in order, with their properties.
  struct Known {
    std::size_t position;
    const HashSet* properties;
    bool type;  // a relationship type, not a node label
  };
  // Of `known`, those lacking one key: the first `checked` were looked at.
  struct Lacking {
    std::size_t checked = 0;
    std::vector<std::size_t> known;
  };
  struct Checks {
    std::size_t resolved = 0;  // of `own`, looked up
    std::vector<Known> known;
    HashMap<Lacking> by_key;  // by the key stood for
  };
  std::unique_ptr<Checks> checks;

  std::size_t size() const { return base_size + own.size(); }
  void add(std::string_view name);
  void index_name(std::size_t i) const;
};

template <class F>
void NameList::for_each(F&& f) const {
  if (!buffer_) {
    for (std::size_t i = 0; i < size_; ++i) f(in_place_[i]);
    return;
  }
  if (!buffer_->base) {
    for (std::size_t i = 0; i < size_; ++i) f(buffer_->own[i]);
    return;
  }
  std::array<Segment, kMaxDepth + 1> parts;
  const std::size_t n = segments(parts);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < parts[i].count; ++j) f(parts[i].buffer->own[j]);
}

// A view kept as two plain members, so that an array of them is left unset
// until written (one of std::string_view would be zeroed): for the small
// lists every query starts.
struct PlainView {
  const char* data;
  std::size_t size;
  std::string_view get() const { return {data, size}; }
  static PlainView of(std::string_view s) { return {s.data(), s.size()}; }
};

// Schema entries already looked up, by name as written (the schema is asked
// for the name it stands for, without backticks): a query names a few
// labels and types again and again, and a short list searched in order costs
// less than hashing the name anew. Once the list is full, further names are
// looked up in the schema each time.
template <class Entry>
class LookupMemo {
 public:
  // The entry of `name` in `map`, or null when it has none.
  template <class Map>
  const Entry* find(const Map& map, std::string_view name) {
    // The same text asked again (a node's labels, checked, then read for
    // its keys and endpoints) is known by its address, with no compare.
    for (std::size_t i = 0; i < size_; ++i) {
      const Held& h = held_[i];
      if (h.name.size == name.size() && (h.name.data == name.data() || h.name.get() == name))
        return h.entry;
    }
    auto it = parser::quoted(name) ? map.find(parser::NameOf(name).get()) : map.find(name);
    const Entry* entry = it == map.end() ? nullptr : &it->second;
    if (size_ < held_.size()) held_[size_++] = Held{PlainView::of(name), entry};
    return entry;
  }

 private:
  struct Held {
    PlainView name;
    const Entry* entry;
  };
  std::array<Held, Scope::kListedMax> held_;  // left unset past size_
  std::size_t size_ = 0;
};

// The schema's labels and types, sorted and lower-cased once, as the
// closest-name searches go through them: views into the schema, which must
// outlive them and not change. A validator that is given none makes its
// own on its first unknown name.
struct SchemaNames {
  explicit SchemaNames(const schema::Schema& schema)
      : node_labels(schema.node_labels()),
        rel_types(schema.rel_types()),
        labels(node_labels),
        types(rel_types) {}
  SchemaNames(const SchemaNames&) = delete;
  SchemaNames& operator=(const SchemaNames&) = delete;

  std::vector<std::string_view> node_labels, rel_types;
  CandidateList labels, types;  // over the two lists above
};

class SemanticValidator {
 public:
  // Borrows `schema`, and `names` of it if given, for the validator's lifetime.
  explicit SemanticValidator(const schema::Schema& schema, const SchemaNames* names = nullptr);

  // The current scope.
  Scope bindings;
  const schema::Schema& schema;
  std::vector<diagnostics::ValidationDiagnostic> diagnostics;
  std::size_t error_count = 0;  // of `diagnostics`, the errors
  // The subject of each unknown-property finding that has a suggestion, in
  // order: views into the tree walked.
  std::vector<diagnostics::FindingSubject> property_subjects;

  void push_error(diagnostics::DiagnosticCode code, std::string message,
                  std::optional<diagnostics::Suggestion> suggestion);
  void push_warning(diagnostics::DiagnosticCode code, std::string message);

  // Query structure and scopes.
  void validate_query(const parser::ast::CypherQuery& query);
  void validate_single_query(const parser::ast::SingleQuery& query);
  void validate_return_clause(const parser::ast::ReturnClause& clause);
  void check_alias_uniqueness(const std::vector<parser::ast::ReturnItem>& items);
  void collect_reading_bindings(const parser::ast::ReadingClause& clause);
  void collect_updating_bindings(const parser::ast::UpdatingClause& clause);
  void collect_pattern_bindings(std::span<const parser::ast::PatternPart> parts);
  void collect_node_bindings(const parser::ast::NodePattern& node);

  // Clauses and patterns.
  void validate_reading_clause(const parser::ast::ReadingClause& clause);
  void validate_updating_clause(const parser::ast::UpdatingClause& clause);
  void validate_node_pattern(const parser::ast::NodePattern& node);
  void validate_rel_pattern_with_endpoints(const parser::ast::RelationshipPattern& rel,
                                           const std::vector<std::string>& left_labels,
                                           const std::vector<std::string>& right_labels);
  void check_endpoint_label(const std::vector<std::string>& labels, std::string_view expected,
                            std::string_view role, std::string_view rel_type);
  // The start node, then each relationship with its two neighbours' labels and its node.
  void validate_pattern_element(const parser::ast::PatternElement& element);

  // Expressions.
  void validate_expr(const parser::ast::Expr& expr);
  void validate_property_access(std::string_view variable, std::span<const std::string> keys);
  void check_property_keys(const Scope::Binding& bound, std::span<const std::string> keys);
  // The same for a long list, through what its buffers remember.
  void check_long_property_keys(const Scope::Binding& bound, std::span<const std::string> keys);
  // `variable.key`: the key against the variable's labels or types, else the
  // variable reported unbound.
  [[gnu::noinline]] void validate_variable_property(std::string_view variable,
                                                    const std::string& key);
  void validate_pagination_expr(const parser::ast::Expr& expr, std::string_view clause);
  static bool contains_aggregate(const parser::ast::Expr& expr);

 private:
  struct ExprChecker;
  // A query with a finding often has a few: room for them at the first.
  void reserve_findings() {
    if (diagnostics.empty()) diagnostics.reserve(4);
  }
  // validate_expr of an expression that is a chain link.
  [[gnu::noinline]] void validate_chain(const parser::ast::Expr& expr);

  void run_part(const std::vector<parser::ast::ReadingClause>& reading,
                const std::vector<parser::ast::UpdatingClause>& updating);
  void validate_with_clause(const parser::ast::WithClause& with);
  void check_match_warnings(const parser::ast::ReadingClause::Match& match);
  void bind_empty(std::string_view name);
  void bind_merged(std::string_view name, const std::vector<std::string>& names);
  // The scope a projection leaves: each output name bound as `from` binds
  // its variable, when the item is a bare variable, else with no names.
  static void project(const std::vector<parser::ast::ReturnItem>& items, const Scope& from,
                      Scope& to);
  bool is_bound(std::string_view name) const { return bindings.contains(name); }
  // The property names of a node label, or null when the schema lacks it.
  const HashSet* node_entry(std::string_view label) { return nodes_.find(schema.nodes, label); }
  const schema::RelationshipDef* rel_entry(std::string_view type) {
    return rels_.find(schema.relationships, type);
  }
  const SchemaNames& names();
  // The lists a closest-name search looks through: the schema's labels or
  // types, or the properties of one label or type (the owner).
  enum class Among : std::uint8_t { labels, types, label_properties, type_properties };
  // closest_match of `name` in that list, searched once per validation: a
  // query may repeat an unknown name many times. `owner` and `name` must
  // live as long as the validator (views into the tree it walks).
  std::optional<std::string_view> closest_name(Among among, std::string_view owner,
                                               std::string_view name);
  // Each of `labels` that the schema lacks, reported with `code`.
  void check_labels(const std::vector<std::string>& labels, diagnostics::DiagnosticCode code,
                    std::string_view lead);
  void push_unknown_label(diagnostics::DiagnosticCode code, std::string_view lead,
                          std::string_view name, Among among);
  // `variable`: the one the key is read from, if any (E303, E304).
  void push_unknown_property(diagnostics::DiagnosticCode code, std::string message,
                             std::string_view key, Among among, std::string_view owner,
                             std::string_view variable = {});
  void push_missing_key(std::string_view variable, std::string_view name, const std::string& key,
                        bool type);
  void push_aggregate_misuse(std::string_view context);
  void push_unbound(std::string_view variable);
  // Every updating clause but FOREACH.
  [[gnu::noinline]] void validate_flat_updating_clause(const parser::ast::UpdatingClause& clause);

  // What check_endpoint_label asks of a long label list: the names it
  // stands for, and whether the schema knows any. Kept for the two nodes of
  // the step last checked.
  struct EndpointLabels {
    const std::vector<std::string>* labels = nullptr;
    HashSet names;
    bool any_known = false;
  };
  const EndpointLabels& endpoint_labels(const std::vector<std::string>& labels);
  std::unique_ptr<std::array<EndpointLabels, 2>> endpoint_labels_;  // from the first
  std::size_t endpoint_next_ = 0;

  LookupMemo<HashSet> nodes_;
  LookupMemo<schema::RelationshipDef> rels_;
  // The schema's names as given, else made here on the first unknown name,
  // since most queries have none.
  const SchemaNames* names_;
  std::unique_ptr<SchemaNames> own_names_;

  // While a FOREACH body is checked, the first binding it makes of a name
  // saves what the name was bound to (nothing when it was unbound), so that
  // the FOREACH leaves the scope as it found it; undone in reverse.
  struct SavedBinding {
    std::string_view name;
    std::optional<NameList> names;
    std::size_t saved_at;
  };
  // Before `binding` (just `added` to the scope, or not) changes.
  void save_binding(Scope::Binding& binding, bool added);
  void restore_bindings(std::size_t from);
  std::vector<SavedBinding> saved_;
  std::size_t foreach_depth_ = 0;

  // While a grouping WITH's ORDER BY and WHERE are checked: the WITH, the
  // scope before it, and once asked for, the variable occurrences (their
  // names' data) that may be unbound there, sorted: inside a part written as
  // a projected expression, bound before the WITH.
  const parser::ast::WithClause* grouping_with_ = nullptr;
  const Scope* grouping_before_ = nullptr;
  std::optional<std::vector<const char*>> unbound_allowed_;
  std::vector<const char*> projected_occurrences() const;

  // The links of the chains validate_chain is walking, innermost last: the
  // first few in place, as most chains are short, the rest in `more`.
  struct ChainStack {
    static constexpr std::size_t kInPlace = 16;
    std::array<const parser::ast::Expr*, kInPlace> in_place;
    std::vector<const parser::ast::Expr*> more;
    std::size_t size = 0;
    void push(const parser::ast::Expr* link) {
      if (size < kInPlace) {
        in_place[size] = link;
      } else {
        more.push_back(link);
      }
      ++size;
    }
    const parser::ast::Expr* pop() {
      if (--size < kInPlace) return in_place[size];
      const parser::ast::Expr* link = more.back();
      more.pop_back();
      return link;
    }
  };
  ChainStack chain_;

  // What closest_name found, by list and name (views into the tree being
  // walked), searched in order; once the list outgrows Scope::kListedMax, a
  // keyed hash index over it takes the searches.
  struct SearchKey {
    Among among;
    std::string_view owner, name;
    bool operator==(const SearchKey&) const = default;
  };
  struct SearchHash {
    KeyedHash text;
    std::size_t operator()(const SearchKey& k) const {
      return text(k.name) + 31 * text(k.owner) + static_cast<std::size_t>(k.among);
    }
  };
  struct Searched {
    SearchKey key;
    std::optional<std::string_view> match;
  };
  std::vector<Searched> searched_;
  std::optional<std::unordered_map<SearchKey, std::size_t, SearchHash>> searched_index_;
};

}  // namespace torvane::validator::semantic
