"""References and memory stay flat over many validator and result calls, on
success and on error."""
import gc
import sys


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


class Texts:
    """A sequence that fails part-way through."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 2:
            raise LookupError(i)
        return "MATCH (n:Persn) RETURN n"


def calls(tv):
    s = tv.Schema({"Person": ["name"], "Movie": ["title"]},
                  {"ACTED_IN": ("Person", "Movie", ["role"])})
    v = tv.Torvane(s)
    queries = ["MATCH (n:Person) RETURN n.name", "MATCH (n:Persn) RETURN m", "MATCH (n RETURN n",
               "MATCH (n) RETURN n", "RETURN " + " OR ".join(["1"] * 1200)]
    results = [v.validate(q) for q in queries]
    diags = [d for r in results for d in r.diagnostics]
    ok = [
        lambda: tv.Torvane(s), lambda: tv.Torvane(schema=s), lambda: v.schema, lambda: repr(v),
        lambda: v.validate(queries[1]), lambda: v.validate(query=queries[2]),
        lambda: v.validate_batch(queries), lambda: v.validate_batch([]),
        lambda: v.validate_batch(tuple(queries)),
    ]
    for r in results:
        ok += [lambda r=r: r.is_valid, lambda r=r: r.errors, lambda r=r: r.syntax_errors,
               lambda r=r: r.semantic_errors, lambda r=r: r.warnings, lambda r=r: r.fixed_query,
               lambda r=r: r.diagnostics, r.to_dict, r.to_json, lambda r=r: repr(r),
               lambda r=r: bool(r), lambda r=r: len(r)]
    for d in diags:
        ok += [lambda d=d: (d.code, d.code_name, d.severity, d.message, d.suggestion_original,
                            d.suggestion_replacement, d.suggestion_description,
                            d.position_line, d.position_col),
               d.to_dict, lambda d=d: repr(d)]
    bad = [
        lambda: tv.Torvane(), lambda: tv.Torvane({}), lambda: tv.Torvane(s, s),
        lambda: v.validate(1), lambda: v.validate("\ud800"), lambda: v.validate(q=""),
        lambda: v.validate_batch("RETURN 1"), lambda: v.validate_batch(["RETURN 1", 5]),
        lambda: v.validate_batch(["RETURN 1", "\ud800"]), lambda: v.validate_batch({}),
        lambda: v.validate_batch(Texts()),
    ]
    return [s, v, *queries, *results, *diags], ok, bad


def run(fns, rounds):
    for _ in range(rounds):
        for fn in fns:
            try:
                fn()
            except (TypeError, LookupError, UnicodeEncodeError):
                pass


def test_refcounts_stable(tv):
    objects, ok, bad = calls(tv)
    run(ok, 10)
    run(bad, 10)
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    run(ok, 300)
    run(bad, 300)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == before


def test_memory_flat(tv):
    _, ok, bad = calls(tv)
    run(ok, 500)
    run(bad, 500)
    gc.collect()
    start = rss_kib()
    run(ok, 3000)
    run(bad, 3000)
    gc.collect()
    assert rss_kib() - start < 2048


def test_type_refcounts_stable(tv):
    s = tv.Schema({"Person": []}, {})

    def churn():
        for _ in range(300):
            v = tv.Torvane(s)
            for r in v.validate_batch(["MATCH (n:Persn) RETURN n", "MATCH (n RETURN n"]):
                r.diagnostics
            v.validate("RETURN 1").diagnostics

    churn()
    gc.collect()
    before = [sys.getrefcount(c) for c in (tv.Torvane, tv.ValidationResult,
                                           tv.ValidationDiagnostic, tv.Schema)]
    churn()
    gc.collect()
    after = [sys.getrefcount(c) for c in (tv.Torvane, tv.ValidationResult,
                                          tv.ValidationDiagnostic, tv.Schema)]
    assert after == before
