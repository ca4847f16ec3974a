#include "error/error.hpp"

namespace torvane {

std::string CypherError::display() const {
  switch (kind) {
    case Kind::ParseError: return "Parse error: " + message;
    case Kind::SemanticError: return "Semantic error: " + message;
    case Kind::GeneratorError: return "Generator error: " + message;
  }
  return message;
}

}  // namespace torvane
