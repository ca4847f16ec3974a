import ctypes
import json
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import OwnSequence as Names

NODE_ERROR = "Expected list[str] for node properties of label '{}'"
REL_ERROR = ("Expected (str, str, list[str]) for relationship '{}', "
             "e.g. ('Person', 'Movie', ['role'])")


def test_accessors(tv):
    s = tv.Schema({"Person": ["name", "age", "name"]}, {})
    assert s.node_properties("Person") == ["age", "name"]
    assert s.node_labels() == ["Person"]
    assert s.rel_types() == []
    assert s.has_node_label("Person") and not s.has_node_label("person")
    assert not s.has_rel_type("Person")
    assert s.node_properties("Nobody") == []
    assert s.rel_properties("NOPE") == []
    assert s.rel_endpoints("ACTED_IN") is None


def test_sorting_is_bytewise(tv):
    s = tv.Schema({"b": [], "B": [], "a": [], "AB": [], "\u00e9": [], "z": []}, {})
    assert s.node_labels() == ["AB", "B", "a", "b", "z", "\u00e9"]


def test_relationships(tv):
    s = tv.Schema({}, {"KNOWS": ("Person", "Person", [])})
    assert s.rel_endpoints("KNOWS") == ("Person", "Person")
    assert s.rel_properties("KNOWS") == []
    assert s.has_rel_type("KNOWS") and not s.has_rel_type("knows")
    # Endpoints need not be node labels.
    assert s.node_labels() == []


def test_each_call_returns_new_objects(tv):
    s = tv.Schema({"A": ["x"]}, {})
    assert s.node_labels() is not s.node_labels()
    assert s.to_dict() is not s.to_dict()


@pytest.mark.parametrize("value", [("name", "age"), Names("name", "age"), ["name", "age"]])
def test_node_value_sequences_accepted(tv, value):
    assert tv.Schema({"Person": value}, {}).node_properties("Person") == ["age", "name"]


@pytest.mark.parametrize("value", ["name", {"name"}, {"name": 1}, ["name", 1], None, 3,
                                   iter(["name"]), [b"name"]])
def test_node_value_refused(tv, value):
    with pytest.raises(TypeError) as info:
        tv.Schema({"Person": value}, {})
    assert str(info.value) == NODE_ERROR.format("Person")


@pytest.mark.parametrize("value", [
    ["Person", "Person", []],          # a list, not a tuple
    ("Person", "Person"),               # two items
    ("Person", "Person", [], []),       # four items
    ("Person", "Person", "name"),       # a str as the property list
    ("Person", 1, []),
    (1, "Person", []),
    ("Person", "Person", [1]),
    ("Person", "Person", {"x"}),
    None,
])
def test_relationship_value_refused(tv, value):
    with pytest.raises(TypeError) as info:
        tv.Schema({}, {"KNOWS": value})
    assert str(info.value) == REL_ERROR.format("KNOWS")


class Boasting(Names):
    """A sequence whose __len__ claims far more items than it holds."""

    def __init__(self, length, *items):
        super().__init__(*items)
        self.length = length

    def __len__(self):
        return self.length


# On 32 bits a length of 2**62 is no length at all: the binding layer, failing
# to read it, reserves nothing, and the call succeeds.
@pytest.mark.parametrize("length", [sys.maxsize] + ([2**62] if sys.maxsize > 2**32 else []))
def test_absurd_length_is_a_capacity_panic(tv, movies, length):
    calls = [lambda: tv.Schema({"A": Boasting(length, "x")}, {}),
             lambda: tv.Schema({}, {"R": ("A", "B", Boasting(length, "x"))}),
             lambda: tv.Torvane(movies).validate_batch(Boasting(length, "RETURN 1"))]
    for call in calls:
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value).__name__ == "PanicException"
        assert info.value.args == ("capacity overflow",)


@pytest.mark.skipif(hasattr(ctypes.CDLL(None), "__asan_init"),
                    reason="the sanitizer's allocator maps its own memory and aborts on failure")
def test_length_whose_room_cannot_be_had_is_a_capacity_panic():
    # A length the container takes, but whose room a 1 GiB address space lacks
    # (on every word size).
    script = textwrap.dedent("""
        import resource, sys, _torvane as tv
        class Boasting:
            def __len__(self):
                return sys.maxsize // 32
            def __getitem__(self, i):
                return ["x"][i]
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, resource.RLIM_INFINITY))
        if resource.getrlimit(resource.RLIMIT_AS)[0] != 1 << 30:
            print("no limit")
            sys.exit()
        try:
            tv.Schema({"A": Boasting()}, {})
        except BaseException as e:
            print(type(e).__name__, e.args)
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=60)
    if run.stdout == "no limit\n":
        pytest.skip("the address space cannot be limited here (qemu-user ignores the limit)")
    assert run.stdout.splitlines() == ["PanicException ('capacity overflow',)"]


def test_tuple_subclass_is_a_relationship(tv):
    class Triple(tuple):
        pass

    s = tv.Schema({}, {"R": Triple(("A", "B", ("p",)))})
    assert s.rel_endpoints("R") == ("A", "B") and s.rel_properties("R") == ["p"]


def test_error_order(tv):
    # Node entries are read before relationship entries.
    with pytest.raises(TypeError, match="node properties of label 'Bad'"):
        tv.Schema({"Good": [], "Bad": "x"}, {"R": []})
    # A key that is not a str gets the bare cast error, no argument prefix.
    with pytest.raises(TypeError) as info:
        tv.Schema({1: []}, {})
    assert str(info.value) == "'int' object cannot be cast as 'str'"
    with pytest.raises(TypeError) as info:
        tv.Schema({}, {(1,): ("A", "B", [])})
    assert str(info.value) == "'tuple' object cannot be cast as 'str'"
    # Entries are read in dict order: the first bad one is reported.
    with pytest.raises(TypeError, match="label 'first'"):
        tv.Schema({"first": 1, 2: []}, {})


def test_names_are_kept_as_written(tv):
    names = ["", " padded ", "with`tick", "nul\0inside", "\u00e9t\u00e9", "line\nbreak"]
    s = tv.Schema({n: names for n in names}, {n: (n, n, names) for n in names})
    assert s.node_labels() == sorted(names, key=lambda n: n.encode())
    for n in names:
        assert s.node_properties(n) == sorted(names, key=lambda x: x.encode())
        assert s.rel_endpoints(n) == (n, n)
    assert tv.Schema.from_json(s.to_json()).to_dict() == s.to_dict()


def test_from_dict(tv):
    d = {"nodes": {"Person": ["name"]}, "relationships": {"KNOWS": ("Person", "Person", [])},
         "other": 5}
    s = tv.Schema.from_dict(d)
    assert s.node_labels() == ["Person"] and s.rel_types() == ["KNOWS"]


FROM_DICT_ERRORS = [
    ({"relationships": {}}, KeyError, "'nodes' key missing from dict"),
    ({"nodes": {}}, KeyError, "'relationships' key missing from dict"),
    ({}, KeyError, "'nodes' key missing from dict"),
    ({"nodes": [], "relationships": 5}, TypeError, "'nodes' must be a dict"),
    ({"nodes": {}, "relationships": 5}, TypeError, "'relationships' must be a dict"),
    ({"relationships": 5}, KeyError, "'nodes' key missing from dict"),
    ({"nodes": {"A": "x"}, "relationships": []}, TypeError, "'relationships' must be a dict"),
    ({"nodes": {"A": "x"}, "relationships": {}}, TypeError, NODE_ERROR.format("A")),
]


@pytest.mark.parametrize("d,exc,message", FROM_DICT_ERRORS)
def test_from_dict_errors(tv, d, exc, message):
    with pytest.raises(exc) as info:
        tv.Schema.from_dict(d)
    assert type(info.value) is exc
    assert info.value.args == (message,)


def test_from_dict_reads_own_entries_only(tv):
    class Lenient(dict):
        def __missing__(self, key):
            return {}

        def __getitem__(self, key):
            return {}

    with pytest.raises(KeyError):
        tv.Schema.from_dict(Lenient())


def test_to_dict_order_and_values(tv):
    s = tv.Schema({"Movie": ["title"], "Company": []},
                  {"ACTED_IN": ("Person", "Movie", ["role"]), "A": ("X", "Y", ["b", "a"])})
    d = s.to_dict()
    assert list(d) == ["nodes", "relationships"]
    assert list(d["nodes"].items()) == [("Company", []), ("Movie", ["title"])]
    assert list(d["relationships"].items()) == [
        ("A", ("X", "Y", ["a", "b"])),
        ("ACTED_IN", ("Person", "Movie", ["role"])),
    ]
    again = tv.Schema(d["nodes"], d["relationships"])
    assert again.to_dict() == d
    assert tv.Schema.from_dict(d).to_dict() == d


def test_to_json_form(tv):
    assert tv.Schema({}, {}).to_json() == '{"nodes":{},"relationships":{}}'
    s = tv.Schema({"Person": ["name", "age"]}, {"KNOWS": ("Person", "Person", [])})
    parsed = json.loads(s.to_json())
    assert list(parsed) == ["nodes", "relationships"]
    assert sorted(parsed["nodes"]["Person"]) == ["age", "name"]
    assert parsed["relationships"] == {"KNOWS": ["Person", "Person", []]}
    assert " " not in s.to_json()


def test_json_round_trip(tv, people):
    again = tv.Schema.from_json(people.to_json())
    assert again.to_dict() == people.to_dict()
    assert again != people  # no equality is defined


FROM_JSON_ERRORS = [
    ("{}", "missing field `nodes` at line 1 column 2"),
    ("", "EOF while parsing a value at line 1 column 0"),
    ("[]", "invalid length 0, expected struct Schema with 2 elements at line 1 column 2"),
    ('{"nodes":[],"relationships":{}}', "invalid type: sequence, expected a map at line 1 column 9"),
    ('{"nodes":{},"nodes":{}}', "duplicate field `nodes` at line 1 column 19"),
    ('{"nodes":{"A":[1]},"relationships":{}}',
     "invalid type: integer `1`, expected a string at line 1 column 16"),
]


@pytest.mark.parametrize("text,message", FROM_JSON_ERRORS)
def test_from_json_errors(tv, text, message):
    with pytest.raises(ValueError) as info:
        tv.Schema.from_json(text)
    assert type(info.value) is ValueError
    assert info.value.args == ("Invalid Schema JSON: " + message,)


def test_from_json_forms(tv):
    assert tv.Schema.from_json('[{"A":["x"]},{}]').node_labels() == ["A"]
    s = tv.Schema.from_json('{"relationships":{"R":["A","B",["p"]]},"nodes":{},"x":[1]}')
    assert s.rel_endpoints("R") == ("A", "B")


def test_merge(tv):
    s1 = tv.Schema({"Person": ["name"]}, {"KNOWS": ("Person", "Person", ["since"])})
    s2 = tv.Schema({"Person": ["age"], "Movie": ["title"]},
                   {"KNOWS": ("Company", "City", ["role"]), "ACTED_IN": ("P", "M", [])})
    m = s1.merge(s2)
    assert m.node_labels() == ["Movie", "Person"]
    assert m.node_properties("Person") == ["age", "name"]
    assert m.node_properties("Movie") == ["title"]
    assert m.rel_endpoints("KNOWS") == ("Person", "Person")  # the receiver's endpoints stay
    assert m.rel_properties("KNOWS") == ["role", "since"]
    assert m.rel_endpoints("ACTED_IN") == ("P", "M")
    assert s2.merge(s1).rel_endpoints("KNOWS") == ("Company", "City")
    # Neither operand changes.
    assert s1.node_labels() == ["Person"] and s1.rel_properties("KNOWS") == ["since"]
    assert s2.node_properties("Person") == ["age"]
    assert s1.merge(s1).to_dict() == s1.to_dict()
    assert m is not s1 and m is not s2


REPRS = [
    (({}, {}), "Schema(nodes=[], relationships=[])"),
    (({"Person": [], "Movie": ["t"]}, {"ACTED_IN": ("Person", "Movie", [])}),
     'Schema(nodes=["Movie", "Person"], relationships=["ACTED_IN"])'),
    (({'say "hi"': [], "two\nlines": []}, {}),
     r'Schema(nodes=["say \"hi\"", "two\nlines"], relationships=[])'),
    (({"tab\there": [], "back\\slash": [], "it's": [], "cr\r": [], "nul\0": []}, {}),
     r'Schema(nodes=["back\\slash", "cr\r", "it' "'" r's", "nul\0", "tab\there"], '
     r'relationships=[])'),
    (({"\x01": [], "\x7f": [], "\u00a0": [], " ": []}, {}),
     r'Schema(nodes=["\u{1}", " ", "\u{7f}", "\u{a0}"], relationships=[])'),
    # Format, line and paragraph separators, private use, unassigned, a
    # combining mark (Grapheme_Extend); printable non-ASCII goes as it is.
    (({"a\u200bb": [], "\u2028\u2029": [], "\ue000": [], "\U000e0100x": []}, {}), None),
    (({"e\u0301": [], "caf\u00e9 \u2192 \u65e5\u672c \U0001f600": []}, {}),
     'Schema(nodes=["caf\u00e9 \u2192 \u65e5\u672c \U0001f600", "e\\u{301}"], relationships=[])'),
    (({"\u0378": []}, {"\U0010ffff": ("A", "B", [])}),
     r'Schema(nodes=["\u{378}"], relationships=["\u{10ffff}"])'),
]


@pytest.mark.parametrize("args,expected", REPRS)
def test_repr(tv, args, expected):
    s = tv.Schema(*args)
    if expected is None:
        expected = (r'Schema(nodes=["a\u{200b}b", "\u{2028}\u{2029}", "\u{e000}", '
                    r'"\u{e0100}x"], relationships=[])')
    assert repr(s) == expected


names = st.text(st.characters(blacklist_categories=("Cs",)), max_size=8)
schemas = st.tuples(
    st.dictionaries(names, st.lists(names, max_size=4), max_size=5),
    st.dictionaries(names, st.tuples(names, names, st.lists(names, max_size=4)), max_size=5),
)


@settings(max_examples=200, deadline=None)
@given(schemas)
def test_round_trips(tv, parts):
    nodes, rels = parts
    s = tv.Schema(nodes, rels)
    expected = {
        "nodes": {k: sorted(set(v), key=str.encode) for k, v in
                  sorted(nodes.items(), key=lambda kv: kv[0].encode())},
        "relationships": {k: (a, b, sorted(set(p), key=str.encode)) for k, (a, b, p) in
                          sorted(rels.items(), key=lambda kv: kv[0].encode())},
    }
    d = s.to_dict()
    assert d == expected
    assert list(d["nodes"]) == list(expected["nodes"])
    assert tv.Schema.from_json(s.to_json()).to_dict() == d
    assert tv.Schema.from_dict(d).to_dict() == d
    repr(s)
    s.to_prompt(), s.to_markdown(), s.to_cypher_context()
