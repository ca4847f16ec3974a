#include "bindings/py_query_info.hpp"

#include <string>
#include <string_view>
#include <utility>

namespace torvane::bindings::py_query_info {

namespace {

namespace doc {
constexpr const char kClass[] = "Information extracted from a parsed query without a schema.";
constexpr const char kParseQuery[] =
    "parse_query(query)\n--\n\nParse a Cypher query and return structural information without requiring a schema.\n\nExample::\n\n    info = parse_query(\"MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name\")\n    info.is_valid        # True\n    info.labels_used     # [\"Movie\", \"Person\"]\n    info.rel_types_used  # [\"ACTED_IN\"]\n    info.properties_used # [\"name\"]";
constexpr const char kIsValid[] = "True if the query is syntactically valid.";
constexpr const char kErrors[] = "Syntax error messages (empty if valid).";
constexpr const char kLabelsUsed[] = "Node labels referenced in the query.";
constexpr const char kRelTypesUsed[] = "Relationship types referenced in the query.";
constexpr const char kPropertiesUsed[] =
    "Property keys accessed in the query (e.g. ``[\"name\", \"age\"]``).";
}  // namespace doc

constexpr ArgSpec<1> kParseQuery{"parse_query", {"query"}, 1};

// ---------------------------------------------------------------------------
// The class QueryInfo

template <class F>
auto with_info(PyObject* self, F&& f) {
  return with<PyQueryInfo>(self, std::forward<F>(f));
}

PyObject* get_is_valid(PyObject* self, void*) {
  return with_info(self, [](const PyQueryInfo& i) { return to_py(i.is_valid); });
}

// A getter for one of the list fields.
template <std::vector<std::string> PyQueryInfo::*Field>
PyObject* get_list(PyObject* self, void*) {
  return with_info(self, [](const PyQueryInfo& i) { return to_py_list(i.*Field); });
}

int info_bool(PyObject* self) {
  return with_info(self, [](const PyQueryInfo& i) { return i.is_valid ? 1 : 0; });
}

PyObject* info_repr(PyObject* self) {
  return with_info(self, [](const PyQueryInfo& i) {
    std::string out = "QueryInfo(is_valid=";
    out += i.is_valid ? "true" : "false";
    out += ", labels=";
    append_debug_list(out, i.labels_used);
    out += ", rel_types=";
    append_debug_list(out, i.rel_types_used);
    out += ", properties=";
    append_debug_list(out, i.properties_used);
    out += ", errors=";
    append_debug_list(out, i.errors);
    out += ')';
    return to_py(out);
  });
}

PyGetSetDef info_getters[] = {
    {"is_valid", get_is_valid, nullptr, doc::kIsValid, nullptr},
    {"errors", get_list<&PyQueryInfo::errors>, nullptr, doc::kErrors, nullptr},
    {"labels_used", get_list<&PyQueryInfo::labels_used>, nullptr, doc::kLabelsUsed, nullptr},
    {"rel_types_used", get_list<&PyQueryInfo::rel_types_used>, nullptr, doc::kRelTypesUsed,
     nullptr},
    {"properties_used", get_list<&PyQueryInfo::properties_used>, nullptr, doc::kPropertiesUsed,
     nullptr},
    {},
};

PyType_Slot info_slots[] = {
    slot(Py_tp_doc, doc::kClass),
    slot(Py_tp_repr, info_repr),
    slot(Py_nb_bool, info_bool),
    slot(Py_tp_dealloc, dealloc<PyQueryInfo>),
    slot(Py_tp_getset, info_getters),
    {0, nullptr},
};

PyType_Spec info_spec = type_spec<PyQueryInfo>(
    "builtins.QueryInfo", Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, info_slots);

// ---------------------------------------------------------------------------
// The function parse_query

PyObject* parse_query(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kParseQuery, args, nargs, kwnames, a)) return nullptr;
    std::string_view query;
    if (!to_text(a[0], query)) return argument_error("query");
    return new_instance(query_info_type(), summary::query_info(query));
  });
}

PyMethodDef parse_query_def = fastcall("parse_query", parse_query, doc::kParseQuery);

}  // namespace

PyTypeObject* query_info_type() { return type_object(ClassId::QueryInfo, info_spec); }

PyObject* parse_query_function(PyObject* module) {
  Ref name = Ref::steal(PyModule_GetNameObject(module));
  if (!name) return nullptr;
  return PyCFunction_NewEx(&parse_query_def, module, name.get());
}

}  // namespace torvane::bindings::py_query_info
