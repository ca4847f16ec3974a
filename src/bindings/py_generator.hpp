#pragma once
// The Python class CypherGenerator: random schema-conformant queries.
#include "bindings/binding.hpp"
#include "generator/generator.hpp"

namespace torvane::bindings::py_generator {

struct PyCypherGenerator {
  generator::CypherGenerator inner;
};

// The class object, created on first use. Null with the error set on failure.
PyTypeObject* generator_type();

}  // namespace torvane::bindings::py_generator
