#include "bindings/binding.hpp"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "debug_str.hpp"

namespace torvane::bindings {

namespace {

// Everything the module keeps for the life of the process. The module
// refuses a second interpreter, so one record serves every call.
struct Record {
  PyObject* panic_type = nullptr;
  std::array<PyTypeObject*, static_cast<std::size_t>(ClassId::count)> types{};
};
Record record;

constexpr const char kPanicDoc[] =
    "\nThe exception raised when native code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

}  // namespace

PyTypeObject* type_object(ClassId id, PyType_Spec& spec) {
  PyTypeObject*& type = record.types[static_cast<std::size_t>(id)];
  if (type == nullptr) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  return type;
}

PyObject* panic_exception_type() {
  if (record.panic_type == nullptr) {
    record.panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                                  PyExc_BaseException, nullptr);
  }
  return record.panic_type;
}

void raise_panic(const char* message) noexcept {
  std::fprintf(stderr, "\nthread '<unnamed>' panicked in _torvane:\n%s\n", message);
  std::fflush(stderr);
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // its creation error stays pending
  Ref text = Ref::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)),
                                             "replace"));
  if (text) PyErr_SetObject(type, text.get());
}

// ---------------------------------------------------------------------------
// Errors

Ref fetch_error() {
#if PY_VERSION_HEX >= 0x030C0000
  return Ref::steal(PyErr_GetRaisedException());
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (type == nullptr) return {};
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return Ref::steal(value);
#endif
}

void restore_error(Ref error) {
  if (!error) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(error.release());
#else
  PyObject* value = error.release();
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  Py_INCREF(type);
  PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

PyObject* cast_error(PyObject* obj, const char* target) {
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!qualname) return nullptr;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", qualname.get(), target);
  return nullptr;
}

PyObject* argument_error(const char* name) {
  Ref error = fetch_error();
  if (!error) return nullptr;
  if (Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    restore_error(std::move(error));
    return nullptr;
  }
  Ref text = Ref::steal(PyObject_Str(error.get()));
  if (!text) return nullptr;
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) return nullptr;
  Ref remapped = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!remapped) return nullptr;
  // Steals the cause; a null cause also suppresses the context, as raising
  // "from" the original's cause would.
  PyException_SetCause(remapped.get(), PyException_GetCause(error.get()));
  restore_error(std::move(remapped));
  return nullptr;
}

PyObject* raise_cypher_error(const CypherError& error) {
  std::string text = error.display();
  Ref s = Ref::steal(to_py(text));
  if (s) PyErr_SetObject(PyExc_ValueError, s.get());
  return nullptr;
}

// ---------------------------------------------------------------------------
// Argument binding

namespace detail {
namespace {

// Keyword names are compared by their text; every parameter name is ASCII.
// A name that is not a str (possible only through the C API) matches none.
bool keyword_is(PyObject* keyword, const char* name) {
  if (!PyUnicode_Check(keyword)) return false;
  if (PyUnicode_IS_COMPACT_ASCII(keyword)) {
    std::size_t n = std::strlen(name);
    return static_cast<std::size_t>(PyUnicode_GET_LENGTH(keyword)) == n &&
           std::memcmp(PyUnicode_DATA(keyword), name, n) == 0;
  }
  return PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

[[gnu::cold]] bool too_many_positional(const SpecView& s, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (s.n_required == s.n_params) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given",
                 s.callable, s.n_params, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes from %zu to %zu positional arguments but %zd %s given", s.callable,
                 s.n_required, s.n_params, given, verb);
  }
  return false;
}

[[gnu::cold]] bool unexpected_keyword(const SpecView& s, PyObject* keyword) {
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", s.callable,
               keyword);
  return false;
}

[[gnu::cold]] bool multiple_values(const SpecView& s, const char* name) {
  PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", s.callable, name);
  return false;
}

[[gnu::cold]] bool missing_required(const SpecView& s, PyObject* const* out) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < s.n_required; ++i) {
    if (out[i] == nullptr) missing.push_back(s.params[i]);
  }
  std::string text = std::string(s.callable) + "() missing " + std::to_string(missing.size()) +
                     " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                     ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i != 0) {
      if (missing.size() > 2) text += ',';
      text += i + 1 == missing.size() ? " and " : " ";
    }
    text += '\'';
    text += missing[i];
    text += '\'';
  }
  PyErr_SetString(PyExc_TypeError, text.c_str());
  return false;
}

// Places one keyword argument; false with the error set.
bool place_keyword(const SpecView& s, PyObject* keyword, PyObject* value, PyObject** out) {
  for (std::size_t i = 0; i < s.n_params; ++i) {
    if (keyword_is(keyword, s.params[i])) {
      if (out[i] != nullptr) return multiple_values(s, s.params[i]);
      out[i] = value;
      return true;
    }
  }
  return unexpected_keyword(s, keyword);
}

bool check_required(const SpecView& s, PyObject* const* out) {
  for (std::size_t i = 0; i < s.n_required; ++i) {
    if (out[i] == nullptr) return missing_required(s, out);
  }
  return true;
}

}  // namespace

bool bind_fast(const SpecView& s, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
               PyObject** out) {
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (static_cast<std::size_t>(nargs) > s.n_params) return too_many_positional(s, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!place_keyword(s, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
    }
  }
  return check_required(s, out);
}

bool bind_tuple(const SpecView& s, PyObject* args, PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (static_cast<std::size_t>(nargs) > s.n_params) return too_many_positional(s, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(s, key, value, out)) return false;
    }
  }
  return check_required(s, out);
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Conversions

bool to_text(PyObject* obj, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    cast_error(obj, "str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) return false;  // lone surrogates: UnicodeEncodeError
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

namespace {

// sink.reserve(n); room the platform cannot give (a length a sequence's
// __len__ made up) is the panic "capacity overflow", whatever the container
// says.
template <class Sink>
void reserve(Sink& sink, std::size_t n) {
  try {
    sink.reserve(n);
  } catch (const std::length_error&) {
    throw Panic("capacity overflow");
  } catch (const std::bad_alloc&) {
    throw Panic("capacity overflow");
  }
}

// Reads a non-str sequence of str in order: sink.reserve(n) with its length
// where known, then sink.add(item, text) per item, the item borrowed for the
// call. False with the error set.
template <class Sink>
bool read_texts(PyObject* obj, Sink&& sink) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) {
    cast_error(obj, "Sequence");
    return false;
  }
  std::string_view text;
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    // Converting a str runs no Python code, so the size cannot change.
    Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
    reserve(sink, static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PySequence_Fast_GET_ITEM(obj, i);
      if (!to_text(item, text)) return false;
      sink.add(item, text);
    }
    return true;
  }
  // Other sequences are iterated; their length only sizes the output.
  Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) {
    PyErr_Clear();
  } else {
    reserve(sink, static_cast<std::size_t>(n));
  }
  Ref iter = Ref::steal(PyObject_GetIter(obj));
  if (!iter) return false;
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    if (!to_text(item.get(), text)) return false;
    sink.add(item.get(), text);
  }
  return !PyErr_Occurred();
}

}  // namespace

bool to_text_list(PyObject* obj, std::vector<std::string>& out) {
  struct Copies {
    std::vector<std::string>& out;
    void reserve(std::size_t n) { out.reserve(n); }
    void add(PyObject*, std::string_view text) { out.emplace_back(text); }
  };
  out.clear();
  return read_texts(obj, Copies{out});
}

bool to_text_views(PyObject* obj, std::vector<Ref>& held, std::vector<std::string_view>& out) {
  struct Views {
    std::vector<Ref>& held;
    std::vector<std::string_view>& out;
    void reserve(std::size_t n) {
      held.reserve(n);
      out.reserve(n);
    }
    void add(PyObject* item, std::string_view text) {
      held.push_back(Ref::borrow(item));
      out.push_back(text);
    }
  };
  held.clear();
  out.clear();
  return read_texts(obj, Views{held, out});
}

bool to_u64(PyObject* obj, std::uint64_t& out) {
  Ref index;
  if (!PyLong_Check(obj)) {
    index = Ref::steal(PyNumber_Index(obj));
    if (!index) return false;
    obj = index.get();
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(obj);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<std::uint64_t>(v);
  return true;
}

bool to_u32(PyObject* obj, std::uint32_t& out) {
  std::uint64_t v = 0;
  if (!to_u64(obj, v)) return false;
  if (v > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

// ---------------------------------------------------------------------------
// Borrows

SharedBorrow::SharedBorrow(BorrowFlag& f) : flag_(&f) {
  if (!f.acquire_shared()) {
    flag_ = nullptr;
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
  }
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& f) : flag_(&f) {
  if (!f.acquire_exclusive()) {
    flag_ = nullptr;
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
  }
}

// ---------------------------------------------------------------------------
// Module additions

bool add_to_module(PyObject* module, const char* name, PyObject* value) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (!PyList_Check(all.get())) {
    cast_error(all.get(), "list");
    return false;
  }
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text) return false;
  if (PyList_Append(all.get(), text.get()) < 0) throw Panic("could not append __name__ to __all__");
  return PyObject_SetAttrString(module, name, value) == 0;
}

// ---------------------------------------------------------------------------
// Debug-list form

void append_debug_str(std::string& out, std::string_view s) {
  if (!torvane::append_debug_str(out, s)) throw Panic("invalid UTF-8 in a native string");
}

}  // namespace torvane::bindings
