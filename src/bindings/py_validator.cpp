#include "bindings/py_validator.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pool/pool.hpp"
#include "bindings/py_schema.hpp"

namespace torvane::bindings::py_validator {

namespace {

using validator::ValidationResult;

namespace doc {
constexpr const char kClass[] = "Torvane(schema)\n--\n\n";
constexpr const char kSchema[] = "The schema this validator was constructed with.";
constexpr const char kValidate[] = "validate($self, query)\n--\n\n";
constexpr const char kValidateBatch[] =
    "validate_batch($self, queries)\n--\n\nValidate multiple queries at once and return one "
    "``ValidationResult`` per query.\n\nQueries are validated in parallel (via Rayon) and the "
    "Python GIL is released\nfor the duration of the batch, so other Python threads (e.g. "
    "asyncio event loop)\nare not blocked.";

constexpr const char kErrors[] = "All errors (syntax + semantic) combined.";
constexpr const char kSyntaxErrors[] = "Parse/syntax errors only.";
constexpr const char kSemanticErrors[] = "Schema-level semantic errors only.";
constexpr const char kWarnings[] =
    "Advisory warnings (not errors \u2014 query still runs, but may be slow or incorrect).";
constexpr const char kFixedQuery[] = "Auto-corrected query when all errors are fixable, or None.";
constexpr const char kDiagnostics[] =
    "Structured diagnostics with error codes, suggestions, and positions.";
constexpr const char kResultToDict[] =
    "to_dict($self)\n--\n\nReturn the result as a plain Python dict.";
constexpr const char kResultToJson[] =
    "to_json($self)\n--\n\nReturn the result as a compact JSON string.";

constexpr const char kCode[] = "Short error code (e.g. \"E201\").";
constexpr const char kCodeName[] = "Human-readable code name (e.g. \"UnknownNodeLabel\").";
constexpr const char kSeverity[] = "\"error\" or \"warning\".";
constexpr const char kMessage[] = "Full human-readable message.";
constexpr const char kSuggestionOriginal[] = "Original text fragment to replace, or None.";
constexpr const char kSuggestionReplacement[] = "Suggested replacement text, or None.";
constexpr const char kSuggestionDescription[] =
    "Human-readable description of the suggestion, or None.";
constexpr const char kPositionLine[] = "1-based line number (parse errors only), or None.";
constexpr const char kPositionCol[] = "1-based column number (parse errors only), or None.";
constexpr const char kDiagnosticToDict[] = "to_dict($self)\n--\n\n";
}  // namespace doc

constexpr ArgSpec<1> kNew{"Torvane.__new__", {"schema"}, 1};
constexpr ArgSpec<1> kValidate{"Torvane.validate", {"query"}, 1};
constexpr ArgSpec<1> kValidateBatch{"Torvane.validate_batch", {"queries"}, 1};

// ---------------------------------------------------------------------------
// Dict keys, interned once for the life of the process

enum Key : std::uint8_t {
  kIsValidKey,
  kErrorsKey,
  kSyntaxErrorsKey,
  kSemanticErrorsKey,
  kWarningsKey,
  kFixedQueryKey,
  kDiagnosticsKey,
  kCodeKey,
  kCodeNameKey,
  kSeverityKey,
  kMessageKey,
  kSuggestionOriginalKey,
  kSuggestionReplacementKey,
  kSuggestionDescriptionKey,
  kPositionLineKey,
  kPositionColKey,
  kKeyCount
};

constexpr std::array<const char*, kKeyCount> kKeyNames = {
    "is_valid",
    "errors",
    "syntax_errors",
    "semantic_errors",
    "warnings",
    "fixed_query",
    "diagnostics",
    "code",
    "code_name",
    "severity",
    "message",
    "suggestion_original",
    "suggestion_replacement",
    "suggestion_description",
    "position_line",
    "position_col",
};

std::array<PyObject*, kKeyCount> keys{};

// The interned keys, or null with the error set.
PyObject* const* interned_keys() {
  if (keys[kKeyCount - 1] == nullptr) {
    for (std::size_t i = 0; i < kKeyCount; ++i) {
      if (keys[i] == nullptr) keys[i] = PyUnicode_InternFromString(kKeyNames[i]);
      if (keys[i] == nullptr) return nullptr;
    }
  }
  return keys.data();
}

// Sets d[key] to a new reference; false with the error set.
bool put(PyObject* d, PyObject* key, PyObject* value) {
  Ref v = Ref::steal(value);
  return v && PyDict_SetItem(d, key, v.get()) == 0;
}

PyObject* to_py_opt(const std::optional<std::string>& s) {
  if (!s) Py_RETURN_NONE;
  return to_py(std::string_view(*s));
}

PyObject* to_py_opt(std::optional<std::uint32_t> n) {
  if (!n) Py_RETURN_NONE;
  return PyLong_FromUnsignedLong(*n);
}

// The interpreter lock, released for one scope and taken back at its end,
// also when an exception leaves the scope.
class Unlocked {
 public:
  Unlocked() : state_(PyEval_SaveThread()) {}
  ~Unlocked() { PyEval_RestoreThread(state_); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* state_;
};

// ---------------------------------------------------------------------------
// The class ValidationDiagnostic

template <class F>
PyObject* with_diagnostic(PyObject* self, F&& f) {
  return with<PyValidationDiagnostic>(self, std::forward<F>(f));
}

template <std::string PyValidationDiagnostic::*Field>
PyObject* get_text(PyObject* self, void*) {
  return with_diagnostic(
      self, [](const PyValidationDiagnostic& d) { return to_py(std::string_view(d.*Field)); });
}

template <auto Field>
PyObject* get_optional(PyObject* self, void*) {
  return with_diagnostic(self, [](const PyValidationDiagnostic& d) { return to_py_opt(d.*Field); });
}

PyObject* diagnostic_to_dict(PyObject* self, PyObject*) {
  return with_diagnostic(self, [](const PyValidationDiagnostic& d) { return d.to_dict(); });
}

PyObject* diagnostic_repr(PyObject* self) {
  return with_diagnostic(self, [](const PyValidationDiagnostic& d) {
    // The values go in as they are: no quoting or escaping.
    std::string out = "ValidationDiagnostic(code='";
    out += d.code;
    out += "', severity='";
    out += d.severity;
    out += "', message='";
    out += d.message;
    if (d.suggestion_replacement) {
      out += "', suggestion='";
      out += *d.suggestion_replacement;
    }
    out += "')";
    return to_py(out);
  });
}

using D = PyValidationDiagnostic;

PyGetSetDef diagnostic_getters[] = {
    {"code", get_text<&D::code>, nullptr, doc::kCode, nullptr},
    {"code_name", get_text<&D::code_name>, nullptr, doc::kCodeName, nullptr},
    {"severity", get_text<&D::severity>, nullptr, doc::kSeverity, nullptr},
    {"message", get_text<&D::message>, nullptr, doc::kMessage, nullptr},
    {"suggestion_original", get_optional<&D::suggestion_original>, nullptr,
     doc::kSuggestionOriginal, nullptr},
    {"suggestion_replacement", get_optional<&D::suggestion_replacement>, nullptr,
     doc::kSuggestionReplacement, nullptr},
    {"suggestion_description", get_optional<&D::suggestion_description>, nullptr,
     doc::kSuggestionDescription, nullptr},
    {"position_line", get_optional<&D::position_line>, nullptr, doc::kPositionLine, nullptr},
    {"position_col", get_optional<&D::position_col>, nullptr, doc::kPositionCol, nullptr},
    {},
};

PyMethodDef diagnostic_methods[] = {
    noargs("to_dict", diagnostic_to_dict, doc::kDiagnosticToDict),
    {},
};

PyType_Slot diagnostic_slots[] = {
    slot(Py_tp_repr, diagnostic_repr),
    slot(Py_tp_dealloc, dealloc<PyValidationDiagnostic>),
    slot(Py_tp_getset, diagnostic_getters),
    slot(Py_tp_methods, diagnostic_methods),
    {0, nullptr},
};

PyType_Spec diagnostic_spec = type_spec<PyValidationDiagnostic>(
    "builtins.ValidationDiagnostic", Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    diagnostic_slots);

PyObject* new_diagnostic(PyValidationDiagnostic&& d) {
  return new_instance(diagnostic_type(), std::move(d));
}

// ---------------------------------------------------------------------------
// The class ValidationResult

template <class F>
auto with_result(PyObject* self, F&& f) {
  return with<PyValidationResult>(self, [&](const PyValidationResult& r) { return f(*r.found); });
}

// A new list of str holding those messages.
PyObject* message_list(const validator::Findings& r, Messages which) {
  return to_py_list(messages(r, which));
}

PyObject* get_is_valid(PyObject* self, void*) {
  return with_result(self, [](const validator::Findings& r) { return to_py(r.is_valid); });
}

template <Messages Which>
PyObject* get_messages(PyObject* self, void*) {
  return with_result(self, [](const validator::Findings& r) { return message_list(r, Which); });
}

PyObject* get_fixed_query(PyObject* self, void*) {
  return with_result(self, [](const validator::Findings& r) { return to_py_opt(r.fixed_query); });
}

// A new list with one item per diagnostic, made by `make`.
template <class F>
PyObject* diagnostic_list(const validator::Findings& r, F&& make) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(r.diagnostics.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& d : r.diagnostics) {
    PyObject* item = make(PyValidationDiagnostic::from_native(d));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

PyObject* get_diagnostics(PyObject* self, void*) {
  return with_result(self, [](const validator::Findings& r) {
    return diagnostic_list(r,
                           [](PyValidationDiagnostic&& d) { return new_diagnostic(std::move(d)); });
  });
}

PyObject* result_to_dict(PyObject* self, PyObject*) {
  return with_result(self, [](const validator::Findings& r) -> PyObject* {
    PyObject* const* k = interned_keys();
    if (k == nullptr) return nullptr;
    Ref d = Ref::steal(PyDict_New());
    if (!d) return nullptr;
    PyObject* dict = d.get();
    const bool ok =
        put(dict, k[kIsValidKey], to_py(r.is_valid)) &&
        put(dict, k[kErrorsKey], message_list(r, Messages::Errors)) &&
        put(dict, k[kSyntaxErrorsKey], message_list(r, Messages::SyntaxErrors)) &&
        put(dict, k[kSemanticErrorsKey], message_list(r, Messages::SemanticErrors)) &&
        put(dict, k[kWarningsKey], message_list(r, Messages::Warnings)) &&
        put(dict, k[kFixedQueryKey], to_py_opt(r.fixed_query)) &&
        put(dict, k[kDiagnosticsKey],
            diagnostic_list(r, [](PyValidationDiagnostic&& x) { return x.to_dict(); }));
    return ok ? d.release() : nullptr;
  });
}

PyObject* result_to_json(PyObject* self, PyObject*) {
  return with_result(self, [](const validator::Findings& r) {
    std::string out;
    validator::write_json(out, r);
    return to_py(out);
  });
}

int result_bool(PyObject* self) {
  return with_result(self, [](const validator::Findings& r) { return r.is_valid ? 1 : 0; });
}

Py_ssize_t result_len(PyObject* self) {
  return with_result(self, [](const validator::Findings& r) {
    return static_cast<Py_ssize_t>(
        std::count_if(r.diagnostics.begin(), r.diagnostics.end(),
                      [](const auto& d) { return selects(Messages::Errors, d); }));
  });
}

PyObject* result_repr(PyObject* self) {
  return with_result(self, [](const validator::Findings& r) {
    std::string out = "ValidationResult(is_valid=";
    out += r.is_valid ? "true" : "false";
    out += ", errors=";
    append_debug_list(out, messages(r, Messages::Errors));
    out += ')';
    return to_py(out);
  });
}

PyGetSetDef result_getters[] = {
    {"is_valid", get_is_valid, nullptr, nullptr, nullptr},
    {"errors", get_messages<Messages::Errors>, nullptr, doc::kErrors, nullptr},
    {"syntax_errors", get_messages<Messages::SyntaxErrors>, nullptr, doc::kSyntaxErrors, nullptr},
    {"semantic_errors", get_messages<Messages::SemanticErrors>, nullptr, doc::kSemanticErrors,
     nullptr},
    {"warnings", get_messages<Messages::Warnings>, nullptr, doc::kWarnings, nullptr},
    {"fixed_query", get_fixed_query, nullptr, doc::kFixedQuery, nullptr},
    {"diagnostics", get_diagnostics, nullptr, doc::kDiagnostics, nullptr},
    {},
};

PyMethodDef result_methods[] = {
    noargs("to_dict", result_to_dict, doc::kResultToDict),
    noargs("to_json", result_to_json, doc::kResultToJson),
    {},
};

PyType_Slot result_slots[] = {
    slot(Py_tp_repr, result_repr),
    slot(Py_nb_bool, result_bool),
    slot(Py_mp_length, result_len),
    slot(Py_sq_length, result_len),
    slot(Py_tp_dealloc, dealloc<PyValidationResult>),
    slot(Py_tp_getset, result_getters),
    slot(Py_tp_methods, result_methods),
    {0, nullptr},
};

PyType_Spec result_spec = type_spec<PyValidationResult>(
    "builtins.ValidationResult", Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    result_slots);

// ---------------------------------------------------------------------------
// The class Torvane

template <class F>
PyObject* with_validator(PyObject* self, F&& f) {
  return with<PyTorvane>(self, [&](const PyTorvane& t) { return f(t.inner); });
}

PyObject* torvane_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kNew, args, kwargs, a)) return nullptr;
    auto* source = py_schema::as_schema(a[0]);
    if (source == nullptr) return argument_error("schema");
    SharedBorrow borrow(source->borrow);
    if (!borrow.ok()) return argument_error("schema");
    return new_instance(type, PyTorvane{validator::Torvane(source->value.inner)});
  });
}

PyObject* get_schema(PyObject* self, void*) {
  return with_validator(self, [](const validator::Torvane& v) {
    return py_schema::new_schema(schema::Schema(v.schema));
  });
}

PyObject* torvane_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kValidate, args, nargs, kwnames, a)) return nullptr;
    return with_validator(self, [&](const validator::Torvane& v) -> PyObject* {
      std::string_view query;
      if (!to_text(a[0], query)) return argument_error("query");
      return new_result(v.findings(query));
    });
  });
}

// A new list with one new ValidationResult per result, in order; on failure
// the list made so far is released, with the results not yet taken. The
// list is kept out of the collector's sight while it is filled, so that no
// Python code (a collection run by an allocation, and its callbacks) finds it
// with items missing.
PyObject* wrap_results(std::vector<std::unique_ptr<validator::Findings>>& results) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return nullptr;
  PyObject_GC_UnTrack(list.get());
  PyTypeObject* type = result_type();
  for (std::size_t i = 0; i < results.size(); ++i) {
    PyObject* item = new_instance(type, PyValidationResult{std::move(results[i])});
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  PyObject_GC_Track(list.get());
  return list.release();
}

PyObject* torvane_validate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Args<1> a;
    if (!bind(kValidateBatch, args, nargs, kwnames, a)) return nullptr;
    return with_validator(self, [&](const validator::Torvane& v) -> PyObject* {
      // Every text is read first, so a bad item validates nothing. The
      // workers see views into the str objects, which `held` keeps alive, and
      // never touch a Python object.
      std::vector<Ref> held;
      std::vector<std::string_view> texts;
      if (!to_text_views(a[0], held, texts)) return argument_error("queries");
      // Each worker makes its texts' findings where no Python code can reach
      // them; the objects that hand them out are made once all are done.
      std::vector<std::unique_ptr<validator::Findings>> results(texts.size());
      {
        Unlocked unlocked;
        pool::for_each_index(texts.size(), [&](std::size_t i) {
          results[i] = std::make_unique<validator::Findings>(v.findings(texts[i]));
        });
      }
      held.clear();
      return wrap_results(results);
    });
  });
}

PyObject* torvane_repr(PyObject* self) {
  return with_validator(
      self, [](const validator::Torvane&) { return to_py(std::string_view("Torvane()")); });
}

PyGetSetDef torvane_getters[] = {
    {"schema", get_schema, nullptr, doc::kSchema, nullptr},
    {},
};

PyMethodDef torvane_methods[] = {
    fastcall("validate", torvane_validate, doc::kValidate),
    fastcall("validate_batch", torvane_validate_batch, doc::kValidateBatch),
    {},
};

PyType_Slot torvane_slots[] = {
    slot(Py_tp_doc, doc::kClass),
    slot(Py_tp_new, torvane_new),
    slot(Py_tp_repr, torvane_repr),
    slot(Py_tp_dealloc, dealloc<PyTorvane>),
    slot(Py_tp_getset, torvane_getters),
    slot(Py_tp_methods, torvane_methods),
    {0, nullptr},
};

PyType_Spec torvane_spec =
    type_spec<PyTorvane>("builtins.Torvane", Py_TPFLAGS_DEFAULT, torvane_slots);

}  // namespace

// ---------------------------------------------------------------------------

PyValidationDiagnostic PyValidationDiagnostic::from_native(
    const diagnostics::ValidationDiagnostic& d) {
  PyValidationDiagnostic out{
      std::string(diagnostics::code_str(d.code)),
      std::string(diagnostics::code_name(d.code)),
      std::string(diagnostics::as_str(d.severity)),
      d.message,
      std::nullopt,
      std::nullopt,
      std::nullopt,
      std::nullopt,
      std::nullopt,
  };
  if (d.suggestion) {
    out.suggestion_original = d.suggestion->original;
    out.suggestion_replacement = d.suggestion->replacement;
    out.suggestion_description = d.suggestion->description;
  }
  if (d.position) {
    out.position_line = d.position->first;
    out.position_col = d.position->second;
  }
  return out;
}

PyObject* PyValidationDiagnostic::to_dict() const {
  PyObject* const* k = interned_keys();
  if (k == nullptr) return nullptr;
  Ref d = Ref::steal(PyDict_New());
  if (!d) return nullptr;
  PyObject* dict = d.get();
  const bool ok = put(dict, k[kCodeKey], to_py(std::string_view(code))) &&
                  put(dict, k[kCodeNameKey], to_py(std::string_view(code_name))) &&
                  put(dict, k[kSeverityKey], to_py(std::string_view(severity))) &&
                  put(dict, k[kMessageKey], to_py(std::string_view(message))) &&
                  put(dict, k[kSuggestionOriginalKey], to_py_opt(suggestion_original)) &&
                  put(dict, k[kSuggestionReplacementKey], to_py_opt(suggestion_replacement)) &&
                  put(dict, k[kSuggestionDescriptionKey], to_py_opt(suggestion_description)) &&
                  put(dict, k[kPositionLineKey], to_py_opt(position_line)) &&
                  put(dict, k[kPositionColKey], to_py_opt(position_col));
  return ok ? d.release() : nullptr;
}

PyTypeObject* torvane_type() { return type_object(ClassId::Torvane, torvane_spec); }
PyTypeObject* result_type() { return type_object(ClassId::ValidationResult, result_spec); }
PyTypeObject* diagnostic_type() {
  return type_object(ClassId::ValidationDiagnostic, diagnostic_spec);
}

PyObject* new_result(validator::Findings&& found) {
  return new_instance(result_type(),
                      PyValidationResult{std::make_unique<validator::Findings>(std::move(found))});
}

}  // namespace torvane::bindings::py_validator
