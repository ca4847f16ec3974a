"""References and memory stay flat over many calls, on success and on error."""
import pytest

from helpers import OwnSequence as Names
from helpers import growth, heap_bytes, refcounts_around, run


class Mutating(Names):
    """A sequence whose iteration grows the dict being read."""

    def __init__(self, target):
        super().__init__()
        self.target = target

    def __iter__(self):
        self.target[len(self.target)] = []
        return iter(())


def changed_dict(tv):
    nodes = {}
    nodes["A"] = Mutating(nodes)
    nodes["B"] = []
    tv.Schema(nodes, {})


def calls(tv):
    nodes = {"Person": ["name", "age"], "Movie": ("title",), "Thing": Names("a", "b")}
    rels = {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", Names())}
    s = tv.Schema(nodes, rels)
    text = s.to_json()
    d = s.to_dict()
    label = "Person"
    ok = [
        lambda: tv.Schema(nodes, rels),
        lambda: tv.Schema(nodes=nodes, relationships=rels),
        lambda: tv.Schema.from_dict(d),
        lambda: tv.Schema.from_json(text),
        s.node_labels, s.rel_types, s.to_dict, s.to_json, s.to_prompt, s.to_markdown,
        s.to_cypher_context, lambda: repr(s),
        lambda: s.has_node_label(label), lambda: s.has_rel_type("X"),
        lambda: s.node_properties(label), lambda: s.rel_properties("ACTED_IN"),
        lambda: s.rel_endpoints("ACTED_IN"), lambda: s.rel_endpoints("NONE"),
        lambda: s.merge(s), lambda: s.merge(other=tv.Schema({"X": []}, {})),
    ]
    bad = [
        lambda: tv.Schema(nodes),
        lambda: tv.Schema(nodes, rels, 1),
        lambda: tv.Schema(nodes, rels, extra=1),
        lambda: tv.Schema(nodes, relationships=rels, nodes=nodes),
        lambda: tv.Schema([], rels),
        lambda: tv.Schema({"A": "x"}, rels),
        lambda: tv.Schema({"A": ["x", 1]}, rels),
        lambda: tv.Schema(nodes, {"R": []}),
        lambda: tv.Schema(nodes, {"R": ("A", "B", Names("p", 2))}),
        lambda: tv.Schema({1: []}, {}),
        lambda: tv.Schema.from_dict({"nodes": {}}),
        lambda: tv.Schema.from_dict({"nodes": 1, "relationships": {}}),
        lambda: tv.Schema.from_dict(d, d),
        lambda: tv.Schema.from_json('{"nodes":{},"relationships":[}'),
        lambda: s.node_properties(1),
        lambda: s.has_node_label("\ud800"),
        lambda: s.merge(nodes),
        lambda: changed_dict(tv),
    ]
    if hasattr(tv, "parse_query"):
        query = "MATCH (p:Person)-[:ACTED_IN]->(m:Movie) WHERE p.age > 3 RETURN p.name"
        ok += [lambda: tv.parse_query(query), lambda: tv.parse_query("MATCH (n RETURN n"),
               lambda: repr(tv.parse_query(query=query))]
        bad += [lambda: tv.parse_query(), lambda: tv.parse_query(1),
                lambda: tv.parse_query(query, q=1)]
    objects = [nodes, rels, s, text, d, d["nodes"], d["relationships"], nodes["Thing"],
               rels["KNOWS"], label]
    return objects, ok, bad


EXPECTED = (TypeError, KeyError, ValueError, UnicodeEncodeError)


def test_refcounts_stable(tv, capfd):
    objects, ok, bad = calls(tv)
    before, after = refcounts_around(objects, lambda: run(ok + bad, 10, EXPECTED, panics=True),
                                     lambda: run(ok + bad, 500, EXPECTED, panics=True))
    assert after == before
    capfd.readouterr()  # the panic reports


@pytest.mark.parametrize("group", ["ok", "bad"])
def test_memory_flat(tv, capfd, group):
    _, ok, bad = calls(tv)
    fns = ok if group == "ok" else bad
    grown = growth(heap_bytes, lambda: run(fns, 2000, EXPECTED, panics=True),
                   lambda: run(fns, 20000, EXPECTED, panics=True))
    capfd.readouterr()
    # One byte per call lost would already show as over 300 KiB.
    assert grown < 256 * 1024


def test_type_refcount_stable(tv):
    def churn():
        for _ in range(1000):
            tv.Schema({}, {})
            tv.Schema({}, {}).merge(tv.Schema({}, {}))
            tv.Schema.from_json('{"nodes":{},"relationships":{}}')

    before, after = refcounts_around([tv.Schema], churn, churn)
    assert after == before
