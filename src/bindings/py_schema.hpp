#pragma once
// The Python class Schema: builds, converts and renders a schema.
#include "bindings/binding.hpp"
#include "schema/schema.hpp"

namespace torvane::bindings::py_schema {

struct PySchema {
  schema::Schema inner;
};

// The class object, created on first use. Null with the error set on failure.
PyTypeObject* schema_type();

// A new Schema object owning `s`.
PyObject* new_schema(schema::Schema&& s);

// The Schema behind `obj`, or null with the cast error naming Schema set.
inline Object<PySchema>* as_schema(PyObject* obj) {
  return as_instance<PySchema>(obj, schema_type(), "Schema");
}

}  // namespace torvane::bindings::py_schema
