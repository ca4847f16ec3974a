#pragma once
// CypherGenerator: random queries of 13 fixed shapes whose labels, relationship
// types and properties come from one schema, reproducible from a seed. A name
// that is no plain identifier, or is a reserved word, is written between
// backticks, so that every query reads back with the schema's own names.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "error/result.hpp"
#include "generator/random.hpp"
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

  // The building blocks; each advances the random state. pick_node_prop
  // gives the schema's name; gen_property_map writes names as a query does.
  std::string maybe_limit();
  std::optional<std::string> pick_node_prop(std::string_view label);
  std::string gen_property_map(std::string_view label);
  std::string gen_scalar_value();
  std::string gen_string_value();

  const Xoshiro128PlusPlus& rng() const { return rng_; }

 private:
  // A drawn label: its position in labels_, or npos for the "Node" fallback.
  struct Label {
    std::size_t index;
    std::string_view name;
  };
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // A schema name, and the form a query writes it in. Draws are made over the
  // names; only the text uses the written forms.
  struct Name {
    std::string raw;
    std::string written;
  };

  static std::vector<Name> to_names(const std::vector<std::string_view>& names);

  class Writer;

  Label draw_label();
  std::size_t label_index(std::string_view label) const;
  const std::vector<Name>* props_of(std::size_t label) const;
  const Name* draw_node_prop(std::size_t label);

  void append_limit(Writer& out);
  void append_property_map(Writer& out, std::size_t label);
  // Draws one value; appends it only when Keep is set.
  template <bool Keep>
  void scalar_value(Writer& out);
  void append_string_value(Writer& out);
  void append_int(Writer& out, std::int64_t low, std::int64_t high);

  void build(std::size_t type, Writer& out);

  schema::Schema schema_;
  std::vector<Name> labels_;     // sorted by name
  std::vector<Name> rel_types_;  // sorted by name
  // Sorted property names of labels_[i], and the written source and target
  // labels of rel_types_[i], so a query looks nothing up by name.
  std::vector<std::vector<Name>> node_props_;
  std::vector<std::array<std::string, 2>> rel_ends_;
  Xoshiro128PlusPlus rng_;
  // Reused between calls: a query is written here, then copied out at its size.
  std::vector<char> scratch_;
};

}  // namespace torvane::generator
