"""Throughput of the Python module, measured from Python.

Usage: python bench/python_bench.py [corpus-dir]
The corpus folder defaults to $TORVANE_CORPUS, else ../shared/corpus beside the
repository; its *.jsonl files hold one query per line under "query".
Each figure is the best of a few rounds, so a busy machine shows less noise.
"""
import glob
import json
import os
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
    """The shortest of `rounds` timed runs of fn()."""
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
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


def main(argv):
    folder = corpus_dir(argv)
    corpus = load_corpus(folder)
    if not corpus:
        print(f"no corpus files (*.jsonl) in {folder}", file=sys.stderr)
        return 1
    bench_parse_query(corpus)
    bench_generate()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
