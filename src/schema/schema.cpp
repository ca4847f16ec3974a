#include "schema/schema.hpp"

#include <algorithm>

#include "json/reader.hpp"
#include "json/writer.hpp"

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

void write_set(json::Writer& w, const HashSet& set) {
  w.begin_array();
  for (const auto& name : set) w.string(name);
  w.end_array();
}

// The readers below follow the three levels of the JSON form; anything
// deeper is an unknown member, which skip_value() walks without recursion.
using json::Reader;

// ["name", ...]; a repeated name is stored once.
bool read_set(Reader& r, HashSet& out) {
  if (!r.begin_array("a sequence")) return false;
  std::string name;
  for (bool first = true;;) {
    switch (r.next_element(first)) {
      case Reader::Next::Error: return false;
      case Reader::Next::End: return true;
      case Reader::Next::Item:
        if (!r.read_string(name)) return false;
        out.insert(name);
    }
  }
}

// ["Source", "Target", [...]]
bool read_relationship(Reader& r, RelationshipDef& out) {
  static constexpr std::string_view kTuple = "a tuple of size 3";
  if (!r.begin_array(kTuple)) return false;
  bool first = true;
  for (std::size_t i = 0; i < 3; ++i) {
    switch (r.next_element(first)) {
      case Reader::Next::Error: return false;
      case Reader::Next::End: return r.fail_invalid_length(i, kTuple);
      case Reader::Next::Item: break;
    }
    if (!(i == 0   ? r.read_string(out.source)
          : i == 1 ? r.read_string(out.target)
                   : read_set(r, out.properties)))
      return false;
  }
  return r.end_array();
}

// {"Name": value, ...}, each value read by `read_value`; a repeated name
// replaces the earlier entry.
template <class T>
bool read_map(Reader& r, HashMap<T>& out, bool (*read_value)(Reader&, T&)) {
  if (!r.begin_object("a map")) return false;
  std::string name;
  for (bool first = true;;) {
    switch (r.next_key(first, &name)) {
      case Reader::Next::Error: return false;
      case Reader::Next::End: return true;
      case Reader::Next::Item: {
        T value;
        if (!read_value(r, value)) return false;
        out.insert_or_assign(name, std::move(value));
      }
    }
  }
}

// {"nodes": ..., "relationships": ...} in any order, other members skipped;
// or [nodes, relationships].
bool read_schema(Reader& r, Schema& s) {
  const int c = r.peek();
  if (c == '{') {
    r.bump();
    bool nodes = false, relationships = false;
    std::string key;
    for (bool first = true;;) {
      switch (r.next_key(first, &key, false)) {
        case Reader::Next::Error: return false;
        case Reader::Next::End:
          if (!nodes) return r.fail_here("missing field `nodes`");
          if (!relationships) return r.fail_here("missing field `relationships`");
          return true;
        case Reader::Next::Item: break;
      }
      // A duplicate is reported at its key, before the colon.
      if (key == "nodes") {
        if (nodes) return r.fail_here("duplicate field `nodes`");
        nodes = true;
        if (!r.read_colon() || !read_map(r, s.nodes, read_set)) return false;
      } else if (key == "relationships") {
        if (relationships) return r.fail_here("duplicate field `relationships`");
        relationships = true;
        if (!r.read_colon() || !read_map(r, s.relationships, read_relationship)) return false;
      } else if (!r.read_colon() || !r.skip_value()) {
        return false;
      }
    }
  }
  if (c == '[') {
    static constexpr std::string_view kStruct = "struct Schema with 2 elements";
    r.bump();
    bool first = true;
    for (std::size_t i = 0; i < 2; ++i) {
      switch (r.next_element(first)) {
        case Reader::Next::Error: return false;
        case Reader::Next::End: return r.fail_invalid_length(i, kStruct);
        case Reader::Next::Item: break;
      }
      if (!(i == 0 ? read_map(r, s.nodes, read_set) : read_map(r, s.relationships, read_relationship))) return false;
    }
    return r.end_array();
  }
  return r.fail_unexpected("struct Schema");
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

void Schema::serialize(std::string& out) const {
  json::Writer w(out);
  w.begin_object().key("nodes").begin_object();
  for (const auto& [label, properties] : nodes) {
    w.key(label);
    write_set(w, properties);
  }
  w.end_object().key("relationships").begin_object();
  for (const auto& [type, def] : relationships) {
    w.key(type).begin_array().string(def.source).string(def.target);
    write_set(w, def.properties);
    w.end_array();
  }
  w.end_object().end_object();
}

Result<Schema, std::string> Schema::deserialize(std::string_view text) {
  json::Reader r(text);
  Schema s;
  if (!read_schema(r, s) || !r.finish()) return Err{r.error_text()};
  return s;
}

Schema merged(const Schema& a, const Schema& b) {
  Schema m = a;
  for (const auto& [label, props] : b.nodes) {
    auto it = m.nodes.find(label);
    if (it == m.nodes.end()) {
      m.nodes.emplace(label, props);
    } else {
      it->second.insert(props.begin(), props.end());
    }
  }
  for (const auto& [rel_type, def] : b.relationships) {
    auto it = m.relationships.find(rel_type);
    if (it == m.relationships.end()) {
      m.relationships.emplace(rel_type, def);
    } else {
      // The receiver's endpoints stay; only the properties are united.
      it->second.properties.insert(def.properties.begin(), def.properties.end());
    }
  }
  return m;
}

}  // namespace torvane::schema
