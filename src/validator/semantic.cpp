#include "validator/semantic.hpp"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <utility>

#include "ascii.hpp"
#include "parser/names.hpp"
#include "validator/projection.hpp"
#include "validator/suggestions.hpp"

namespace torvane::validator::semantic {
namespace ast = parser::ast;
using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::Suggestion;
using diagnostics::ValidationDiagnostic;
using parser::NameOf;
using parser::quoted;

namespace {

// A set of variable names (pattern variables, projection names) that live in
// the tree being walked: a few in place, searched in order, and past
// Scope::kListedMax a keyed hash set, as in the scope.
class VariableNameSet {
 public:
  bool contains(std::string_view name) const {
    if (hashed_) return hashed_->contains(name);
    for (std::size_t i = 0; i < count_; ++i)
      if (listed_[i].get() == name) return true;
    return false;
  }
  // False when the name was in already.
  bool insert(std::string_view name) {
    if (hashed_) return hashed_->insert(name).second;
    if (contains(name)) return false;
    if (count_ < kListed) {
      listed_[count_++] = PlainView::of(name);
    } else {
      hashed_.emplace();
      for (const PlainView& l : listed_) hashed_->insert(l.get());
      hashed_->insert(name);
    }
    return true;
  }

 private:
  static constexpr std::size_t kListed = Scope::kListedMax;
  // Left unset past count_: a set is made for every projection.
  std::array<PlainView, kListed> listed_;
  std::size_t count_ = 0;
  // Every name, once there are more than kListed.
  std::optional<std::unordered_set<std::string_view, KeyedHash, StringEqual>> hashed_;
};

// Function names are ASCII apart from a namespace, and a namespaced name keeps
// its dot, so folding ASCII letters gives the same verdict as full Unicode
// lower-casing (no non-ASCII character lower-cases to these ASCII words).
template <std::size_t N>
bool is_one_of(std::string_view name, const std::string_view (&words)[N]) {
  return std::any_of(std::begin(words), std::end(words),
                     [&](std::string_view w) { return ascii_iequal(name, w); });
}

constexpr std::string_view kAggregates[] = {
    "count",          "sum",           "avg", "min", "max", "collect", "stdev", "stdevp",
    "percentilecont", "percentiledisc"};
// The aggregates that need a number: a string literal argument is a mistake.
constexpr std::string_view kNumericAggregates[] = {
    "sum", "avg", "stdev", "stdevp", "percentilecont", "percentiledisc"};

using ast::Leaf;
using ast::Quantifier;
using ast::chain::OneOperand;
using ast::chain::TwoOperands;

// The output name of a projection item: its alias, else a bare variable's name.
const std::string* output_name(const ast::ReturnItem& item) {
  if (item.alias) return &*item.alias;
  if (const auto* v = std::get_if<ast::Expr::Variable>(&item.expr.node)) return &v->name;
  return nullptr;
}

const ast::ExprMap* inline_map(const std::optional<ast::MapOrParam>& properties) {
  if (!properties) return nullptr;
  const auto* map = std::get_if<ast::MapOrParam::Map>(&properties->node);
  return map ? &map->entries : nullptr;
}

void add_part_names(const ast::PatternPart& part, VariableNameSet& names) {
  if (part.variable) names.insert(*part.variable);
  if (part.element.start.variable) names.insert(*part.element.start.variable);
  for (const auto& step : part.element.chain) {
    if (step.relationship.variable) names.insert(*step.relationship.variable);
    if (step.node.variable) names.insert(*step.node.variable);
  }
}

bool part_touches(const ast::PatternPart& part, const VariableNameSet& names) {
  auto in = [&](const std::optional<std::string>& v) { return v && names.contains(*v); };
  if (in(part.variable) || in(part.element.start.variable)) return true;
  return std::any_of(part.element.chain.begin(), part.element.chain.end(), [&](const auto& step) {
    return in(step.relationship.variable) || in(step.node.variable);
  });
}

}  // namespace

// ---- Name lists ----

void NameList::buffered(std::span<const std::string> names) {
  buffer_ = Ref<Buffer>(new Buffer);
  buffer_->own.reserve(names.size());
  for (const auto& n : names) buffer_->add(n);
  size_ = names.size();
}

void NameList::Buffer::add(std::string_view name) {
  own.push_back(name);
  if (index) index_name(own.size() - 1);
}

// Adds own[i] to the index unless a name standing for it is in already.
void NameList::Buffer::index_name(std::size_t i) const {
  Index& ix = *index;
  if ((ix.count + 1) * 2 > ix.slots.size()) {
    std::vector<std::uint32_t> old(std::max<std::size_t>(ix.slots.size() * 2, 32), 0);
    std::swap(old, ix.slots);
    const std::size_t mask = ix.slots.size() - 1;
    for (const std::uint32_t slot : old) {
      if (!slot) continue;
      ++NameList::work();
      std::size_t at = ix.hash(NameOf(own[slot - 1]).get()) & mask;
      while (ix.slots[at]) at = (at + 1) & mask;
      ix.slots[at] = slot;
    }
  }
  const NameOf bare(own[i]);
  const std::size_t mask = ix.slots.size() - 1;
  ++NameList::work();
  for (std::size_t at = ix.hash(bare.get()) & mask;; at = (at + 1) & mask) {
    const std::uint32_t slot = ix.slots[at];
    if (!slot) {
      ix.slots[at] = static_cast<std::uint32_t>(i + 1);
      ++ix.count;
      return;
    }
    if (NameOf(own[slot - 1]).get() == bare.get()) return;
  }
}

std::optional<std::size_t> NameList::Buffer::find(std::string_view bare, std::size_t count) const {
  if (count <= Scope::kListedMax && !index) {
    for (std::size_t i = 0; i < count; ++i)
      if (NameOf(own[i]).get() == bare) return i;
    return std::nullopt;
  }
  if (!index) {
    index = std::make_unique<Index>();
    for (std::size_t i = 0; i < own.size(); ++i) index_name(i);
  }
  const Index& ix = *index;
  const std::size_t mask = ix.slots.size() - 1;
  ++NameList::work();
  for (std::size_t at = ix.hash(bare) & mask;; at = (at + 1) & mask) {
    const std::uint32_t slot = ix.slots[at];
    if (!slot) return std::nullopt;
    if (NameOf(own[slot - 1]).get() == bare) {
      if (slot - 1 < count) return slot - 1;
      return std::nullopt;
    }
  }
}

std::size_t NameList::segments(std::array<Segment, kMaxDepth + 1>& out) const {
  std::size_t n = 0;
  std::size_t count = size_;
  for (const Buffer* b = buffer_.get(); b && count; b = b->base.get()) {
    if (count > b->base_size) {
      out[n++] = Segment{b, count - b->base_size};
      count = b->base_size;
    }
  }
  std::reverse(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

bool NameList::contains(std::string_view name) const {
  const NameOf bare(name);
  if (!buffer_) {
    for (std::size_t i = 0; i < size_; ++i)
      if (NameOf(in_place_[i]).get() == bare.get()) return true;
    return false;
  }
  std::size_t count = size_;
  for (const Buffer* b = buffer_.get(); b && count; b = b->base.get()) {
    if (count <= b->base_size) continue;
    if (b->find(bare.get(), count - b->base_size)) return true;
    count = b->base_size;
  }
  return false;
}

// The buffer's end: grown in place, since the lists sharing it see only
// their own first names. Short of its end, a list whose next name is `name`
// takes that one; any other grows in a buffer over the shared part.
void NameList::push_back(std::string_view name) {
  if (!buffer_) {
    if (size_ < kInPlace) {
      in_place_[size_++] = name;
      return;
    }
    buffer_ = Ref<Buffer>(new Buffer);
    buffer_->own.reserve(2 * kInPlace);
    buffer_->own.assign(in_place_.begin(), in_place_.end());
  } else if (size_ != buffer_->size()) {
    const Buffer& shared = *buffer_;
    if (size_ > shared.base_size && shared.own[size_ - shared.base_size] == name) {
      ++size_;
      return;
    }
    Ref<Buffer> grown(new Buffer);
    grown->base_size = size_;
    if (shared.depth < kMaxDepth) {
      grown->base = buffer_;
      grown->depth = shared.depth + 1;
    } else {
      // Too deep: over a copy of the shared part, one for every list
      // growing apart from this buffer, extended as longer ones do.
      Buffer& deep = *buffer_;
      if (!deep.flat) deep.flat = Ref<Buffer>(new Buffer);
      Buffer& flat = *deep.flat;
      std::array<Segment, kMaxDepth + 1> parts;
      const std::size_t n = segments(parts);
      std::size_t start = 0;  // of the segment, in the list
      for (std::size_t i = 0; i < n; ++i) {
        // The names the copy lacks, of this segment.
        const std::size_t first = flat.own.size() > start ? flat.own.size() - start : 0;
        for (std::size_t j = first; j < parts[i].count; ++j) {
          ++work();
          flat.add(parts[i].buffer->own[j]);
        }
        start += parts[i].count;
      }
      grown->base = deep.flat;
      grown->depth = 1;
    }
    buffer_ = std::move(grown);
  }
  buffer_->add(name);
  ++size_;
}

std::vector<std::string_view> NameList::to_vector() const {
  std::vector<std::string_view> out;
  out.reserve(size_);
  for_each([&](std::string_view n) { out.push_back(n); });
  return out;
}

// ---- Scope ----

std::ptrdiff_t Scope::indexed_position(std::string_view name) const {
  auto it = index_->find(name);
  return it == index_->end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

const Scope::Binding* Scope::find(std::string_view name) const {
  const std::ptrdiff_t at = position(name);
  return at < 0 ? nullptr : &list_[static_cast<std::size_t>(at)];
}

std::pair<Scope::Binding*, bool> Scope::try_emplace(std::string_view name) {
  if (const std::ptrdiff_t at = position(name); at >= 0)
    return {&list_[static_cast<std::size_t>(at)], false};
  if (list_.empty()) list_.reserve(kListedMax);
  list_.emplace_back().name = name;
  if (index_) {
    index_->emplace(name, list_.size() - 1);
  } else if (list_.size() > kListedMax) {
    index_.emplace();
    for (std::size_t i = 0; i < list_.size(); ++i) index_->emplace(list_[i].name, i);
  }
  return {&list_.back(), true};
}

// The last binding takes the place of the erased one.
void Scope::erase(std::string_view name) {
  const std::ptrdiff_t at = position(name);
  if (at < 0) return;
  const auto i = static_cast<std::size_t>(at);
  if (index_) index_->erase(name);
  if (i + 1 != list_.size()) {
    list_[i] = std::move(list_.back());
    if (index_) (*index_)[list_[i].name] = i;
  }
  list_.pop_back();
}

SemanticValidator::SemanticValidator(const schema::Schema& s, const SchemaNames* names)
    : schema(s), names_(names) {}

const SchemaNames& SemanticValidator::names() {
  if (!names_) {
    own_names_ = std::make_unique<SchemaNames>(schema);
    names_ = own_names_.get();
  }
  return *names_;
}

// ---- Recording ----

void SemanticValidator::push_error(DiagnosticCode code, std::string message,
                                   std::optional<Suggestion> suggestion) {
  ++error_count;
  reserve_findings();
  diagnostics.push_back(ValidationDiagnostic{code, Severity::Error, std::move(message),
                                             std::move(suggestion), std::nullopt});
}

void SemanticValidator::push_warning(DiagnosticCode code, std::string message) {
  reserve_findings();
  diagnostics.push_back(ValidationDiagnostic{code, Severity::Warning, std::move(message),
                                             std::nullopt, std::nullopt});
}

std::optional<std::string_view> SemanticValidator::closest_name(Among among, std::string_view owner,
                                                                std::string_view name) {
  const SearchKey key{among, owner, name};
  if (searched_index_) {
    if (auto it = searched_index_->find(key); it != searched_index_->end())
      return searched_[it->second].match;
  } else if (auto it = std::find_if(searched_.begin(), searched_.end(),
                                    [&](const Searched& x) { return x.key == key; });
             it != searched_.end()) {
    return it->match;
  }
  // Written names are compared without their backticks.
  const NameOf bare(name);
  std::optional<std::string_view> match;
  switch (among) {
    case Among::labels: match = names().labels.closest(bare.get()); break;
    case Among::types: match = names().types.closest(bare.get()); break;
    case Among::label_properties:
      match = closest_match(bare.get(), schema.node_properties(NameOf(owner).get()));
      break;
    case Among::type_properties:
      match = closest_match(bare.get(), schema.rel_properties(NameOf(owner).get()));
      break;
  }
  searched_.push_back({key, match});
  if (searched_index_) {
    searched_index_->emplace(key, searched_.size() - 1);
  } else if (searched_.size() > Scope::kListedMax) {
    searched_index_.emplace();
    for (std::size_t i = 0; i < searched_.size(); ++i)
      searched_index_->emplace(searched_[i].key, i);
  }
  return match;
}

// "{lead}{name}{hint}" with the label form of suggestion.
// One search gives both the hint and the suggestion, so they name the same candidate.
void SemanticValidator::push_unknown_label(DiagnosticCode code, std::string_view lead,
                                           std::string_view name, Among among) {
  const auto match = closest_name(among, {}, name);
  std::string message;
  message.reserve(lead.size() + name.size() + hint_size(":", match));
  message += lead;
  message += name;
  append_hint(message, ":", match);
  std::optional<Suggestion> suggestion;
  if (match) suggestion = make_label_suggestion(name, *match);
  push_error(code, std::move(message), std::move(suggestion));
}

void SemanticValidator::check_labels(const std::vector<std::string>& labels, DiagnosticCode code,
                                     std::string_view lead) {
  for (const auto& label : labels)
    if (!node_entry(label)) push_unknown_label(code, lead, label, Among::labels);
}

// `message` is complete up to its hint. The corrected query renames the key
// only where it is read from the finding's subject: the variable, else the
// owner's pattern.
void SemanticValidator::push_unknown_property(DiagnosticCode code, std::string message,
                                              std::string_view key, Among among,
                                              std::string_view owner, std::string_view variable) {
  const auto match = closest_name(among, owner, key);
  message.reserve(message.size() + hint_size(".", match));
  append_hint(message, ".", match);
  std::optional<Suggestion> suggestion;
  if (match) {
    suggestion = make_property_suggestion(key, *match);
    property_subjects.push_back({diagnostics.size(), variable.empty() ? owner : variable});
  }
  push_error(code, std::move(message), std::move(suggestion));
}

void SemanticValidator::push_aggregate_misuse(std::string_view context) {
  std::string message = "Aggregate function not allowed in ";
  message += context;
  message += " context; aggregates are only valid in RETURN, WITH, or ORDER BY";
  push_error(DiagnosticCode::AggregateInForbiddenContext, std::move(message), std::nullopt);
}

// ---- Bindings ----

void SemanticValidator::bind_empty(std::string_view name) {
  auto [binding, added] = bindings.try_emplace(name);
  if (foreach_depth_) save_binding(*binding, added);
  binding->names = NameList();
}

// A first binding takes the list as written; a later one adds what is new.
void SemanticValidator::bind_merged(std::string_view name, const std::vector<std::string>& names) {
  auto [binding, added] = bindings.try_emplace(name);
  if (foreach_depth_) save_binding(*binding, added);
  if (added) {
    binding->names = NameList(names);
    return;
  }
  // However written, a name already held is not added again.
  for (const auto& n : names)
    if (!binding->names.contains(n)) binding->names.push_back(n);
}

// Once per name and FOREACH body: what an earlier save of the same body
// holds is the state to restore.
void SemanticValidator::save_binding(Scope::Binding& binding, bool added) {
  if (!added && binding.saved_at == foreach_depth_) return;
  SavedBinding& saved = saved_.emplace_back(SavedBinding{binding.name, std::nullopt, 0});
  if (!added) {
    saved.names = binding.names;
    saved.saved_at = binding.saved_at;
  }
  binding.saved_at = foreach_depth_;
}

void SemanticValidator::restore_bindings(std::size_t from) {
  for (std::size_t i = saved_.size(); i-- > from;) {
    SavedBinding& saved = saved_[i];
    if (saved.names) {
      Scope::Binding& binding = *bindings.try_emplace(saved.name).first;
      binding.names = std::move(*saved.names);
      binding.saved_at = saved.saved_at;
    } else {
      bindings.erase(saved.name);
    }
  }
  saved_.resize(from);
}

void SemanticValidator::project(const std::vector<ast::ReturnItem>& items, const Scope& from,
                                Scope& to) {
  for (const auto& item : items) {
    const std::string* name = output_name(item);
    if (!name) continue;
    auto& list = to.try_emplace(*name).first->names;
    list = NameList();
    if (const auto* v = std::get_if<ast::Expr::Variable>(&item.expr.node)) {
      if (const Scope::Binding* b = from.find(v->name)) list = b->names;
    }
  }
}

// ---- Query structure ----

void SemanticValidator::validate_query(const ast::CypherQuery& query) {
  const auto* regular = std::get_if<ast::CypherQuery::Regular>(&query.node);
  if (!regular) return;  // a standalone CALL is not checked
  validate_single_query(regular->query.first);
  for (const auto& u : regular->query.unions) {
    // Each branch starts from an empty scope; what it binds is dropped.
    auto saved = std::exchange(bindings, {});
    validate_single_query(u.query);
    bindings = std::move(saved);
  }
}

void SemanticValidator::validate_single_query(const ast::SingleQuery& query) {
  if (const auto* single = std::get_if<ast::SingleQuery::SinglePart>(&query.node)) {
    run_part(single->reading_clauses, single->updating_clauses);
    if (single->return_clause) validate_return_clause(*single->return_clause);
    return;
  }
  const auto& multi = std::get<ast::SingleQuery::MultiPart>(query.node).query;
  for (const auto& part : multi.parts) {
    run_part(part.reading_clauses, part.updating_clauses);
    validate_with_clause(part.with);
  }
  run_part(multi.reading_clauses, multi.updating_clauses);
  if (multi.return_clause) validate_return_clause(*multi.return_clause);
}

// Every binding of a part is collected before any check of the part, so a
// variable counts as bound in the whole part, also before the clause binding it.
void SemanticValidator::run_part(const std::vector<ast::ReadingClause>& reading,
                                 const std::vector<ast::UpdatingClause>& updating) {
  for (const auto& c : reading) collect_reading_bindings(c);
  for (const auto& c : updating) collect_updating_bindings(c);
  for (const auto& c : reading) validate_reading_clause(c);
  for (const auto& c : updating) validate_updating_clause(c);
}

void SemanticValidator::validate_with_clause(const ast::WithClause& with) {
  for (const auto& item : with.items) validate_expr(item.expr);
  check_alias_uniqueness(with.items);
  // WITH * passes the whole scope on, labels and types included.
  Scope before, wide;
  bool widen = false;
  if (!with.star) {
    before = std::exchange(bindings, Scope{});
    project(with.items, before, bindings);
  }
  // ORDER BY and WHERE: without DISTINCT or an aggregate, they see the names
  // bound before the WITH as well, a projected name winning. With one, only
  // the projected names, and the parts written as a projected expression.
  if (!with.star && (with.order_by || with.where_clause)) {
    const bool grouping = with.distinct || std::any_of(with.items.begin(), with.items.end(),
                                                       [](const ast::ReturnItem& item) {
                                                         return contains_aggregate(item.expr);
                                                       });
    if (grouping) {
      grouping_with_ = &with;
      grouping_before_ = &before;
    } else {
      widen = true;
      wide = before;
      project(with.items, before, wide);
    }
  }
  const auto filter = [&](const ast::Expr& e) {
    if (widen) std::swap(bindings, wide);
    validate_expr(e);
    if (widen) std::swap(bindings, wide);
  };
  if (with.order_by)
    for (const auto& s : *with.order_by) filter(s.expr);
  if (with.skip) validate_pagination_expr(*with.skip, "SKIP");
  if (with.limit) validate_pagination_expr(*with.limit, "LIMIT");
  if (with.where_clause) filter(*with.where_clause);
  grouping_with_ = nullptr;
  grouping_before_ = nullptr;
  unbound_allowed_.reset();
}

// The variable occurrences of a grouping WITH's ORDER BY and WHERE that
// stand inside a part written as one of its projected expressions and were
// bound before it.
std::vector<const char*> SemanticValidator::projected_occurrences() const {
  const ast::WithClause& with = *grouping_with_;
  const ProjectedExpressions projected(with.items);
  std::vector<const std::string*> inside;
  if (with.order_by)
    for (const auto& s : *with.order_by) projected.variables_within(s.expr, inside);
  if (with.where_clause) projected.variables_within(*with.where_clause, inside);
  std::vector<const char*> allowed;
  for (const std::string* name : inside)
    if (grouping_before_->contains(*name)) allowed.push_back(name->data());
  std::sort(allowed.begin(), allowed.end(), std::less<>());
  return allowed;
}

void SemanticValidator::validate_return_clause(const ast::ReturnClause& clause) {
  const auto* items = std::get_if<ast::ReturnItems::Items>(&clause.items.node);
  if (items) {
    for (const auto& item : items->items) validate_expr(item.expr);
    check_alias_uniqueness(items->items);
  }
  if (clause.order_by) {
    // ORDER BY sees the scope before the RETURN plus the RETURN's output
    // names, each bound as a WITH would bind it; the RETURN leaves the scope as
    // it was for SKIP and LIMIT.
    Scope before;
    const bool extended = items && !items->items.empty();
    if (extended) {
      before = bindings;
      project(items->items, before, bindings);
    }
    for (const auto& s : *clause.order_by) validate_expr(s.expr);
    if (extended) bindings = std::move(before);
  }
  if (clause.skip) validate_pagination_expr(*clause.skip, "SKIP");
  if (clause.limit) validate_pagination_expr(*clause.limit, "LIMIT");
}

void SemanticValidator::check_alias_uniqueness(const std::vector<ast::ReturnItem>& items) {
  if (items.size() < 2) return;
  VariableNameSet seen;
  for (const auto& item : items) {
    const std::string* name = output_name(item);
    if (!name || seen.insert(*name)) continue;
    push_error(DiagnosticCode::DuplicateProjectionName,
               "Duplicate projection name '" + *name + "' in RETURN/WITH", std::nullopt);
  }
}

void SemanticValidator::collect_reading_bindings(const ast::ReadingClause& clause) {
  if (const auto* m = std::get_if<ast::ReadingClause::Match>(&clause.node)) {
    collect_pattern_bindings(m->pattern.parts);
  } else if (const auto* u = std::get_if<ast::ReadingClause::Unwind>(&clause.node)) {
    bind_empty(u->variable);
  } else {
    for (const auto& y : std::get<ast::ReadingClause::Call>(clause.node).call.yield_items)
      bind_empty(y.variable);
  }
}

void SemanticValidator::collect_updating_bindings(const ast::UpdatingClause& clause) {
  if (const auto* c = std::get_if<ast::UpdatingClause::Create>(&clause.node)) {
    collect_pattern_bindings(c->pattern.parts);
  } else if (const auto* m = std::get_if<ast::UpdatingClause::Merge>(&clause.node)) {
    // Walking the part in place binds exactly what a one-part copy would.
    collect_pattern_bindings(std::span<const ast::PatternPart>(&m->pattern_part, 1));
  }
}

void SemanticValidator::collect_pattern_bindings(std::span<const ast::PatternPart> parts) {
  for (const auto& part : parts) {
    if (part.variable) bind_empty(*part.variable);
    collect_node_bindings(part.element.start);
    for (const auto& step : part.element.chain) {
      if (step.relationship.variable)
        bind_merged(*step.relationship.variable, step.relationship.types);
      collect_node_bindings(step.node);
    }
  }
}

void SemanticValidator::collect_node_bindings(const ast::NodePattern& node) {
  if (node.variable) bind_merged(*node.variable, node.labels);
}

// ---- Clauses and patterns ----

void SemanticValidator::validate_reading_clause(const ast::ReadingClause& clause) {
  if (const auto* m = std::get_if<ast::ReadingClause::Match>(&clause.node)) {
    for (const auto& part : m->pattern.parts) validate_pattern_element(part.element);
    if (m->where_clause) {
      if (contains_aggregate(*m->where_clause)) push_aggregate_misuse("MATCH WHERE");
      validate_expr(*m->where_clause);
    }
    check_match_warnings(*m);
  } else if (const auto* u = std::get_if<ast::ReadingClause::Unwind>(&clause.node)) {
    validate_expr(u->expr);
  }
  // CALL: neither the procedure nor its arguments are checked.
}

void SemanticValidator::check_match_warnings(const ast::ReadingClause::Match& match) {
  const auto& parts = match.pattern.parts;
  if (parts.size() >= 2) {
    // Only the parts' own variables connect them, not earlier clauses.
    VariableNameSet names;
    add_part_names(parts.front(), names);
    for (std::size_t i = 1; i < parts.size(); ++i) {
      if (!part_touches(parts[i], names)) {
        push_warning(DiagnosticCode::CartesianProduct,
                     "MATCH pattern contains disconnected parts that will produce a Cartesian "
                     "product; add a relationship or shared variable to connect them");
        break;
      }
      add_part_names(parts[i], names);
    }
  }
  if (!match.where_clause) {
    const bool unlabeled = std::any_of(parts.begin(), parts.end(), [](const auto& part) {
      const auto& chain = part.element.chain;
      return part.element.start.labels.empty() ||
             std::any_of(chain.begin(), chain.end(),
                         [](const auto& step) { return step.node.labels.empty(); });
    });
    if (unlabeled)
      push_warning(DiagnosticCode::UnlabeledFullScan,
                   "MATCH contains an unlabeled node with no WHERE clause; this will scan all "
                   "nodes in the graph");
  }
  for (const auto& part : parts) {
    for (const auto& step : part.element.chain) {
      const auto& range = step.relationship.range;
      if (range && !range->max)
        push_warning(DiagnosticCode::UnboundedVarLength,
                     "Variable-length relationship without an upper bound ([*] or [*n..]) may "
                     "cause unbounded traversal");
    }
  }
}

void SemanticValidator::validate_updating_clause(const ast::UpdatingClause& clause) {
  // FOREACH nests, so its frame is kept apart from the other clauses' checks.
  if (const auto* f = std::get_if<ast::UpdatingClause::Foreach>(&clause.node)) {
    validate_expr(f->list);
    // The variable, a list element with no labels or types whatever an
    // outer variable of its name holds, and what each clause of the body
    // binds are bound for the rest of the body only.
    const std::size_t mark = saved_.size();
    ++foreach_depth_;
    bind_empty(f->variable);
    for (const auto& inner : f->body) {
      collect_updating_bindings(inner);
      validate_updating_clause(inner);
    }
    --foreach_depth_;
    restore_bindings(mark);
    return;
  }
  validate_flat_updating_clause(clause);
}

void SemanticValidator::validate_flat_updating_clause(const ast::UpdatingClause& clause) {
  std::visit(
      [this](const auto& c) {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, ast::UpdatingClause::Create>) {
          for (const auto& part : c.pattern.parts) validate_pattern_element(part.element);
        } else if constexpr (std::is_same_v<C, ast::UpdatingClause::Merge>) {
          // ON MATCH and ON CREATE items are not checked.
          validate_pattern_element(c.pattern_part.element);
        } else if constexpr (std::is_same_v<C, ast::UpdatingClause::Set>) {
          for (const auto& item : c.items) {
            if (const auto* p = std::get_if<ast::SetItem::Property>(&item.node)) {
              validate_property_access(p->property.variable, p->property.keys);
              if (contains_aggregate(p->value)) push_aggregate_misuse("SET");
              validate_expr(p->value);
            } else if (const auto* v = std::get_if<ast::SetItem::Variable>(&item.node)) {
              if (contains_aggregate(v->value)) push_aggregate_misuse("SET");
              validate_expr(v->value);
            } else if (const auto* vm = std::get_if<ast::SetItem::VariableMerge>(&item.node)) {
              if (contains_aggregate(vm->value)) push_aggregate_misuse("SET");
              validate_expr(vm->value);
            } else {
              check_labels(std::get<ast::SetItem::Labels>(item.node).labels,
                           DiagnosticCode::UnknownNodeLabelInSet, "Unknown node label in SET: :");
            }
          }
        } else if constexpr (std::is_same_v<C, ast::UpdatingClause::Remove>) {
          for (const auto& item : c.items) {
            if (const auto* p = std::get_if<ast::RemoveItem::Property>(&item.node)) {
              validate_property_access(p->property.variable, p->property.keys);
            } else {
              check_labels(std::get<ast::RemoveItem::Labels>(item.node).labels,
                           DiagnosticCode::UnknownNodeLabelInRemove,
                           "Unknown node label in REMOVE: :");
            }
          }
        } else if constexpr (std::is_same_v<C, ast::UpdatingClause::Delete>) {
          for (const auto& e : c.expressions) {
            if (contains_aggregate(e)) push_aggregate_misuse("DELETE");
            validate_expr(e);
          }
        } else {
          static_assert(std::is_same_v<C, ast::UpdatingClause::Foreach>);  // handled before
        }
      },
      clause.node);
}

void SemanticValidator::validate_pattern_element(const ast::PatternElement& element) {
  validate_node_pattern(element.start);
  const ast::NodePattern* left = &element.start;
  for (const auto& step : element.chain) {
    validate_rel_pattern_with_endpoints(step.relationship, left->labels, step.node.labels);
    validate_node_pattern(step.node);
    left = &step.node;
  }
}

void SemanticValidator::validate_node_pattern(const ast::NodePattern& node) {
  check_labels(node.labels, DiagnosticCode::UnknownNodeLabel, "Unknown node label: :");
  const ast::ExprMap* map = inline_map(node.properties);
  if (!map || node.labels.empty()) return;
  // Past a few labels, those the schema lacks are passed over once, not once per key.
  std::vector<const std::string*> known;
  if (node.labels.size() > Scope::kListedMax) {
    NameList::work() += node.labels.size();
    for (const auto& label : node.labels)
      if (node_entry(label)) known.push_back(&label);
    if (known.empty()) return;
  }
  const std::size_t count = known.empty() ? node.labels.size() : known.size();
  for (const auto& entry : *map) {
    const std::string& key = entry.first;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string& label = known.empty() ? node.labels[i] : *known[i];
      if (!known.empty()) ++NameList::work();
      const HashSet* properties = node_entry(label);
      if (!properties || properties->contains(NameOf(key).get())) continue;
      push_unknown_property(DiagnosticCode::UnknownNodeProperty,
                            "Unknown property '" + key + "' for node label :" + label, key,
                            Among::label_properties, label);
    }
  }
}

void SemanticValidator::validate_rel_pattern_with_endpoints(
    const ast::RelationshipPattern& rel, const std::vector<std::string>& left_labels,
    const std::vector<std::string>& right_labels) {
  const ast::ExprMap* map = inline_map(rel.properties);
  for (const auto& type : rel.types) {
    const schema::RelationshipDef* found = rel_entry(type);
    if (!found) {
      push_unknown_label(DiagnosticCode::UnknownRelType, "Unknown relationship type: :", type,
                         Among::types);
      continue;
    }
    const schema::RelationshipDef& def = *found;
    if (map) {
      for (const auto& entry : *map) {
        const std::string& key = entry.first;
        if (def.properties.contains(NameOf(key).get())) continue;
        push_unknown_property(DiagnosticCode::UnknownRelProperty,
                              "Unknown property '" + key + "' for relationship type :" + type, key,
                              Among::type_properties, type);
      }
    }
    switch (rel.direction) {
      case ast::Direction::LeftToRight:
        check_endpoint_label(left_labels, def.source, "source", type);
        check_endpoint_label(right_labels, def.target, "target", type);
        break;
      case ast::Direction::RightToLeft:
        check_endpoint_label(right_labels, def.source, "source", type);
        check_endpoint_label(left_labels, def.target, "target", type);
        break;
      case ast::Direction::Undirected: break;
    }
  }
}

// A relationship of many types checks each against the same two nodes.
const SemanticValidator::EndpointLabels& SemanticValidator::endpoint_labels(
    const std::vector<std::string>& labels) {
  if (!endpoint_labels_) endpoint_labels_ = std::make_unique<std::array<EndpointLabels, 2>>();
  auto& kept = *endpoint_labels_;
  for (const EndpointLabels& e : kept)
    if (e.labels == &labels) return e;
  EndpointLabels& e = kept[endpoint_next_];
  endpoint_next_ = (endpoint_next_ + 1) % kept.size();
  e.labels = &labels;
  e.names.clear();
  e.any_known = false;
  NameList::work() += labels.size();
  for (const auto& l : labels) {
    e.names.insert(std::string(NameOf(l).get()));
    if (!e.any_known && node_entry(l)) e.any_known = true;
  }
  return e;
}

// Reports only a node with a known label and none equal to the expected one;
// unknown labels already have their E201.
void SemanticValidator::check_endpoint_label(const std::vector<std::string>& labels,
                                             std::string_view expected, std::string_view role,
                                             std::string_view rel_type) {
  if (labels.empty()) return;
  if (labels.size() > Scope::kListedMax) {
    ++NameList::work();
    const EndpointLabels& facts = endpoint_labels(labels);
    if (facts.names.contains(expected) || !facts.any_known) return;
  } else {
    if (std::any_of(labels.begin(), labels.end(), [&](const std::string& l) {
          return quoted(l) ? NameOf(l).get() == expected : l == expected;
        }))
      return;
    if (std::none_of(labels.begin(), labels.end(),
                     [&](const std::string& l) { return node_entry(l) != nullptr; }))
      return;
  }
  std::size_t size = 64 + rel_type.size() + role.size() + expected.size();
  for (const auto& l : labels) size += l.size() + 3;
  std::string message;
  message.reserve(size);
  message += "Relationship :";
  message += rel_type;
  message += " expects ";
  message += role;
  message += " label :";
  message += expected;
  message += ", but node has label(s): ";
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (i) message += ", ";
    message += ':';
    message += labels[i];
  }
  push_error(DiagnosticCode::WrongEndpointLabel, std::move(message), std::nullopt);
}

// ---- Expressions ----

void SemanticValidator::validate_property_access(std::string_view variable,
                                                 std::span<const std::string> keys) {
  // An unbound variable is reported elsewhere, if at all.
  if (const Scope::Binding* bound = bindings.find(variable)) check_property_keys(*bound, keys);
}

void SemanticValidator::check_property_keys(const Scope::Binding& bound,
                                            std::span<const std::string> keys) {
  if (bound.names.size() > Scope::kListedMax) return check_long_property_keys(bound, keys);
  const std::string_view variable = bound.name;
  // Names are the outer loop, keys the inner one. A name both a label and a
  // type counts as a label; a name the schema lacks was reported where written.
  bound.names.for_each([&](const std::string_view name) {
    if (const HashSet* properties = node_entry(name)) {
      for (const auto& key : keys) {
        if (properties->contains(NameOf(key).get())) continue;
        push_missing_key(variable, name, key, false);
      }
    } else if (const schema::RelationshipDef* def = rel_entry(name)) {
      for (const auto& key : keys) {
        if (def->properties.contains(NameOf(key).get())) continue;
        push_missing_key(variable, name, key, true);
      }
    }
  });
}

// The findings of check_property_keys, in its order, at the cost of the
// findings and of what the buffers have not yet looked at: each buffer
// resolves its names in the schema once, and checks each key against those
// once, then answers for any list over it.
void SemanticValidator::check_long_property_keys(const Scope::Binding& bound,
                                                 std::span<const std::string> keys) {
  std::array<NameList::Segment, NameList::kMaxDepth + 1> parts;
  const std::size_t n = bound.names.segments(parts);
  struct Missing {
    std::size_t position;  // in the list
    std::size_t key;       // in `keys`
    const NameList::Buffer::Known* name;
    const NameList::Buffer* buffer;
  };
  std::vector<Missing> missing;
  std::size_t& work = NameList::work();
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const NameOf key(keys[k]);
    std::size_t start = 0;  // of the segment, in the list
    for (std::size_t i = 0; i < n; ++i) {
      ++work;
      // The buffer's memo is no part of the names it shares.
      auto& buffer = const_cast<NameList::Buffer&>(*parts[i].buffer);
      if (!buffer.checks) buffer.checks = std::make_unique<NameList::Buffer::Checks>();
      auto& checks = *buffer.checks;
      for (; checks.resolved < buffer.own.size(); ++checks.resolved) {
        ++work;
        const std::string_view name = buffer.own[checks.resolved];
        if (const HashSet* properties = node_entry(name)) {
          checks.known.push_back({checks.resolved, properties, false});
        } else if (const schema::RelationshipDef* def = rel_entry(name)) {
          checks.known.push_back({checks.resolved, &def->properties, true});
        }
      }
      auto it = checks.by_key.find(key.get());
      if (it == checks.by_key.end())
        it = checks.by_key.emplace(key.get(), NameList::Buffer::Lacking{}).first;
      auto& lacking = it->second;
      for (; lacking.checked < checks.known.size(); ++lacking.checked) {
        ++work;
        if (!checks.known[lacking.checked].properties->contains(key.get()))
          lacking.known.push_back(lacking.checked);
      }
      for (const std::size_t j : lacking.known) {
        ++work;
        const auto& known = checks.known[j];
        if (known.position >= parts[i].count) break;
        missing.push_back({start + known.position, k, &known, &buffer});
      }
      start += parts[i].count;
    }
  }
  // By name, then by key.
  if (keys.size() > 1)
    std::stable_sort(missing.begin(), missing.end(),
                     [](const Missing& a, const Missing& b) { return a.position < b.position; });
  const std::string_view variable = bound.name;
  for (const Missing& m : missing) {
    const std::string& key = keys[m.key];
    const std::string_view name = m.buffer->own[m.name->position];
    push_missing_key(variable, name, key, m.name->type);
  }
}

// E303 or E304: `key` lacking on `variable`'s label or relationship type `name`.
void SemanticValidator::push_missing_key(std::string_view variable, std::string_view name,
                                         const std::string& key, bool type) {
  // Room for the hint as well, whose match is at most a few bytes longer than the key.
  std::string message;
  message.reserve(64 + 2 * key.size() + variable.size() + name.size());
  message += "Unknown property '";
  message += key;
  message += "' on variable '";
  message += variable;
  message += type ? "' with relationship type :" : "' with label :";
  message += name;
  push_unknown_property(
      type ? DiagnosticCode::UnknownRelPropertyOnVar : DiagnosticCode::UnknownNodePropertyOnVar,
      std::move(message), key, type ? Among::type_properties : Among::label_properties, name,
      variable);
}

// The key's check, then the variable's own: one search of the scope serves both.
void SemanticValidator::validate_variable_property(std::string_view variable,
                                                   const std::string& key) {
  if (const Scope::Binding* bound = bindings.find(variable)) {
    check_property_keys(*bound, std::span<const std::string>(&key, 1));
  } else {
    push_unbound(variable);
  }
}

void SemanticValidator::push_unbound(std::string_view variable) {
  // A name inside a part of a grouping WITH's WHERE or ORDER BY written as
  // one of its projected expressions stands for the value projected. Those
  // parts are found only once a name there is unbound, which most such
  // clauses never have.
  if (grouping_with_) {
    if (!unbound_allowed_) unbound_allowed_ = projected_occurrences();
    if (std::binary_search(unbound_allowed_->begin(), unbound_allowed_->end(), variable.data(),
                           std::less<>()))
      return;
  }
  std::string message = "Variable '";
  message += variable;
  message += "' is not bound in this scope";
  push_error(DiagnosticCode::UnboundVariable, std::move(message), std::nullopt);
}

void SemanticValidator::validate_pagination_expr(const ast::Expr& expr, std::string_view clause) {
  const char* got = nullptr;
  DiagnosticCode code{};
  switch (expr.node.index()) {
    case 2: code = DiagnosticCode::PaginationTypeString, got = "a string literal"; break;
    case 3: code = DiagnosticCode::PaginationTypeBool, got = "a boolean literal"; break;
    case 4: code = DiagnosticCode::PaginationTypeNull, got = "NULL"; break;
    case 1: code = DiagnosticCode::PaginationTypeFloat, got = "a float literal"; break;
    default: validate_expr(expr); return;
  }
  std::string message{clause};
  message += " expression must be an integer, got ";
  message += got;
  push_error(code, std::move(message), std::nullopt);
}

// One visitor per expression, given the ends of chains and, on the way back
// up a chain, its links (see validate_chain). Recursion follows the other
// children, whose depth the grammar's nesting bound keeps small. Frames hold
// only `v` and `this`.
struct SemanticValidator::ExprChecker {
  SemanticValidator& v;

  // Binds `name` for the span of an inner expression unless it is bound
  // already, in which case the outer binding (with its labels) stays.
  bool bind_temporary(const std::string& name) { return v.bindings.try_emplace(name).second; }
  void unbind(const std::string& name, bool bound_here) {
    if (bound_here) v.bindings.erase(name);
  }
  void opt(const std::optional<ast::Box<ast::Expr>>& e) {
    if (e) v.validate_expr(**e);
  }

  // A link's left operand, operand or base has been checked before it.
  template <class T>
  void operator()(const T& e) {
    if constexpr (TwoOperands<T>) {
      v.validate_expr(*e.rhs);
    } else if constexpr (OneOperand<T>) {
      // NOT, IS [NOT] NULL and unary minus hold only their operand.
    } else if constexpr (Quantifier<T>) {
      v.validate_expr(*e.list);
      const bool here = bind_temporary(e.variable);
      opt(e.predicate);
      unbind(e.variable, here);
    } else {
      // Literals, parameters and count(*) hold nothing to check.
      static_assert(Leaf<T>, "an expression variant without a check");
    }
  }
  void operator()(const ast::Expr::List& e) {
    for (const auto& item : e.items) v.validate_expr(item);
  }
  void operator()(const ast::Expr::Map& e) {
    for (const auto& entry : e.entries) v.validate_expr(entry.second);
  }
  void operator()(const ast::Expr::Variable& e) {
    if (!v.is_bound(e.name)) v.push_unbound(e.name);
  }
  // As a link, on a base other than a variable, it adds nothing.
  void operator()(const ast::Expr::PropertyAccess& e) {
    if (const auto* base = std::get_if<ast::Expr::Variable>(&e.expr->node))
      v.validate_variable_property(base->name, e.key);
  }
  void operator()(const ast::Expr::Index& e) { v.validate_expr(*e.index); }
  void operator()(const ast::Expr::Slice& e) {
    opt(e.from);
    opt(e.to);
  }
  void operator()(const ast::Expr::FunctionCall& e) {
    if (is_one_of(e.name, kNumericAggregates)) {
      for (const auto& arg : e.args)
        if (std::holds_alternative<ast::Expr::String>(arg.node))
          v.push_error(DiagnosticCode::AggregateStringArg,
                       "Aggregate function " + e.name +
                           "() received a string literal; expected a numeric expression",
                       std::nullopt);
    }
    for (const auto& arg : e.args) v.validate_expr(arg);
  }
  void operator()(const ast::Expr::Case& e) {
    opt(e.operand);
    for (const auto& alt : e.alternatives) {
      v.validate_expr(alt.condition);
      v.validate_expr(alt.result);
    }
    opt(e.else_expr);
  }
  void operator()(const ast::Expr::ListComprehension& e) {
    v.validate_expr(*e.list);
    const bool here = bind_temporary(e.variable);
    opt(e.filter);
    opt(e.projection);
    unbind(e.variable, here);
  }
  void operator()(const ast::Expr::Reduce& e) {
    v.validate_expr(*e.init);
    v.validate_expr(*e.list);
    // Both names are tested before either is bound.
    const bool acc_free = !v.is_bound(e.accumulator);
    const bool var_free = !v.is_bound(e.variable);
    if (acc_free) v.bindings.try_emplace(e.accumulator);
    if (var_free) v.bindings.try_emplace(e.variable);
    v.validate_expr(*e.projection);
    unbind(e.accumulator, acc_free);
    unbind(e.variable, var_free);
  }
  void operator()(const ast::Expr::ShortestPath& e) { v.validate_pattern_element(*e.pattern); }
  void operator()(const ast::Expr::Exists&) {}  // the subquery is not checked
};

void SemanticValidator::validate_expr(const ast::Expr& expr) {
  // Most expressions are no chain link, and are checked at once.
  if (!ast::chain_link(expr)) return std::visit(ExprChecker{*this}, expr.node);
  validate_chain(expr);
}

// A chain is walked in a loop: down its links to its first operand, which is
// checked first, then back up, each link checking what it holds besides its
// link (a right operand, an index, the bounds of a slice). A property access
// on a variable ends a chain: the key is checked with the variable.
void SemanticValidator::validate_chain(const ast::Expr& expr) {
  const std::size_t below = chain_.size;
  const ast::Expr* at = &expr;
  for (const ast::Expr* next; (next = ast::chain_next(*at));) {
    const auto* access = std::get_if<ast::Expr::PropertyAccess>(&at->node);
    if (access && std::holds_alternative<ast::Expr::Variable>(next->node)) break;
    chain_.push(at);
    at = next;
  }
  for (;;) {
    std::visit(ExprChecker{*this}, at->node);
    if (chain_.size == below) return;
    at = chain_.pop();
  }
}

namespace {

struct AggregateFinder {
  bool operator()(const ast::Expr::CountStar&) const { return true; }
  bool operator()(const ast::Expr::FunctionCall& e) const {
    if (is_one_of(e.name, kAggregates)) return true;
    return std::any_of(e.args.begin(), e.args.end(), SemanticValidator::contains_aggregate);
  }
  bool operator()(const ast::Expr::List& e) const {
    return std::any_of(e.items.begin(), e.items.end(), SemanticValidator::contains_aggregate);
  }
  bool operator()(const ast::Expr::Map& e) const {
    return std::any_of(e.entries.begin(), e.entries.end(), [](const auto& entry) {
      return SemanticValidator::contains_aggregate(entry.second);
    });
  }
  bool operator()(const ast::Expr::Index& e) const {
    return SemanticValidator::contains_aggregate(*e.index);
  }
  bool operator()(const ast::Expr::Case& e) const {
    auto has = [](const std::optional<ast::Box<ast::Expr>>& x) {
      return x && SemanticValidator::contains_aggregate(**x);
    };
    return has(e.operand) ||
           std::any_of(e.alternatives.begin(), e.alternatives.end(),
                       [](const auto& alt) {
                         return SemanticValidator::contains_aggregate(alt.condition) ||
                                SemanticValidator::contains_aggregate(alt.result);
                       }) ||
           has(e.else_expr);
  }
  // Operators, given without the link that contains_aggregate follows;
  // slices, comprehensions, quantifiers, reduce, shortestPath and EXISTS are
  // not looked into, and literals hold nothing.
  template <class T>
  bool operator()(const T& e) const {
    if constexpr (TwoOperands<T>) {
      return SemanticValidator::contains_aggregate(*e.rhs);
    } else {
      return false;
    }
  }
};

}  // namespace

// Along a chain in a loop, into the other children by recursion; the order
// does not show, since the search only answers whether there is one.
bool SemanticValidator::contains_aggregate(const ast::Expr& expr) {
  for (const ast::Expr* at = &expr; at; at = ast::chain_next(*at)) {
    if (std::visit(AggregateFinder{}, at->node)) return true;
    if (std::holds_alternative<ast::Expr::Slice>(at->node)) return false;
  }
  return false;
}

}  // namespace torvane::validator::semantic
