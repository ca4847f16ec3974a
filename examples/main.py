"""The example: the bundled schema as prompt text, then the grammar's verdict on each query."""
import pathlib
import subprocess

import torvane

here = pathlib.Path(__file__).parent
schema = torvane.Schema.from_json((here / "schema.json").read_text())
print(schema.to_prompt())
print()
tool = here.parent / "build" / "tools" / "check_queries"
subprocess.run([str(tool), str(here / "queries.cypher")], check=True)
