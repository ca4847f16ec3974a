#!/usr/bin/env python3
"""Writes seed corpora for the fuzz targets into OUT/<target>/, one input per file.

Queries come from the shared query corpus (an even spread over its files) and
from the example queries; schemas from the corpus schemas and the example schema.
"""
import hashlib
import json
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = pathlib.Path(os.environ.get("TORVANE_CORPUS") or ROOT.parent / "shared" / "corpus")


def write(directory: pathlib.Path, data: bytes) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


def corpus_queries(limit: int) -> list[str]:
    files = sorted(CORPUS.glob("*.jsonl")) if CORPUS.is_dir() else []
    per_file = max(1, limit // max(1, len(files)))
    out = []
    for path in files:
        lines = path.read_text(encoding="utf-8").splitlines()
        step = max(1, len(lines) // per_file)
        for line in lines[::step][:per_file]:
            out.append(json.loads(line)["query"])
    return out


def main() -> None:
    out = pathlib.Path(sys.argv[1])
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    queries = corpus_queries(limit)
    queries += (ROOT / "examples/queries.cypher").read_text(encoding="utf-8").splitlines()
    for q in queries:
        data = q.encode("utf-8")
        for target in ("validate", "parse", "query_info"):
            write(out / target, data)
        if len(data) <= 512:  # the longest text the grammar target compares
            write(out / "grammar", data)
    schemas = [ROOT / "examples/schema.json"]
    if CORPUS.is_dir():
        schemas += sorted((CORPUS / "schemas").glob("*/*.json"))
    for path in schemas:
        write(out / "schema", path.read_bytes())
    # The generator reads raw bytes; a few fixed ones start it off.
    for i in range(16):
        write(out / "generator", hashlib.sha256(bytes([i])).digest() * 4)


if __name__ == "__main__":
    main()
