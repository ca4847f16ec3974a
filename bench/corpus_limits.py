"""The two limits that users of real databases meet, measured on the query corpus.

Usage: PYTHONPATH=<builddir>:python /usr/bin/python3 bench/corpus_limits.py [corpus-dir]
(<builddir> a Meson build folder with -Dpython=true.) The corpus folder defaults to
$TORVANE_CORPUS, else ../shared/corpus beside the repository, as for python_bench.py.

1. Endpoint pairs. The schema gives a relationship type one source and one target label,
   but a real database may connect a type between several pairs of labels. Each schema file
   of the corpus keeps the first pair of a type and lists all of the database's
   (source, type, target) triples under "patterns", which the schema reader skips. Every query
   with a schema is validated against it; an E401 finding is counted as coming from the
   one-pair limit when the database connects that type between the labels written at both
   ends of the relationship. The labels of both ends come from a second validation against a
   probe schema in which every type expects a label that no node has, so that each directed,
   typed relationship whose ends carry known labels reports both ends, source then target.
   A source-only end followed by a target-only end of the same type (one end unlabelled in
   each of two relationships) is read as one relationship, which can only count too few.
   Last, each type is given the pair that the queries of its database use most, and the E401
   findings that remain are counted.
2. Grammar coverage. For each query file: the share that parses, and for each rejected query
   the construct at the position where the grammar failed (the furthest rule it tried), among
   the queries that the corpus does not record as rejected by Neo4j itself (its
   `expects_error` "SyntaxError"; noisy in the GPT-4-turbo file, see the corpus README).
"""
import collections
import json
import os
import re
import sys

import _torvane as tv
from python_bench import corpus_dir

QUERY_FILES = ["tck-queries", "neo4j-text2cypher-gpt4turbo", "neo4j-text2cypher-claudeopus",
               "mind-the-query"]
SCHEMA_DIRS = {"neo4j-text2cypher-gpt4turbo": "neo4j-text2cypher",
               "neo4j-text2cypher-claudeopus": "neo4j-text2cypher",
               "mind-the-query": "mind-the-query"}
E401 = re.compile(r"Relationship :(.*) expects (source|target) label :.*, but node has label\(s\): (.*)\Z",
                  re.S)
NO_LABEL = "\0"  # the probe schema's endpoints: no query can write this label

RESERVED = set(
    "ALL AND ANY ASCENDING ASC AS BY CALL CASE CONTAINS COUNT CREATE DELETE DESCENDING DESC DETACH "
    "DISTINCT DO DROP ELSE ENDS END EXISTS FALSE FOREACH FOR FROM IN IS LIMIT MATCH MERGE NEW NONE "
    "NOT NULL ON OPTIONAL ORDER OR REDUCE REMOVE RETURN SET SINGLE SKIP STARTS THEN TRUE UNION "
    "UNWIND WHEN WHERE WITH XOR YIELD".split())
WORD = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
CLAUSE_WORD = re.compile(r"(?i)\b(SET|REMOVE|WHERE|RETURN|WITH|MATCH|CREATE|MERGE|UNWIND|DELETE|AND|OR|NOT)\b")
# The start of a relationship right before the failure: an expression met a pattern.
RELATIONSHIP_BEFORE = re.compile(r"\)\s*<?-\s*(\[[^\]]*)?$|\)\s*<?--$|\]\s*-$|[->\]]\s*\($")


def read_jsonl(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


# Endpoint pairs ---------------------------------------------------------------------------

def endpoint_findings(result):
    """(type, role, labels) of each E401 finding, in order; labels as a set without colons."""
    found = []
    for d in result.diagnostics:
        if d.code == "E401":
            rel_type, role, labels = E401.match(d.message).groups()
            found.append((rel_type, role, frozenset(label[1:] for label in labels.split(", "))))
    return found


def relationships(probe_findings):
    """The probe's findings grouped by relationship: {"source": labels, "target": labels} each,
    and for each finding the index of its relationship."""
    rels, index = [], []
    i = 0
    while i < len(probe_findings):
        rel_type, role, labels = probe_findings[i]
        ends = {role: labels}
        nxt = probe_findings[i + 1] if i + 1 < len(probe_findings) else None
        if role == "source" and nxt and nxt[0] == rel_type and nxt[1] == "target":
            ends["target"] = nxt[2]
            index.append(len(rels))
            i += 1
        index.append(len(rels))
        rels.append((rel_type, ends))
        i += 1
    return rels, index


def matches(ends, pair):
    source, target = pair
    return ((("source" not in ends) or source in ends["source"])
            and (("target" not in ends) or target in ends["target"]))


def with_pairs(raw, pairs):
    """The schema of `raw` with each type's endpoints replaced by pairs[type]."""
    return tv.Schema.from_json(json.dumps({
        "nodes": raw["nodes"],
        "relationships": {t: [*pairs.get(t, entry[:2]), entry[2]] for t, entry in raw["relationships"].items()}}))


def endpoint_limit(folder):
    print("## E401 from the one-pair limit (queries validated against their own schemas)\n")
    print("| file | queries | with E401 | E401 findings | from the limit | queries whose E401 all "
          "come from it | E401 left with the most used pairs |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    by_database = collections.defaultdict(list)  # (schema dir, database) -> [(file, query)]
    for name in SCHEMA_DIRS:
        for row in read_jsonl(os.path.join(folder, name + ".jsonl")):
            by_database[SCHEMA_DIRS[name], row.get("database")].append((name, row["query"]))
    stats = collections.defaultdict(collections.Counter)
    for (schema_dir, database), rows in sorted(by_database.items(), key=lambda kv: str(kv[0])):
        path = os.path.join(folder, "schemas", schema_dir, f"{database}.json")
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8") as f:
            raw = json.load(f)
        triples = collections.defaultdict(list)
        for source, rel_type, target in raw["patterns"]:
            triples[rel_type].append((source, target))
        texts = [query for _, query in rows]
        own = tv.Torvane(tv.Schema.from_json(json.dumps(raw))).validate_batch(texts)
        probe = tv.Torvane(with_pairs(raw, {t: (NO_LABEL, NO_LABEL) for t in raw["relationships"]}))
        uses = collections.Counter()  # (type, pair) -> relationships of the queries it fits
        for (name, text), result in zip(rows, own):
            s = stats[name]
            s["queries"] += 1
            probe_findings = endpoint_findings(probe.validate(text))
            rels, index = relationships(probe_findings)
            for rel_type, ends in rels:
                for pair in triples[rel_type]:
                    uses[rel_type, pair] += matches(ends, pair)
            findings = endpoint_findings(result)
            if not findings:
                continue
            s["with E401"] += 1
            all_from_limit = True
            j = 0
            for finding in findings:
                # The probe reports every end that the own schema reports, in the same order,
                # and ends alike get the same verdict from both, so the first alike end is it.
                while probe_findings[j] != finding:
                    j += 1
                rel_type, ends = rels[index[j]]
                j += 1
                from_limit = any(matches(ends, pair) for pair in triples[rel_type])
                s["findings"] += 1
                s["from the limit"] += from_limit
                all_from_limit &= from_limit
            s["all from the limit"] += all_from_limit
        # The schema keeps a type's first triple, and max() keeps the first of equals.
        most_used = {t: max(pairs, key=lambda pair, t=t: uses[t, pair]) for t, pairs in triples.items()}
        for (name, _), result in zip(rows, tv.Torvane(with_pairs(raw, most_used)).validate_batch(texts)):
            stats[name]["left"] += len(endpoint_findings(result))
    total = collections.Counter()
    for name in SCHEMA_DIRS:
        total.update(stats[name])
    for name, s in [*((n, stats[n]) for n in SCHEMA_DIRS), ("all", total)]:
        print(f"| {name} | {s['queries']:,} | {s['with E401']:,} | {s['findings']:,} | "
              f"{s['from the limit']:,} | {s['all from the limit']:,} | {s['left']:,} |")
    print()


# Grammar coverage -------------------------------------------------------------------------

def offset(text, line, col):
    """The index in `text` of a 1-based line and column (columns count characters)."""
    return sum(len(line_text) + 1 for line_text in text.split("\n")[:line - 1]) + col - 1


def open_brackets(before):
    """Where the brackets still open at the end of `before` stand, innermost last."""
    stack, quote = [], None
    for i, c in enumerate(before):
        if quote:
            quote = None if c == quote else quote
        elif c in "'\"":
            quote = c
        elif c in "([{":
            stack.append(i)
        elif c in ")]}" and stack:
            stack.pop()
    return stack


def last_clause_word(before):
    words = CLAUSE_WORD.findall(before)
    return words[-1].upper() if words else ""


def construct(text, at):
    """The construct that the grammar lacks, judged from the text around the failure at `at`."""
    before, after = text[:at], text[at:]
    b = before.rstrip()
    word_match = WORD.match(after)
    word = word_match.group(0) if word_match else ""
    rest = after[len(word):].lstrip()
    opened = open_brackets(before)
    inner = before[opened[-1]] if opened else ""
    if re.match(r"(?i)count\s*\{", after):
        return "COUNT { }"
    # a label, type, property key, map key, variable or alias
    if word.upper() in RESERVED and (
            b.endswith((":", "|", ".")) or (b.endswith(("{", ",")) and rest[:1] == ":")
            or re.search(r"(?i)\bAS$", b) or (b.endswith("(") and rest[:1] in (":", ")", "{"))):
        return "reserved word as a name (:Order, n.end)"
    if re.search(r"(?i)\bCALL$", b):
        return "CALL { } subquery" if after[:1] in "{(" else "CALL without ( )"
    if re.search(r"(?i)\bYIELD$", b) and after.startswith("*"):
        return "YIELD *"
    if b.endswith("*") and re.match(r"\.\.|-", after):
        return "range without a lower bound (*..3)"
    if any(before[o] == "[" and re.match(r"\s*(\w+\s*=\s*)?\(", text[o + 1:])
           and not re.search(r"-\s*$", before[:o]) for o in opened):
        return "pattern comprehension"
    if inner == "{" and re.search(r"(?i)\b(EXISTS|COUNT|COLLECT)\s*$", before[:opened[-1]]):
        return "EXISTS { } with more than a pattern"
    if (after.startswith(":") and re.search(r"[\w`]$", before)) or \
            (re.search(r"[\w`]\s*:$", before) and word):
        if last_clause_word(before) in ("SET", "REMOVE"):
            return "SET n:Label, REMOVE n:Label"
        if after.startswith(":"):
            # (a:Person)-->() in an expression is a pattern, not a label test
            if inner == "(" and re.match(r"[^()]*\)\s*<?-", after):
                return "pattern as an expression (WHERE (a)-->(b))"
            return "label expression (WHERE n:Person)"
    if RELATIONSHIP_BEFORE.search(b) or \
            (b.endswith("(") and re.match(r"\s*\w*\s*(:\s*\w+\s*)*(\{[^}]*\})?\s*\)\s*<?-", after)):
        return "pattern as an expression (WHERE (a)-->(b))"
    if re.search(r"\w$", b) and re.match(r"\{\s*(\.|\*|\}|[A-Za-z_`][\w`]*\s*[:,}])", after):
        return "map projection (n {.name})"
    if re.match(r"-?\.\d", after):
        return "number without a digit before the dot (.5)"
    if re.search(r"\d$", before) and re.match(r"[eE][+-]?\d", after):
        return "exponent without a dot (1e6)"
    if re.search(r"\\['\"]", before[-200:]):
        return "backslash escape in a string"
    if b.endswith("..") or (b.endswith("[") and after.startswith("..")):
        return "list slice with a number (x[1..3])"
    return "other"


def grammar_coverage(folder):
    print("## Grammar coverage\n")
    print("| file | queries | parse | rejected | of them by Neo4j too | constructs in the rest |")
    print("|---|---:|---:|---:|---:|---|")
    validator = tv.Torvane(tv.Schema({}, {}))
    for name in QUERY_FILES:
        rows = read_jsonl(os.path.join(folder, name + ".jsonl"))
        results = validator.validate_batch([row["query"] for row in rows])
        rejected, neo4j_too, constructs = 0, 0, collections.Counter()
        for row, result in zip(rows, results):
            if not result.syntax_errors:
                continue
            rejected += 1
            if row.get("expects_error") == "SyntaxError":
                neo4j_too += 1
                continue
            d = result.diagnostics[0]
            constructs[construct(row["query"], offset(row["query"], d.position_line, d.position_col))
                       if d.position_line is not None else "other"] += 1
        listed = ", ".join(f"{c} {n:,}" for c, n in constructs.most_common())
        print(f"| {name} | {len(rows):,} | {1 - rejected / len(rows):.1%} | {rejected:,} | "
              f"{neo4j_too:,} | {listed} |")
    print()


def main(argv):
    folder = corpus_dir(argv)
    endpoint_limit(folder)
    grammar_coverage(folder)


if __name__ == "__main__":
    main(sys.argv)
