#include "generator/generator.hpp"

#include <charconv>
#include <span>
#include <utility>

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

template <class... S>
void cat(std::string& out, const S&... parts) {
  (out.append(parts), ...);
}

std::vector<std::string> to_strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

Xoshiro128PlusPlus seeded(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128PlusPlus::seed_from_u64(*seed) : Xoshiro128PlusPlus::from_os_rng();
}

[[gnu::cold]] CypherError unknown_type(std::string_view query_type) {
  std::string msg = "Unknown query type: ";
  msg.append(query_type);
  return CypherError::generator(std::move(msg));
}

}  // namespace

CypherGenerator::CypherGenerator(schema::Schema schema, std::optional<std::uint64_t> seed)
    : schema_(std::move(schema)),
      labels_(to_strings(schema_.node_labels())),
      rel_types_(to_strings(schema_.rel_types())),
      rng_(seeded(seed)) {
  for (const std::string& label : labels_)
    node_props_.emplace(label, to_strings(schema_.node_properties(label)));
}

Result<std::string, CypherError> CypherGenerator::generate(std::string_view query_type) {
  for (std::size_t i = 0; i < kQueryTypes.size(); ++i) {
    if (kQueryTypes[i] == query_type) {
      std::string out;
      out.reserve(96);
      build(i, out);
      return out;
    }
  }
  return Err{unknown_type(query_type)};
}

std::string_view CypherGenerator::draw_label() {
  const std::string* label = choose(rng_, std::span<const std::string>(labels_));
  return label ? std::string_view(*label) : std::string_view("Node");
}

const std::string* CypherGenerator::draw_rel_type() {
  return choose(rng_, std::span<const std::string>(rel_types_));
}

const std::vector<std::string>* CypherGenerator::props_of(std::string_view label) const {
  auto it = node_props_.find(label);
  return it == node_props_.end() || it->second.empty() ? nullptr : &it->second;
}

const std::string* CypherGenerator::draw_node_prop(std::string_view label) {
  const std::vector<std::string>* props = props_of(label);
  return props ? choose(rng_, std::span<const std::string>(*props)) : nullptr;
}

std::optional<std::string> CypherGenerator::pick_node_prop(std::string_view label) {
  const std::string* prop = draw_node_prop(label);
  if (!prop) return std::nullopt;
  return *prop;
}

void CypherGenerator::append_int(std::string& out, std::int64_t low, std::int64_t high) {
  char buf[24];
  const auto end =
      std::to_chars(buf, buf + sizeof buf, random_range_inclusive(rng_, low, high)).ptr;
  out.append(buf, end);
}

void CypherGenerator::append_limit(std::string& out) {
  if (random_range(rng_, 0, 3) != 0) return;
  out.append(" LIMIT ");
  append_int(out, 1, 50);
}

std::string CypherGenerator::maybe_limit() {
  std::string out;
  append_limit(out);
  return out;
}

void CypherGenerator::append_property_map(std::string& out, std::string_view label) {
  const std::vector<std::string>* props = props_of(label);
  if (!props) return;
  const auto c = static_cast<std::uint32_t>(props->size());
  const std::uint32_t k = 1 + random_range(rng_, 0, c < 3 ? c : 3);
  const SampledIndices picked = sample(rng_, c, k);
  out.append(" {");
  for (std::uint32_t i = 0; i < picked.count; ++i) {
    if (i > 0) out.append(", ");
    cat(out, (*props)[picked.index[i]], ": ");
    append_scalar_value(out);
  }
  out.push_back('}');
}

std::string CypherGenerator::gen_property_map(std::string_view label) {
  std::string out;
  append_property_map(out, label);
  return out;
}

void CypherGenerator::append_scalar_value(std::string& out) {
  switch (random_range(rng_, 0, 4)) {
    case 0: out.append(kSampleStrings[random_range(rng_, 0, 5)]); break;
    case 1: append_int(out, 1, 100); break;
    case 2: out.append(random_range(rng_, 0, 2) == 0 ? "true" : "false"); break;
    default: out.append(kParameters[random_range(rng_, 0, 4)]); break;
  }
}

std::string CypherGenerator::gen_scalar_value() {
  std::string out;
  append_scalar_value(out);
  return out;
}

void CypherGenerator::append_string_value(std::string& out) {
  if (random_range(rng_, 0, 3) != 0)
    out.append(kSampleStrings[random_range(rng_, 0, 4)]);  // never "hello"
  else
    out.append(kParameters[random_range(rng_, 0, 3)]);  // never $limit
}

std::string CypherGenerator::gen_string_value() {
  std::string out;
  append_string_value(out);
  return out;
}

// Text is appended in the order of the draws, except where a template puts a
// later draw's text first (the OPTIONAL prefix).
void CypherGenerator::build(std::size_t type, std::string& out) {
  switch (type) {
    case kMatchReturn: {
      cat(out, "MATCH (n:", draw_label(), ") RETURN n");
      append_limit(out);
      return;
    }
    case kMatchWhereReturn: {
      const std::string_view label = draw_label();
      if (const std::string* prop = draw_node_prop(label)) {
        cat(out, "MATCH (n:", label, ") WHERE n.", *prop, " = ");
        append_string_value(out);
        cat(out, " RETURN n.", *prop);
      } else {
        cat(out, "MATCH (n:", label, ") RETURN n");
      }
      append_limit(out);
      return;
    }
    case kCreate:
    case kMerge: {
      const std::string_view label = draw_label();
      cat(out, type == kCreate ? "CREATE (n:" : "MERGE (n:", label);
      append_property_map(out, label);
      out.append(") RETURN n");
      return;
    }
    case kAggregation: {
      const std::string_view label = draw_label();
      if (const std::string* prop = draw_node_prop(label))
        cat(out, "MATCH (n:", label, ") RETURN count(n.", *prop, ") AS result");
      else
        cat(out, "MATCH (n:", label, ") RETURN count(n) AS result");
      return;
    }
    case kMatchRelationship: {
      if (const std::string* rel = draw_rel_type()) {
        const auto [src, tgt] = schema_.rel_src_tgt(*rel).value();
        if (random_range(rng_, 0, 4) == 0) out.append("OPTIONAL ");
        cat(out, "MATCH (a:", src, ")-[r:", *rel, "]->(b:", tgt, ") RETURN a, r, b");
      } else {
        cat(out, "MATCH (n:", draw_label(), ") RETURN n");
      }
      return;
    }
    case kCreateRelationship: {
      if (const std::string* rel = draw_rel_type()) {
        const auto [src, tgt] = schema_.rel_src_tgt(*rel).value();
        cat(out, "MATCH (a:", src, "),(b:", tgt, ") CREATE (a)-[r:", *rel, "]->(b) RETURN r");
      } else {
        cat(out, "CREATE (n:", draw_label(), ") RETURN n");
      }
      return;
    }
    case kMatchSet: {
      const std::string_view label = draw_label();
      cat(out, "MATCH (n:", label, ")");
      if (const std::string* prop = draw_node_prop(label)) {
        cat(out, " SET n.", *prop, " = ");
        append_string_value(out);
      }
      out.append(" RETURN n");
      return;
    }
    case kMatchDelete: {
      cat(out, "MATCH (n:", draw_label(), ") DETACH DELETE n");
      return;
    }
    case kWithChain: {
      const std::string_view label = draw_label();
      if (const std::string* prop = draw_node_prop(label))
        cat(out, "MATCH (n:", label, ") WITH n.", *prop, " AS val RETURN count(*)");
      else
        cat(out, "MATCH (n:", label, ") WITH n AS val RETURN count(*)");
      return;
    }
    case kDistinctReturn: {
      const std::string_view label = draw_label();
      cat(out, "MATCH (n:", label, ") RETURN DISTINCT n");
      if (const std::string* prop = draw_node_prop(label)) cat(out, ".", *prop);
      append_limit(out);
      return;
    }
    case kOrderBy: {
      const std::string_view label = draw_label();
      cat(out, "MATCH (n:", label, ") RETURN n ORDER BY n");
      const std::string* prop = draw_node_prop(label);
      if (prop) cat(out, ".", *prop);
      // Drawn even without a property.
      if (random_range(rng_, 0, 2) == 1 && prop) out.append(" DESC");
      append_limit(out);
      return;
    }
    case kUnwind: {
      const std::string_view label = draw_label();
      const std::string* prop = draw_node_prop(label);
      const std::uint32_t count = 2 + random_range(rng_, 0, 3);
      if (prop) {
        cat(out, "MATCH (n:", label, ") UNWIND n.", *prop, " AS item RETURN item");
        // The values are drawn all the same; they land past the end and are cut off.
        const std::size_t keep = out.size();
        for (std::uint32_t i = 0; i < count; ++i) append_scalar_value(out);
        out.resize(keep);
      } else {
        out.append("UNWIND [");
        for (std::uint32_t i = 0; i < count; ++i) {
          if (i > 0) out.append(", ");
          append_scalar_value(out);
        }
        out.append("] AS item RETURN item");
      }
      return;
    }
    default: throw std::logic_error("unknown query type index");
  }
}

}  // namespace torvane::generator
