#pragma once
// Torvane: validates query texts against its own copy of a schema.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "parser/ast.hpp"
#include "parser/parse.hpp"
#include "schema/schema.hpp"

namespace torvane::validator {

struct ValidationResult {
  bool is_valid = true;                      // no error; warnings never invalidate
  std::vector<std::string> errors;           // every error message, in order found
  std::vector<std::string> syntax_errors;    // the parse failure, if any
  std::vector<std::string> semantic_errors;  // errors of the semantic checks
  std::vector<std::string> warnings;
  std::optional<std::string> fixed_query;                      // when every error has a suggestion
  std::vector<diagnostics::ValidationDiagnostic> diagnostics;  // all findings, in order
};

// What validation found, each finding once: a ValidationResult without its
// message lists, which are the messages of the findings they select.
struct Findings {
  bool is_valid = true;
  std::vector<diagnostics::ValidationDiagnostic> diagnostics;
  std::optional<std::string> fixed_query;
};

// The message lists of a result: `errors` holds the message of every error,
// `syntax_errors` of the grammar's, `semantic_errors` of the others, and
// `warnings` of every warning.
enum class Messages : std::uint8_t { Errors, SyntaxErrors, SemanticErrors, Warnings };
bool selects(Messages which, const diagnostics::ValidationDiagnostic& d);
// The messages of the findings `which` selects, in order.
std::vector<std::string_view> messages(const Findings& r, Messages which);

// The compact JSON form of a result, keys in byte order at both levels.
void write_json(std::string& out, const Findings& r);

namespace semantic {
struct SchemaNames;
}

struct Torvane {
  explicit Torvane(torvane::schema::Schema s);
  // A copy makes its own names of its own schema; a move keeps them, as
  // the schema's names stay where they are.
  Torvane(const Torvane& other) : Torvane(other.schema) {}
  Torvane& operator=(const Torvane& other) { return *this = Torvane(other); }
  Torvane(Torvane&&) noexcept = default;
  Torvane& operator=(Torvane&&) noexcept = default;
  ~Torvane();

  // Never fails; only reads `schema`, so many threads may share one validator.
  ValidationResult validate(std::string_view query) const;
  // The same findings without the message lists spelt out.
  Findings findings(std::string_view query) const;
  // The semantic checks and the result of `query`, which parsed into `tree`.
  ValidationResult validate_parsed(std::string_view query,
                                   const parser::ast::CypherQuery& tree) const;

  torvane::schema::Schema schema;

 private:
  // Of `schema`, made with it: the candidates of every closest-name search.
  std::shared_ptr<const semantic::SchemaNames> names_;
};

}  // namespace torvane::validator
