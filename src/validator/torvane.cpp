#include "validator/torvane.hpp"

#include <utility>

#include "parser/parse.hpp"
#include "validator/corrected_query.hpp"
#include "validator/semantic.hpp"

namespace torvane::validator {
using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::ValidationDiagnostic;

bool selects(Messages which, const ValidationDiagnostic& d) {
  const bool error = d.severity == Severity::Error;
  const bool syntax = d.code == DiagnosticCode::ParseError;
  switch (which) {
    case Messages::Errors: return error;
    case Messages::SyntaxErrors: return error && syntax;
    case Messages::SemanticErrors: return error && !syntax;
    case Messages::Warnings: return !error;
  }
  return false;
}

namespace {

Findings checked(const schema::Schema& schema, std::string_view query,
                 const parser::ast::CypherQuery& tree) {
  semantic::SemanticValidator validator(schema);
  validator.validate_query(tree);
  Findings found{validator.error_count == 0, std::move(validator.diagnostics), std::nullopt};
  found.fixed_query = corrected_query(query, found.diagnostics);
  return found;
}

// The message lists spelt out: an error's message goes to `errors` and, by
// where it was found, to `syntax_errors` or `semantic_errors`.
ValidationResult spelt_out(Findings&& found) {
  ValidationResult result;
  result.is_valid = found.is_valid;
  for (const auto& d : found.diagnostics) {
    for (const auto& [which, list] : {std::pair{Messages::Errors, &result.errors},
                                      std::pair{Messages::SyntaxErrors, &result.syntax_errors},
                                      std::pair{Messages::SemanticErrors, &result.semantic_errors},
                                      std::pair{Messages::Warnings, &result.warnings}})
      if (selects(which, d)) list->push_back(d.message);
  }
  result.diagnostics = std::move(found.diagnostics);
  result.fixed_query = std::move(found.fixed_query);
  return result;
}

}  // namespace

Findings Torvane::findings(std::string_view query) const {
  auto parsed = parser::parse_with_detail(query);
  if (parsed) return checked(schema, query, *parsed);
  ParseErrorDetail& detail = parsed.error();
  Findings found{false, {}, std::nullopt};
  found.diagnostics.push_back(ValidationDiagnostic{DiagnosticCode::ParseError, Severity::Error,
                                                   std::move(detail.message), std::nullopt,
                                                   detail.position});
  return found;
}

ValidationResult Torvane::validate(std::string_view query) const {
  return spelt_out(findings(query));
}

ValidationResult Torvane::validate_parsed(std::string_view query,
                                          const parser::ast::CypherQuery& tree) const {
  return spelt_out(checked(schema, query, tree));
}

}  // namespace torvane::validator
