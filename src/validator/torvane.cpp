#include "validator/torvane.hpp"

#include <utility>

#include "json/writer.hpp"
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

std::vector<std::string_view> messages(const Findings& r, Messages which) {
  std::vector<std::string_view> out;
  for (const auto& d : r.diagnostics)
    if (selects(which, d)) out.push_back(d.message);
  return out;
}

void write_json(std::string& out, const Findings& r) {
  json::Writer w(out);
  const auto strings = [&](std::string_view key, Messages which) {
    w.key(key).begin_array();
    for (const auto& d : r.diagnostics)
      if (selects(which, d)) w.string(d.message);
    w.end_array();
  };
  // Members in byte order of their keys, at both levels.
  w.begin_object().key("diagnostics").begin_array();
  for (const auto& d : r.diagnostics) {
    w.begin_object();
    w.key("code").string(diagnostics::code_str(d.code));
    w.key("code_name").string(diagnostics::code_name(d.code));
    w.key("message").string(d.message);
    if (d.position) {
      w.key("position_col").uint(d.position->second);
      w.key("position_line").uint(d.position->first);
    }
    w.key("severity").string(diagnostics::as_str(d.severity));
    if (d.suggestion) {
      w.key("suggestion_description").string(d.suggestion->description);
      w.key("suggestion_original").string(d.suggestion->original);
      w.key("suggestion_replacement").string(d.suggestion->replacement);
    }
    w.end_object();
  }
  w.end_array();
  strings("errors", Messages::Errors);
  w.key("fixed_query");
  if (r.fixed_query) {
    w.string(*r.fixed_query);
  } else {
    w.null();
  }
  w.key("is_valid").boolean(r.is_valid);
  strings("semantic_errors", Messages::SemanticErrors);
  strings("syntax_errors", Messages::SyntaxErrors);
  strings("warnings", Messages::Warnings);
  w.end_object();
}

namespace {

Findings checked(const schema::Schema& schema, const semantic::SchemaNames* names,
                 std::string_view query, const parser::ast::CypherQuery& tree) {
  semantic::SemanticValidator validator(schema, names);
  validator.validate_query(tree);
  Findings found{validator.error_count == 0, std::move(validator.diagnostics), std::nullopt};
  found.fixed_query = corrected_query(query, found.diagnostics, validator.property_subjects);
  return found;
}

// The message lists spelt out: an error's message goes to `errors` and, by
// where it was found, to `syntax_errors` or `semantic_errors`.
ValidationResult spelt_out(Findings&& found) {
  ValidationResult result;
  result.is_valid = found.is_valid;
  // What `selects` picks, each list grown once: an error is a syntax error
  // or a semantic one, anything else a warning.
  std::size_t errors = 0, syntax = 0;
  for (const auto& d : found.diagnostics) {
    errors += selects(Messages::Errors, d);
    syntax += selects(Messages::SyntaxErrors, d);
  }
  result.errors.reserve(errors);
  result.syntax_errors.reserve(syntax);
  result.semantic_errors.reserve(errors - syntax);
  result.warnings.reserve(found.diagnostics.size() - errors);
  for (const auto& d : found.diagnostics) {
    if (!selects(Messages::Errors, d)) {
      result.warnings.push_back(d.message);
      continue;
    }
    result.errors.push_back(d.message);
    auto& by_kind =
        selects(Messages::SyntaxErrors, d) ? result.syntax_errors : result.semantic_errors;
    by_kind.push_back(d.message);
  }
  result.diagnostics = std::move(found.diagnostics);
  result.fixed_query = std::move(found.fixed_query);
  return result;
}

}  // namespace

Torvane::Torvane(torvane::schema::Schema s)
    : schema(std::move(s)), names_(std::make_shared<const semantic::SchemaNames>(schema)) {}

Torvane::~Torvane() = default;

Findings Torvane::findings(std::string_view query) const {
  auto parsed = parser::parse_with_detail(query);
  if (parsed) return checked(schema, names_.get(), query, *parsed);
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
  return spelt_out(checked(schema, names_.get(), query, tree));
}

}  // namespace torvane::validator
