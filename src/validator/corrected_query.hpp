#pragma once
// The corrected query: a query text with the suggested replacements of its
// findings applied.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "parser/parse.hpp"

namespace torvane::validator {

// What a finding's suggestion renames: a node label, a relationship type or
// a property key; none for a finding that names no such thing.
std::optional<parser::NameRole> renamed_role(diagnostics::DiagnosticCode code);

// The query with every suggested replacement applied, or none when an error
// lacks a suggestion (or there is no error, or the text does not parse). A
// misspelt label or type is replaced where the query's parse writes a name of
// that kind; a misspelt key only where it is read from the finding's subject
// (`subjects`, in finding order): the variable as written, or a pattern with
// the label or type. Names match however they are written (backticks or not),
// and a replacement is written in backticks when a bare name would not read
// back or would run into the text beside it.
std::optional<std::string> corrected_query(
    std::string_view query, const std::vector<diagnostics::ValidationDiagnostic>& diagnostics,
    std::span<const diagnostics::FindingSubject> subjects);

}  // namespace torvane::validator
