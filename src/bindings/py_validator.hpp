#pragma once
// The Python classes Torvane, ValidationResult and ValidationDiagnostic: the
// validator and the results it hands back.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/binding.hpp"
#include "diagnostics/diagnostics.hpp"
#include "validator/torvane.hpp"

namespace torvane::bindings::py_validator {

struct PyTorvane {
  validator::Torvane inner;
};

// A validation result as its Python object keeps it: each finding once. The
// message lists of the result are the messages of the findings they select
// (see `Messages`), in order, read from the findings when asked for. The
// findings live beside the object: each worker of a batch makes its texts'
// findings itself, and the object made for them once the workers are done
// takes them over without a copy.
struct PyValidationResult {
  std::unique_ptr<validator::Findings> found;  // never null
};

using validator::messages;
using validator::Messages;
using validator::selects;

// An all-text copy of one finding, sharing nothing with it.
struct PyValidationDiagnostic {
  std::string code;
  std::string code_name;
  std::string severity;
  std::string message;
  std::optional<std::string> suggestion_original;
  std::optional<std::string> suggestion_replacement;
  std::optional<std::string> suggestion_description;
  std::optional<std::uint32_t> position_line;
  std::optional<std::uint32_t> position_col;

  static PyValidationDiagnostic from_native(const diagnostics::ValidationDiagnostic& d);
  // A new dict of the nine fields, None where a value is absent.
  PyObject* to_dict() const;
};

// The class objects, created on first use. Null with the error set on failure.
PyTypeObject* torvane_type();
PyTypeObject* result_type();
PyTypeObject* diagnostic_type();

// A new ValidationResult object holding `found`.
PyObject* new_result(validator::Findings&& found);

}  // namespace torvane::bindings::py_validator
