#pragma once
// parse_query and its result class QueryInfo: which labels, relationship types
// and property keys a query mentions, found without a schema.
#include "bindings/binding.hpp"
#include "summary/query_info.hpp"

namespace torvane::bindings::py_query_info {

// The binding type of QueryInfo holds the core's summary as it is.
using PyQueryInfo = summary::QueryInfo;

// The class object, created on first use. Null with the error set on failure.
PyTypeObject* query_info_type();

// The function parse_query bound to `module`. Null with the error set.
PyObject* parse_query_function(PyObject* module);

}  // namespace torvane::bindings::py_query_info
