#pragma once
// What a corrected query may differ in, for tests and the fuzz target to hold
// the real one to: it parses, it has the original's names at the same places
// in the same roles with the same text between them, and each name that a
// finding's suggestion renames in that role now reads as the first such
// replacement, every other name as it was written.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "parser/names.hpp"
#include "parser/parse.hpp"
#include "validator/corrected_query.hpp"

namespace torvane::testing {

// Empty when `fixed` is `query` corrected by the suggestions of `diagnostics`
// as above; else what is wrong.
inline std::string wrong_correction(std::string_view query, std::string_view fixed,
                                    const std::vector<diagnostics::ValidationDiagnostic>& diagnostics) {
  const auto role_of = [](diagnostics::DiagnosticCode c) {
    const auto role = validator::renamed_role(c);
    return role ? static_cast<int>(*role) : -1;
  };
  const auto bare = [](const std::string& s) {
    return std::string(parser::NameOf(std::string_view(s).substr(s.starts_with(':') ? 1 : 0)).get());
  };
  std::map<std::pair<int, std::string>, std::string> renamed;  // the first fix of each name
  for (const auto& d : diagnostics)
    if (d.suggestion && role_of(d.code) >= 0)
      renamed.try_emplace({role_of(d.code), bare(d.suggestion->original)},
                          bare(d.suggestion->replacement));
  const auto before = parser::name_places(query);
  const auto after = parser::name_places(fixed);
  if (!before) return "the query does not parse";
  if (!after) return "the corrected query does not parse";
  if (before->size() != after->size()) return "the names are not the same in number";
  std::size_t b_end = 0, a_end = 0;
  for (std::size_t i = 0; i < before->size(); ++i) {
    const parser::NamePlace& b = (*before)[i];
    const parser::NamePlace& a = (*after)[i];
    if (a.role != b.role) return "a name changed its role";
    if (query.substr(b_end, b.start - b_end) != fixed.substr(a_end, a.start - a_end))
      return "text outside the names changed";
    const std::string_view was = query.substr(b.start, b.end - b.start);
    const std::string_view now = fixed.substr(a.start, a.end - a.start);
    const auto it =
        renamed.find({static_cast<int>(b.role), std::string(parser::NameOf(was).get())});
    if (it == renamed.end() ? now != was : parser::NameOf(now).get() != it->second)
      return "the name " + std::string(was) + " became " + std::string(now);
    b_end = b.end;
    a_end = a.end;
  }
  if (query.substr(b_end) != fixed.substr(a_end)) return "text after the last name changed";
  return {};
}

}  // namespace torvane::testing
