#include "validator/torvane.hpp"

#include <algorithm>
#include <utility>

#include "parser/parse.hpp"
#include "validator/semantic.hpp"

namespace torvane::validator {
using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::ValidationDiagnostic;

namespace {

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the string literal, comment or backticked name that starts at
// `i`, or 0 when none does. Strings have no escapes and block comments do not
// nest, as the grammar reads them; an unclosed quote, backtick or "/*" opens
// nothing. A backticked name counts as one name: a replacement may take it
// only whole, by an original that spells it with its backticks, so a name
// inside it (`my nme`) is never replaced piecemeal.
std::size_t opaque_length(std::string_view text, std::size_t i) {
  const char c = text[i];
  if (c == '\'' || c == '"' || c == '`') {
    const std::size_t close = text.find(c, i + 1);
    return close == std::string_view::npos ? 0 : close + 1 - i;
  }
  if (c == '/' && i + 1 < text.size()) {
    if (text[i + 1] == '/') {
      const std::size_t eol = text.find('\n', i + 2);
      return (eol == std::string_view::npos ? text.size() : eol + 1) - i;
    }
    if (text[i + 1] == '*') {
      const std::size_t close = text.find("*/", i + 2);
      return close == std::string_view::npos ? 0 : close + 2 - i;
    }
  }
  return 0;
}

// Replaces, from the left and without overlaps, each occurrence of `original`
// that is a whole name outside strings and comments: no name character may
// follow it, nor, for a property key (no leading colon), precede it.
std::string replace_names(std::string_view text, std::string_view original,
                          std::string_view replacement) {
  std::string out;
  if (original.empty()) return std::string(text);
  const bool key = original.front() != ':';
  out.reserve(text.size());
  std::size_t i = 0;
  std::size_t copied = 0;
  while (i < text.size()) {
    if (text.substr(i).starts_with(original)) {
      const std::size_t end = i + original.size();
      const bool ends = end == text.size() || !is_name_char(text[end]);
      const bool starts = !key || i == 0 || !is_name_char(text[i - 1]);
      if (ends && starts) {
        out.append(text, copied, i - copied);
        out += replacement;
        i = copied = end;
        continue;
      }
    }
    const std::size_t skip = opaque_length(text, i);
    i += skip ? skip : 1;
  }
  out.append(text, copied);
  return out;
}

}  // namespace

std::optional<std::string> corrected_query(std::string_view query,
                                           const std::vector<ValidationDiagnostic>& diagnostics) {
  struct Pair {
    std::string_view original, replacement;
  };
  std::vector<Pair> pairs;
  bool any_error = false;
  for (const auto& d : diagnostics) {
    if (d.severity != Severity::Error) continue;
    any_error = true;
    if (!d.suggestion) return std::nullopt;  // one error without a fix withholds all
    const Pair p{d.suggestion->original, d.suggestion->replacement};
    const bool seen = std::any_of(pairs.begin(), pairs.end(), [&](const Pair& q) {
      return q.original == p.original && q.replacement == p.replacement;
    });
    if (!seen) pairs.push_back(p);
  }
  if (!any_error) return std::nullopt;
  // Longest original first, so a shorter original cannot cut into a longer one.
  std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
    return a.original.size() > b.original.size();
  });
  std::string text(query);
  for (const auto& p : pairs) text = replace_names(text, p.original, p.replacement);
  return text;
}

ValidationResult Torvane::validate(std::string_view query) const {
  auto parsed = parser::parse_with_detail(query);
  if (parsed) return validate_parsed(query, *parsed);
  ParseErrorDetail& detail = parsed.error();
  ValidationResult result;
  result.is_valid = false;
  result.errors.push_back(detail.message);
  result.syntax_errors.push_back(detail.message);
  result.diagnostics.push_back(ValidationDiagnostic{DiagnosticCode::ParseError, Severity::Error,
                                                    std::move(detail.message), std::nullopt,
                                                    detail.position});
  return result;
}

ValidationResult Torvane::validate_parsed(std::string_view query,
                                          const parser::ast::CypherQuery& tree) const {
  ValidationResult result;
  semantic::SemanticValidator validator(schema);
  validator.validate_query(tree);
  result.is_valid = validator.errors.empty();
  result.semantic_errors = validator.errors;
  result.errors = std::move(validator.errors);
  result.warnings = std::move(validator.warnings);
  result.diagnostics = std::move(validator.diagnostics);
  result.fixed_query = corrected_query(query, result.diagnostics);
  return result;
}

}  // namespace torvane::validator
