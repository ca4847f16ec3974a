#pragma once
// CypherGenerator: random queries of 13 fixed shapes whose labels, relationship
// types and properties come from one schema, reproducible from a seed.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "error/result.hpp"
#include "generator/random.hpp"
#include "keyed_hash.hpp"
#include "schema/schema.hpp"

namespace torvane::generator {

// The query types, in the order supported_types() lists them.
inline constexpr std::array<std::string_view, 13> kQueryTypes = {"match_return",
                                                                 "match_where_return",
                                                                 "create",
                                                                 "merge",
                                                                 "aggregation",
                                                                 "match_relationship",
                                                                 "create_relationship",
                                                                 "match_set",
                                                                 "match_delete",
                                                                 "with_chain",
                                                                 "distinct_return",
                                                                 "order_by",
                                                                 "unwind"};

// Cypher string literals, quotes included.
inline constexpr std::array<std::string_view, 5> kSampleStrings = {
    "\"Alice\"", "\"Bob\"", "\"Carol\"", "\"Neo4j\"", "\"hello\""};
inline constexpr std::array<std::string_view, 4> kParameters = {"$name", "$id", "$value", "$limit"};

class CypherGenerator {
 public:
  // Without a seed the state comes from the operating system (and throws
  // std::runtime_error when it has no entropy).
  CypherGenerator(schema::Schema schema, std::optional<std::uint64_t> seed);

  // One query of the named type; an unknown name makes no draw.
  Result<std::string, CypherError> generate(std::string_view query_type);

  // The building blocks; each advances the random state.
  std::string maybe_limit();
  std::optional<std::string> pick_node_prop(std::string_view label);
  std::string gen_property_map(std::string_view label);
  std::string gen_scalar_value();
  std::string gen_string_value();

  const Xoshiro128PlusPlus& rng() const { return rng_; }

 private:
  std::string_view draw_label();
  const std::string* draw_rel_type();
  const std::vector<std::string>* props_of(std::string_view label) const;
  const std::string* draw_node_prop(std::string_view label);

  void append_limit(std::string& out);
  void append_property_map(std::string& out, std::string_view label);
  void append_scalar_value(std::string& out);
  void append_string_value(std::string& out);
  void append_int(std::string& out, std::int64_t low, std::int64_t high);

  void build(std::size_t type, std::string& out);

  schema::Schema schema_;
  std::vector<std::string> labels_;
  std::vector<std::string> rel_types_;
  HashMap<std::vector<std::string>> node_props_;  // only looked up, never enumerated
  Xoshiro128PlusPlus rng_;
};

}  // namespace torvane::generator
