"""Throughput of the Python module, measured from Python.

Usage: python bench/python_bench.py [corpus-dir]
The corpus folder defaults to $TORVANE_CORPUS, else ../shared/corpus beside the
repository; its *.jsonl files hold one query per line under "query", and
schemas/<source>/<database>.json the schema named by a query's "database".
Each figure is the best of a few rounds, so a busy machine shows less noise.
Batch validation runs in child processes, one per pool size, since the pool
is sized once per process; bench/batch_bench.cpp runs the same batches on
native pools beside a pure-arithmetic loop, which shows the speed-up the
machine allows at the moment.
"""
import glob
import json
import os
import subprocess
import sys
import time

import _torvane as tv

ROUNDS = 5


def corpus_dir(argv):
    if len(argv) > 1:
        return argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("TORVANE_CORPUS", os.path.join(here, "..", "..", "shared", "corpus"))


def load_corpus(folder):
    """{file stem: [query, ...]} for every *.jsonl file of the folder."""
    corpus = {}
    for path in sorted(glob.glob(os.path.join(folder, "*.jsonl"))):
        with open(path, encoding="utf-8") as f:
            corpus[os.path.basename(path)[:-len(".jsonl")]] = [json.loads(line)["query"]
                                                                for line in f]
    return corpus


def best_seconds(fn, rounds=ROUNDS):
    """The shortest of `rounds` timed runs of fn(). What fn() returns is freed
    after the clock stops: a caller keeps results and frees them later."""
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        kept = fn()
        best = min(best, time.perf_counter() - start)
        del kept
    return best


def report(name, count, seconds):
    print(f"{name:<48} {count / seconds:>14,.0f} queries/s {seconds / count * 1e9:>10,.0f} ns/query")


def movie_schema():
    return tv.Schema(
        {"Person": ["name", "born", "age"], "Movie": ["title", "released", "tagline", "votes"],
         "Genre": ["name"]},
        {"ACTED_IN": ("Person", "Movie", ["roles"]), "DIRECTED": ("Person", "Movie", []),
         "IN_GENRE": ("Movie", "Genre", [])})


def bench_parse_query(corpus):
    """parse_query over every query of each corpus file."""
    parse_query = tv.parse_query
    for name, queries in corpus.items():
        seconds = best_seconds(lambda: [parse_query(q) for q in queries])
        report(f"parse_query/{name}", len(queries), seconds)


def bench_generate(n=200_000):
    """generate_batch per query type, and the cost of one generate call beyond
    the generation itself (single calls against one batch of the same size)."""
    schema = movie_schema()
    for query_type in ("match_return", "create", "unwind"):
        g = tv.CypherGenerator(schema, 1)
        seconds = best_seconds(lambda: g.generate_batch(query_type, n))
        report(f"generate_batch/{query_type}", n, seconds)
    g = tv.CypherGenerator(schema, 1)
    generate = g.generate
    single = best_seconds(lambda: [generate("match_return") for _ in range(n)])
    batch = best_seconds(lambda: g.generate_batch("match_return", n))
    report("generate/match_return", n, single)
    print(f"{'call cost beyond the generation':<48} {(single - batch) / n * 1e9:>14,.0f} ns/call")


def load_records(folder, pattern):
    """[(database, query), ...] of the files matching pattern, in file order."""
    records = []
    for path in sorted(glob.glob(os.path.join(folder, pattern))):
        with open(path, encoding="utf-8") as f:
            for line in f:
                d = json.loads(line)
                records.append((d.get("database", ""), d["query"]))
    return records


def validators(folder, records):
    """{database: Torvane} over the corpus schemas; an empty schema for a
    database without one."""
    paths = glob.glob(os.path.join(folder, "schemas", "*", "*.json"))
    schemas = {os.path.basename(p)[:-len(".json")]: p for p in paths}
    out = {}
    for database in {db for db, _ in records}:
        if database in schemas:
            with open(schemas[database], encoding="utf-8") as f:
                schema = tv.Schema.from_json(f.read())
        else:
            schema = tv.Schema({}, {})
        out[database] = tv.Torvane(schema)
    return out


def bench_validate(folder):
    """Torvane.validate, one call per query, each against its database's schema."""
    for pattern in ("neo4j-text2cypher-*.jsonl", "mind-the-query.jsonl", "tck-queries.jsonl"):
        records = load_records(folder, pattern)
        if not records:
            continue
        by_db = {}
        for database, query in records:
            by_db.setdefault(database, []).append(query)
        vs = validators(folder, records)
        groups = [(vs[db].validate, queries) for db, queries in by_db.items()]

        def run():
            for validate, queries in groups:
                for q in queries:
                    validate(q)

        report(f"validate/{pattern[:-len('.jsonl')]}", len(records), best_seconds(run))


def batch_texts(folder, n):
    """n texts from the text2cypher files, repeated as needed, and the
    validator of the schema their first database uses."""
    records = load_records(folder, "neo4j-text2cypher-*.jsonl")
    texts = [q for _, q in records]
    texts = (texts * (n // max(len(texts), 1) + 1))[:n]
    return texts, validators(folder, records[:1])[records[0][0]]


def memory_bytes(field):
    """A field of /proc/self/status in bytes: VmRSS now, VmHWM its peak."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def reset_peak_memory():
    """Starts VmHWM again from the current resident set."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def batch_child(folder, n, mode):
    """In a child process, prints JSON: for "time", the best time of
    validate_batch over n texts; for "calls", that and the best time of one
    validate call per text; for "memory", the memory of one batch, the first
    of the process."""
    texts, v = batch_texts(folder, n)
    if mode in ("time", "calls"):
        v.validate_batch(texts[:1000])  # the pool starts
        out = {"seconds": best_seconds(lambda: v.validate_batch(texts), rounds=3)}
        if mode == "calls":
            validate = v.validate
            out["single"] = best_seconds(lambda: [validate(q) for q in texts], rounds=3)
        json.dump(out, sys.stdout)
        return
    text_bytes = sum(len(t.encode()) for t in texts)
    base = memory_bytes("VmRSS")
    reset_peak_memory()
    results = v.validate_batch(texts)
    peak = memory_bytes("VmHWM")
    kept = memory_bytes("VmRSS")
    json.dump({"base": base, "peak": peak, "kept": kept, "text_bytes": text_bytes,
               "results": len(results)}, sys.stdout)


def run_batch_child(folder, n, threads, mode):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    env.pop("RAYON_RS_NUM_CPUS", None)
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--batch-child", folder,
                          str(n), mode], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def bench_validate_batch(folder, n=50_000, memory_n=100_000):
    """validate_batch throughput at 1, 2, 4 and 8 workers, the cost of one
    validate call beyond the same work in a one-worker batch, and the peak
    memory of a 100,000-query batch beyond the results it returns."""
    r = run_batch_child(folder, n, 1, "calls")
    report(f"validate/{n} texts, one call each", n, r["single"])
    print(f"{'call cost beyond a one-worker batch':<48} "
          f"{(r['single'] - r['seconds']) / n * 1e9:>14,.0f} ns/call")
    one = None
    for threads in (1, 2, 4, 8):
        seconds = run_batch_child(folder, n, threads, "time")["seconds"]
        one = one or seconds
        report(f"validate_batch/{n}/threads:{threads}", n, seconds)
        print(f"{'  speed-up over one worker':<48} {one / seconds:>14.2f} x")
    r = run_batch_child(folder, memory_n, 8, "memory")
    mib = 2**20
    transient = r["peak"] - r["kept"]
    print(f"validate_batch/{memory_n}/memory: texts {r['text_bytes'] / mib:.1f} MiB, "
          f"results {(r['kept'] - r['base']) / mib:.1f} MiB "
          f"({(r['kept'] - r['base']) / memory_n:.0f} B/result), "
          f"peak beyond the results {transient / mib:.1f} MiB "
          f"({transient / memory_n:.0f} B/query)")


# One large query per shape, about `size` bytes: a list of numbers (the most
# memory per byte known), a list of strings, pattern parts with a finding
# each, one string literal.
LARGE_SHAPES = {
    "numbers": lambda size: "RETURN [" + ",".join(["1"] * (size // 2)) + "]",
    "strings": lambda size: "RETURN [" + ", ".join(["'name'"] * (size // 8)) + "]",
    "parts": lambda size: "MATCH (a0:Persn)" + "".join(
        f", (a{i}:Persn)" for i in range(1, size // 12)) + " RETURN a0",
    "string": lambda size: "RETURN '" + "x" * size + "'",
}


def large_child(shape, call, size):
    """In a child process, prints JSON: the peak memory of one call of
    `call` ("validate" or "parse_query") on the shape's query beyond what the
    process held before, and its time."""
    q = LARGE_SHAPES[shape](size)
    v = tv.Torvane(movie_schema())
    fn = v.validate if call == "validate" else tv.parse_query
    fn("RETURN 1")
    base = memory_bytes("VmRSS")
    reset_peak_memory()
    start = time.perf_counter()
    fn(q)
    seconds = time.perf_counter() - start
    json.dump({"bytes": len(q.encode()), "peak": memory_bytes("VmHWM") - base,
               "seconds": seconds}, sys.stdout)


def bench_large_queries(size=4_000_000):
    """Peak memory per query byte and time of one large query, from Python."""
    for shape in LARGE_SHAPES:
        for call in ("validate", "parse_query"):
            out = subprocess.run([sys.executable, os.path.abspath(__file__), "--large-child",
                                  shape, call, str(size)], capture_output=True, text=True,
                                 check=True)
            r = json.loads(out.stdout)
            print(f"{f'{call}/large/{shape}':<48} {r['peak'] / r['bytes']:>8.1f} B/query byte "
                  f"{r['bytes'] / r['seconds'] / 2**20:>8.1f} MiB/s")


def main(argv):
    if len(argv) > 1 and argv[1] == "--batch-child":
        batch_child(argv[2], int(argv[3]), argv[4])
        return 0
    if len(argv) > 1 and argv[1] == "--large-child":
        large_child(argv[2], argv[3], int(argv[4]))
        return 0
    folder = corpus_dir(argv)
    corpus = load_corpus(folder)
    if not corpus:
        print(f"no corpus files (*.jsonl) in {folder}", file=sys.stderr)
        return 1
    bench_parse_query(corpus)
    bench_generate()
    bench_validate(folder)
    bench_validate_batch(folder)
    bench_large_queries()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
