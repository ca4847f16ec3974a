#include "validator/corrected_query.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "keyed_hash.hpp"
#include "parser/lexical.hpp"
#include "parser/names.hpp"

namespace torvane::validator {
using diagnostics::DiagnosticCode;
using diagnostics::FindingSubject;
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

// A key fix is found by its subject's kind ('v' for a variable as written,
// 'l' and 't' for a label or type as a name), the subject and the key; the
// subject's length keeps apart two pairs that only split differently.
void key_probe(std::string& out, char kind, std::string_view subject, std::string_view key) {
  out.clear();
  out += kind;
  out += std::to_string(subject.size());
  out += ':';
  out += subject;
  out += key;
}

char subject_kind(DiagnosticCode code) {
  switch (code) {
    case DiagnosticCode::UnknownNodeProperty: return 'l';
    case DiagnosticCode::UnknownRelProperty: return 't';
    default: return 'v';
  }
}

// The first finding about a key and subject, and its key as written back.
struct KeyFix {
  std::size_t finding;
  std::string written;
};

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
                                           const std::vector<ValidationDiagnostic>& diagnostics,
                                           std::span<const FindingSubject> subjects) {
  // Most queries have no error, and so nothing to correct.
  const auto is_error = [](const ValidationDiagnostic& d) { return d.severity == Severity::Error; };
  if (std::none_of(diagnostics.begin(), diagnostics.end(), is_error)) return std::nullopt;
  // One error without a fix withholds all: asked before any map is built.
  if (std::any_of(diagnostics.begin(), diagnostics.end(),
                  [&](const ValidationDiagnostic& d) { return is_error(d) && !d.suggestion; }))
    return std::nullopt;
  // Labels and types by name (without backticks), keys by subject and name,
  // each with how its fix is written; the first finding decides, as one pair
  // repeated counts once.
  std::array<HashMap<std::string>, 2> names;
  HashMap<KeyFix> keys;
  std::string probe;
  std::size_t subject = 0;
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    const ValidationDiagnostic& d = diagnostics[i];
    if (!is_error(d)) continue;
    const std::optional<parser::NameRole> role = renamed_role(d.code);
    if (!role) continue;
    const parser::NameOf name(without_colon(d.suggestion->original));
    const auto written = [&d] {
      return parser::written_name(without_colon(d.suggestion->replacement));
    };
    if (*role != parser::NameRole::PropertyKey) {
      auto& by_name = names[static_cast<std::size_t>(*role)];
      if (by_name.find(name.get()) == by_name.end())
        by_name.emplace(std::string(name.get()), written());
      continue;
    }
    // A key finding without a subject renames nothing.
    while (subject < subjects.size() && subjects[subject].finding < i) ++subject;
    if (subject == subjects.size() || subjects[subject].finding != i) continue;
    const char kind = subject_kind(d.code);
    const std::string_view about = subjects[subject].name;
    key_probe(probe, kind, kind == 'v' ? about : parser::NameOf(about).get(), name.get());
    if (keys.find(probe) == keys.end()) keys.emplace(probe, KeyFix{i, written()});
  }
  // Each name is replaced where the parse has it in the finding's role, a
  // key only where it is read from the finding's subject; nowhere else: not
  // as a variable, alias, parameter, function name, map key of an
  // expression, nor in a string or comment. No fix works on the text of
  // another.
  const std::optional<std::vector<parser::NamePlace>> places = parser::name_places(query);
  if (!places) return std::nullopt;  // the query parsed once; only for a caller's text
  const auto text_of = [query](std::uint32_t start, std::uint32_t end) {
    return query.substr(start, end - start);
  };
  // The fix of a key place: of its variable, or the first of its pattern's
  // labels or types.
  const auto key_fix = [&](const parser::NamePlace& place) -> const std::string* {
    if (keys.empty() || place.owner == parser::KeyOwner::None) return nullptr;
    const parser::NameOf key(text_of(place.start, place.end));
    if (place.owner == parser::KeyOwner::Variable) {
      key_probe(probe, 'v', text_of(place.owner_start, place.owner_end), key.get());
      const auto it = keys.find(probe);
      return it == keys.end() ? nullptr : &it->second.written;
    }
    const KeyFix* first = nullptr;
    for (std::uint32_t i = place.owner_start; i < place.owner_end; ++i) {
      const parser::NamePlace& owner = (*places)[i];
      key_probe(probe, owner.role == parser::NameRole::Label ? 'l' : 't',
                parser::NameOf(text_of(owner.start, owner.end)).get(), key.get());
      const auto it = keys.find(probe);
      if (it != keys.end() && (!first || it->second.finding < first->finding)) first = &it->second;
    }
    return first ? &first->written : nullptr;
  };
  std::string text;
  text.reserve(query.size());
  std::size_t copied = 0;
  std::string quoted;
  for (const parser::NamePlace& place : *places) {
    const std::string* fix = nullptr;
    if (place.role == parser::NameRole::PropertyKey) {
      fix = key_fix(place);
    } else {
      const auto& by_name = names[static_cast<std::size_t>(place.role)];
      if (by_name.empty()) continue;
      const auto it = by_name.find(parser::NameOf(text_of(place.start, place.end)).get());
      if (it != by_name.end()) fix = &it->second;
    }
    if (!fix) continue;
    // A bare name must not run into a word beside it (`n.`nme`AS x`).
    std::string_view replacement = *fix;
    if (!fix->starts_with('`') &&
        ((place.start > 0 && continues_name(query[place.start - 1])) ||
         (place.end < query.size() && continues_name(query[place.end])))) {
      quoted.assign(1, '`');
      quoted += *fix;
      quoted += '`';
      replacement = quoted;
    }
    if (replacement == text_of(place.start, place.end)) continue;
    text.append(query, copied, place.start - copied);
    text += replacement;
    copied = place.end;
  }
  text.append(query, copied);
  return text;
}

}  // namespace torvane::validator
