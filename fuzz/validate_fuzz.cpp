// Torvane::validate on arbitrary UTF-8 text against the example schema. The
// result is consistent with itself and with the parser, its corrected query
// parses and differs only in the names its suggestions rename, in their
// roles, and validating again gives the same findings (up to the order that
// follows hash maps).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/name_changes.hpp"
#include "fuzz_common.hpp"
#include "parser/parse.hpp"
#include "validator/torvane.hpp"

using torvane::diagnostics::DiagnosticCode;
using torvane::diagnostics::Severity;
using torvane::validator::Torvane;
using torvane::validator::ValidationResult;

namespace {

const Torvane* validator = nullptr;

std::vector<std::string> sorted_findings(const ValidationResult& r) {
  std::vector<std::string> out;
  for (const auto& d : r.diagnostics) {
    std::string s(torvane::diagnostics::code_str(d.code));
    s.append(1, '\0').append(d.message);
    if (d.suggestion)
      s.append(1, '\0')
          .append(d.suggestion->original)
          .append(1, '\0')
          .append(d.suggestion->replacement);
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::ifstream file(TORVANE_FUZZ_SCHEMA);
  std::stringstream text;
  text << file.rdbuf();
  auto schema = torvane::schema::Schema::deserialize(text.str());
  if (!schema) torvane::fuzz::fail("cannot read " TORVANE_FUZZ_SCHEMA, schema.error());
  validator = new Torvane(std::move(*schema));
  return 0;
}

namespace {

void check(std::string_view text) {
  const std::string q(text);
  const ValidationResult r = validator->validate(text);

  // The message lists are the diagnostics' messages, split by severity.
  std::vector<std::string> errors, warnings;
  bool every_error_suggested = true;
  for (const auto& d : r.diagnostics) {
    (d.severity == Severity::Error ? errors : warnings).push_back(d.message);
    if (d.severity == Severity::Error && !d.suggestion) every_error_suggested = false;
    FUZZ_CHECK(!d.position || d.code == DiagnosticCode::ParseError, q);
  }
  FUZZ_CHECK(r.errors == errors, q);
  FUZZ_CHECK(r.warnings == warnings, q);
  FUZZ_CHECK(r.is_valid == errors.empty(), q);
  FUZZ_CHECK(r.syntax_errors.size() + r.semantic_errors.size() == r.errors.size(), q);
  FUZZ_CHECK(r.syntax_errors.size() <= 1, q);
  FUZZ_CHECK(r.fixed_query.has_value() == (!errors.empty() && every_error_suggested), q);
  FUZZ_CHECK(torvane::testing::wrong_correction(validator->schema, q, r.fixed_query).empty(), q);

  // A text is a syntax error exactly when the parser refuses it.
  const bool parses = torvane::parser::parse(text).ok();
  FUZZ_CHECK(parses == r.syntax_errors.empty(), q);
  if (!parses) {
    FUZZ_CHECK(r.diagnostics.size() == 1 && r.diagnostics[0].code == DiagnosticCode::ParseError, q);
    FUZZ_CHECK(r.errors == r.syntax_errors && !r.fixed_query, q);
    return;
  }

  const ValidationResult again = validator->validate(text);
  FUZZ_CHECK(again.is_valid == r.is_valid, q);
  FUZZ_CHECK(again.errors.size() == r.errors.size() && again.warnings.size() == r.warnings.size(),
             q);
  FUZZ_CHECK(sorted_findings(again) == sorted_findings(r), q);
  FUZZ_CHECK(again.fixed_query.has_value() == r.fixed_query.has_value(), q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return torvane::fuzz::run_on_text(data, size, check);
}
