#include "bindings/binding.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debug_str.hpp"

namespace torvane::bindings {
namespace {

class Interpreter : public ::testing::Environment {
 public:
  void SetUp() override { Py_InitializeEx(0); }
  void TearDown() override { Py_FinalizeEx(); }
};
const auto* const kInterpreter = ::testing::AddGlobalTestEnvironment(new Interpreter);

// Evaluates a Python expression.
Ref eval(const char* expr) {
  static PyObject* globals = [] {
    PyObject* g = PyDict_New();
    PyDict_SetItemString(g, "__builtins__", PyEval_GetBuiltins());
    PyRun_String(
        "class Idx:\n"
        "    def __init__(self, v): self.v = v\n"
        "    def __index__(self): return self.v\n",
        Py_file_input, g, g);
    return g;
  }();
  Ref r = Ref::steal(PyRun_String(expr, Py_eval_input, globals, globals));
  if (!r) PyErr_Print();
  return r;
}

// The pending error as "TypeName: text", cleared; "" when none is pending.
std::string take_error() {
  Ref e = fetch_error();
  if (!e) return "";
  Ref text = Ref::steal(PyObject_Str(e.get()));
  return std::string(Py_TYPE(e.get())->tp_name) + ": " + PyUnicode_AsUTF8(text.get());
}

constexpr ArgSpec<0> kNone{"none", {}, 0};
constexpr ArgSpec<3> kThree{"Cls.three", {"a", "b", "c"}, 3};
constexpr ArgSpec<2> kOpt{"opt", {"query_type", "n"}, 1};

// Calls bind() for a fast call of positional values and keyword names.
template <std::size_t N>
std::string bind_fast(const ArgSpec<N>& spec, std::vector<const char*> positional,
                      std::vector<const char*> keywords, Args<N>* out = nullptr) {
  std::vector<Ref> owned;
  std::vector<PyObject*> stack;
  for (const char* e : positional) owned.push_back(eval(e));
  Ref kwnames;
  if (!keywords.empty()) {
    kwnames = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    for (std::size_t i = 0; i < keywords.size(); ++i) {
      PyTuple_SET_ITEM(kwnames.get(), static_cast<Py_ssize_t>(i),
                       PyUnicode_InternFromString(keywords[i]));
      owned.push_back(eval("0"));
    }
  }
  for (auto& r : owned) stack.push_back(r.get());
  Args<N> local;
  bool ok = bind(spec, stack.data(), static_cast<Py_ssize_t>(positional.size()), kwnames.get(),
                 out ? *out : local);
  return ok ? "ok" : take_error();
}

TEST(Bind, ArgumentErrorTexts) {
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {bind_fast(kNone, {"1"}, {}), "TypeError: none() takes 0 positional arguments but 1 was given"},
      {bind_fast(kThree, {"1", "2", "3", "4"}, {}),
       "TypeError: Cls.three() takes 3 positional arguments but 4 were given"},
      {bind_fast(kOpt, {"1", "2", "3"}, {}),
       "TypeError: opt() takes from 1 to 2 positional arguments but 3 were given"},
      {bind_fast(kOpt, {}, {}),
       "TypeError: opt() missing 1 required positional argument: 'query_type'"},
      {bind_fast(kThree, {}, {}),
       "TypeError: Cls.three() missing 3 required positional arguments: 'a', 'b', and 'c'"},
      {bind_fast(kThree, {}, {"b"}),
       "TypeError: Cls.three() missing 2 required positional arguments: 'a' and 'c'"},
      {bind_fast(kThree, {"1"}, {"b", "a"}), "TypeError: Cls.three() got multiple values for argument 'a'"},
      {bind_fast(kThree, {}, {"b", "b"}), "TypeError: Cls.three() got multiple values for argument 'b'"},
      {bind_fast(kThree, {}, {"d", "a"}), "TypeError: Cls.three() got an unexpected keyword argument 'd'"},
      {bind_fast(kNone, {}, {"x"}), "TypeError: none() got an unexpected keyword argument 'x'"},
      {bind_fast(kNone, {}, {}), "ok"},
      {bind_fast(kThree, {"1"}, {"c", "b"}), "ok"},
      {bind_fast(kOpt, {"1"}, {}), "ok"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Bind, FillsParametersByPositionAndKeyword) {
  Args<2> out;
  ASSERT_EQ(bind_fast(kOpt, {"7"}, {}, &out), "ok");
  EXPECT_EQ(PyLong_AsLong(out[0]), 7);
  EXPECT_EQ(out[1], nullptr);  // absent
  ASSERT_EQ(bind_fast(kOpt, {}, {"n", "query_type"}, &out), "ok");
  EXPECT_NE(out[0], nullptr);
  EXPECT_NE(out[1], nullptr);
}

TEST(Bind, ConstructorCall) {
  Ref args = eval("(1,)");
  Ref kwargs = eval("{'n': 2}");
  Args<2> out;
  ASSERT_TRUE(bind(kOpt, args.get(), kwargs.get(), out));
  EXPECT_EQ(PyLong_AsLong(out[1]), 2);
  Ref many = eval("(1, 2, 3)");
  EXPECT_FALSE(bind(kOpt, many.get(), nullptr, out));
  EXPECT_EQ(take_error(), "TypeError: opt() takes from 1 to 2 positional arguments but 3 were given");
  Ref twice = eval("{'query_type': 1}");
  EXPECT_FALSE(bind(kOpt, args.get(), twice.get(), out));
  EXPECT_EQ(take_error(), "TypeError: opt() got multiple values for argument 'query_type'");
  // Only the C API can pass a keyword that is not a str; it matches no parameter.
  Ref odd = eval("{1: 2}");
  EXPECT_FALSE(bind(kOpt, args.get(), odd.get(), out));
  EXPECT_EQ(take_error(), "TypeError: opt() got an unexpected keyword argument '1'");
}

std::string text_list(const char* expr) {
  std::vector<std::string> out;
  Ref v = eval(expr);
  if (!to_text_list(v.get(), out)) return take_error();
  std::string joined;
  for (auto& s : out) joined += s + ";";
  return joined;
}

TEST(Convert, TextList) {
  EXPECT_EQ(text_list("['a', 'b']"), "a;b;");
  EXPECT_EQ(text_list("('a', '\\u00e9')"), "a;\xC3\xA9;");
  EXPECT_EQ(text_list("range(0)"), "");
  EXPECT_EQ(text_list("'ab'"), "TypeError: Can't extract `str` to `Vec`");
  EXPECT_EQ(text_list("{'a': 1}"), "TypeError: 'dict' object cannot be cast as 'Sequence'");
  EXPECT_EQ(text_list("{'a'}"), "TypeError: 'set' object cannot be cast as 'Sequence'");
  EXPECT_EQ(text_list("(x for x in 'a')"), "TypeError: 'generator' object cannot be cast as 'Sequence'");
  EXPECT_EQ(text_list("['a', 1, None]"), "TypeError: 'int' object cannot be cast as 'str'");
  EXPECT_EQ(text_list("['\\ud800']").rfind("UnicodeEncodeError: ", 0), 0u);
}

// The views outlive the sequence's own hold on its items, and a failure
// reads as to_text_list's.
TEST(Convert, TextViewsHoldTheirStrings) {
  Ref list = eval("[str(i) * 3 for i in range(3)] + ['\\u00e9']");
  std::vector<Ref> held;
  std::vector<std::string_view> views;
  ASSERT_TRUE(to_text_views(list.get(), held, views));
  ASSERT_EQ(PySequence_DelSlice(list.get(), 0, PY_SSIZE_T_MAX), 0);
  EXPECT_EQ(views, (std::vector<std::string_view>{"000", "111", "222", "\xC3\xA9"}));
  EXPECT_EQ(held.size(), views.size());
  Ref iterated = eval("__import__('collections').deque(['ab', 'ab'])");
  ASSERT_TRUE(to_text_views(iterated.get(), held, views));
  EXPECT_EQ(views, (std::vector<std::string_view>{"ab", "ab"}));
  for (const char* bad : {"['a', 1, None]", "'ab'", "{'a'}", "['\\ud800']"}) {
    Ref v = eval(bad);
    EXPECT_FALSE(to_text_views(v.get(), held, views)) << bad;
    const std::string error = take_error();
    EXPECT_EQ(error, text_list(bad)) << bad;
  }
}

template <class U, class F>
std::string integer(F convert, const char* expr) {
  U v = 0;
  Ref o = eval(expr);
  if (!convert(o.get(), v)) return take_error();
  return std::to_string(v);
}

TEST(Convert, UnsignedIntegers) {
  auto u64 = [](const char* e) { return integer<std::uint64_t>(to_u64, e); };
  auto u32 = [](const char* e) { return integer<std::uint32_t>(to_u32, e); };
  EXPECT_EQ(u64("5"), "5");
  EXPECT_EQ(u64("True"), "1");
  EXPECT_EQ(u64("Idx(9)"), "9");
  EXPECT_EQ(u64("2**64 - 1"), "18446744073709551615");
  EXPECT_EQ(u64("2**64").rfind("OverflowError: ", 0), 0u);
  EXPECT_EQ(u64("-1").rfind("OverflowError: ", 0), 0u);
  EXPECT_EQ(u64("Idx(-1)").rfind("OverflowError: ", 0), 0u);
  EXPECT_EQ(u64("'3'").rfind("TypeError: ", 0), 0u);
  EXPECT_EQ(u64("3.0").rfind("TypeError: ", 0), 0u);
  EXPECT_EQ(u32("2**32 - 1"), "4294967295");
  EXPECT_EQ(u32("2**32"), "OverflowError: out of range integral type conversion attempted");
  EXPECT_EQ(u32("2**64 - 1"), "OverflowError: out of range integral type conversion attempted");
  EXPECT_NE(u32("2**64"), "OverflowError: out of range integral type conversion attempted");
  EXPECT_EQ(u32("-1").rfind("OverflowError: ", 0), 0u);
}

TEST(Convert, ArgumentErrorWrapsOnlyTypeError) {
  Ref v = eval("1");
  std::string_view s;
  ASSERT_FALSE(to_text(v.get(), s));
  argument_error("query");
  EXPECT_EQ(take_error(), "TypeError: argument 'query': 'int' object cannot be cast as 'str'");

  std::uint32_t n = 0;
  Ref big = eval("2**40");
  ASSERT_FALSE(to_u32(big.get(), n));
  argument_error("n");
  EXPECT_EQ(take_error(), "OverflowError: out of range integral type conversion attempted");

  // A TypeError subclass is left as it is.
  Ref sub = eval("type('Sub', (TypeError,), {})('inner')");
  restore_error(std::move(sub));
  argument_error("x");
  EXPECT_EQ(take_error(), "Sub: inner");
}

TEST(Convert, ArgumentErrorKeepsTheFirstErrorsCause) {
  Ref first = eval("TypeError('bad')");
  Ref cause = eval("KeyError('root')");
  PyObject* cause_ptr = cause.get();
  PyException_SetCause(first.get(), cause.release());
  restore_error(std::move(first));
  argument_error("seed");
  Ref e = fetch_error();
  ASSERT_TRUE(e);
  Ref text = Ref::steal(PyObject_Str(e.get()));
  EXPECT_STREQ(PyUnicode_AsUTF8(text.get()), "argument 'seed': bad");
  Ref got = Ref::steal(PyException_GetCause(e.get()));
  EXPECT_EQ(got.get(), cause_ptr);
}

TEST(Errors, CypherErrorBecomesValueError) {
  raise_cypher_error(CypherError::generator("Unknown query type: bogus"));
  EXPECT_EQ(take_error(), "ValueError: Generator error: Unknown query type: bogus");
}

TEST(Errors, GuardedTurnsExceptionsIntoPanics) {
  PyObject* r = guarded([]() -> PyObject* { throw Panic("capacity overflow"); });
  EXPECT_EQ(r, nullptr);
  Ref e = fetch_error();
  ASSERT_TRUE(e);
  EXPECT_EQ(reinterpret_cast<PyObject*>(Py_TYPE(e.get())), panic_exception_type());
  Ref module = Ref::steal(PyObject_GetAttrString(panic_exception_type(), "__module__"));
  EXPECT_STREQ(PyUnicode_AsUTF8(module.get()), "pyo3_runtime");
  EXPECT_STREQ(Py_TYPE(e.get())->tp_name, "PanicException");
  EXPECT_EQ(Py_TYPE(e.get())->tp_base, reinterpret_cast<PyTypeObject*>(PyExc_BaseException));
  Ref args = Ref::steal(PyObject_GetAttrString(e.get(), "args"));
  ASSERT_EQ(PyTuple_GET_SIZE(args.get()), 1);
  EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GET_ITEM(args.get(), 0)), "capacity overflow");

  int status = guarded([]() -> int { throw std::bad_alloc(); });
  EXPECT_EQ(status, -1);
  EXPECT_EQ(take_error(), "PanicException: std::bad_alloc");
  EXPECT_EQ(guarded([] { return 3; }), 3);
  EXPECT_EQ(take_error(), "");
}

TEST(Borrow, SharedAndExclusive) {
  BorrowFlag flag;
  {
    SharedBorrow a(flag);
    SharedBorrow b(flag);
    EXPECT_TRUE(a.ok() && b.ok());
    ExclusiveBorrow x(flag);
    EXPECT_FALSE(x.ok());
    EXPECT_EQ(take_error(), "RuntimeError: Already borrowed");
  }
  {
    ExclusiveBorrow x(flag);
    EXPECT_TRUE(x.ok());
    SharedBorrow a(flag);
    EXPECT_FALSE(a.ok());
    EXPECT_EQ(take_error(), "RuntimeError: Already mutably borrowed");
    ExclusiveBorrow y(flag);
    EXPECT_FALSE(y.ok());
    EXPECT_EQ(take_error(), "RuntimeError: Already borrowed");
  }
  // Every borrow was released, also after a panic unwinds through one.
  EXPECT_EQ(guarded([&]() -> PyObject* {
              ExclusiveBorrow x(flag);
              throw Panic("boom");
            }),
            nullptr);
  take_error();
  ExclusiveBorrow x(flag);
  EXPECT_TRUE(x.ok());
}

TEST(DebugList, Escapes) {
  struct Case {
    std::vector<std::string> items;
    const char* want;
  } cases[] = {
      {{}, "[]"},
      {{"a", "b"}, "[\"a\", \"b\"]"},
      {{"say \"hi\"", "back\\slash", "it's"}, R"(["say \"hi\"", "back\\slash", "it's"])"},
      {{std::string("\0\t\r\n", 4)}, R"(["\0\t\r\n"])"},
      {{"\x01\x1b\x7f"}, R"(["\u{1}\u{1b}\u{7f}"])"},
      {{" ", "\xC2\xA0", "\xE3\x80\x80"}, R"([" ", "\u{a0}", "\u{3000}"])"},    // Zs
      {{"\xE2\x80\x8B", "\xE2\x80\xA8", "\xE2\x80\xA9"}, R"(["\u{200b}", "\u{2028}", "\u{2029}"])"},
      {{"\xEE\x80\x80", "\xCD\xB8"}, R"(["\u{e000}", "\u{378}"])"},              // Co, Cn
      {{"e\xCC\x81", "\xE2\x80\x8D"}, R"(["e\u{301}", "\u{200d}"])"},            // Mn, ZWJ
      {{"caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80"}, "[\"caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80\"]"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_debug_list(out, c.items);
    EXPECT_EQ(out, c.want);
  }
}

// The core reports text that is not well-formed UTF-8; the binding turns that
// into a panic.
TEST(DebugList, IllFormedTextIsAPanic) {
  for (const std::string bad : {"\xC3", "a\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF"}) {
    std::string out;
    EXPECT_FALSE(torvane::append_debug_str(out, bad)) << out;
    EXPECT_THROW(append_debug_str(out, bad), Panic);
  }
}

}  // namespace
}  // namespace torvane::bindings
