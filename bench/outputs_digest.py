"""A digest of everything the Python module gives back for the query corpus,
so that a change meant to keep behaviour can be shown to keep it: two builds
that print the same digests gave the same outputs, byte for byte.

Usage: PYTHONPATH=<builddir>:python /usr/bin/python3 bench/outputs_digest.py [corpus-dir] [--lines]
(<builddir> a Meson build folder with -Dpython=true.) The corpus folder defaults to
$TORVANE_CORPUS, else ../shared/corpus beside the repository, as for python_bench.py.

Categories, each a SHA-256 over the items in a fixed order:
- validate: every corpus query validated against its database's schema (an empty one
  where there is none): every attribute of the result and of each diagnostic, their
  dicts, the result's JSON text and the reprs;
- batch: validate_batch over one corpus file, a batch per database, the same fields;
- parse_query: every field of the summary of every corpus query, and its repr;
- schema: each corpus schema and each merge of two of them (either way round): its
  dict, repr, sorted accessors, membership tests, the three prompt renderings, and its
  JSON form read back (the JSON text itself lists entries in hash order, which differs
  from process to process, so its content is digested sorted, never the text);
- generator: generate and generate_batch for every query kind, a few seeds and a few
  schemas, with the error text where one is raised.
--lines prints one line per item (category, key, hash), so two runs can be diffed for
the first item that differs.
"""
import glob
import hashlib
import json
import os
import sys
import time

import _torvane as tv
from python_bench import corpus_dir, load_records, movie_schema

BATCH_FILE = "neo4j-text2cypher-claudeopus.jsonl"
SEEDS = (0, 1, 42, 2**32 - 1, 2**64 - 1)
GENERATED_PER_CALL = 3  # generate calls per (schema, seed, kind); each draws on from the last
BATCH_SIZE = 20


def failure(e):
    return f"{type(e).__name__}: {e}"


def diagnostic_fields(d):
    return (d.code, d.code_name, d.severity, d.message, d.suggestion_original,
            d.suggestion_replacement, d.suggestion_description, d.position_line,
            d.position_col, d.to_dict(), repr(d))


def result_fields(r):
    return (r.is_valid, bool(r), len(r), r.errors, r.syntax_errors, r.semantic_errors,
            r.warnings, r.fixed_query, [diagnostic_fields(d) for d in r.diagnostics],
            r.to_dict(), r.to_json(), repr(r))


def summary_fields(query):
    try:
        info = tv.parse_query(query)
    except Exception as e:  # noqa: BLE001 - the error text is the output
        return failure(e)
    return (info.is_valid, bool(info), info.errors, info.labels_used, info.rel_types_used,
            info.properties_used, repr(info))


def canonical_json(text):
    """The content of a schema's JSON form with its hash-ordered entries sorted."""
    d = json.loads(text)
    nodes = sorted((label, sorted(props)) for label, props in d["nodes"].items())
    rels = sorted((t, src, tgt, sorted(props)) for t, (src, tgt, props) in d["relationships"].items())
    return nodes, rels


def schema_fields(s):
    labels, types = s.node_labels(), s.rel_types()
    try:
        text = s.to_json()
        back = tv.Schema.from_json(text)
        json_part = (canonical_json(text), back.to_dict(), repr(back))
    except Exception as e:  # noqa: BLE001
        json_part = failure(e)
    return (s.to_dict(), repr(s), labels, types,
            [(label, s.has_node_label(label), s.node_properties(label)) for label in labels],
            [(t, s.has_rel_type(t), s.rel_endpoints(t), s.rel_properties(t)) for t in types],
            (s.has_node_label("NoSuchLabel"), s.has_rel_type("NO_SUCH_TYPE"),
             s.node_properties("NoSuchLabel"), s.rel_properties("NO_SUCH_TYPE"),
             s.rel_endpoints("NO_SUCH_TYPE")),
            s.to_prompt(), s.to_markdown(), s.to_cypher_context(), json_part)


def load_schemas(folder):
    """{database: Schema} for every schema file of the corpus, by file name."""
    out = {}
    for path in sorted(glob.glob(os.path.join(folder, "schemas", "*", "*.json"))):
        with open(path, encoding="utf-8") as f:
            out[os.path.basename(path)[:-len(".json")]] = tv.Schema.from_json(f.read())
    return out


class Digest:
    def __init__(self, lines):
        self.lines = lines
        self.categories = {}
        self.counts = {}

    def add(self, category, key, value):
        h = hashlib.sha256(repr(value).encode("utf-8", "surrogatepass")).hexdigest()
        self.categories.setdefault(category, hashlib.sha256()).update(f"{key} {h}\n".encode())
        self.counts[category] = self.counts.get(category, 0) + 1
        if self.lines:
            print(category, key, h)


def main(argv):
    lines = "--lines" in argv
    args = [a for a in argv if a != "--lines"]
    folder = corpus_dir(args)
    start = time.perf_counter()
    digest = Digest(lines)
    schemas = load_schemas(folder)
    empty = tv.Schema({}, {})
    files = sorted(glob.glob(os.path.join(folder, "*.jsonl")))
    if not files:
        print(f"no corpus files (*.jsonl) in {folder}", file=sys.stderr)
        return 1

    # Validation and parse_query of every query, file by file.
    validators = {}
    singles = {}  # (file, line) -> result fields, for the batch comparison
    # Texts whose findings come out in another order when validated again: the
    # findings about an inline map's keys and inside a map literal's values
    # follow the map's randomly keyed order. The corpus has none so far; one
    # would make the digest differ from run to run.
    unstable = []
    for path in files:
        name = os.path.basename(path)
        for i, (database, query) in enumerate(load_records(folder, name), 1):
            if database not in validators:
                validators[database] = tv.Torvane(schemas.get(database, empty))
            key = f"{name}:{i}"
            fields = result_fields(validators[database].validate(query))
            if "{" in query and result_fields(validators[database].validate(query)) != fields:
                unstable.append(key)
            singles[key] = fields
            digest.add("validate", key, fields)
            digest.add("parse_query", key, summary_fields(query))
    for database in sorted(validators):
        v = validators[database]
        digest.add("validate", f"schema-of:{database or '-'}", (v.schema.to_dict(), repr(v.schema), repr(v)))

    # One file in batches, a batch per database in order of first appearance.
    by_db = {}
    for i, (database, query) in enumerate(load_records(folder, BATCH_FILE), 1):
        by_db.setdefault(database, []).append((i, query))
    batch_differs = 0
    for database, items in by_db.items():
        results = validators[database].validate_batch([q for _, q in items])
        for (i, _), r in zip(items, results, strict=True):
            key = f"{BATCH_FILE}:{i}"
            fields = result_fields(r)
            batch_differs += fields != singles[key]
            digest.add("batch", key, fields)

    # Schemas, and merges of every ordered pair of them.
    named = sorted(schemas.items())
    for name, s in named:
        digest.add("schema", name, schema_fields(s))
    digest.add("schema", "(empty)", schema_fields(empty))
    for a, sa in named:
        for b, sb in named:
            if a == b:
                continue
            try:
                fields = schema_fields(sa.merge(sb))
            except Exception as e:  # noqa: BLE001
                fields = failure(e)
            digest.add("schema", f"merge:{a}+{b}", fields)

    # The generator: every kind, several seeds, several schemas.
    kinds = tv.CypherGenerator.supported_types()
    digest.add("generator", "supported_types", kinds)
    gen_schemas = [("small-movies", movie_schema()), ("empty", empty)] + \
        [(n, schemas[n]) for n in ("recommendations", "pole", "gdsc") if n in schemas]
    for sname, s in gen_schemas:
        for seed in SEEDS:
            for kind in kinds + ["no_such_kind"]:
                g = tv.CypherGenerator(s, seed)
                out = []
                for _ in range(GENERATED_PER_CALL):
                    try:
                        out.append(g.generate(kind))
                    except Exception as e:  # noqa: BLE001
                        out.append(failure(e))
                try:
                    out.append(g.generate_batch(kind, BATCH_SIZE))
                except Exception as e:  # noqa: BLE001
                    out.append(failure(e))
                digest.add("generator", f"{sname}:{seed}:{kind}", out)

    total = hashlib.sha256()
    for category in ("validate", "batch", "parse_query", "schema", "generator"):
        h = digest.categories[category].hexdigest()
        total.update(h.encode())
        print(f"digest {category:<12} {digest.counts[category]:>7} items  {h}")
    print(f"digest {'total':<12} {'':>13}  {total.hexdigest()}")
    print(f"batch results that differ from single validation: {batch_differs}")
    print("results whose order changed when validated again:", len(unstable), *unstable[:10])
    print(f"{time.perf_counter() - start:.1f} s", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
