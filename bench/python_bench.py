"""Throughput of the Python module, measured from Python.

Usage: python bench/python_bench.py [corpus-dir]
       python bench/python_bench.py --large [SHAPE,...|all [KIB,...]] [--after SHAPE:KIB]
The second form runs only the large-query figures: peak memory per query byte
of each shape in LARGE_SHAPES at the sizes in LARGE_SIZES and the most over
LARGE_SWEEP, or at the sizes given (in KiB) alone; with --after, each in a
process that has validated that query before.
The corpus folder defaults to $TORVANE_CORPUS, else ../shared/corpus beside the
repository; its *.jsonl files hold one query per line under "query", and
schemas/<source>/<database>.json the schema named by a query's "database".
Each figure is the best of a few rounds, so a busy machine shows less noise.
Batch validation runs in child processes, one per pool size, since the pool
is sized once per process; bench/batch_bench.cpp runs the same batches on
native pools beside a pure-arithmetic loop, which shows the speed-up the
machine allows at the moment.
"""
import ctypes
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


def repeated(head, item, separator, tail, size):
    """head, then copies of item joined by separator, then tail: the fewest
    copies that make at least `size` bytes (as memory_bench's `repeated`,
    which makes the same texts)."""
    n = max(1, -(-(size - len(head) - len(tail) + len(separator)) // (len(item) + len(separator))))
    return head + separator.join([item] * n) + tail


def nested(before, inner, after, depth):
    return before * depth + inner + after * depth


def numbered(head, item, separator, tail, size):
    """head, then numbered copies of item (its {} 0, 1, ...) joined by
    separator until `size` bytes, then tail."""
    parts = [head + item.format(0)]
    length, i = len(parts[0]), 1
    while length < size:
        parts.append(separator + item.format(i))
        length += len(parts[-1])
        i += 1
    return "".join(parts) + tail


# One large query per shape, about `size` bytes, under the names of
# memory_bench's LargeQuery family: chains of operators, lists of small
# expressions, comprehensions and other brackets nested as deep as the nesting
# bound lets them be inside a list, findings in every few bytes, patterns,
# maps and strings. Among them are the most memory per byte known.
LARGE_SHAPES = {
    "add_chain": lambda n: repeated("RETURN 1", "+1", "", "", n),
    "mul_chain": lambda n: repeated("RETURN 2", "*2", "", "", n),
    "mixed_chain": lambda n: repeated("RETURN 1", "+2*3-4/5%6^7", "", "", n),
    "comparison_chain": lambda n: repeated("RETURN 1<2", " AND 1<2", "", "", n),
    "or_chain": lambda n: repeated("RETURN x", " OR x", "", "", n),
    "boolean_chain": lambda n: repeated("RETURN true", " OR true", "", "", n),
    "where_chain": lambda n: repeated("MATCH (n:Person) WHERE n.name=1", " AND n.name=1", "", "",
                                      n),
    "property_chain": lambda n: repeated("MATCH (n) RETURN n", ".a", "", "", n),
    "subscript_chain": lambda n: repeated("WITH [1] AS n RETURN n", "[0]", "", "", n),
    "numbers": lambda n: repeated("RETURN [", "1", ",", "]", n),
    "negatives": lambda n: repeated("RETURN [", "-1", ",", "]", n),
    "sums": lambda n: repeated("RETURN [", "1+1", ",", "]", n),
    "variables": lambda n: repeated("RETURN [", "a", ",", "]", n),
    "negated_variables": lambda n: repeated("RETURN [", "-a", ",", "]", n),
    "return_variables": lambda n: repeated("RETURN ", "a", ",", "", n),
    "properties": lambda n: repeated("MATCH (n) RETURN [", "n.a", ",", "]", n),
    "subscripts": lambda n: repeated("RETURN [", "l[0][0]", ",", "]", n),
    "calls": lambda n: repeated("RETURN [", "f(1)", ",", "]", n),
    "comprehensions": lambda n: repeated("RETURN [", "[x IN l|x]", ",", "]", n),
    "comprehensions_nested": lambda n: repeated("RETURN [", nested("[x IN ", "x", " | x]", 59),
                                                ",", "]", n),
    "comprehensions_filtered": lambda n: repeated(
        "RETURN [", nested("[x IN ", "x", " WHERE x | x]", 40), ",", "]", n),
    "sums_nested": lambda n: repeated("RETURN [", nested("(", "1", "+1)", 50), ",", "]", n),
    "lists_nested": lambda n: repeated("RETURN [", nested("[", "1", "]", 60), ",", "]", n),
    "maps_nested": lambda n: repeated("RETURN [", nested("{a:", "1", "}", 40), ",", "]", n),
    "strings": lambda n: repeated("RETURN [", "'name'", ", ", "]", n),
    "string": lambda n: "RETURN '" + "x" * n + "'",
    "labels": lambda n: repeated("MATCH (n", ":L", "", ") RETURN n", n),
    "types": lambda n: repeated("MATCH ()-[:T", "|T", "", "]-() RETURN 1", n),
    "parts": lambda n: numbered("MATCH ", "(a{}:Persn)", ", ", " RETURN a0", n),
    "relationships": lambda n: repeated("MATCH ()", "--()", "", " RETURN 1", n),
    "set_items": lambda n: repeated("MATCH (n) SET ", "a.b=1", ",", "", n),
    "map": lambda n: numbered("RETURN {", "k{}:1", ",", "}", n),
}
# Query sizes of the large-query figures, in KiB, and the sizes of a sweep
# over one octave: a list that grows by doubling holds its old and its new
# room at once while it moves, so a query's peak per byte is highest where
# one of its lists has just doubled, which a few fixed sizes can miss. The
# sweep's odd sizes each lie just past such a point for lists of one item
# in every 1, 3, 5 or 7 bytes (times a power of two).
LARGE_SIZES = (16, 64, 1024, 8192)
LARGE_SWEEP = tuple(range(65, 129, 2))


def large_child(shape, call, size, after=None):
    """In a child process, prints JSON: the peak memory of one call of
    `call` ("validate" or "parse_query") on the shape's query beyond what the
    process held before (the query string included), and its time. With
    `after` (a shape and a size), the process first validates that query and
    gives its free memory back: the allocator then keeps large blocks in its
    heap, as in a process that has checked a large query before."""
    q = LARGE_SHAPES[shape](size)
    v = tv.Torvane(movie_schema())
    fn = v.validate if call == "validate" else tv.parse_query
    fn("RETURN 1")
    if after:
        v.validate(LARGE_SHAPES[after[0]](after[1]))
        ctypes.CDLL(None).malloc_trim(0)
    base = memory_bytes("VmRSS")
    reset_peak_memory()
    start = time.perf_counter()
    r = fn(q)
    seconds = time.perf_counter() - start
    refused = call == "validate" and bool(r.syntax_errors)
    json.dump({"bytes": len(q.encode()), "peak": memory_bytes("VmHWM") - base,
               "seconds": seconds, "refused": refused}, sys.stdout)


def large_peak(shape, call, kib, after=None):
    """Peak bytes per query byte of one call on the shape's query of `kib`
    KiB, in a fresh process (after the query `after` names, if any); whether
    it was refused; its speed in MiB/s."""
    extra = [after[0], str(after[1])] if after else []
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--large-child", shape,
                          call, str(kib << 10)] + extra, capture_output=True, text=True,
                         check=True)
    r = json.loads(out.stdout)
    return r["peak"] / r["bytes"], r["refused"], r["bytes"] / r["seconds"] / 2**20


def bench_large_queries(shapes=None, sizes=LARGE_SIZES, sweep=LARGE_SWEEP, after=None):
    """Peak memory per query byte of one large query, for each shape, call
    and size (KiB), each in a fresh process (after the query `after` names,
    if any); the most over the sweep's sizes and the size that takes it; the
    speed at the largest size."""
    head = "".join(f"{f'{k} KiB':>10}" for k in sizes)
    if sweep:
        head += f"{f'most, {sweep[0]}-{sweep[-1]} KiB':>24}"
    print(f"{'peak bytes per query byte':<40}{head}{'MiB/s':>10}")
    for shape in shapes or LARGE_SHAPES:
        for call in ("validate", "parse_query"):
            row = f"{f'{call}/large/{shape}':<40}"
            for kib in sizes:
                per_byte, refused, speed = large_peak(shape, call, kib, after)
                row += f"{per_byte:>9.1f}" + ("!" if refused else " ")
            if sweep:
                most, at = max((large_peak(shape, call, kib, after)[0], kib) for kib in sweep)
                row += f"{most:>14.1f} at {at:>3} KiB"
            print(f"{row}{speed:>10.1f}", flush=True)


def main(argv):
    if len(argv) > 1 and argv[1] == "--batch-child":
        batch_child(argv[2], int(argv[3]), argv[4])
        return 0
    if len(argv) > 1 and argv[1] == "--large-child":
        large_child(argv[2], argv[3], int(argv[4]),
                    (argv[5], int(argv[6])) if len(argv) > 6 else None)
        return 0
    if len(argv) > 1 and argv[1] == "--large":
        after = None
        if "--after" in argv:
            at = argv.index("--after")
            name, kib = argv[at + 1].split(":")
            after = (name, int(kib) << 10)
            argv = argv[:at] + argv[at + 2:]
        shapes = argv[2].split(",") if len(argv) > 2 and argv[2] != "all" else None
        if len(argv) > 3:
            bench_large_queries(shapes, tuple(int(k) for k in argv[3].split(",")), (), after)
        else:
            bench_large_queries(shapes, after=after)
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
