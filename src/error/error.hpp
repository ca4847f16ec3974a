#pragma once
// CypherError: the one error type of the core.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "error/result.hpp"

namespace torvane {

struct CypherError {
  enum class Kind : std::uint8_t { ParseError, SemanticError, GeneratorError };
  Kind kind;
  std::string message;

  static CypherError parse(std::string m) { return {Kind::ParseError, std::move(m)}; }
  static CypherError generator(std::string m) { return {Kind::GeneratorError, std::move(m)}; }
  // "Parse error: {}", "Semantic error: {}", "Generator error: {}".
  std::string display() const;
};

// The failure of parse_with_detail: the grammar's failures carry a position.
struct ParseErrorDetail {
  std::optional<std::pair<std::uint32_t, std::uint32_t>> position;  // (line, column), 1-based
  std::string message;
};

}  // namespace torvane
