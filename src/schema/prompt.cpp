#include "schema/prompt.hpp"

#include <string_view>
#include <vector>

namespace torvane::schema {
namespace {

void append_joined(std::string& out, const std::vector<std::string_view>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += ", ";
    out += names[i];
  }
}

// The value, then spaces up to `width` characters (Unicode scalar values).
void append_padded(std::string& out, std::string_view s, std::size_t width) {
  std::size_t chars = 0;
  for (char c : s) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  out += s;
  if (chars < width) out.append(width - chars, ' ');
}

// A Markdown cell: the names, or a dash for none.
void append_cell(std::string& out, const std::vector<std::string_view>& names) {
  if (names.empty()) {
    out += "\u2014";
  } else {
    append_joined(out, names);
  }
}

// A Cypher property map of the names alone, nothing for none.
void append_name_map(std::string& out, const std::vector<std::string_view>& names) {
  if (names.empty()) return;
  out += " {";
  append_joined(out, names);
  out += '}';
}

}  // namespace

std::string render_prompt(const Schema& s) {
  std::string out = "Graph Schema\n============\n\nNodes\n-----\n";
  for (std::string_view label : s.node_labels()) {
    auto props = s.node_properties(label);
    out += "  :";
    if (props.empty()) {
      out += label;
    } else {
      append_padded(out, label, 26);
      out += "  ";
      append_joined(out, props);
    }
    out += '\n';
  }
  out += "\nRelationships\n-------------\n";
  for (std::string_view rel_type : s.rel_types()) {
    auto ends = s.rel_src_tgt(rel_type);
    auto props = s.rel_properties(rel_type);
    out += "  :";
    append_padded(out, rel_type, 26);
    out += "  (";
    out += ends->first;
    out += ")-->(";
    out += ends->second;
    out += ')';
    if (!props.empty()) {
      out += "   ";
      append_joined(out, props);
    }
    out += '\n';
  }
  return out;
}

std::string render_markdown(const Schema& s) {
  std::string out = "### Nodes\n\n| Label | Properties |\n|---|---|\n";
  for (std::string_view label : s.node_labels()) {
    auto props = s.node_properties(label);
    out += "| :";
    out += label;
    out += " | ";
    append_cell(out, props);
    out += " |\n";
  }
  out += "\n### Relationships\n\n| Type | Source \u2192 Target | Properties |\n|---|---|---|\n";
  for (std::string_view rel_type : s.rel_types()) {
    auto ends = s.rel_src_tgt(rel_type);
    auto props = s.rel_properties(rel_type);
    out += "| :";
    out += rel_type;
    out += " | :";
    out += ends->first;
    out += " \u2192 :";
    out += ends->second;
    out += " | ";
    append_cell(out, props);
    out += " |\n";
  }
  return out;
}

std::string render_cypher_context(const Schema& s) {
  std::string out = "// Node labels and their properties\n";
  for (std::string_view label : s.node_labels()) {
    auto props = s.node_properties(label);
    out += "(:";
    out += label;
    append_name_map(out, props);
    out += ")\n";
  }
  out += "\n// Relationship types\n";
  for (std::string_view rel_type : s.rel_types()) {
    auto ends = s.rel_src_tgt(rel_type);
    auto props = s.rel_properties(rel_type);
    out += "(:";
    out += ends->first;
    out += ")-[:";
    out += rel_type;
    append_name_map(out, props);
    out += "]->(:";
    out += ends->second;
    out += ")\n";
  }
  return out;
}

}  // namespace torvane::schema
