// The module entry: the interpreter calls PyInit__torvane at import.
#include <atomic>
#include <cstdint>

#include "bindings/binding.hpp"
#include "bindings/py_generator.hpp"
#include "bindings/py_query_info.hpp"
#include "bindings/py_schema.hpp"
#include "bindings/py_validator.hpp"

namespace torvane::bindings {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_torvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The interpreter that first initialised the module, and the module made
// for it; kept for the rest of the process.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;

bool add_class(PyObject* module, const char* name, PyTypeObject* type) {
  return type != nullptr && add_to_module(module, name, reinterpret_cast<PyObject*>(type));
}

bool add_function(PyObject* module, const char* name, Ref function) {
  return function && add_to_module(module, name, function.get());
}

// Adds the classes, then the function, in the order of __all__.
bool module_body(PyObject* module) {
  return add_class(module, "Schema", py_schema::schema_type()) &&
         add_class(module, "Torvane", py_validator::torvane_type()) &&
         add_class(module, "ValidationResult", py_validator::result_type()) &&
         add_class(module, "ValidationDiagnostic", py_validator::diagnostic_type()) &&
         add_class(module, "CypherGenerator", py_generator::generator_type()) &&
         add_class(module, "QueryInfo", py_query_info::query_info_type()) &&
         add_function(module, "parse_query",
                      Ref::steal(py_query_info::parse_query_function(module)));
}

PyObject* init() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "modules built with this binding layer do not support sub-interpreters");
    return nullptr;
  }
  if (module_object != nullptr) return Py_NewRef(module_object);
  Ref module = Ref::steal(PyModule_Create(&module_def));
  if (!module || !module_body(module.get())) return nullptr;
  module_object = Py_NewRef(module.get());
  return module.release();
}

}  // namespace
}  // namespace torvane::bindings

PyMODINIT_FUNC PyInit__torvane() {
  return torvane::bindings::guarded(torvane::bindings::init);
}
