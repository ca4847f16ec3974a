import importlib
import os
import shutil
import subprocess
import sys
import weakref

import pytest

import _torvane

# The names of the module in the order it adds them; classes still to come
# join at the end of what is present.
ALL = [
    "Schema",
    "Torvane",
    "ValidationResult",
    "ValidationDiagnostic",
    "CypherGenerator",
    "QueryInfo",
    "parse_query",
]


def test_import_again_gives_the_same_module():
    first = importlib.import_module("_torvane")
    del sys.modules["_torvane"]
    try:
        second = importlib.import_module("_torvane")
    finally:
        sys.modules["_torvane"] = first
    assert second is first


def test_module_attributes(tv):
    assert tv.__name__ == "_torvane"
    assert tv.__doc__ == ""
    assert isinstance(tv.__all__, list)
    assert tv.__all__ == ALL[: len(tv.__all__)]
    assert "Schema" in tv.__all__
    for name in tv.__all__:
        assert hasattr(tv, name)


def test_package_reexports_the_module(tv):
    import torvane

    assert torvane.Schema is tv.Schema
    assert torvane.__all__ == tv.__all__


def test_only_the_entry_point_is_exported(tv):
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    out = subprocess.run([nm, "-D", "--defined-only", tv.__file__], capture_output=True,
                         text=True, check=True).stdout
    assert [line.split()[-1] for line in out.splitlines()] == ["PyInit__torvane"]


def test_schema_class_object(tv):
    S = tv.Schema
    assert S.__module__ == "builtins"
    assert S.__name__ == "Schema"
    assert S.__qualname__ == "Schema"
    assert S.__text_signature__ == "(nodes, relationships)"
    assert S.__doc__ == ""
    assert S.__bases__ == (object,)


def test_schema_cannot_be_subclassed(tv):
    with pytest.raises(TypeError):
        class Sub(tv.Schema):
            pass


def test_schema_instances_take_no_attributes(tv):
    s = tv.Schema({}, {})
    with pytest.raises(AttributeError):
        s.extra = 1
    with pytest.raises(AttributeError):
        s.__dict__
    with pytest.raises(TypeError):
        weakref.ref(s)


def test_class_object_accepts_attributes(tv):
    tv.Schema.note = "kept"
    try:
        assert tv.Schema.note == "kept"
    finally:
        del tv.Schema.note


def test_identity_equality_and_hash(tv):
    a = tv.Schema({"A": []}, {})
    b = tv.Schema({"A": []}, {})
    assert a == a and a != b
    assert hash(a) == object.__hash__(a)


class _Mutating:
    """A sequence whose iteration adds a key to the dict being read."""

    def __init__(self, target):
        self.target = target

    def __len__(self):
        return 0

    def __getitem__(self, i):
        raise IndexError

    def __iter__(self):
        self.target["added"] = []
        return iter(())


def _panic_type():
    nodes = {}
    nodes["A"] = _Mutating(nodes)
    nodes["B"] = []
    try:
        _torvane.Schema(nodes, {})
    except BaseException as e:  # noqa: B902 - the panic is not an Exception
        return e
    raise AssertionError("no panic")


def test_changed_dict_panics(capfd):
    err = _panic_type()
    cls = type(err)
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(err, Exception)
    assert err.args == ("dictionary changed size during iteration",)
    assert "dictionary changed size during iteration" in capfd.readouterr().err


def test_panic_type_is_made_once():
    assert type(_panic_type()) is type(_panic_type())


def test_panic_passes_except_exception():
    nodes = {}
    nodes["A"] = _Mutating(nodes)
    with pytest.raises(BaseException) as info:
        try:
            _torvane.Schema(nodes, {})
        except Exception:  # must not catch it
            pytest.fail("PanicException caught as Exception")
    assert type(info.value).__name__ == "PanicException"


_SUBINTERPRETER = """
import sys
sys.path.insert(0, sys.argv[1])
import _torvane
import _xxsubinterpreters as interpreters
try:
    iid = interpreters.create(isolated=False)  # 3.12: let the module itself refuse
except TypeError:
    iid = interpreters.create()
try:
    interpreters.run_string(iid, f"import sys; sys.path.insert(0, {sys.argv[1]!r}); import _torvane")
except Exception as e:
    print(e)
else:
    print("imported")
print(repr(_torvane.Schema({"A": []}, {})))
"""


def test_second_interpreter_is_refused(tv):
    out = subprocess.run([sys.executable, "-c", _SUBINTERPRETER, os.path.dirname(tv.__file__)],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    refusal, main = out.stdout.splitlines()
    assert refusal.endswith(
        "ImportError'>: modules built with this binding layer do not support sub-interpreters")
    # The first interpreter keeps its module.
    assert main == 'Schema(nodes=["A"], relationships=[])'
