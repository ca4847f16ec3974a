#include "generator/generator.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <span>
#include <utility>

#include "parser/names.hpp"

namespace torvane::generator {
namespace {

enum QueryType : std::size_t {
  kMatchReturn,
  kMatchWhereReturn,
  kCreate,
  kMerge,
  kAggregation,
  kMatchRelationship,
  kCreateRelationship,
  kMatchSet,
  kMatchDelete,
  kWithChain,
  kDistinctReturn,
  kOrderBy,
  kUnwind,
};

Xoshiro128PlusPlus seeded(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128PlusPlus::seed_from_u64(*seed) : Xoshiro128PlusPlus::from_os_rng();
}

[[gnu::cold]] CypherError unknown_type(std::string_view query_type) {
  std::string msg = "Unknown query type: ";
  msg.append(query_type);
  return CypherError::generator(std::move(msg));
}

}  // namespace

// Appends to the scratch buffer with one inline length check per piece; the
// buffer grows only for names longer than any seen before.
class CypherGenerator::Writer {
 public:
  explicit Writer(std::vector<char>& buf) : buf_(buf), at_(buf.data()), end_(at_ + buf.size()) {}

  void append(std::string_view s) {
    if (static_cast<std::size_t>(end_ - at_) < s.size()) [[unlikely]]
      grow(s.size());
    std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
  }
  // A literal's length comes from its type, so nothing is measured at run time.
  template <std::size_t N>
  void append(const char (&s)[N]) {
    append(std::string_view(s, N - 1));
  }
  void append(const std::string& s) { append(std::string_view(s)); }
  void push_back(char c) { append(std::string_view(&c, 1)); }

  template <class... S>
  void cat(const S&... parts) {
    (append(parts), ...);
  }

  std::string str() const { return std::string(buf_.data(), at_); }

 private:
  [[gnu::noinline]] void grow(std::size_t need) {
    const std::size_t used = static_cast<std::size_t>(at_ - buf_.data());
    buf_.resize(std::max(2 * buf_.size(), used + need));
    at_ = buf_.data() + used;
    end_ = buf_.data() + buf_.size();
  }

  std::vector<char>& buf_;
  char* at_;
  char* end_;
};

std::vector<CypherGenerator::Name> CypherGenerator::to_names(
    const std::vector<std::string_view>& names) {
  std::vector<Name> out;
  out.reserve(names.size());
  for (const std::string_view n : names) out.push_back({std::string(n), parser::written_name(n)});
  return out;
}

CypherGenerator::CypherGenerator(schema::Schema schema, std::optional<std::uint64_t> seed)
    : schema_(std::move(schema)),
      labels_(to_names(schema_.node_labels())),
      rel_types_(to_names(schema_.rel_types())),
      rng_(seeded(seed)) {
  node_props_.reserve(labels_.size());
  for (const Name& label : labels_)
    node_props_.push_back(to_names(schema_.node_properties(label.raw)));
  rel_ends_.reserve(rel_types_.size());
  for (const Name& rel : rel_types_) {
    const auto [source, target] = schema_.rel_src_tgt(rel.raw).value();
    rel_ends_.push_back({parser::written_name(source), parser::written_name(target)});
  }
  scratch_.resize(256);
}

Result<std::string, CypherError> CypherGenerator::generate(std::string_view query_type) {
  for (std::size_t i = 0; i < kQueryTypes.size(); ++i) {
    if (kQueryTypes[i] == query_type) {
      Writer out(scratch_);
      build(i, out);
      return out.str();
    }
  }
  return Err{unknown_type(query_type)};
}

CypherGenerator::Label CypherGenerator::draw_label() {
  if (labels_.empty()) return {npos, "Node"};
  const std::size_t i = random_range(rng_, 0, static_cast<std::uint32_t>(labels_.size()));
  return {i, labels_[i].written};
}

std::size_t CypherGenerator::label_index(std::string_view label) const {
  const auto it = std::lower_bound(labels_.begin(), labels_.end(), label,
                                   [](const Name& a, std::string_view b) { return a.raw < b; });
  return it != labels_.end() && it->raw == label ? static_cast<std::size_t>(it - labels_.begin())
                                                 : npos;
}

const std::vector<CypherGenerator::Name>* CypherGenerator::props_of(std::size_t label) const {
  return label == npos || node_props_[label].empty() ? nullptr : &node_props_[label];
}

const CypherGenerator::Name* CypherGenerator::draw_node_prop(std::size_t label) {
  const std::vector<Name>* props = props_of(label);
  return props ? choose(rng_, std::span<const Name>(*props)) : nullptr;
}

std::optional<std::string> CypherGenerator::pick_node_prop(std::string_view label) {
  const Name* prop = draw_node_prop(label_index(label));
  if (!prop) return std::nullopt;
  return prop->raw;
}

void CypherGenerator::append_int(Writer& out, std::int64_t low, std::int64_t high) {
  char buf[24];
  const auto end =
      std::to_chars(buf, buf + sizeof buf, random_range_inclusive(rng_, low, high)).ptr;
  out.append(std::string_view(buf, end));
}

void CypherGenerator::append_limit(Writer& out) {
  if (random_range(rng_, 0, 3) != 0) return;
  out.append(" LIMIT ");
  append_int(out, 1, 50);
}

std::string CypherGenerator::maybe_limit() {
  Writer out(scratch_);
  append_limit(out);
  return out.str();
}

void CypherGenerator::append_property_map(Writer& out, std::size_t label) {
  const std::vector<Name>* props = props_of(label);
  if (!props) return;
  const auto c = static_cast<std::uint32_t>(props->size());
  const std::uint32_t k = 1 + random_range(rng_, 0, c < 3 ? c : 3);
  const SampledIndices picked = sample(rng_, c, k);
  out.append(" {");
  for (std::uint32_t i = 0; i < picked.count; ++i) {
    if (i > 0) out.append(", ");
    out.cat((*props)[picked.index[i]].written, ": ");
    scalar_value<true>(out);
  }
  out.push_back('}');
}

std::string CypherGenerator::gen_property_map(std::string_view label) {
  Writer out(scratch_);
  append_property_map(out, label_index(label));
  return out.str();
}

template <bool Keep>
void CypherGenerator::scalar_value(Writer& out) {
  switch (random_range(rng_, 0, 4)) {
    case 0: {
      const std::string_view s = kSampleStrings[random_range(rng_, 0, 5)];
      if constexpr (Keep) out.append(s);
      break;
    }
    case 1: {
      const std::int64_t n = random_range_inclusive(rng_, 1, 100);
      if constexpr (Keep) {
        char buf[4];
        out.append(std::string_view(buf, std::to_chars(buf, buf + sizeof buf, n).ptr));
      }
      break;
    }
    case 2: {
      const bool t = random_range(rng_, 0, 2) == 0;
      if constexpr (Keep) out.append(t ? std::string_view("true") : std::string_view("false"));
      break;
    }
    default: {
      const std::string_view p = kParameters[random_range(rng_, 0, 4)];
      if constexpr (Keep) out.append(p);
      break;
    }
  }
}

std::string CypherGenerator::gen_scalar_value() {
  Writer out(scratch_);
  scalar_value<true>(out);
  return out.str();
}

void CypherGenerator::append_string_value(Writer& out) {
  if (random_range(rng_, 0, 3) != 0)
    out.append(kSampleStrings[random_range(rng_, 0, 4)]);  // never "hello"
  else
    out.append(kParameters[random_range(rng_, 0, 3)]);  // never $limit
}

std::string CypherGenerator::gen_string_value() {
  Writer out(scratch_);
  append_string_value(out);
  return out.str();
}

// Text is appended in the order of the draws, except where a template puts a
// later draw's text first (the OPTIONAL prefix).
void CypherGenerator::build(std::size_t type, Writer& out) {
  switch (type) {
    case kMatchReturn: {
      out.cat("MATCH (n:", draw_label().name, ") RETURN n");
      append_limit(out);
      return;
    }
    case kMatchWhereReturn: {
      const Label label = draw_label();
      if (const Name* prop = draw_node_prop(label.index)) {
        out.cat("MATCH (n:", label.name, ") WHERE n.", prop->written, " = ");
        append_string_value(out);
        out.cat(" RETURN n.", prop->written);
      } else {
        out.cat("MATCH (n:", label.name, ") RETURN n");
      }
      append_limit(out);
      return;
    }
    case kCreate:
    case kMerge: {
      const Label label = draw_label();
      out.cat(std::string_view(type == kCreate ? "CREATE (n:" : "MERGE (n:"), label.name);
      append_property_map(out, label.index);
      out.append(") RETURN n");
      return;
    }
    case kAggregation: {
      const Label label = draw_label();
      if (const Name* prop = draw_node_prop(label.index))
        out.cat("MATCH (n:", label.name, ") RETURN count(n.", prop->written, ") AS result");
      else
        out.cat("MATCH (n:", label.name, ") RETURN count(n) AS result");
      return;
    }
    case kMatchRelationship: {
      if (rel_types_.empty()) {
        out.cat("MATCH (n:", draw_label().name, ") RETURN n");
        return;
      }
      const std::size_t rel = random_range(rng_, 0, static_cast<std::uint32_t>(rel_types_.size()));
      if (random_range(rng_, 0, 4) == 0) out.append("OPTIONAL ");
      out.cat("MATCH (a:", rel_ends_[rel][0], ")-[r:", rel_types_[rel].written,
              "]->(b:", rel_ends_[rel][1], ") RETURN a, r, b");
      return;
    }
    case kCreateRelationship: {
      if (rel_types_.empty()) {
        out.cat("CREATE (n:", draw_label().name, ") RETURN n");
        return;
      }
      const std::size_t rel = random_range(rng_, 0, static_cast<std::uint32_t>(rel_types_.size()));
      out.cat("MATCH (a:", rel_ends_[rel][0], "),(b:", rel_ends_[rel][1],
              ") CREATE (a)-[r:", rel_types_[rel].written, "]->(b) RETURN r");
      return;
    }
    case kMatchSet: {
      const Label label = draw_label();
      out.cat("MATCH (n:", label.name, ")");
      if (const Name* prop = draw_node_prop(label.index)) {
        out.cat(" SET n.", prop->written, " = ");
        append_string_value(out);
      }
      out.append(" RETURN n");
      return;
    }
    case kMatchDelete: {
      out.cat("MATCH (n:", draw_label().name, ") DETACH DELETE n");
      return;
    }
    case kWithChain: {
      const Label label = draw_label();
      if (const Name* prop = draw_node_prop(label.index))
        out.cat("MATCH (n:", label.name, ") WITH n.", prop->written, " AS val RETURN count(*)");
      else
        out.cat("MATCH (n:", label.name, ") WITH n AS val RETURN count(*)");
      return;
    }
    case kDistinctReturn: {
      const Label label = draw_label();
      out.cat("MATCH (n:", label.name, ") RETURN DISTINCT n");
      if (const Name* prop = draw_node_prop(label.index)) out.cat(".", prop->written);
      append_limit(out);
      return;
    }
    case kOrderBy: {
      const Label label = draw_label();
      out.cat("MATCH (n:", label.name, ") RETURN n ORDER BY n");
      const Name* prop = draw_node_prop(label.index);
      if (prop) out.cat(".", prop->written);
      // Drawn even without a property.
      if (random_range(rng_, 0, 2) == 1 && prop) out.append(" DESC");
      append_limit(out);
      return;
    }
    case kUnwind: {
      const Label label = draw_label();
      const Name* prop = draw_node_prop(label.index);
      const std::uint32_t count = 2 + random_range(rng_, 0, 3);
      if (prop) {
        out.cat("MATCH (n:", label.name, ") UNWIND n.", prop->written, " AS item RETURN item");
        // The values are drawn all the same, and not used.
        for (std::uint32_t i = 0; i < count; ++i) scalar_value<false>(out);
      } else {
        out.append("UNWIND [");
        for (std::uint32_t i = 0; i < count; ++i) {
          if (i > 0) out.append(", ");
          scalar_value<true>(out);
        }
        out.append("] AS item RETURN item");
      }
      return;
    }
    default: throw std::logic_error("unknown query type index");
  }
}

}  // namespace torvane::generator
