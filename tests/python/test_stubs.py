"""The type stubs describe the module as it is: names, members, parameters."""
import ast
import inspect
import os
import pathlib
import types

import pytest

import _torvane

SOURCE = pathlib.Path(__file__).resolve().parents[2] / "python"


def stub_path(name):
    """The installed stub when there is one (a wheel install), else the source."""
    installed = pathlib.Path(os.path.dirname(_torvane.__file__)) / name
    return installed if installed.exists() else SOURCE / name


@pytest.fixture(scope="module")
def stub():
    return ast.parse(stub_path("_torvane.pyi").read_text())


def stub_all(tree):
    for node in tree.body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            return ast.literal_eval(node.value)
    raise AssertionError("no __all__")


def params(fn):
    """Parameter names after the receiver (self or cls)."""
    names = [a.arg for a in fn.args.args]
    if not any(isinstance(d, ast.Name) and d.id == "staticmethod" for d in fn.decorator_list):
        names = names[1:]
    return names


def runtime_params(obj):
    names = list(inspect.signature(obj).parameters)
    return names[1:] if names[:1] == ["$self"] or names[:1] == ["self"] else names


def test_names(stub):
    classes = [n.name for n in stub.body if isinstance(n, ast.ClassDef)]
    functions = [n.name for n in stub.body if isinstance(n, ast.FunctionDef)]
    assert stub_all(stub) == classes + functions
    # Every name the module has is in the stubs, in the same order.
    assert _torvane.__all__ == [n for n in stub_all(stub) if n in _torvane.__all__]


def test_package_stub_reexports_everything(stub):
    package = ast.parse(stub_path("torvane/__init__.pyi").read_text())
    imported = [a.asname for n in package.body if isinstance(n, ast.ImportFrom) for a in n.names]
    assert sorted(imported) == sorted(stub_all(stub))
    assert stub_all(package) == stub_all(stub)


def test_members_match_the_module(stub):
    for node in stub.body:
        if isinstance(node, ast.FunctionDef) and hasattr(_torvane, node.name):
            # A module function has no receiver to skip.
            names = [a.arg for a in node.args.args]
            assert names == runtime_params(getattr(_torvane, node.name)), node.name
        if not isinstance(node, ast.ClassDef) or not hasattr(_torvane, node.name):
            continue
        cls = getattr(_torvane, node.name)
        members = {f.name: f for f in node.body if isinstance(f, ast.FunctionDef)}
        new = members.pop("__new__", None)
        if new is None:
            assert cls.__text_signature__ is None, node.name
        else:
            assert params(new) == runtime_params(cls), node.name
        for slot in ("__bool__", "__len__"):
            assert (members.pop(slot, None) is not None) == (slot in vars(cls)), (cls, slot)
        runtime = {k: v for k, v in vars(cls).items() if not k.startswith("__")}
        assert sorted(members) == sorted(runtime), node.name
        for name, fn in members.items():
            value = runtime[name]
            is_property = any(isinstance(d, ast.Name) and d.id == "property"
                              for d in fn.decorator_list)
            assert is_property == isinstance(value, types.GetSetDescriptorType), (cls, name)
            is_static = any(isinstance(d, ast.Name) and d.id == "staticmethod"
                            for d in fn.decorator_list)
            assert is_static == isinstance(value, staticmethod), (cls, name)
            if not is_property:
                assert params(fn) == runtime_params(getattr(cls, name)), (cls, name)


def test_schema_dicts_are_typed_as_dict(stub):
    # Any mapping but a dict is refused, so the stubs ask for a dict.
    with pytest.raises(TypeError, match="cannot be cast as 'dict'"):
        _torvane.Schema(types.MappingProxyType({}), {})
    schema = next(n for n in stub.body if isinstance(n, ast.ClassDef) and n.name == "Schema")
    methods = {f.name: f for f in schema.body if isinstance(f, ast.FunctionDef)}
    for method, name in [("__new__", "nodes"), ("__new__", "relationships"), ("from_dict", "d")]:
        annotation = next(a.annotation for a in methods[method].args.args if a.arg == name)
        assert isinstance(annotation, ast.Subscript) and annotation.value.id == "dict", name
