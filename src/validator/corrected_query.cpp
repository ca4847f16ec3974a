#include "validator/corrected_query.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "keyed_hash.hpp"
#include "parser/lexical.hpp"
#include "parser/names.hpp"

namespace torvane::validator {
using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::ValidationDiagnostic;

namespace {

std::string_view without_colon(std::string_view s) { return s.substr(s.starts_with(':') ? 1 : 0); }

// Whether a byte beside a bare name would read as part of it: a word
// character of the grammar, or a byte of a non-ASCII character, which Cypher
// readers with Unicode names take into a name.
bool continues_name(char c) {
  return parser::is_word_char(c) || static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

std::optional<parser::NameRole> renamed_role(DiagnosticCode code) {
  switch (code) {
    case DiagnosticCode::UnknownNodeLabel:
    case DiagnosticCode::UnknownNodeLabelInSet:
    case DiagnosticCode::UnknownNodeLabelInRemove: return parser::NameRole::Label;
    case DiagnosticCode::UnknownRelType: return parser::NameRole::RelType;
    case DiagnosticCode::UnknownNodeProperty:
    case DiagnosticCode::UnknownRelProperty:
    case DiagnosticCode::UnknownNodePropertyOnVar:
    case DiagnosticCode::UnknownRelPropertyOnVar: return parser::NameRole::PropertyKey;
    default: return std::nullopt;
  }
}

std::optional<std::string> corrected_query(std::string_view query,
                                           const std::vector<ValidationDiagnostic>& diagnostics) {
  // Most queries have no error, and so nothing to correct.
  const auto is_error = [](const ValidationDiagnostic& d) { return d.severity == Severity::Error; };
  if (std::none_of(diagnostics.begin(), diagnostics.end(), is_error)) return std::nullopt;
  // By role, each misspelt name (without backticks) and how its fix is
  // written; the first finding about a name decides, as one pair repeated
  // counts once.
  std::array<HashMap<std::string>, 3> fixes;
  for (const auto& d : diagnostics) {
    if (!is_error(d)) continue;
    if (!d.suggestion) return std::nullopt;  // one error without a fix withholds all
    const std::optional<parser::NameRole> role = renamed_role(d.code);
    if (!role) continue;
    const parser::NameOf name(without_colon(d.suggestion->original));
    auto& by_name = fixes[static_cast<std::size_t>(*role)];
    if (by_name.find(name.get()) == by_name.end())
      by_name.emplace(std::string(name.get()),
                      parser::written_name(without_colon(d.suggestion->replacement)));
  }
  // Each name is replaced where the parse has it in the finding's role, and
  // nowhere else: not as a variable, alias, parameter, function name, map key
  // of an expression, nor in a string or comment. No fix works on the text
  // of another.
  const std::optional<std::vector<parser::NamePlace>> places = parser::name_places(query);
  if (!places) return std::nullopt;  // the query parsed once; only for a caller's text
  std::string text;
  text.reserve(query.size());
  std::size_t copied = 0;
  std::string quoted;
  for (const parser::NamePlace& place : *places) {
    const auto& by_name = fixes[static_cast<std::size_t>(place.role)];
    if (by_name.empty()) continue;
    const std::string_view written = query.substr(place.start, place.end - place.start);
    const auto it = by_name.find(parser::NameOf(written).get());
    if (it == by_name.end()) continue;
    // A bare name must not run into a word beside it (`n.`nme`AS x`).
    std::string_view replacement = it->second;
    if (!replacement.starts_with('`') &&
        ((place.start > 0 && continues_name(query[place.start - 1])) ||
         (place.end < query.size() && continues_name(query[place.end])))) {
      quoted.assign(1, '`');
      quoted += replacement;
      quoted += '`';
      replacement = quoted;
    }
    if (replacement == written) continue;
    text.append(query, copied, place.start - copied);
    text += replacement;
    copied = place.end;
  }
  text.append(query, copied);
  return text;
}

}  // namespace torvane::validator
