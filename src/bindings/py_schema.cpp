#include "bindings/py_schema.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/prompt.hpp"

namespace torvane::bindings::py_schema {

namespace {

using schema::RelationshipDef;
using schema::Schema;

namespace doc {
constexpr const char kClass[] = "Schema(nodes, relationships)\n--\n\n";
constexpr const char kFromDict[] =
    "from_dict(d)\n--\n\nCreate a Schema from a plain Python dict (e.g. previously exported with ``to_dict()``).\n\nExample::\n\n    d = {\n        \"nodes\": {\"Person\": [\"name\", \"age\"], \"Movie\": [\"title\"]},\n        \"relationships\": {\"ACTED_IN\": (\"Person\", \"Movie\", [\"role\"])},\n    }\n    schema = Schema.from_dict(d)";
constexpr const char kFromJson[] =
    "from_json(json_str)\n--\n\nDeserialise a Schema from a JSON string produced by ``to_json()``.\n\nExample::\n\n    json_str = schema.to_json()\n    schema2 = Schema.from_json(json_str)";
constexpr const char kNodeLabels[] =
    "node_labels($self)\n--\n\n";
constexpr const char kRelTypes[] =
    "rel_types($self)\n--\n\n";
constexpr const char kHasNodeLabel[] =
    "has_node_label($self, label)\n--\n\n";
constexpr const char kHasRelType[] =
    "has_rel_type($self, rel_type)\n--\n\n";
constexpr const char kNodeProperties[] =
    "node_properties($self, label)\n--\n\nReturn the list of properties declared for a node label.";
constexpr const char kRelProperties[] =
    "rel_properties($self, rel_type)\n--\n\nReturn the list of properties declared for a relationship type.";
constexpr const char kRelEndpoints[] =
    "rel_endpoints($self, rel_type)\n--\n\nReturn `(src_label, tgt_label)` for a relationship type, or None if unknown.";
constexpr const char kToDict[] =
    "to_dict($self)\n--\n\nExport the schema as a plain Python dict compatible with the Schema constructor.";
constexpr const char kToJson[] =
    "to_json($self)\n--\n\nSerialise the schema to a JSON string.\n\nThe result can be stored, transmitted, and later restored via\n``Schema.from_json()``.\n\nExample::\n\n    json_str = schema.to_json()\n    schema2 = Schema.from_json(json_str)\n    assert schema2 == schema  # round-trip safe";
constexpr const char kMerge[] =
    "merge($self, other)\n--\n\nReturn a new Schema that is the union of *self* and *other*.\n\n* Node labels and relationship types from both schemas are combined.\n* When a label/type exists in both, the property sets are merged\n  (union), so no declared property is lost.\n* The *other* schema's endpoint labels take precedence for\n  relationship types that appear in both schemas.\n\nExample::\n\n    s1 = Schema({\"Person\": [\"name\"]}, {\"KNOWS\": (\"Person\", \"Person\", [])})\n    s2 = Schema({\"Movie\": [\"title\"]}, {\"ACTED_IN\": (\"Person\", \"Movie\", [\"role\"])})\n    merged = s1.merge(s2)\n    # merged has Person, Movie, KNOWS, ACTED_IN";
constexpr const char kToPrompt[] =
    "to_prompt($self)\n--\n\nReturn a human-readable, LLM-friendly representation of the schema.\n\nSuitable for injecting into an LLM system prompt to tell the model which\nlabels, relationship types, and properties exist in the graph.\n\nExample::\n\n    print(schema.to_prompt())\n    # Graph Schema\n    # ============\n    #\n    # Nodes\n    # -----\n    #   :Person                   name, age, email\n    #   :Company                  name, founded\n    #\n    # Relationships\n    # -------------\n    #   :WORKS_FOR                (Person)-->(Company)   since, role\n    #   :LIVES_IN                 (Person)-->(City)";
constexpr const char kToMarkdown[] =
    "to_markdown($self)\n--\n\nReturn the schema formatted as a Markdown table.\n\nUseful for LLM contexts that render Markdown, documentation, or\nREADME sections.\n\nExample::\n\n    print(schema.to_markdown())\n    # ### Nodes\n    # | Label | Properties |\n    # |---|---|\n    # | :Person | name, age, email |\n    # ...";
constexpr const char kToCypherContext[] =
    "to_cypher_context($self)\n--\n\nReturn the schema as inline Cypher patterns.\n\nThis format is often the most natural for LLMs that already know Cypher,\nsince it mirrors the query syntax they will generate.\n\nExample::\n\n    print(schema.to_cypher_context())\n    # // Node labels and their properties\n    # (:Person {name, age, email})\n    # (:Company {name, founded})\n    #\n    # // Relationship types\n    # (:Person)-[:WORKS_FOR {since, role}]->(:Company)\n    # (:Person)-[:LIVES_IN]->(:City)";
}  // namespace doc

constexpr ArgSpec<2> kNew{"Schema.__new__", {"nodes", "relationships"}, 2};
constexpr ArgSpec<1> kFromDict{"Schema.from_dict", {"d"}, 1};
constexpr ArgSpec<1> kFromJson{"Schema.from_json", {"json_str"}, 1};
constexpr ArgSpec<1> kHasNodeLabel{"Schema.has_node_label", {"label"}, 1};
constexpr ArgSpec<1> kHasRelType{"Schema.has_rel_type", {"rel_type"}, 1};
constexpr ArgSpec<1> kNodeProperties{"Schema.node_properties", {"label"}, 1};
constexpr ArgSpec<1> kRelProperties{"Schema.rel_properties", {"rel_type"}, 1};
constexpr ArgSpec<1> kRelEndpoints{"Schema.rel_endpoints", {"rel_type"}, 1};
constexpr ArgSpec<1> kMerge{"Schema.merge", {"other"}, 1};

// ---------------------------------------------------------------------------
// Reading Python dicts

// Walks a dict entry by entry, as the interpreter's own dict iterator does:
// conversions may run Python code, and a dict whose size changes meanwhile
// cannot be walked further.
template <class F>
bool for_each_entry(PyObject* dict, F&& f) {
  const Py_ssize_t used = PyDict_GET_SIZE(dict);
  Py_ssize_t remaining = used;
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  for (;;) {
    if (PyDict_GET_SIZE(dict) != used) throw Panic("dictionary changed size during iteration");
    if (remaining == -1) throw Panic("dictionary keys changed during iteration");
    if (!PyDict_Next(dict, &pos, &key, &value)) return true;
    --remaining;
    Ref k = Ref::borrow(key);
    Ref v = Ref::borrow(value);
    if (!f(k.get(), v.get())) return false;
  }
}

HashSet to_set(std::vector<std::string>&& names) {
  HashSet set;
  set.reserve(names.size());
  for (auto& n : names) set.insert(std::move(n));
  return set;
}

[[gnu::cold]] bool node_value_error(PyObject* label) {
  PyErr_Clear();
  PyErr_Format(PyExc_TypeError, "Expected list[str] for node properties of label '%U'", label);
  return false;
}

[[gnu::cold]] bool rel_value_error(PyObject* rel_type) {
  PyErr_Clear();
  PyErr_Format(PyExc_TypeError,
               "Expected (str, str, list[str]) for relationship '%U', e.g. ('Person', "
               "'Movie', ['role'])",
               rel_type);
  return false;
}

bool read_relationship(PyObject* value, RelationshipDef& out) {
  if (!PyTuple_Check(value) || PyTuple_GET_SIZE(value) != 3) return false;
  std::string_view source;
  std::string_view target;
  std::vector<std::string> props;
  if (!to_text(PyTuple_GET_ITEM(value, 0), source) ||
      !to_text(PyTuple_GET_ITEM(value, 1), target) ||
      !to_text_list(PyTuple_GET_ITEM(value, 2), props)) {
    return false;
  }
  out.source.assign(source);
  out.target.assign(target);
  out.properties = to_set(std::move(props));
  return true;
}

// Builds a schema from the node dict and the relationship dict (both
// checked to be dicts); nodes are read completely before relationships.
std::optional<Schema> read_schema(PyObject* nodes, PyObject* relationships) {
  Schema s;
  std::vector<std::string> props;
  bool ok = for_each_entry(nodes, [&](PyObject* key, PyObject* value) {
    std::string_view label;
    if (!to_text(key, label)) return false;
    if (!to_text_list(value, props)) return node_value_error(key);
    s.nodes.insert_or_assign(std::string(label), to_set(std::move(props)));
    return true;
  });
  if (!ok) return std::nullopt;
  ok = for_each_entry(relationships, [&](PyObject* key, PyObject* value) {
    std::string_view rel_type;
    if (!to_text(key, rel_type)) return false;
    RelationshipDef def;
    if (!read_relationship(value, def)) return rel_value_error(key);
    s.relationships.insert_or_assign(std::string(rel_type), std::move(def));
    return true;
  });
  if (!ok) return std::nullopt;
  return s;
}

// Interned keys of the dict form, made once.
PyObject* key_nodes = nullptr;
PyObject* key_relationships = nullptr;

bool intern_keys() {
  if (key_nodes == nullptr) key_nodes = PyUnicode_InternFromString("nodes");
  if (key_relationships == nullptr) key_relationships = PyUnicode_InternFromString("relationships");
  return key_nodes != nullptr && key_relationships != nullptr;
}

// d[key] when it is a dict; KeyError or TypeError otherwise.
PyObject* dict_member(PyObject* d, PyObject* key, const char* missing, const char* not_dict) {
  PyObject* value = PyDict_GetItemWithError(d, key);
  if (value == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, missing);
    return nullptr;
  }
  if (!PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, not_dict);
    return nullptr;
  }
  return value;
}

// ---------------------------------------------------------------------------
// Entry points

// Runs `f` on the receiver's schema under a shared borrow, as one entry point.
template <class F>
PyObject* with_schema(PyObject* self, F&& f) {
  return with<PySchema>(self, [&](const PySchema& s) -> PyObject* { return f(s.inner); });
}

// A method taking one text argument: bind, borrow, convert, run.
template <class F>
PyObject* text_method(const ArgSpec<1>& spec, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, F&& f) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(spec, args, nargs, kwnames, a)) return nullptr;
    return with_schema(self, [&](const Schema& s) -> PyObject* {
      std::string_view text;
      if (!to_text(a[0], text)) return argument_error(spec.params[0]);
      return f(s, text);
    });
  });
}

PyObject* schema_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args<2> a;
    if (!bind(kNew, args, kwargs, a)) return nullptr;
    if (!PyDict_Check(a[0])) {
      cast_error(a[0], "dict");
      return argument_error("nodes");
    }
    if (!PyDict_Check(a[1])) {
      cast_error(a[1], "dict");
      return argument_error("relationships");
    }
    auto s = read_schema(a[0], a[1]);
    if (!s) return nullptr;
    return new_instance(type, PySchema{std::move(*s)});
  });
}

PyObject* schema_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kFromDict, args, nargs, kwnames, a)) return nullptr;
    if (!PyDict_Check(a[0])) {
      cast_error(a[0], "dict");
      return argument_error("d");
    }
    if (!intern_keys()) return nullptr;
    // Held across reading: reading may run Python code that changes d.
    Ref nodes = Ref::borrow(dict_member(a[0], key_nodes, "'nodes' key missing from dict",
                                        "'nodes' must be a dict"));
    if (!nodes) return nullptr;
    Ref rels = Ref::borrow(dict_member(a[0], key_relationships,
                                       "'relationships' key missing from dict",
                                       "'relationships' must be a dict"));
    if (!rels) return nullptr;
    auto s = read_schema(nodes.get(), rels.get());
    if (!s) return nullptr;
    return new_schema(std::move(*s));
  });
}

PyObject* schema_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kFromJson, args, nargs, kwnames, a)) return nullptr;
    std::string_view text;
    if (!to_text(a[0], text)) return argument_error("json_str");
    auto s = Schema::deserialize(text);
    if (!s) {
      Ref message = Ref::steal(to_py("Invalid Schema JSON: " + s.error()));
      if (message) PyErr_SetObject(PyExc_ValueError, message.get());
      return nullptr;
    }
    return new_schema(std::move(*s));
  });
}

PyObject* schema_node_labels(PyObject* self, PyObject*) {
  return with_schema(self, [](const Schema& s) { return to_py_list(s.node_labels()); });
}

PyObject* schema_rel_types(PyObject* self, PyObject*) {
  return with_schema(self, [](const Schema& s) { return to_py_list(s.rel_types()); });
}

PyObject* schema_has_node_label(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return text_method(kHasNodeLabel, self, args, nargs, kwnames,
                     [](const Schema& s, std::string_view label) {
                       return to_py(s.nodes.find(label) != s.nodes.end());
                     });
}

PyObject* schema_has_rel_type(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return text_method(kHasRelType, self, args, nargs, kwnames,
                     [](const Schema& s, std::string_view rel_type) {
                       return to_py(s.relationships.find(rel_type) != s.relationships.end());
                     });
}

PyObject* schema_node_properties(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return text_method(kNodeProperties, self, args, nargs, kwnames,
                     [](const Schema& s, std::string_view label) {
                       return to_py_list(s.node_properties(label));
                     });
}

PyObject* schema_rel_properties(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return text_method(kRelProperties, self, args, nargs, kwnames,
                     [](const Schema& s, std::string_view rel_type) {
                       return to_py_list(s.rel_properties(rel_type));
                     });
}

PyObject* schema_rel_endpoints(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return text_method(kRelEndpoints, self, args, nargs, kwnames,
                     [](const Schema& s, std::string_view rel_type) -> PyObject* {
                       auto ends = s.rel_src_tgt(rel_type);
                       if (!ends) Py_RETURN_NONE;
                       Ref src = Ref::steal(to_py(ends->first));
                       if (!src) return nullptr;
                       Ref tgt = Ref::steal(to_py(ends->second));
                       if (!tgt) return nullptr;
                       return PyTuple_Pack(2, src.get(), tgt.get());
                     });
}

PyObject* dict_of(const Schema& s) {
  Ref nodes = Ref::steal(PyDict_New());
  if (!nodes) return nullptr;
  for (std::string_view label : s.node_labels()) {
    Ref key = Ref::steal(to_py(label));
    if (!key) return nullptr;
    Ref props = Ref::steal(to_py_list(s.node_properties(label)));
    if (!props || PyDict_SetItem(nodes.get(), key.get(), props.get()) < 0) return nullptr;
  }
  Ref rels = Ref::steal(PyDict_New());
  if (!rels) return nullptr;
  for (std::string_view rel_type : s.rel_types()) {
    auto ends = s.rel_src_tgt(rel_type);
    Ref key = Ref::steal(to_py(rel_type));
    if (!key) return nullptr;
    Ref src = Ref::steal(to_py(ends->first));
    if (!src) return nullptr;
    Ref tgt = Ref::steal(to_py(ends->second));
    if (!tgt) return nullptr;
    Ref props = Ref::steal(to_py_list(s.rel_properties(rel_type)));
    if (!props) return nullptr;
    Ref triple = Ref::steal(PyTuple_Pack(3, src.get(), tgt.get(), props.get()));
    if (!triple || PyDict_SetItem(rels.get(), key.get(), triple.get()) < 0) return nullptr;
  }
  if (!intern_keys()) return nullptr;
  Ref d = Ref::steal(PyDict_New());
  if (!d || PyDict_SetItem(d.get(), key_nodes, nodes.get()) < 0 ||
      PyDict_SetItem(d.get(), key_relationships, rels.get()) < 0) {
    return nullptr;
  }
  return d.release();
}

PyObject* schema_to_dict(PyObject* self, PyObject*) { return with_schema(self, dict_of); }

PyObject* schema_to_json(PyObject* self, PyObject*) {
  // The writer cannot fail, so "Schema serialisation failed" is never raised.
  return with_schema(self, [](const Schema& s) {
    std::string out;
    s.serialize(out);
    return to_py(out);
  });
}

PyObject* schema_merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kMerge, args, nargs, kwnames, a)) return nullptr;
    return with_schema(self, [&](const Schema& s) -> PyObject* {
      auto* other = as_schema(a[0]);
      if (other == nullptr) return argument_error("other");
      SharedBorrow borrow(other->borrow);
      if (!borrow.ok()) return argument_error("other");
      return new_schema(schema::merged(s, other->value.inner));
    });
  });
}

PyObject* schema_to_prompt(PyObject* self, PyObject*) {
  return with_schema(self, [](const Schema& s) { return to_py(schema::render_prompt(s)); });
}

PyObject* schema_to_markdown(PyObject* self, PyObject*) {
  return with_schema(self, [](const Schema& s) { return to_py(schema::render_markdown(s)); });
}

PyObject* schema_to_cypher_context(PyObject* self, PyObject*) {
  return with_schema(self, [](const Schema& s) { return to_py(schema::render_cypher_context(s)); });
}

PyObject* schema_repr(PyObject* self) {
  return with_schema(self, [](const Schema& s) {
    std::string out = "Schema(nodes=";
    append_debug_list(out, s.node_labels());
    out += ", relationships=";
    append_debug_list(out, s.rel_types());
    out += ')';
    return to_py(out);
  });
}

PyMethodDef schema_methods[] = {
    static_fastcall("from_dict", schema_from_dict, doc::kFromDict),
    static_fastcall("from_json", schema_from_json, doc::kFromJson),
    noargs("node_labels", schema_node_labels, doc::kNodeLabels),
    noargs("rel_types", schema_rel_types, doc::kRelTypes),
    fastcall("has_node_label", schema_has_node_label, doc::kHasNodeLabel),
    fastcall("has_rel_type", schema_has_rel_type, doc::kHasRelType),
    fastcall("node_properties", schema_node_properties, doc::kNodeProperties),
    fastcall("rel_properties", schema_rel_properties, doc::kRelProperties),
    fastcall("rel_endpoints", schema_rel_endpoints, doc::kRelEndpoints),
    noargs("to_dict", schema_to_dict, doc::kToDict),
    noargs("to_json", schema_to_json, doc::kToJson),
    fastcall("merge", schema_merge, doc::kMerge),
    noargs("to_prompt", schema_to_prompt, doc::kToPrompt),
    noargs("to_markdown", schema_to_markdown, doc::kToMarkdown),
    noargs("to_cypher_context", schema_to_cypher_context, doc::kToCypherContext),
    {},
};

PyType_Slot schema_slots[] = {
    slot(Py_tp_doc, doc::kClass),
    slot(Py_tp_new, schema_new),
    slot(Py_tp_repr, schema_repr),
    slot(Py_tp_dealloc, dealloc<PySchema>),
    slot(Py_tp_methods, schema_methods),
    {0, nullptr},
};

PyType_Spec schema_spec = type_spec<PySchema>("builtins.Schema", Py_TPFLAGS_DEFAULT, schema_slots);

}  // namespace

PyTypeObject* schema_type() { return type_object(ClassId::Schema, schema_spec); }

PyObject* new_schema(schema::Schema&& s) {
  return new_instance(schema_type(), PySchema{std::move(s)});
}

}  // namespace torvane::bindings::py_schema
