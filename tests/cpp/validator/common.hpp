#pragma once
// Shared by the validator tests: the Person/Movie/ACTED_IN schema and a
// readable form of a result's findings.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "schema/schema.hpp"
#include "validator/torvane.hpp"

namespace torvane::testing {

// Person (name, age), Movie (title), ACTED_IN from Person to Movie (role).
inline schema::Schema movies_schema() {
  schema::Schema s;
  s.nodes["Person"] = HashSet{"name", "age"};
  s.nodes["Movie"] = HashSet{"title"};
  s.relationships["ACTED_IN"] = schema::RelationshipDef{"Person", "Movie", HashSet{"role"}};
  return s;
}

// One finding as (code, message).
struct Finding {
  std::string code;
  std::string message;
  friend bool operator==(const Finding&, const Finding&) = default;
  friend void PrintTo(const Finding& f, std::ostream* os) { *os << f.code << " " << f.message; }
};

inline std::vector<Finding> findings(const validator::ValidationResult& r) {
  std::vector<Finding> out;
  for (const auto& d : r.diagnostics)
    out.push_back({std::string(diagnostics::code_str(d.code)), d.message});
  return out;
}

// The invariants every result keeps: `errors` and `warnings` are the messages
// of the error and warning diagnostics in order, `is_valid` means no error,
// and a suggestion rides exactly on a message that ends in a hint naming it.
inline void expect_consistent(const validator::ValidationResult& r, std::string_view query) {
  std::vector<std::string> errors, warnings;
  for (const auto& d : r.diagnostics) {
    const bool warning = diagnostics::code_str(d.code)[0] == 'W';
    EXPECT_EQ(d.severity, warning ? diagnostics::Severity::Warning : diagnostics::Severity::Error)
        << query;
    (warning ? warnings : errors).push_back(d.message);
    if (d.code == diagnostics::DiagnosticCode::ParseError) continue;
    EXPECT_FALSE(d.position.has_value()) << query;
    const std::size_t hint = d.message.rfind(", did you mean ");
    ASSERT_EQ(d.suggestion.has_value(), hint != std::string::npos) << d.message;
    if (!d.suggestion) continue;
    const std::string& replacement = d.suggestion->replacement;
    const std::string named = d.message.substr(hint + 15, d.message.size() - hint - 16);
    EXPECT_EQ(named.substr(1), replacement[0] == ':' ? replacement.substr(1) : replacement)
        << d.message;
  }
  EXPECT_EQ(r.errors, errors) << query;
  EXPECT_EQ(r.warnings, warnings) << query;
  EXPECT_EQ(r.is_valid, errors.empty()) << query;
  if (r.syntax_errors.empty()) {
    EXPECT_EQ(r.semantic_errors, r.errors) << query;
  }
}

}  // namespace torvane::testing
