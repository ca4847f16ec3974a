#include "schema/schema.hpp"

#include <algorithm>

namespace torvane::schema {
namespace {

template <class Range, class Key>
std::vector<std::string_view> sorted_views(const Range& range, Key key) {
  std::vector<std::string_view> out;
  out.reserve(range.size());
  for (const auto& entry : range) out.emplace_back(key(entry));
  std::sort(out.begin(), out.end());  // string_view compares bytes as unsigned char
  return out;
}

std::vector<std::string_view> sorted_set(const HashSet& set) {
  return sorted_views(set, [](const std::string& s) -> const std::string& { return s; });
}

}  // namespace

std::vector<std::string_view> Schema::node_labels() const {
  return sorted_views(nodes, [](const auto& kv) -> const std::string& { return kv.first; });
}

std::vector<std::string_view> Schema::rel_types() const {
  return sorted_views(relationships, [](const auto& kv) -> const std::string& { return kv.first; });
}

std::vector<std::string_view> Schema::node_properties(std::string_view label) const {
  auto it = nodes.find(label);
  return it == nodes.end() ? std::vector<std::string_view>{} : sorted_set(it->second);
}

std::vector<std::string_view> Schema::rel_properties(std::string_view rel_type) const {
  auto it = relationships.find(rel_type);
  return it == relationships.end() ? std::vector<std::string_view>{}
                                   : sorted_set(it->second.properties);
}

std::optional<std::pair<std::string_view, std::string_view>> Schema::rel_src_tgt(
    std::string_view rel_type) const {
  auto it = relationships.find(rel_type);
  if (it == relationships.end()) return std::nullopt;
  return std::pair<std::string_view, std::string_view>{it->second.source, it->second.target};
}

}  // namespace torvane::schema
