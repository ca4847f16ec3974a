#pragma once
// The corrected query: a query text with the suggested replacements of its
// findings applied.
#include <optional>
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
// misspelt label, type or key is replaced where the query's parse writes a
// name of that kind, however it is written (backticks or not), and the
// replacement is written in backticks when a bare name would not read back.
std::optional<std::string> corrected_query(
    std::string_view query, const std::vector<diagnostics::ValidationDiagnostic>& diagnostics);

}  // namespace torvane::validator
