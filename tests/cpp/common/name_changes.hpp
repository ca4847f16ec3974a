#pragma once
// What a corrected query may differ in, for tests and the fuzz target to hold
// the real one to: it parses, it has the original's names at the same places
// in the same roles with the same text between them, each label or type that
// a finding's suggestion renames now reads as the first such replacement,
// each key read from a finding's subject (its variable as written, or a
// pattern with its label or type) as the replacement of the first finding
// about that key and subject, and every other name as it was written.
#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "parser/names.hpp"
#include "parser/parse.hpp"
#include "schema/schema.hpp"
#include "validator/corrected_query.hpp"
#include "validator/semantic.hpp"

namespace torvane::testing {

// Empty when `fixed` is `query` corrected by the suggestions of `diagnostics`
// about `subjects` as above; else what is wrong.
inline std::string wrong_correction(
    std::string_view query, std::string_view fixed,
    const std::vector<diagnostics::ValidationDiagnostic>& diagnostics,
    std::span<const diagnostics::FindingSubject> subjects) {
  using diagnostics::DiagnosticCode;
  const auto bare = [](std::string_view s) {
    return std::string(parser::NameOf(s.substr(s.starts_with(':') ? 1 : 0)).get());
  };
  // Labels and types: the first fix of each name.
  std::map<std::pair<int, std::string>, std::string> renamed;
  // Keys: each fix with the subject it is about, in finding order.
  struct KeyFix {
    DiagnosticCode code;
    std::string subject, key, replacement;
  };
  std::vector<KeyFix> key_fixes;
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    const auto& d = diagnostics[i];
    const auto role = validator::renamed_role(d.code);
    if (!d.suggestion || !role) continue;
    if (*role != parser::NameRole::PropertyKey) {
      renamed.try_emplace({static_cast<int>(*role), bare(d.suggestion->original)},
                          bare(d.suggestion->replacement));
      continue;
    }
    for (const auto& s : subjects)
      if (s.finding == i)
        key_fixes.push_back({d.code, std::string(s.name), bare(d.suggestion->original),
                             bare(d.suggestion->replacement)});
  }
  const auto before = parser::name_places(query);
  const auto after = parser::name_places(fixed);
  if (!before) return "the query does not parse";
  if (!after) return "the corrected query does not parse";
  if (before->size() != after->size()) return "the names are not the same in number";
  const auto text = [&](const parser::NamePlace& p) {
    return query.substr(p.start, p.end - p.start);
  };
  // What a key place should read as, if it is renamed.
  const auto key_fix = [&](const parser::NamePlace& place) -> std::optional<std::string> {
    const std::string key = bare(text(place));
    for (const KeyFix& f : key_fixes) {
      if (f.key != key) continue;
      const bool on_variable = f.code == DiagnosticCode::UnknownNodePropertyOnVar ||
                               f.code == DiagnosticCode::UnknownRelPropertyOnVar;
      if (place.owner == parser::KeyOwner::Variable) {
        if (on_variable &&
            query.substr(place.owner_start, place.owner_end - place.owner_start) == f.subject)
          return f.replacement;
      } else if (place.owner == parser::KeyOwner::Pattern && !on_variable) {
        const auto role = f.code == DiagnosticCode::UnknownNodeProperty ? parser::NameRole::Label
                                                                        : parser::NameRole::RelType;
        for (std::size_t i = place.owner_start; i < place.owner_end; ++i) {
          const parser::NamePlace& owner = (*before)[i];
          if (owner.role == role && bare(text(owner)) == bare(f.subject)) return f.replacement;
        }
      }
    }
    return std::nullopt;
  };
  std::size_t b_end = 0, a_end = 0;
  for (std::size_t i = 0; i < before->size(); ++i) {
    const parser::NamePlace& b = (*before)[i];
    const parser::NamePlace& a = (*after)[i];
    if (a.role != b.role || a.owner != b.owner) return "a name changed its role or owner";
    if (query.substr(b_end, b.start - b_end) != fixed.substr(a_end, a.start - a_end))
      return "text outside the names changed";
    const std::string_view was = text(b);
    const std::string_view now = fixed.substr(a.start, a.end - a.start);
    std::optional<std::string> expected;
    if (b.role == parser::NameRole::PropertyKey) {
      expected = key_fix(b);
    } else if (const auto it = renamed.find({static_cast<int>(b.role), bare(was)});
               it != renamed.end()) {
      expected = it->second;
    }
    if (expected ? parser::NameOf(now).get() != *expected : now != was)
      return "the name " + std::string(was) + " became " + std::string(now);
    b_end = b.end;
    a_end = a.end;
  }
  if (query.substr(b_end) != fixed.substr(a_end)) return "text after the last name changed";
  return {};
}

// The same for a result's corrected query `fixed` of `query` against
// `schema`, which the checks are run again for (a result keeps no subjects):
// empty when that run corrects the query alike and as above.
inline std::string wrong_correction(const schema::Schema& schema, std::string_view query,
                                    const std::optional<std::string>& fixed) {
  auto tree = parser::parse(query);
  if (!tree) return fixed ? "a corrected query of a text that does not parse" : "";
  validator::semantic::SemanticValidator checks(schema);
  checks.validate_query(*tree);
  const auto again =
      validator::corrected_query(query, checks.diagnostics, checks.property_subjects);
  if (again != fixed) return "another run corrects the query otherwise";
  if (!fixed) return {};
  return wrong_correction(query, *fixed, checks.diagnostics, checks.property_subjects);
}

}  // namespace torvane::testing
