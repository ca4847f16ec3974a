#pragma once
// The schema as text for a language-model prompt: a plain listing, Markdown
// tables and inline Cypher patterns. Each lists nodes, then relationships,
// by the sorted accessors, so equal schemas render alike whatever their
// hash order.
#include <string>

#include "schema/schema.hpp"

namespace torvane::schema {

std::string render_prompt(const Schema& s);
std::string render_markdown(const Schema& s);
std::string render_cypher_context(const Schema& s);

}  // namespace torvane::schema
