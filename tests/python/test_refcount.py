"""References and memory stay flat over many calls, on success and on error."""
import gc
import sys

import pytest


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def calls(tv):
    nodes = {"Person": ["name", "age"], "Movie": ["title"]}
    rels = {"ACTED_IN": ("Person", "Movie", ["role"])}
    s = tv.Schema(nodes, rels)
    text = s.to_json()
    d = s.to_dict()
    ok = [
        lambda: tv.Schema(nodes, rels),
        lambda: tv.Schema(nodes=nodes, relationships=rels),
        lambda: tv.Schema.from_dict(d),
        lambda: tv.Schema.from_json(text),
        s.node_labels, s.rel_types, s.to_dict, s.to_json, s.to_prompt, s.to_markdown,
        s.to_cypher_context, lambda: repr(s),
        lambda: s.has_node_label("Person"), lambda: s.has_rel_type("X"),
        lambda: s.node_properties("Person"), lambda: s.rel_properties("ACTED_IN"),
        lambda: s.rel_endpoints("ACTED_IN"), lambda: s.rel_endpoints("NONE"),
        lambda: s.merge(s),
    ]
    bad = [
        lambda: tv.Schema(nodes),
        lambda: tv.Schema(nodes, rels, 1),
        lambda: tv.Schema(nodes, rels, extra=1),
        lambda: tv.Schema([], rels),
        lambda: tv.Schema({"A": "x"}, rels),
        lambda: tv.Schema(nodes, {"R": []}),
        lambda: tv.Schema({1: []}, {}),
        lambda: tv.Schema.from_dict({"nodes": {}}),
        lambda: tv.Schema.from_dict({"nodes": 1, "relationships": {}}),
        lambda: tv.Schema.from_json('{"nodes":{},"relationships":[}'),
        lambda: s.node_properties(1),
        lambda: s.has_node_label("\ud800"),
        lambda: s.merge(nodes),
    ]
    return [nodes, rels, s, text, d], ok, bad


def run(fns, rounds):
    for _ in range(rounds):
        for fn in fns:
            try:
                fn()
            except (TypeError, KeyError, ValueError, UnicodeEncodeError):
                pass


def test_refcounts_stable(tv):
    objects, ok, bad = calls(tv)
    run(ok + bad, 10)
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    run(ok + bad, 500)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == before


def test_memory_flat(tv):
    _, ok, bad = calls(tv)
    run(ok + bad, 2000)
    gc.collect()
    start = rss_kib()
    run(ok + bad, 20000)
    gc.collect()
    assert rss_kib() - start < 2048


def test_type_refcount_stable(tv):
    def churn():
        for _ in range(1000):
            tv.Schema({}, {})
            tv.Schema({}, {}).merge(tv.Schema({}, {}))

    churn()
    gc.collect()
    before = sys.getrefcount(tv.Schema)
    churn()
    gc.collect()
    after = sys.getrefcount(tv.Schema)  # outside the assert: its rewrite holds a reference
    assert after == before
