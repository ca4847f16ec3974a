"""References and memory stay flat over many parse_query, QueryInfo and
CypherGenerator calls, on success and on error."""
import gc
import sys


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


class Idx:
    def __init__(self, value, hook=None):
        self.value = value
        self.hook = hook

    def __index__(self):
        if self.hook is not None:
            self.hook()
        return self.value


def calls(tv):
    s = tv.Schema({"Person": ["name", "age"], "Movie": ["title"]},
                  {"ACTED_IN": ("Person", "Movie", ["role"])})
    g = tv.CypherGenerator(s, 1)
    seed = 2**40
    query = "MATCH (p:Person)-[:ACTED_IN]->(m:Movie {title: 'x'}) WHERE p.age > 3 RETURN p.name"
    infos = [tv.parse_query(q) for q in (query, "MATCH (n RETURN n", "UNWIND [1] AS x RETURN x")]
    ok = [
        lambda: tv.parse_query(query), lambda: tv.parse_query(query=query),
        lambda: tv.parse_query("MATCH (n RETURN n"),
        lambda: tv.parse_query("RETURN 1" + " OR 1" * 1500),
        lambda: tv.CypherGenerator(s), lambda: tv.CypherGenerator(s, seed),
        lambda: tv.CypherGenerator(schema=s, seed=Idx(3)),
        lambda: g.generate("merge"), lambda: g.generate(query_type="unwind"),
        lambda: g.generate_batch("create", 5), lambda: g.generate_batch("bogus", 0),
        lambda: g.generate_batch("match_return", Idx(2)), g.supported_types,
        tv.CypherGenerator.supported_types, lambda: repr(g),
    ]
    for i in infos:
        ok += [lambda i=i: i.is_valid, lambda i=i: i.errors, lambda i=i: i.labels_used,
               lambda i=i: i.rel_types_used, lambda i=i: i.properties_used,
               lambda i=i: repr(i), lambda i=i: bool(i)]
    bad = [
        lambda: tv.parse_query(), lambda: tv.parse_query(1), lambda: tv.parse_query(query, q=1),
        lambda: tv.parse_query("\ud800"),
        lambda: tv.CypherGenerator(), lambda: tv.CypherGenerator({}),
        lambda: tv.CypherGenerator(s, -1), lambda: tv.CypherGenerator(s, 1.5),
        lambda: tv.CypherGenerator(s, 1, 2),
        lambda: g.generate("bogus"), lambda: g.generate(1), lambda: g.generate(),
        lambda: g.generate_batch("bogus", 2), lambda: g.generate_batch("create", 2**32),
        lambda: g.generate_batch("create", -1), lambda: g.generate_batch("create", "2"),
        lambda: g.generate_batch("create", Idx(1, lambda: g.generate("create"))),
        lambda: g.generate_batch("create", Idx(1, lambda: repr(g))),
        lambda: g.generate_batch(1, 1),
    ]
    return [s, g, seed, query, *infos], ok, bad


def run(fns, rounds):
    for _ in range(rounds):
        for fn in fns:
            try:
                fn()
            except (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError):
                pass


def test_refcounts_stable(tv):
    objects, ok, bad = calls(tv)
    run(ok + bad, 10)
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    run(ok + bad, 300)
    gc.collect()
    after = [sys.getrefcount(o) for o in objects]
    assert after == before


def test_memory_flat(tv):
    _, ok, bad = calls(tv)
    run(ok + bad, 500)
    gc.collect()
    start = rss_kib()
    run(ok + bad, 5000)
    gc.collect()
    assert rss_kib() - start < 2048


def test_type_refcounts_stable(tv):
    s = tv.Schema({"A": ["x"]}, {})

    def churn():
        for _ in range(1000):
            tv.parse_query("MATCH (n:A) RETURN n.x")
            tv.CypherGenerator(s, 1)

    churn()
    gc.collect()
    before = (sys.getrefcount(tv.QueryInfo), sys.getrefcount(tv.CypherGenerator))
    churn()
    gc.collect()
    after = (sys.getrefcount(tv.QueryInfo), sys.getrefcount(tv.CypherGenerator))
    assert after == before
