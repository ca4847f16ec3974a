"""References and memory stay flat over many parse_query, QueryInfo and
CypherGenerator calls, on success and on error."""
from helpers import Idx, growth, refcounts_around, rss_kib, run

EXPECTED = (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError)


def calls(tv, s):
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


def test_refcounts_stable(tv, movies):
    objects, ok, bad = calls(tv, movies)
    before, after = refcounts_around(objects, lambda: run(ok + bad, 10, EXPECTED),
                                     lambda: run(ok + bad, 300, EXPECTED))
    assert after == before


def test_memory_flat(tv, movies):
    _, ok, bad = calls(tv, movies)
    grown = growth(rss_kib, lambda: run(ok + bad, 500, EXPECTED),
                   lambda: run(ok + bad, 5000, EXPECTED))
    assert grown < 2048


def test_type_refcounts_stable(tv):
    s = tv.Schema({"A": ["x"]}, {})

    def churn():
        for _ in range(1000):
            tv.parse_query("MATCH (n:A) RETURN n.x")
            tv.CypherGenerator(s, 1)

    before, after = refcounts_around([tv.QueryInfo, tv.CypherGenerator], churn, churn)
    assert after == before
