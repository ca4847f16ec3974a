"""The Torvane class: construction, single and batch validation, the worker pool."""
import json
import os
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

from helpers import OwnSequence as Texts

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"

BATCH_DOC = (
    "Validate multiple queries at once and return one ``ValidationResult`` per query.\n\n"
    "Queries are validated in parallel (via Rayon) and the Python GIL is released\n"
    "for the duration of the batch, so other Python threads (e.g. asyncio event loop)\n"
    "are not blocked.")

NODES = {"Person": ["name", "age"], "Movie": ["title"]}
RELS = {"ACTED_IN": ("Person", "Movie", ["role"])}

# Valid and invalid texts mixed: findings of every kind, hash-ordered map
# keys, parse failures, a long flat chain, nesting at the limits, and texts
# that are not ASCII.
MIXED = [
    "MATCH (n:Person) RETURN n.name",
    "MATCH (n) RETURN n",
    "MATCH (n:Persn) RETURN n",
    "MATCH (a:Pers), (b:Pers) RETURN a, b",
    "MATCH (n:Person {nmae: 'x', agee: 1, titel: 2}) RETURN n",
    "MATCH (a:Persn)-[:ACTS_IN]->(m:Movie) WHERE m.titel = 'x' RETURN a.name, b",
    "MATCH (a:Person)-[r:ACTED_IN*]->(m) RETURN count(r) SKIP 'x' LIMIT null",
    "MATCH (n RETURN n",
    "",
    "RETURN " + " OR ".join(["1"] * 1500),
    "RETURN " + "(" * 3000 + "1" + ")" * 3000,
    "RETURN " + "[" * 400 + "]" * 400,
    "MATCH (n:`\u00e9t\u00e9`)\nWHERE n.\u540d = '\u2603' RETURN n",
]


def movies(tv):
    return tv.Schema(NODES, RELS)


@pytest.fixture
def v(tv):
    return tv.Torvane(movies(tv))


def snapshot(r):
    """A result as plain data, findings in a fixed order: findings that follow
    a hash map's iteration order may come in another order each time."""
    d = r.to_dict()
    for key in ("errors", "semantic_errors", "warnings"):
        d[key] = sorted(d[key])
    d["diagnostics"] = sorted(json.dumps(x, sort_keys=True) for x in d["diagnostics"])
    return d


# ---------------------------------------------------------------------------
# The class


def test_schema_attribute_is_a_fresh_copy(tv):
    s = movies(tv)
    v = tv.Torvane(s)
    assert v.schema is not v.schema
    assert v.schema.to_json() == s.to_json()
    assert v.schema.node_labels() == s.node_labels()
    assert v.schema.rel_endpoints("ACTED_IN") == ("Person", "Movie")
    assert type(v.schema) is tv.Schema


def test_validator_keeps_its_own_schema(tv):
    s = tv.Schema({"Person": ["name"]}, {})
    v = tv.Torvane(s)
    merged = s.merge(tv.Schema({"Movie": []}, {}))
    assert v.validate("MATCH (m:Movie) RETURN m").errors
    assert tv.Torvane(merged).validate("MATCH (m:Movie) RETURN m").is_valid
    del s
    assert v.validate("MATCH (n:Person) RETURN n.name").is_valid


def test_class_surface(tv, v):
    assert repr(v) == "Torvane()"
    assert repr(tv.Torvane(tv.Schema({}, {}))) == "Torvane()"
    assert tv.Torvane.__text_signature__ == "(schema)"
    assert tv.Torvane.__doc__ == ""
    assert tv.Torvane.__module__ == "builtins"
    assert tv.Torvane.schema.__doc__ == "The schema this validator was constructed with."
    assert tv.Torvane.validate.__text_signature__ == "($self, query)"
    assert tv.Torvane.validate.__doc__ is None
    assert tv.Torvane.validate_batch.__text_signature__ == "($self, queries)"
    assert tv.Torvane.validate_batch.__doc__ == BATCH_DOC
    with pytest.raises(AttributeError):
        v.schema = movies(tv)
    with pytest.raises(AttributeError):
        v.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (tv.Torvane,), {})


@pytest.mark.parametrize("call, error, text", [
    (lambda tv, s, v: tv.Torvane({"Person": []}), TypeError,
     "argument 'schema': 'dict' object cannot be cast as 'Schema'"),
    (lambda tv, s, v: tv.Torvane(v), TypeError,
     "argument 'schema': 'Torvane' object cannot be cast as 'Schema'"),
    (lambda tv, s, v: tv.Torvane(), TypeError,
     "Torvane.__new__() missing 1 required positional argument: 'schema'"),
    (lambda tv, s, v: tv.Torvane(s, s), TypeError,
     "Torvane.__new__() takes 1 positional arguments but 2 were given"),
    (lambda tv, s, v: tv.Torvane(s, schema=s), TypeError,
     "Torvane.__new__() got multiple values for argument 'schema'"),
    (lambda tv, s, v: tv.Torvane(schem=s), TypeError,
     "Torvane.__new__() got an unexpected keyword argument 'schem'"),
    (lambda tv, s, v: v.validate(1), TypeError,
     "argument 'query': 'int' object cannot be cast as 'str'"),
    (lambda tv, s, v: v.validate(b"RETURN 1"), TypeError,
     "argument 'query': 'bytes' object cannot be cast as 'str'"),
    (lambda tv, s, v: v.validate(), TypeError,
     "Torvane.validate() missing 1 required positional argument: 'query'"),
    (lambda tv, s, v: v.validate("a", "b"), TypeError,
     "Torvane.validate() takes 1 positional arguments but 2 were given"),
    (lambda tv, s, v: v.validate(q="a"), TypeError,
     "Torvane.validate() got an unexpected keyword argument 'q'"),
    (lambda tv, s, v: v.validate_batch("RETURN 1"), TypeError,
     "argument 'queries': Can't extract `str` to `Vec`"),
    (lambda tv, s, v: v.validate_batch(["RETURN 1", 5]), TypeError,
     "argument 'queries': 'int' object cannot be cast as 'str'"),
    (lambda tv, s, v: v.validate_batch({"RETURN 1": 1}), TypeError,
     "argument 'queries': 'dict' object cannot be cast as 'Sequence'"),
    (lambda tv, s, v: v.validate_batch({"RETURN 1"}), TypeError,
     "argument 'queries': 'set' object cannot be cast as 'Sequence'"),
    (lambda tv, s, v: v.validate_batch(q for q in ["RETURN 1"]), TypeError,
     "argument 'queries': 'generator' object cannot be cast as 'Sequence'"),
    (lambda tv, s, v: v.validate_batch(None), TypeError,
     "argument 'queries': 'NoneType' object cannot be cast as 'Sequence'"),
    (lambda tv, s, v: v.validate_batch(), TypeError,
     "Torvane.validate_batch() missing 1 required positional argument: 'queries'"),
])
def test_argument_errors(tv, v, call, error, text):
    with pytest.raises(error) as info:
        call(tv, movies(tv), v)
    assert str(info.value) == text
    assert type(info.value) is error


@pytest.mark.parametrize("call", [
    lambda v: v.validate("\ud800"),
    lambda v: v.validate_batch(["RETURN 1", "\ud800"]),
])
def test_unencodable_text_raises_unicode_error_unchanged(v, call):
    with pytest.raises(UnicodeEncodeError):
        call(v)


def test_validation_findings_are_never_exceptions(v):
    for query in MIXED:
        assert isinstance(v.validate(query), type(v.validate("RETURN 1")))
    assert not v.validate("MATCH (n RETURN n").is_valid
    assert not v.validate_batch(["MATCH (n RETURN n"])[0].is_valid


@pytest.mark.parametrize("query, errors, fixed", [
    # A backticked name is the name between the backticks.
    ("MATCH (p:`Person`) RETURN p.`pageRank-1`", [], None),
    ("MATCH (p:`Persn`) RETURN p", ["Unknown node label: :`Persn`, did you mean :Person?"],
     "MATCH (p:Person) RETURN p"),
    # A replacement that is no plain name is backticked.
    ("MATCH (p:Person) RETURN p.`pagerank-1`",
     ["Unknown property '`pagerank-1`' on variable 'p' with label :Person, did you mean "
      ".pageRank-1?"],
     "MATCH (p:Person) RETURN p.`pageRank-1`"),
    # Only the names in the role of the finding change.
    ("MATCH (n:Person) RETURN n.nme AS nme, $nme",
     ["Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"],
     "MATCH (n:Person) RETURN n.name AS nme, $nme"),
    ("MATCH (n: Persn) RETURN n", ["Unknown node label: :Persn, did you mean :Person?"],
     "MATCH (n: Person) RETURN n"),
    ("MATCH (n:/* c */Persn) RETURN n", ["Unknown node label: :Persn, did you mean :Person?"],
     "MATCH (n:/* c */Person) RETURN n"),
])
def test_backticked_names_and_corrections(tv, query, errors, fixed):
    nodes = dict(NODES, Person=["name", "age", "pageRank-1"])
    r = tv.Torvane(tv.Schema(nodes, RELS)).validate(query)
    assert (r.errors, r.fixed_query) == (errors, fixed)


# ---------------------------------------------------------------------------
# Batches


@pytest.mark.parametrize("queries, n", [
    ([], 0),
    ((), 0),
    (("RETURN 1",), 1),
    (Texts("RETURN 1", "MATCH (n RETURN n"), 2),
    (["MATCH (n:Persn) RETURN n"] * 3, 3),
])
def test_batch_accepts_sequences(v, queries, n):
    results = v.validate_batch(queries)
    assert type(results) is list and len(results) == n
    assert [r.to_json() for r in results] == [v.validate(q).to_json() for q in queries]


def test_batch_results_are_distinct_objects(v):
    a, b = v.validate_batch(["RETURN 1", "RETURN 1"])
    assert a is not b


def test_batch_matches_single_validation(v):
    queries = MIXED * 20
    batch = v.validate_batch(queries)
    assert [snapshot(r) for r in batch] == [snapshot(v.validate(q)) for q in queries]


def corpus_texts(limit):
    texts = []
    for path in sorted(CORPUS.glob("*.jsonl")):
        with open(path, encoding="utf-8") as f:
            for line in f:
                query = json.loads(line).get("query")
                if isinstance(query, str):
                    texts.append(query)
    return texts[:limit]


# Runs in a fresh process with the pool size variables set: validates the
# texts on stdin in one batch and prints the results as dicts.
CHILD = textwrap.dedent("""
    import json, sys
    import _torvane as tv
    schema = tv.Schema.from_json(sys.argv[1])
    texts = json.load(sys.stdin)
    results = tv.Torvane(schema).validate_batch(texts)
    json.dump([r.to_dict() for r in results], sys.stdout)
""")


def run_child(script, env_update, stdin="", args=(), affinity=None):
    env = dict(os.environ)
    env.pop("RAYON_NUM_THREADS", None)
    env.pop("RAYON_RS_NUM_CPUS", None)
    env.update(env_update)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    preexec = None
    if affinity is not None:
        def preexec():
            os.sched_setaffinity(0, affinity)
    out = subprocess.run([sys.executable, "-c", script, *args], input=stdin, env=env,
                         capture_output=True, text=True, timeout=300, preexec_fn=preexec)
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""
    return out.stdout


class Snap:
    """Wraps a dict from a child so that snapshot() can read it."""

    def __init__(self, d):
        self.d = d

    def to_dict(self):
        return dict(self.d)


@pytest.mark.parametrize("threads", ["1", "8"])
def test_batch_matches_single_at_any_pool_size(tv, v, threads):
    texts = MIXED + corpus_texts(3000)
    stdout = run_child(CHILD, {"RAYON_NUM_THREADS": threads}, stdin=json.dumps(texts),
                       args=[movies(tv).to_json()])
    batch = json.loads(stdout)
    assert len(batch) == len(texts)
    assert [snapshot(Snap(d)) for d in batch] == [snapshot(v.validate(t)) for t in texts]


# ---------------------------------------------------------------------------
# Threads


def long_batch():
    # A few hundred milliseconds of work even on eight threads.
    query = ("MATCH (a:Person)-[r:ACTED_IN]->(m:Movie) WHERE a.name = 'x' AND m.titel > 1 "
             "WITH a, count(m) AS c ORDER BY c DESC RETURN a.name, c LIMIT 10")
    return [query] * 100_000


def test_batch_releases_the_interpreter_lock(v):
    """A second thread runs Python code, and validates with the same object,
    while the batch is in native code."""
    progress = []
    stop = threading.Event()
    started = threading.Event()

    def other():
        started.set()
        while not stop.is_set():
            assert v.validate("MATCH (n:Person) RETURN n.name").is_valid
            progress.append(time.perf_counter())

    queries = long_batch()
    t = threading.Thread(target=other)
    t.start()
    started.wait()
    begin = time.perf_counter()
    results = v.validate_batch(queries)
    end = time.perf_counter()
    stop.set()
    t.join()
    assert len(results) == len(queries) and not results[-1].is_valid
    # With the lock held the other thread could only run at the edges of the
    # call; count its steps in the middle half.
    quarter = (end - begin) / 4
    middle = [p for p in progress if begin + quarter < p < end - quarter]
    assert len(middle) > 10, (end - begin, len(progress))


def test_concurrent_batches_on_one_validator(v):
    queries = MIXED * 50
    expected = [snapshot(r) for r in v.validate_batch(queries)]
    outcomes = [None] * 4

    def run(i):
        outcomes[i] = [snapshot(r) for r in v.validate_batch(queries)]

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert outcomes == [expected] * 4


def test_batch_keeps_its_texts_while_the_list_changes(v):
    """Another thread shortens the list, dropping the only references to its
    texts, while the batch runs without the lock: the batch validates the
    texts the list held when it was read."""
    texts = [f"MATCH (n:Pers{'o' * (i % 2)}n) RETURN n.n{'a' * (i % 3)}me"
             for i in range(60_000)]
    expected = [snapshot(r) for r in v.validate_batch(texts[:6])]
    started = threading.Event()

    def shorten():
        started.set()
        while texts:
            del texts[-5000:]
            time.sleep(0.001)

    t = threading.Thread(target=shorten)
    t.start()
    started.wait()
    results = v.validate_batch(texts)
    t.join()
    assert len(results) % 5000 == 0
    assert all(snapshot(results[i]) == expected[i % 6] for i in range(0, len(results), 97))


# Another thread looks for result lists through the collector while batches
# run, and reads ("read") or empties ("clear") every one it finds; a list a
# batch is still filling must not be among them. Prints the number of scans
# made while a batch ran.
SNOOP = textwrap.dedent("""
    import gc, sys, threading
    import _torvane as tv
    mode = sys.argv[1]
    v = tv.Torvane(tv.Schema({"Person": ["name"]}, {}))
    texts = ["MATCH (n:Person) RETURN n.name", "MATCH (n:Persn) RETURN n"] * 2000
    running = threading.Event()
    done = threading.Event()
    scans = 0

    def snoop():
        global scans
        while not done.is_set():
            during = running.is_set()
            for o in gc.get_objects():
                if type(o) is list and o and type(o[-1]) is tv.ValidationResult:
                    if mode == "clear":
                        o.clear()
                    else:
                        assert all(r.is_valid == (i % 2 == 0) for i, r in enumerate(o))
            scans += during and running.is_set()

    t = threading.Thread(target=snoop)
    t.start()
    for _ in range(40):
        running.set()
        results = v.validate_batch(texts)
        running.clear()
        if mode == "read":
            assert len(results) == len(texts)
            assert [r.is_valid for r in results[:4]] == [True, False, True, False]
        del results
    done.set()
    t.join()
    print(scans)
""")


@pytest.mark.parametrize("mode", ["read", "clear"])
def test_batch_hands_out_no_list_before_it_is_filled(mode):
    scans = int(run_child(SNOOP, {"RAYON_NUM_THREADS": "4"}, args=[mode]))
    assert scans > 0  # the other thread did look while batches ran


# Counts the threads of the process before import, after import and after a
# large batch.
THREADS = textwrap.dedent("""
    import os
    def count():
        return len(os.listdir("/proc/self/task"))
    before = count()
    import _torvane as tv
    imported = count()
    v = tv.Torvane(tv.Schema({"Person": ["name"]}, {}))
    v.validate_batch(["MATCH (n:Person) WHERE n.name = 'x' RETURN n.name"] * 20_000)
    print(before, imported, count())
""")


@pytest.mark.parametrize("env, affinity, workers", [
    ({"RAYON_NUM_THREADS": "3"}, None, 3),
    ({"RAYON_NUM_THREADS": "+2"}, None, 2),
    ({"RAYON_NUM_THREADS": "1"}, None, 1),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, {0, 1}, 2),
    ({"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "3"}, None, 3),
    ({"RAYON_NUM_THREADS": " 3", "RAYON_RS_NUM_CPUS": "0"}, {0, 1, 2}, 3),
    ({"RAYON_RS_NUM_CPUS": "2"}, None, 2),
    ({}, {0}, 1),
    ({}, {0, 1}, 2),
])
def test_pool_size(env, affinity, workers):
    if affinity is not None and not affinity <= os.sched_getaffinity(0):
        pytest.skip("needs CPUs this process may not use")
    before, imported, after = map(int, run_child(THREADS, env, affinity=affinity).split())
    assert imported == before, "import starts no thread"
    # The calling thread works in the pool too.
    assert after - before <= workers - 1
    if workers <= os.cpu_count():
        assert after - before == workers - 1


FORK = textwrap.dedent("""
    import os, warnings
    import _torvane as tv
    warnings.simplefilter("ignore")  # forking with threads running
    v = tv.Torvane(tv.Schema({"Person": ["name"]}, {}))
    queries = ["MATCH (n:Persn) RETURN n"] * 20_000
    v.validate_batch(queries)
    pid = os.fork()
    if pid == 0:
        results = v.validate_batch(queries)
        os._exit(0 if len(results) == len(queries) and not results[-1].is_valid else 3)
    print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
""")


def test_batch_in_a_forked_child():
    # The child has none of the parent's workers; its batch still completes.
    assert run_child(FORK, {"RAYON_NUM_THREADS": "4"}).split() == ["0"]
