#pragma once
// The graph schema: node labels with their property names, and relationship
// types with their source label, target label and property names.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/result.hpp"
#include "keyed_hash.hpp"

namespace torvane::schema {

struct RelationshipDef {
  std::string source;
  std::string target;
  HashSet properties;
};

struct Schema {
  HashMap<HashSet> nodes;
  HashMap<RelationshipDef> relationships;

  // Sorted byte-wise ascending; views into the schema's own strings.
  std::vector<std::string_view> node_labels() const;
  std::vector<std::string_view> rel_types() const;
  std::vector<std::string_view> node_properties(std::string_view label) const;
  std::vector<std::string_view> rel_properties(std::string_view rel_type) const;
  std::optional<std::pair<std::string_view, std::string_view>> rel_src_tgt(
      std::string_view rel_type) const;

  // Appends the compact JSON form, entries in map order.
  void serialize(std::string& out) const;
  // Reads the JSON form; the error is the complete "{} at line {} column {}" text.
  static Result<Schema, std::string> deserialize(std::string_view text);
};

// The union of two schemas: every label and type of either, with the
// properties of both where both have it; a type in both keeps a's endpoints.
Schema merged(const Schema& a, const Schema& b);

}  // namespace torvane::schema
