"""The CypherGenerator class: seeds, single and batch generation, borrows."""
import ctypes
import subprocess
import sys
import textwrap

import pytest

from helpers import Idx

TYPES = [
    "match_return", "match_where_return", "create", "merge", "aggregation",
    "match_relationship", "create_relationship", "match_set", "match_delete", "with_chain",
    "distinct_return", "order_by", "unwind",
]


@pytest.fixture
def empty(tv):
    return tv.Schema({}, {})


def test_seed_7_empty_schema(tv, empty):
    g = tv.CypherGenerator(empty, 7)
    assert [g.generate(t) for t in ("match_return", "create", "order_by", "unwind")] == [
        "MATCH (n:Node) RETURN n LIMIT 19",
        "CREATE (n:Node) RETURN n",
        "MATCH (n:Node) RETURN n ORDER BY n LIMIT 20",
        "UNWIND [20, $value, false, $name] AS item RETURN item",
    ]


def test_seed_42_movie_schema(tv, movies):
    g = tv.CypherGenerator(movies, seed=42)
    types = ["match_return", "create", "order_by", "unwind", "match_relationship",
             "match_where_return", "merge", "distinct_return"]
    assert [g.generate(t) for t in types] == [
        "MATCH (n:Person) RETURN n",
        "CREATE (n:Movie {title: $limit}) RETURN n",
        "MATCH (n:Person) RETURN n ORDER BY n.name DESC",
        "MATCH (n:Movie) UNWIND n.title AS item RETURN item",
        "MATCH (a:Person)-[r:ACTED_IN]->(b:Movie) RETURN a, r, b",
        'MATCH (n:Person) WHERE n.name = "Alice" RETURN n.name',
        "MERGE (n:Person {name: $value, age: 34}) RETURN n",
        "MATCH (n:Person) RETURN DISTINCT n.name",
    ]


@pytest.mark.parametrize("name,written", [
    ("Order", "`Order`"),
    ("FROM", "`FROM`"),
    ("pageRank-1", "`pageRank-1`"),
    ("a`b", "`a``b`"),
    ("Odd Label", "`Odd Label`"),
    ("", "``"),
    ("B\u00fccher", "`B\u00fccher`"),
    ("Person", "Person"),
])
def test_names_are_written_as_a_query_writes_them(tv, name, written):
    # The name as label, property and relationship type: every query parses
    # and is valid against the schema, so it reads back as the schema's name.
    schema = tv.Schema({name: [name]}, {name: (name, name, [])})
    validator = tv.Torvane(schema)
    g = tv.CypherGenerator(schema, 3)
    for _ in range(5):
        for t in TYPES:
            q = g.generate(t)
            info = tv.parse_query(q)
            assert info.is_valid, (q, info.errors)
            result = validator.validate(q)
            assert result.is_valid and not result.errors, (q, result.errors)
    assert g.generate("aggregation") == f"MATCH (n:{written}) RETURN count(n.{written}) AS result"
    assert g.generate("create_relationship") == (
        f"MATCH (a:{written}),(b:{written}) CREATE (a)-[r:{written}]->(b) RETURN r")


def sequence(g, n=30):
    return [g.generate(TYPES[i % len(TYPES)]) for i in range(n)]


@pytest.mark.parametrize("args,kwargs,same_as", [
    ((0,), {}, 0),
    ((), {"seed": 0}, 0),
    ((True,), {}, 1),
    ((Idx(5),), {}, 5),
    ((2**64 - 1,), {}, 2**64 - 1),
])
def test_seed_forms(tv, movies, args, kwargs, same_as):
    g = tv.CypherGenerator(movies, *args, **kwargs)
    assert sequence(g) == sequence(tv.CypherGenerator(movies, same_as))


def test_unseeded_generators_differ(tv, movies):
    a = tv.CypherGenerator(movies)
    b = tv.CypherGenerator(movies, None)
    assert sequence(a, 60) != sequence(b, 60)


def test_generator_keeps_its_own_schema(tv):
    s = tv.Schema({"A": ["x"]}, {})
    g = tv.CypherGenerator(s, 3)
    twin = tv.CypherGenerator(tv.Schema({"A": ["x"]}, {}), 3)
    del s
    assert sequence(g) == sequence(twin)


def check_error(info, error, message):
    """The raised error is exactly `error`; its text is `message`, or starts
    with it and goes on where `message` ends in ": ", or (None) names no
    argument."""
    assert type(info.value) is error
    text = str(info.value)
    if message is None:
        assert not text.startswith("argument")
    elif message.endswith(": "):
        assert text.startswith(message) and len(text) > len(message)
    else:
        assert text == message


CONSTRUCTOR_ERRORS = [
    ((), {}, TypeError, "CypherGenerator.__new__() missing 1 required positional argument: "
                        "'schema'"),
    (("S", 1, 2), {}, TypeError,
     "CypherGenerator.__new__() takes from 1 to 2 positional arguments but 3 were given"),
    (("S",), {"seeds": 1}, TypeError,
     "CypherGenerator.__new__() got an unexpected keyword argument 'seeds'"),
    (({},), {}, TypeError, "argument 'schema': 'dict' object cannot be cast as 'Schema'"),
    (("S", -1), {}, OverflowError, None),
    (("S", 2**64), {}, OverflowError, None),
    (("S", 1.5), {}, TypeError, "argument 'seed': "),
    (("S", "1"), {}, TypeError, "argument 'seed': "),
]


@pytest.mark.parametrize("args,kwargs,error,message", CONSTRUCTOR_ERRORS)
def test_constructor_errors(tv, movies, args, kwargs, error, message):
    args = tuple(movies if a == "S" else a for a in args)
    with pytest.raises(error) as info:
        tv.CypherGenerator(*args, **kwargs)
    check_error(info, error, message)


@pytest.mark.parametrize("bad", ["bogus", "Match_Return", " match_return", "match_return ", ""])
def test_unknown_type_changes_nothing(tv, movies, bad):
    g = tv.CypherGenerator(movies, 11)
    twin = tv.CypherGenerator(movies, 11)
    with pytest.raises(ValueError) as info:
        g.generate(bad)
    assert str(info.value) == "Generator error: Unknown query type: " + bad
    with pytest.raises(ValueError) as info:
        g.generate_batch(bad, 3)
    assert str(info.value) == "Generator error: Unknown query type: " + bad
    assert g.generate_batch(bad, 0) == []
    assert sequence(g) == sequence(twin)


@pytest.mark.parametrize("query_type", TYPES)
def test_batch_equals_single_calls(tv, movies, query_type):
    g = tv.CypherGenerator(movies, 99)
    twin = tv.CypherGenerator(movies, 99)
    batch = g.generate_batch(query_type, 25)
    assert type(batch) is list and len(batch) == 25
    assert batch == [twin.generate(query_type) for _ in range(25)]
    assert g.generate("unwind") == twin.generate("unwind")


def test_batch_counts(tv, movies):
    g = tv.CypherGenerator(movies, 5)
    twin = tv.CypherGenerator(movies, 5)
    assert g.generate_batch("create", 0) == []
    assert g.generate_batch(query_type="create", n=True) == [twin.generate("create")]
    assert g.generate_batch("create", Idx(3)) == [twin.generate("create") for _ in range(3)]


BATCH_ERRORS = [
    ((), {}, TypeError, "CypherGenerator.generate_batch() missing 2 required positional "
                        "arguments: 'query_type' and 'n'"),
    (("create",), {}, TypeError, "CypherGenerator.generate_batch() missing 1 required "
                                 "positional argument: 'n'"),
    (("create", 1, 2), {}, TypeError,
     "CypherGenerator.generate_batch() takes 2 positional arguments but 3 were given"),
    (("create",), {"n": 1, "query_type": "x"}, TypeError,
     "CypherGenerator.generate_batch() got multiple values for argument 'query_type'"),
    ((1, 1), {}, TypeError, "argument 'query_type': 'int' object cannot be cast as 'str'"),
    (("create", 1.5), {}, TypeError, "argument 'n': "),
    (("create", None), {}, TypeError, "argument 'n': "),
    (("create", 2**32), {}, OverflowError, "out of range integral type conversion attempted"),
    (("create", 2**64 - 1), {}, OverflowError, "out of range integral type conversion attempted"),
    (("create", -1), {}, OverflowError, None),
    (("create", 2**64), {}, OverflowError, None),
    # The type is converted first: a bad type is reported even with a bad count.
    ((1, -1), {}, TypeError, "argument 'query_type': 'int' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("args,kwargs,error,message", BATCH_ERRORS)
def test_batch_errors(tv, movies, args, kwargs, error, message):
    g = tv.CypherGenerator(movies, 1)
    with pytest.raises(error) as info:
        g.generate_batch(*args, **kwargs)
    check_error(info, error, message)
    assert sequence(g) == sequence(tv.CypherGenerator(movies, 1))


@pytest.mark.parametrize("args,message", [
    ((), "CypherGenerator.generate() missing 1 required positional argument: 'query_type'"),
    ((b"create",), "argument 'query_type': 'bytes' object cannot be cast as 'str'"),
    (("create", 1), "CypherGenerator.generate() takes 1 positional arguments but 2 were given"),
])
def test_generate_errors(tv, movies, args, message):
    with pytest.raises(TypeError) as info:
        tv.CypherGenerator(movies, 1).generate(*args)
    assert str(info.value) == message


def test_reentry_through_index_is_refused(tv, movies):
    g = tv.CypherGenerator(movies, 8)
    twin = tv.CypherGenerator(movies, 8)
    other = tv.CypherGenerator(movies, 8)
    hooks = [
        (lambda: g.generate("create"), "Already borrowed"),
        (lambda: g.generate_batch("create", 1), "Already borrowed"),
        (lambda: repr(g), "Already mutably borrowed"),
    ]
    for hook, message in hooks:
        with pytest.raises(RuntimeError) as info:
            g.generate_batch("create", Idx(2, hook))
        assert type(info.value) is RuntimeError
        assert str(info.value) == message
    # Every borrow was released and no draw was made.
    assert repr(g) == "CypherGenerator()"
    # Another generator is free to be used meanwhile.
    assert g.generate_batch("create", Idx(2, lambda: other.generate("create"))) == [
        twin.generate("create") for _ in range(2)]


def test_supported_types(tv, movies):
    g = tv.CypherGenerator(movies, 1)
    first = tv.CypherGenerator.supported_types()
    assert first == TYPES
    first.append("x")
    assert g.supported_types() == TYPES
    with pytest.raises(TypeError):
        tv.CypherGenerator.supported_types(1)


def test_class_object(tv, movies, empty):
    G = tv.CypherGenerator
    assert G.__module__ == "builtins" and G.__qualname__ == "CypherGenerator"
    assert G.__text_signature__ == "(schema, seed=None)" and G.__doc__ == ""
    assert G.generate.__text_signature__ == "($self, query_type)"
    assert G.generate.__doc__ is None
    assert G.generate_batch.__text_signature__ == "($self, query_type, n)"
    assert G.generate_batch.__doc__ == (
        "Generate *n* queries of the given type in a single call.\n\n"
        "Equivalent to calling :meth:`generate` *n* times but avoids per-call\n"
        "Python overhead.\n\n"
        "Parameters\n----------\nquery_type:\n    One of the types returned by "
        ":meth:`supported_types`.\nn:\n    Number of queries to generate.\n\n"
        "Returns\n-------\nlist[str]\n    Generated Cypher query strings.\n\n"
        "Raises\n------\nValueError\n    If *query_type* is not supported.")
    assert G.supported_types.__text_signature__ == "()"
    assert G.supported_types.__doc__ is None
    assert repr(G(movies, 1)) == repr(G(empty)) == "CypherGenerator()"
    with pytest.raises(TypeError):
        class Sub(G):
            pass
    with pytest.raises(AttributeError):
        G(empty).seed = 1


@pytest.mark.skipif(sys.maxsize > 2**32, reason="on 64 bits every 32-bit count has room")
@pytest.mark.parametrize("n, refused", [(178_956_970, False), (178_956_971, True)])
def test_room_of_three_words_a_text_bounds_a_batch_on_32_bits(tv, n, refused):
    # 12 bytes a text, 2 GiB - 1 at most: the larger count is refused before
    # any room is taken, the smaller one gets its room (which a fresh list
    # leaves untouched) and fails at its unknown type.
    s = tv.Schema({"A": ["x"]}, {})
    g, twin = tv.CypherGenerator(s, 3), tv.CypherGenerator(s, 3)
    with pytest.raises(BaseException) as e:
        g.generate_batch("bogus", n)
    if refused:
        assert type(e.value).__name__ == "PanicException"
        assert e.value.args == ("capacity overflow",)
    else:
        assert type(e.value) is ValueError
    assert g.generate("create") == twin.generate("create")


@pytest.mark.skipif(hasattr(ctypes.CDLL(None), "__asan_init"),
                    reason="the sanitizer's allocator maps its own memory and aborts on failure")
def test_room_that_cannot_be_had_is_a_panic():
    # Under a 4 GiB address-space limit the room for 2**32 - 1 queries cannot
    # be allocated; the call must fail before drawing anything.
    script = textwrap.dedent("""
        import resource, _torvane as tv
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, resource.RLIM_INFINITY))
        s = tv.Schema({"A": ["x"]}, {})
        g, twin = tv.CypherGenerator(s, 3), tv.CypherGenerator(s, 3)
        try:
            g.generate_batch("match_return", 2**32 - 1)
        except BaseException as e:
            print(type(e).__name__, e.args)
        print(g.generate("create") == twin.generate("create"))
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=60)
    assert run.stdout.splitlines() == ["PanicException ('capacity overflow',)", "True"]
    assert "capacity overflow" in run.stderr
