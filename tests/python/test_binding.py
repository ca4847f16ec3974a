"""Argument binding and conversion texts, seen through the Schema class."""
import re

import pytest

def _call(tv, name):
    s = tv.Schema({"A": []}, {})
    return {
        "new": tv.Schema,
        "from_dict": tv.Schema.from_dict,
        "from_json": tv.Schema.from_json,
        "has_node_label": s.has_node_label,
        "rel_endpoints": s.rel_endpoints,
        "merge": s.merge,
    }[name]


BINDING_ERRORS = [
    ("new", ({}, {}, {}), {}, "Schema.__new__() takes 2 positional arguments but 3 were given"),
    ("has_node_label", ("A", "B"), {},
     "Schema.has_node_label() takes 1 positional arguments but 2 were given"),
    ("new", (), {}, "Schema.__new__() missing 2 required positional arguments: "
                    "'nodes' and 'relationships'"),
    ("new", ({},), {}, "Schema.__new__() missing 1 required positional argument: "
                       "'relationships'"),
    ("new", (), {"relationships": {}},
     "Schema.__new__() missing 1 required positional argument: 'nodes'"),
    ("new", ({},), {"nodes": {}}, "Schema.__new__() got multiple values for argument 'nodes'"),
    ("new", ({}, {}), {"edges": {}}, "Schema.__new__() got an unexpected keyword argument 'edges'"),
    ("from_dict", (), {}, "Schema.from_dict() missing 1 required positional argument: 'd'"),
    ("from_dict", ({}, {}), {}, "Schema.from_dict() takes 1 positional arguments but 2 were given"),
    ("from_json", (), {"text": "{}"},
     "Schema.from_json() got an unexpected keyword argument 'text'"),
    ("rel_endpoints", ("R",), {"rel_type": "R"},
     "Schema.rel_endpoints() got multiple values for argument 'rel_type'"),
    ("merge", (), {}, "Schema.merge() missing 1 required positional argument: 'other'"),
    # Keywords are checked in the order given, before missing arguments.
    ("new", (), {"x": 1, "nodes": {}},
     "Schema.__new__() got an unexpected keyword argument 'x'"),
    # Too many positional arguments is found before any keyword problem.
    ("merge", (1, 2), {"zzz": 3}, "Schema.merge() takes 1 positional arguments but 2 were given"),
]


@pytest.mark.parametrize("name,args,kwargs,message", BINDING_ERRORS)
def test_binding_errors(tv, name, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        _call(tv, name)(*args, **kwargs)
    assert str(info.value) == message
    assert type(info.value) is TypeError


def test_keywords_work_everywhere(tv):
    s = tv.Schema(relationships={"R": ("A", "B", [])}, nodes={"A": ["x"]})
    assert s.has_node_label(label="A")
    assert s.rel_endpoints(rel_type="R") == ("A", "B")
    assert tv.Schema.from_dict(d=s.to_dict()).node_labels() == ["A"]
    assert tv.Schema.from_json(json_str=s.to_json()).rel_types() == ["R"]
    assert s.merge(other=s).node_labels() == ["A"]


def test_static_methods_work_on_instances(tv):
    s = tv.Schema({}, {})
    assert s.from_json('{"nodes":{"A":[]},"relationships":{}}').node_labels() == ["A"]
    assert s.from_dict({"nodes": {}, "relationships": {}}).node_labels() == []


def test_methods_without_parameters_refuse_arguments(tv):
    s = tv.Schema({}, {})
    for method in (s.node_labels, s.rel_types, s.to_dict, s.to_json, s.to_prompt,
                   s.to_markdown, s.to_cypher_context):
        with pytest.raises(TypeError):
            method(1)


class Outer:
    class Inner:
        pass


TEXT_ERRORS = [
    (1, "int"),
    (b"A", "bytes"),
    (None, "NoneType"),
    (["A"], "list"),
    (Outer.Inner(), "Outer.Inner"),  # the qualified name of the type
]


@pytest.mark.parametrize("value,type_name", TEXT_ERRORS)
def test_text_conversion_error(tv, value, type_name):
    with pytest.raises(TypeError) as info:
        tv.Schema({}, {}).node_properties(value)
    assert str(info.value) == f"argument 'label': '{type_name}' object cannot be cast as 'str'"
    # The new error keeps the cast error's cause, which is none.
    assert info.value.__cause__ is None


def test_text_subclass_is_accepted(tv):
    class Name(str):
        pass

    s = tv.Schema({Name("Person"): [Name("age")]}, {})
    assert s.has_node_label(Name("Person"))
    assert s.node_properties(Name("Person")) == ["age"]


def test_lone_surrogate_passes_through(tv):
    with pytest.raises(UnicodeEncodeError):
        tv.Schema({}, {}).has_node_label("\ud800")
    with pytest.raises(UnicodeEncodeError):
        tv.Schema.from_json("\udfff")
    # As a dict key it is a key conversion error, raised as it is.
    with pytest.raises(UnicodeEncodeError):
        tv.Schema({"\ud800": []}, {})


def test_instance_conversion_error(tv):
    with pytest.raises(TypeError) as info:
        tv.Schema({}, {}).merge({})
    assert str(info.value) == "argument 'other': 'dict' object cannot be cast as 'Schema'"


def test_dict_argument_errors(tv):
    cases = [
        (([], {}), "argument 'nodes': 'list' object cannot be cast as 'dict'"),
        (({}, ()), "argument 'relationships': 'tuple' object cannot be cast as 'dict'"),
        # Both are checked before any entry is read.
        (({1: []}, None), "argument 'relationships': 'NoneType' object cannot be cast as 'dict'"),
    ]
    for args, message in cases:
        with pytest.raises(TypeError) as info:
            tv.Schema(*args)
        assert str(info.value) == message
    with pytest.raises(TypeError, match=r"^argument 'd': 'str' object cannot be cast as 'dict'$"):
        tv.Schema.from_dict("{}")


def test_wrong_receiver_is_refused(tv):
    with pytest.raises(TypeError):
        tv.Schema.node_labels(1)
    with pytest.raises(TypeError):
        tv.Schema.has_node_label(1, "A")
