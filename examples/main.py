"""The example: the bundled schema as prompt text, then each bundled query
validated against it, with its findings, suggestions and corrected query."""
import pathlib

import torvane

here = pathlib.Path(__file__).parent
schema = torvane.Schema.from_json((here / "schema.json").read_text())
print(schema.to_prompt())

validator = torvane.Torvane(schema)
queries = [q for q in (here / "queries.cypher").read_text().splitlines() if q.strip()]
for query, result in zip(queries, validator.validate_batch(queries)):
    print()
    print(query)
    print("  valid" if result.is_valid else "  invalid")
    for d in result.diagnostics:
        where = f" at line {d.position_line} column {d.position_col}" if d.position_line else ""
        print(f"  {d.code} {d.code_name} ({d.severity}){where}:")
        print("    " + d.message.replace("\n", "\n    "))
        if d.suggestion_replacement is not None:
            print(f"    suggestion: {d.suggestion_original} -> {d.suggestion_replacement}")
    if result.fixed_query is not None:
        print(f"  corrected: {result.fixed_query}")
