"""parse_query and QueryInfo: the names a query mentions, found without a schema."""
import ctypes
import glob
import json
import os
import threading

import pytest

# (query, labels, relationship types, property keys) of queries that parse.
WALKS = [
    ("MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name",
     ["Movie", "Person"], ["ACTED_IN"], ["name"]),
    # Byte order: upper case before lower case, and a label named twice once.
    ("MATCH (n:Zeta), (m:alpha), (o:Zeta) RETURN n", ["Zeta", "alpha"], [], []),
    ("MATCH (n:`z`), (m:`é`), (o:Z) RETURN n", ["Z", "`z`", "`é`"], [], []),
    ("MATCH (n:A:A)-[:R]->(m:A) RETURN n.x, m.x, n.x", ["A"], ["R"], ["x"]),
    ("MATCH (n:`My Label`) RETURN n.`my prop`", ["`My Label`"], [], ["`my prop`"]),
    # The items, WHERE, ORDER BY, SKIP and LIMIT of a WITH are not looked at,
    # nor ORDER BY of a RETURN.
    ("MATCH (n:Person) WITH n.age AS a RETURN a", ["Person"], [], []),
    ("MATCH (n) WHERE n.x = 1 RETURN n ORDER BY n.y", [], [], ["x"]),
    ("MATCH (n:A) WITH n MATCH (n)-[:R]->(m:B) WHERE m.x = 1 WITH m WHERE m.y = 2 "
     "RETURN m.z ORDER BY m.w SKIP 1 LIMIT 2", ["A", "B"], ["R"], ["x", "z"]),
    # A relationship's property map is not read; a node's keys and values are.
    ("MATCH (a)-[r:KNOWS {since: 1}]->(b) RETURN a", [], ["KNOWS"], []),
    ("MATCH (a {since: 1}) RETURN a", [], [], ["since"]),
    ("CREATE (n:A {a: m.b})", ["A"], [], ["a", "b"]),
    ("MATCH (n {a: {b: n.c}}) RETURN n", [], [], ["a", "c"]),
    ("MATCH (n:A $props) RETURN n", ["A"], [], []),
    ("MATCH p = (a:A)-[:R|S*1..3]-(b:B:C) RETURN p", ["A", "B", "C"], ["R", "S"], []),
    # MERGE gives its pattern only; SET, REMOVE, DELETE and FOREACH nothing.
    ("MERGE (n:Person {id: 1}) ON CREATE SET n.created = 1", ["Person"], [], ["id"]),
    ("MATCH (n:Person) SET n.age = 1", ["Person"], [], []),
    ("MATCH (n:A) WITH n UNWIND n.l AS x MERGE (m:M {k: x.k}) ON MATCH SET m.h = 1 "
     "RETURN count(m)", ["A", "M"], [], ["k"]),
    ("MATCH (n:A) CREATE (m:B {p: n.q}) WITH m SET m.r = 1 RETURN m.s",
     ["A", "B"], [], ["p", "q", "s"]),
    ("MATCH (n) FOREACH (x IN n.list | CREATE (:F {f: x.g}))", [], [], []),
    ("MATCH (n) DETACH DELETE n", [], [], []),
    ("UNWIND [1, 2] AS x RETURN x", [], [], []),
    ("CALL db.labels() YIELD label RETURN label", [], [], []),
    ("MATCH (n) RETURN *", [], [], []),
    ("OPTIONAL MATCH (n:O)-[:R]->(m) WHERE m.p = 1 RETURN m.q", ["O"], ["R"], ["p", "q"]),
    # Both sides of a UNION.
    ("MATCH (a:A) RETURN a.x UNION MATCH (b:B) RETURN b.y", ["A", "B"], [], ["x", "y"]),
    ("MATCH (a:A) RETURN a.x UNION ALL MATCH (b:B)-[:R]->(c) RETURN b.y",
     ["A", "B"], ["R"], ["x", "y"]),
    # Expressions: every operand is walked ...
    ("RETURN {k: n.v}", [], [], ["v"]),
    ("MATCH (n) RETURN CASE n.a WHEN n.b THEN n.c ELSE n.d END", [], [], ["a", "b", "c", "d"]),
    ("MATCH (n) RETURN [x IN n.a WHERE x.b > 0 | x.c]", [], [], ["a", "b", "c"]),
    ("MATCH (n) RETURN all(x IN n.a WHERE x.b), any(x IN n.c WHERE x.d), "
     "none(x IN n.e WHERE x.f), single(x IN n.g WHERE x.h)", [], [], list("abcdefgh")),
    ("MATCH (n) RETURN n.a[n.b], n.c[n.d..n.e], n.f[..n.g]", [], [], list("abcdefg")),
    ("MATCH (n) RETURN count(*), toUpper(n.name), -n.x, NOT n.y, n.z IS NULL, n.w IS NOT NULL",
     [], [], ["name", "w", "x", "y", "z"]),
    ("MATCH (n) WHERE n.a STARTS WITH 'x' AND n.b ENDS WITH 'y' OR n.c CONTAINS 'z' "
     "XOR n.d =~ 'r' RETURN n.e IN [n.f]", [], [], list("abcdef")),
    ("MATCH (n) RETURN n.a + n.b - n.c * n.d / n.e % n.f ^ n.g, n.h <> 1, n.i < 1, "
     "n.j <= 1, n.k > 1, n.l >= 1", [], [], list("abcdefghijkl")),
    ("MATCH (n) WHERE exists(n.p) RETURN n.q.r", [], [], ["p", "q", "r"]),
    # ... except inside reduce, shortestPath and EXISTS { pattern }.
    ("MATCH (n) RETURN reduce(s = 0, x IN n.list | s + x.w)", [], [], []),
    ("MATCH (a), (b) RETURN shortestPath((a)-[:R]->(b:X {q: a.z}))", [], [], []),
    ("MATCH (n) WHERE EXISTS { (n)-[:R]->(m:M {p: 1}) } RETURN n", [], [], []),
]


@pytest.mark.parametrize("query,labels,rel_types,properties", WALKS)
def test_names_found(tv, query, labels, rel_types, properties):
    info = tv.parse_query(query)
    assert info.is_valid and bool(info)
    assert info.errors == []
    assert (info.labels_used, info.rel_types_used, info.properties_used) == (
        labels, rel_types, properties)


@pytest.mark.parametrize("query,where", [
    ("MATCH (n", "1:9"),
    ("", "1:1"),
    ("MATCH (n) RETURN n\nORDER BY", "2:9"),
    ("MATCH (n) REMOVE n.p, n:L", "1:25"),
])
def test_syntax_error_is_data(tv, query, where):
    info = tv.parse_query(query)
    assert not info.is_valid and not bool(info)
    assert len(info.errors) == 1
    assert info.errors[0].startswith("Parse error:  --> " + where + "\n")
    assert "\n  = expected " in info.errors[0]
    assert info.labels_used == info.rel_types_used == info.properties_used == []


REPRS = [
    ("MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name",
     'QueryInfo(is_valid=true, labels=["Movie", "Person"], rel_types=["ACTED_IN"], '
     'properties=["name"], errors=[])'),
    ("UNWIND [1, 2] AS x RETURN x",
     "QueryInfo(is_valid=true, labels=[], rel_types=[], properties=[], errors=[])"),
    ('MATCH (n:`a"b`)-[:`it\'s`]->(m:`a\nb`) RETURN n',
     'QueryInfo(is_valid=true, labels=["`a\\nb`", "`a\\"b`"], rel_types=["`it\'s`"], '
     "properties=[], errors=[])"),
    ("MATCH (n:`a\tb\u00a0c\u200dd\u0301e\\f\u00e9`) RETURN n",
     'QueryInfo(is_valid=true, labels=["`a\\tb\\u{a0}c\\u{200d}d\\u{301}e\\\\f\u00e9`"], '
     "rel_types=[], properties=[], errors=[])"),
    ("MATCH (n",
     'QueryInfo(is_valid=false, labels=[], rel_types=[], properties=[], errors=["Parse error:  '
     '--> 1:9\\n  |\\n1 | MATCH (n\\n  |         ^---\\n  |\\n  = expected node_labels or '
     'properties"])'),
]


@pytest.mark.parametrize("query,text", REPRS)
def test_repr(tv, query, text):
    assert repr(tv.parse_query(query)) == text


def test_attributes(tv):
    Q = tv.QueryInfo
    docs = {
        "is_valid": "True if the query is syntactically valid.",
        "errors": "Syntax error messages (empty if valid).",
        "labels_used": "Node labels referenced in the query.",
        "rel_types_used": "Relationship types referenced in the query.",
        "properties_used": 'Property keys accessed in the query (e.g. ``["name", "age"]``).',
    }
    assert [n for n in vars(Q) if n in docs] == list(docs)
    for name, doc in docs.items():
        assert getattr(Q, name).__doc__ == doc
    info = tv.parse_query("MATCH (n:A) RETURN n.x")
    for name in docs:
        with pytest.raises(AttributeError):
            setattr(info, name, getattr(info, name))
        with pytest.raises(AttributeError):
            delattr(info, name)
    with pytest.raises(AttributeError):
        info.extra = 1
    # Each access converts anew, so changing one list changes nothing.
    info.labels_used.append("B")
    assert info.labels_used == ["A"]
    assert info.labels_used is not info.labels_used


def test_class_and_function_objects(tv):
    Q = tv.QueryInfo
    assert Q.__module__ == "builtins" and Q.__qualname__ == "QueryInfo"
    assert Q.__doc__ == "Information extracted from a parsed query without a schema."
    with pytest.raises(TypeError):
        Q()
    with pytest.raises(TypeError):
        class Sub(Q):
            pass
    a = tv.parse_query("RETURN 1")
    b = tv.parse_query("RETURN 1")
    assert a != b and a == a
    f = tv.parse_query
    assert f.__name__ == "parse_query" and f.__module__ == "_torvane"
    assert f.__text_signature__ == "(query)"
    assert f.__doc__ == (
        "Parse a Cypher query and return structural information without requiring a schema.\n\n"
        "Example::\n\n"
        '    info = parse_query("MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name")\n'
        "    info.is_valid        # True\n"
        '    info.labels_used     # ["Movie", "Person"]\n'
        '    info.rel_types_used  # ["ACTED_IN"]\n'
        '    info.properties_used # ["name"]')


class Text(str):
    pass


def test_arguments(tv):
    assert tv.parse_query(query="MATCH (n:A) RETURN n").labels_used == ["A"]
    assert tv.parse_query(Text("MATCH (n:A) RETURN n")).labels_used == ["A"]


@pytest.mark.parametrize("args,kwargs,error,message", [
    ((), {}, TypeError, "parse_query() missing 1 required positional argument: 'query'"),
    (("RETURN 1",), {"query": "RETURN 1"}, TypeError,
     "parse_query() got multiple values for argument 'query'"),
    ((), {"q": "RETURN 1"}, TypeError, "parse_query() got an unexpected keyword argument 'q'"),
    (("RETURN 1", 2), {}, TypeError,
     "parse_query() takes 1 positional arguments but 2 were given"),
    ((1,), {}, TypeError, "argument 'query': 'int' object cannot be cast as 'str'"),
    ((b"RETURN 1",), {}, TypeError, "argument 'query': 'bytes' object cannot be cast as 'str'"),
    (("RETURN '\ud800'",), {}, UnicodeEncodeError, None),
])
def test_argument_errors(tv, args, kwargs, error, message):
    with pytest.raises(error) as info:
        tv.parse_query(*args, **kwargs)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


# Flat chains fold into trees one level deeper per step, which is no nesting:
# of any length they parse and are walked to both ends (n.p first, n.q last).
CHAINS = {
    "or": ("RETURN n.p", " OR 1", " OR n.q"),
    "xor": ("RETURN n.p", " XOR 1", " XOR n.q"),
    "plus": ("RETURN n.p", " + 1", " + n.q"),
    "string": ("RETURN n.p", " + 'a'", " + n.q"),
    "pow": ("RETURN n.p", " ^ 1", " ^ n.q"),
    "not": ("MATCH (n) WHERE ", "NOT ", "n.p = n.q RETURN n"),
    "chain": ("RETURN n.p", ".p", " = n.q"),
    "index": ("RETURN n.p", "[0]", "[n.q]"),
    "slice": ("RETURN n.p", "[0 ..]", "[.. n.q]"),
    "is_null": ("RETURN n.p", " IS NULL", " = n.q"),
    "compare": ("RETURN n.p", " < 1", " < n.q"),
    "where": ("MATCH (n) WHERE n.p", " AND n.p", " AND n.q RETURN n"),
}

# Bracketed nesting, bounded by the grammar: (opening, closing) around n.p.
NESTINGS = {
    "parens": ("RETURN ", "(", "n.p", ")", ""),
    "lists": ("RETURN ", "[", "n.p", "]", ""),
    "maps": ("MATCH (n {p: ", "{k: ", "n.p", "}", "}) RETURN n"),
    "calls": ("RETURN ", "f(", "n.p", ")", ""),
    "cases": ("RETURN ", "CASE WHEN ", "n.p", " THEN 1 END", ""),
}


def chain(name, depth):
    head, step, tail = CHAINS[name]
    return head + step * depth + tail


def nesting(name, depth):
    head, opening, middle, closing, tail = NESTINGS[name]
    return head + opening * depth + middle + closing * depth + tail


def deepest_nesting(tv, name):
    """The deepest nesting of this kind that parses."""
    depth = 1
    while tv.parse_query(nesting(name, depth + 1)).is_valid:
        depth += 1
    return depth


# The sanitizer's frames are several times larger.
SANITIZED = hasattr(ctypes.CDLL(None), "__asan_init")
WORKER_STACK = (2048 if SANITIZED else 512) * 1024


def on_small_stack(fn, size=WORKER_STACK):
    """Runs fn on a thread with a worker's small stack."""
    result = []
    old = threading.stack_size(size)
    try:
        t = threading.Thread(target=lambda: result.append(fn()))
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    assert result, "the thread died"
    return result[0]


@pytest.mark.parametrize("name", CHAINS)
@pytest.mark.parametrize("steps", [1000, 100_000])
def test_flat_chains_of_any_length_fit_a_small_stack(tv, name, steps):
    query = chain(name, steps)
    info = on_small_stack(lambda: tv.parse_query(query))
    assert info.is_valid, info.errors[:1]
    assert info.properties_used == ["p", "q"]


def test_deepest_nestings_fit_a_small_stack(tv):
    for name in NESTINGS:
        depth = deepest_nesting(tv, name)
        assert depth >= 20, name
        query = nesting(name, depth)
        info = on_small_stack(lambda: tv.parse_query(query))
        assert info.is_valid, name
        assert info.properties_used == ["p"], name


def test_too_deep_queries_fail_cleanly(tv):
    for name in NESTINGS:
        query = nesting(name, 2000)
        info = on_small_stack(lambda: tv.parse_query(query))
        assert not info.is_valid, name
        assert info.errors[0].startswith("Parse error:  --> 1:"), name
        assert info.errors[0].endswith(
            "= query nested too deeply (more than 1000 nested grammar rules)"), name


CORPUS = sorted(glob.glob(os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared",
                                       "corpus", "*.jsonl")))


@pytest.mark.skipif(not CORPUS, reason="no query corpus beside the repository")
def test_corpus_invariants(tv):
    valid = 0
    for path in CORPUS:
        with open(path, encoding="utf-8") as f:
            for line in f:
                info = tv.parse_query(json.loads(line)["query"])
                lists = (info.labels_used, info.rel_types_used, info.properties_used)
                if info.is_valid:
                    valid += 1
                    assert info.errors == []
                    for names in lists:
                        assert names == sorted(set(names))
                else:
                    assert len(info.errors) == 1 and info.errors[0].startswith("Parse error: ")
                    assert lists == ([], [], [])
    assert valid > 0
