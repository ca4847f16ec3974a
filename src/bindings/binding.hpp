#pragma once
// The thin layer between the core and the CPython API that every class of
// the module is written on: owned references, the argument binder with its
// TypeError texts, argument conversions, borrow flags, instance storage,
// method-table builders and the panic boundary.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/error.hpp"

namespace torvane::bindings {

// ---------------------------------------------------------------------------
// Owned references

// A strong reference, released when it goes out of scope.
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) { return Ref(p); }
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(o.release()) {}
  Ref& operator=(Ref&& o) noexcept {
    Ref old(std::exchange(p_, o.release()));
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// Panics and the process-wide record

// A broken internal invariant. Thrown inside a call, it stops the call and
// leaves Python as PanicException.
struct Panic : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The classes of the module, in the order the module adds them.
enum class ClassId : std::uint8_t {
  Schema,
  Torvane,
  ValidationResult,
  ValidationDiagnostic,
  CypherGenerator,
  QueryInfo,
  count
};

// The type object of a class, created from its spec on first use and kept
// for the rest of the process. Null with the error set if creation fails.
PyTypeObject* type_object(ClassId id, PyType_Spec& spec);

// "pyo3_runtime.PanicException", derived from BaseException; created once.
PyObject* panic_exception_type();

// Writes the panic report to stderr and raises PanicException(message).
[[gnu::cold]] void raise_panic(const char* message) noexcept;

// What an entry point returning R gives back with an error set: null or -1.
template <class R>
R error_value() {
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return static_cast<R>(-1);
  }
}

// Runs one entry point; a C++ exception that escapes it becomes a panic.
// Returns the callable's value, or the error value of its type.
template <class F>
auto guarded(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
  return error_value<decltype(f())>();
}

// ---------------------------------------------------------------------------
// Errors

// The pending exception, normalised, taken out of the interpreter.
Ref fetch_error();
// Makes a previously fetched exception pending again.
void restore_error(Ref error);

// TypeError "'{}' object cannot be cast as '{}'" (the object's type by its
// qualified name). Returns null.
[[gnu::cold]] PyObject* cast_error(PyObject* obj, const char* target);

// Called after a conversion of argument `name` failed: a TypeError (exactly)
// becomes "argument '{}': {}" keeping the first error's cause; any other
// error stays as it is. Returns null.
[[gnu::cold]] PyObject* argument_error(const char* name);

// A CypherError leaves Python as ValueError with its display text. Returns null.
[[gnu::cold]] PyObject* raise_cypher_error(const CypherError& error);

// ---------------------------------------------------------------------------
// Argument binding

// The parameters of a callable: all positional-or-keyword, the first
// `n_required` required, the others defaulting to absent. `callable` is
// "Class.method" or "function" as it appears in the error texts.
template <std::size_t N>
struct ArgSpec {
  const char* callable;
  std::array<const char*, N> params;
  std::size_t n_required;
};

// Bound arguments, borrowed from the call; null where a parameter was not
// given. Our own type rather than std::array, so that an unqualified bind()
// never finds std::bind.
template <std::size_t N>
struct Args {
  PyObject* values[N == 0 ? 1 : N];
  PyObject* operator[](std::size_t i) const { return values[i]; }
  PyObject** data() { return values; }
  void clear() {
    for (auto& v : values) v = nullptr;
  }
};

namespace detail {
struct SpecView {
  const char* callable;
  const char* const* params;
  std::size_t n_params;
  std::size_t n_required;
};
bool bind_fast(const SpecView& spec, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames, PyObject** out);
bool bind_tuple(const SpecView& spec, PyObject* args, PyObject* kwargs, PyObject** out);
template <std::size_t N>
SpecView view(const ArgSpec<N>& s) {
  return {s.callable, s.params.data(), N, s.n_required};
}
}  // namespace detail

// Binds a fast call with keywords. False with TypeError set on a violation.
template <std::size_t N>
bool bind(const ArgSpec<N>& spec, PyObject* const* args, Py_ssize_t nargsf,
          PyObject* kwnames, Args<N>& out) {
  out.clear();
  return detail::bind_fast(detail::view(spec), args, nargsf, kwnames, out.data());
}

// Binds a constructor call (argument tuple and optional keyword dict).
template <std::size_t N>
bool bind(const ArgSpec<N>& spec, PyObject* args, PyObject* kwargs, Args<N>& out) {
  out.clear();
  return detail::bind_tuple(detail::view(spec), args, kwargs, out.data());
}

// ---------------------------------------------------------------------------
// Conversions of arguments. Each returns false with the error set; wrap the
// failure with argument_error(name) where the value is an argument.

// A str (or subclass) as UTF-8, valid while `obj` lives.
bool to_text(PyObject* obj, std::string_view& out);
// A non-str sequence of str, read in order.
bool to_text_list(PyObject* obj, std::vector<std::string>& out);
// The same, as views into the str objects. `held` holds each of them, so the
// views stay valid while the interpreter lock is released, whatever happens
// to the sequence meanwhile; release `held` with the lock taken.
bool to_text_views(PyObject* obj, std::vector<Ref>& held, std::vector<std::string_view>& out);
// An int (or subclass), else anything with __index__.
bool to_u64(PyObject* obj, std::uint64_t& out);
bool to_u32(PyObject* obj, std::uint32_t& out);

// Result conversions.
inline PyObject* to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}
inline PyObject* to_py(bool b) { return PyBool_FromLong(b); }

// A new list of str.
template <class Strings>
PyObject* to_py_list(const Strings& items) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    PyObject* s = to_py(std::string_view(item));
    if (s == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i++, s);
  }
  return list.release();
}

// ---------------------------------------------------------------------------
// Borrow flags

// Any number of shared borrows, or one exclusive borrow.
class BorrowFlag {
 public:
  bool acquire_shared() {
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    do {
      if (s == kExclusive) return false;
    } while (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  bool acquire_exclusive() {
    std::uint32_t expected = 0;
    return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
  void release_shared() { state_.fetch_sub(1, std::memory_order_release); }
  void release_exclusive() { state_.store(0, std::memory_order_release); }

 private:
  static constexpr std::uint32_t kExclusive = UINT32_MAX;
  std::atomic<std::uint32_t> state_{0};
};

// A shared borrow for one scope; on conflict `ok()` is false and
// RuntimeError "Already mutably borrowed" is set.
class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& f);
  ~SharedBorrow() {
    if (flag_) flag_->release_shared();
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  bool ok() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

// An exclusive borrow for one scope; on conflict RuntimeError "Already borrowed".
class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& f);
  ~ExclusiveBorrow() {
    if (flag_) flag_->release_exclusive();
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  bool ok() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

// ---------------------------------------------------------------------------
// Instances: a Python object that owns one native value.

template <class T>
struct Object {
  PyObject_HEAD
  BorrowFlag borrow;
  T value;
};

template <class T>
Object<T>* unwrap(PyObject* self) {
  return reinterpret_cast<Object<T>*>(self);
}

// A new instance of `type` owning `value`.
template <class T>
PyObject* new_instance(PyTypeObject* type, T&& value) {
  static_assert(std::is_nothrow_move_constructible_v<T>);
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* obj = unwrap<T>(self);
  new (&obj->borrow) BorrowFlag();
  new (&obj->value) T(std::move(value));
  return self;
}

// The instance of class `type` (named `name` in the cast error), or null
// with the cast error set.
template <class T>
Object<T>* as_instance(PyObject* obj, PyTypeObject* type, const char* name) {
  if (type != nullptr && Py_TYPE(obj) == type) return unwrap<T>(obj);
  if (type != nullptr) cast_error(obj, name);
  return nullptr;
}

// Runs `f` on the receiver's value under a shared borrow, as one entry point
// (see guarded). The interpreter's descriptors have already checked the
// receiver's type.
template <class T, class F>
auto with(PyObject* self, F&& f) {
  using R = decltype(f(std::declval<const T&>()));
  return guarded([&]() -> R {
    auto* obj = unwrap<T>(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow.ok()) return error_value<R>();
    return f(obj->value);
  });
}

// tp_dealloc: the objects hold no Python references, so no GC support.
template <class T>
void dealloc(PyObject* self) {
  unwrap<T>(self)->value.~T();
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// ---------------------------------------------------------------------------
// Method and slot tables

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgs = PyObject* (*)(PyObject*, PyObject*);

template <class F>
PyCFunction as_cfunction(F f) {
  // Through void(*)() so the compiler accepts the documented cast.
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

inline PyMethodDef fastcall(const char* name, FastCall f, const char* doc) {
  return {name, as_cfunction(f), METH_FASTCALL | METH_KEYWORDS, doc};
}
inline PyMethodDef static_fastcall(const char* name, FastCall f, const char* doc) {
  return {name, as_cfunction(f), METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc};
}
inline PyMethodDef noargs(const char* name, NoArgs f, const char* doc) {
  return {name, as_cfunction(f), METH_NOARGS, doc};
}
inline PyMethodDef static_noargs(const char* name, NoArgs f, const char* doc) {
  return {name, as_cfunction(f), METH_NOARGS | METH_STATIC, doc};
}

template <class F>
PyType_Slot slot(int id, F* f) {
  return {id, reinterpret_cast<void*>(f)};
}
inline PyType_Slot slot(int id, const char* doc) { return {id, const_cast<char*>(doc)}; }
inline PyType_Slot slot(int id, PyMethodDef* methods) { return {id, methods}; }
inline PyType_Slot slot(int id, PyGetSetDef* getters) { return {id, getters}; }

// The PyType_Spec of a class whose instances own a T.
template <class T>
constexpr PyType_Spec type_spec(const char* name, unsigned int flags, PyType_Slot* slots) {
  return {name, static_cast<int>(sizeof(Object<T>)), 0, flags, slots};
}

// ---------------------------------------------------------------------------
// Module additions

// Appends `name` to the module's __all__ (created on first use) and sets the
// attribute. Returns false with the error set.
bool add_to_module(PyObject* module, const char* name, PyObject* value);

// ---------------------------------------------------------------------------
// Debug-list form of reprs: ["a", "b\n"]

// The core's debug form of `s`; text that is not well-formed UTF-8 is a panic.
void append_debug_str(std::string& out, std::string_view s);

template <class Strings>
void append_debug_list(std::string& out, const Strings& items) {
  out += '[';
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ", ";
    first = false;
    append_debug_str(out, std::string_view(item));
  }
  out += ']';
}

}  // namespace torvane::bindings
