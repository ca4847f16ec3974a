#include "bindings/py_generator.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "allocation.hpp"
#include "bindings/py_schema.hpp"

namespace torvane::bindings::py_generator {

namespace {

using generator::CypherGenerator;

namespace doc {
constexpr const char kClass[] = "CypherGenerator(schema, seed=None)\n--\n\n";
constexpr const char kGenerate[] = "generate($self, query_type)\n--\n\n";
constexpr const char kGenerateBatch[] =
    "generate_batch($self, query_type, n)\n--\n\nGenerate *n* queries of the given type in a single call.\n\nEquivalent to calling :meth:`generate` *n* times but avoids per-call\nPython overhead.\n\nParameters\n----------\nquery_type:\n    One of the types returned by :meth:`supported_types`.\nn:\n    Number of queries to generate.\n\nReturns\n-------\nlist[str]\n    Generated Cypher query strings.\n\nRaises\n------\nValueError\n    If *query_type* is not supported.";
constexpr const char kSupportedTypes[] = "supported_types()\n--\n\n";
}  // namespace doc

constexpr ArgSpec<2> kNew{"CypherGenerator.__new__", {"schema", "seed"}, 1};
constexpr ArgSpec<1> kGenerate{"CypherGenerator.generate", {"query_type"}, 1};
constexpr ArgSpec<2> kGenerateBatch{"CypherGenerator.generate_batch", {"query_type", "n"}, 2};

PyObject* generator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args<2> a;
    if (!bind(kNew, args, kwargs, a)) return nullptr;
    auto* schema = py_schema::as_schema(a[0]);
    if (schema == nullptr) return argument_error("schema");
    SharedBorrow borrow(schema->borrow);
    if (!borrow.ok()) return argument_error("schema");
    std::optional<std::uint64_t> seed;
    if (a[1] != nullptr && a[1] != Py_None) {
      std::uint64_t value = 0;
      if (!to_u64(a[1], value)) return argument_error("seed");
      seed = value;
    }
    return new_instance(type, PyCypherGenerator{CypherGenerator(schema->value.inner, seed)});
  });
}

// Drawing advances the state, so both generating methods hold the object
// exclusively, from before their arguments are converted to the end.
PyObject* generator_generate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kGenerate, args, nargs, kwnames, a)) return nullptr;
    auto* obj = unwrap<PyCypherGenerator>(self);
    ExclusiveBorrow borrow(obj->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view query_type;
    if (!to_text(a[0], query_type)) return argument_error("query_type");
    auto query = obj->value.inner.generate(query_type);
    if (!query) return raise_cypher_error(query.error());
    return to_py(*query);
  });
}

// The room for n queries, taken before the first draw. A count whose room
// the platform cannot give fails as a panic, leaving the state untouched. The
// room counted is three machine words a text (pointer, length, capacity), so
// on 32 bits 178,956,970 texts at most.
Ref batch_list(std::uint32_t n) {
  if (!fits_one_allocation(n, 3 * sizeof(void*))) throw Panic("capacity overflow");
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) {
    if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return list;
    throw Panic("capacity overflow");
  }
  return list;
}

PyObject* generator_generate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<2> a;
    if (!bind(kGenerateBatch, args, nargs, kwnames, a)) return nullptr;
    auto* obj = unwrap<PyCypherGenerator>(self);
    ExclusiveBorrow borrow(obj->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view query_type;
    if (!to_text(a[0], query_type)) return argument_error("query_type");
    std::uint32_t n = 0;
    if (!to_u32(a[1], n)) return argument_error("n");
    Ref list = batch_list(n);
    if (!list) return nullptr;
    CypherGenerator& gen = obj->value.inner;
    for (std::uint32_t i = 0; i < n; ++i) {
      // Only an unknown type fails, and it fails at the first query, before any draw.
      auto query = gen.generate(query_type);
      if (!query) return raise_cypher_error(query.error());
      PyObject* text = to_py(*query);
      if (text == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
    }
    return list.release();
  });
}

PyObject* generator_supported_types(PyObject*, PyObject*) {
  return guarded([] { return to_py_list(generator::kQueryTypes); });
}

PyObject* generator_repr(PyObject* self) {
  return with<PyCypherGenerator>(
      self, [](const PyCypherGenerator&) { return to_py(std::string_view("CypherGenerator()")); });
}

PyMethodDef generator_methods[] = {
    fastcall("generate", generator_generate, doc::kGenerate),
    fastcall("generate_batch", generator_generate_batch, doc::kGenerateBatch),
    static_noargs("supported_types", generator_supported_types, doc::kSupportedTypes),
    {},
};

PyType_Slot generator_slots[] = {
    slot(Py_tp_doc, doc::kClass),
    slot(Py_tp_new, generator_new),
    slot(Py_tp_repr, generator_repr),
    slot(Py_tp_dealloc, dealloc<PyCypherGenerator>),
    slot(Py_tp_methods, generator_methods),
    {0, nullptr},
};

PyType_Spec generator_spec =
    type_spec<PyCypherGenerator>("builtins.CypherGenerator", Py_TPFLAGS_DEFAULT, generator_slots);

}  // namespace

PyTypeObject* generator_type() { return type_object(ClassId::CypherGenerator, generator_spec); }

}  // namespace torvane::bindings::py_generator
