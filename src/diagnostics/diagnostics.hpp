#pragma once
// The records of a validation run's findings: what was found, how serious it
// is, the message, and for a misspelt name the replacement that fixes it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace torvane::diagnostics {

enum class Severity : std::uint8_t { Error, Warning };

// "error" or "warning".
constexpr std::string_view as_str(Severity s) {
  return s == Severity::Error ? "error" : "warning";
}

enum class DiagnosticCode : std::uint8_t {
  ParseError,
  UnknownNodeLabel,
  UnknownNodeLabelInSet,
  UnknownNodeLabelInRemove,
  UnknownRelType,
  UnknownNodeProperty,
  UnknownRelProperty,
  UnknownNodePropertyOnVar,
  UnknownRelPropertyOnVar,
  WrongEndpointLabel,
  UnboundVariable,
  DuplicateProjectionName,
  AggregateStringArg,
  AggregateInForbiddenContext,
  PaginationTypeString,
  PaginationTypeBool,
  PaginationTypeNull,
  PaginationTypeFloat,
  CartesianProduct,
  UnlabeledFullScan,
  UnboundedVarLength,
  count
};

inline constexpr std::size_t kDiagnosticCodeCount = static_cast<std::size_t>(DiagnosticCode::count);

namespace detail {
struct CodeText {
  std::string_view code, name;
};
inline constexpr std::array<CodeText, kDiagnosticCodeCount> kCodeTexts{{
    {"E101", "ParseError"},
    {"E201", "UnknownNodeLabel"},
    {"E202", "UnknownNodeLabelInSet"},
    {"E203", "UnknownNodeLabelInRemove"},
    {"E211", "UnknownRelType"},
    {"E301", "UnknownNodeProperty"},
    {"E302", "UnknownRelProperty"},
    {"E303", "UnknownNodePropertyOnVar"},
    {"E304", "UnknownRelPropertyOnVar"},
    {"E401", "WrongEndpointLabel"},
    {"E501", "UnboundVariable"},
    {"E502", "DuplicateProjectionName"},
    {"E601", "AggregateStringArg"},
    {"E602", "AggregateInForbiddenContext"},
    {"E611", "PaginationTypeString"},
    {"E612", "PaginationTypeBool"},
    {"E613", "PaginationTypeNull"},
    {"E614", "PaginationTypeFloat"},
    {"W101", "CartesianProduct"},
    {"W201", "UnlabeledFullScan"},
    {"W202", "UnboundedVarLength"},
}};
}  // namespace detail

// The four-character code, "E101" to "W202".
constexpr std::string_view code_str(DiagnosticCode c) {
  return detail::kCodeTexts[static_cast<std::size_t>(c)].code;
}
// The variant's name, "ParseError" to "UnboundedVarLength".
constexpr std::string_view code_name(DiagnosticCode c) {
  return detail::kCodeTexts[static_cast<std::size_t>(c)].name;
}

// A proposed text replacement.
struct Suggestion {
  std::string original;
  std::string replacement;
  std::string description;

  friend bool operator==(const Suggestion&, const Suggestion&) = default;
};

struct ValidationDiagnostic {
  DiagnosticCode code;
  Severity severity;
  std::string message;  // complete, hint included
  std::optional<Suggestion> suggestion;
  // (line, column), 1-based: only on a syntax error the grammar reported.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> position;

  friend bool operator==(const ValidationDiagnostic&, const ValidationDiagnostic&) = default;
};

// What an unknown-property finding is about, as the query writes it: the
// variable the key is read from (E303, E304), or the label or type of the
// pattern whose property map holds the key (E301, E302). Kept beside the
// findings while the corrected query is made, never in a result; `finding`
// is the finding's index among the diagnostics.
struct FindingSubject {
  std::size_t finding;
  std::string_view name;
};

}  // namespace torvane::diagnostics
