"""Docstrings of the Schema class and its methods, byte for byte."""

DOCS = {
    "from_dict": "from_dict(d)\n--\n\nCreate a Schema from a plain Python dict (e.g. previously exported with ``to_dict()``).\n\nExample::\n\n    d = {\n        \"nodes\": {\"Person\": [\"name\", \"age\"], \"Movie\": [\"title\"]},\n        \"relationships\": {\"ACTED_IN\": (\"Person\", \"Movie\", [\"role\"])},\n    }\n    schema = Schema.from_dict(d)",
    "from_json": "from_json(json_str)\n--\n\nDeserialise a Schema from a JSON string produced by ``to_json()``.\n\nExample::\n\n    json_str = schema.to_json()\n    schema2 = Schema.from_json(json_str)",
    "node_labels": "node_labels($self)\n--\n\n",
    "rel_types": "rel_types($self)\n--\n\n",
    "has_node_label": "has_node_label($self, label)\n--\n\n",
    "has_rel_type": "has_rel_type($self, rel_type)\n--\n\n",
    "node_properties": "node_properties($self, label)\n--\n\nReturn the list of properties declared for a node label.",
    "rel_properties": "rel_properties($self, rel_type)\n--\n\nReturn the list of properties declared for a relationship type.",
    "rel_endpoints": "rel_endpoints($self, rel_type)\n--\n\nReturn `(src_label, tgt_label)` for a relationship type, or None if unknown.",
    "to_dict": "to_dict($self)\n--\n\nExport the schema as a plain Python dict compatible with the Schema constructor.",
    "to_json": "to_json($self)\n--\n\nSerialise the schema to a JSON string.\n\nThe result can be stored, transmitted, and later restored via\n``Schema.from_json()``.\n\nExample::\n\n    json_str = schema.to_json()\n    schema2 = Schema.from_json(json_str)\n    assert schema2 == schema  # round-trip safe",
    "merge": "merge($self, other)\n--\n\nReturn a new Schema that is the union of *self* and *other*.\n\n* Node labels and relationship types from both schemas are combined.\n* When a label/type exists in both, the property sets are merged\n  (union), so no declared property is lost.\n* The *other* schema's endpoint labels take precedence for\n  relationship types that appear in both schemas.\n\nExample::\n\n    s1 = Schema({\"Person\": [\"name\"]}, {\"KNOWS\": (\"Person\", \"Person\", [])})\n    s2 = Schema({\"Movie\": [\"title\"]}, {\"ACTED_IN\": (\"Person\", \"Movie\", [\"role\"])})\n    merged = s1.merge(s2)\n    # merged has Person, Movie, KNOWS, ACTED_IN",
    "to_prompt": "to_prompt($self)\n--\n\nReturn a human-readable, LLM-friendly representation of the schema.\n\nSuitable for injecting into an LLM system prompt to tell the model which\nlabels, relationship types, and properties exist in the graph.\n\nExample::\n\n    print(schema.to_prompt())\n    # Graph Schema\n    # ============\n    #\n    # Nodes\n    # -----\n    #   :Person                   name, age, email\n    #   :Company                  name, founded\n    #\n    # Relationships\n    # -------------\n    #   :WORKS_FOR                (Person)-->(Company)   since, role\n    #   :LIVES_IN                 (Person)-->(City)",
    "to_markdown": "to_markdown($self)\n--\n\nReturn the schema formatted as a Markdown table.\n\nUseful for LLM contexts that render Markdown, documentation, or\nREADME sections.\n\nExample::\n\n    print(schema.to_markdown())\n    # ### Nodes\n    # | Label | Properties |\n    # |---|---|\n    # | :Person | name, age, email |\n    # ...",
    "to_cypher_context": "to_cypher_context($self)\n--\n\nReturn the schema as inline Cypher patterns.\n\nThis format is often the most natural for LLMs that already know Cypher,\nsince it mirrors the query syntax they will generate.\n\nExample::\n\n    print(schema.to_cypher_context())\n    # // Node labels and their properties\n    # (:Person {name, age, email})\n    # (:Company {name, founded})\n    #\n    # // Relationship types\n    # (:Person)-[:WORKS_FOR {since, role}]->(:Company)\n    # (:Person)-[:LIVES_IN]->(:City)",
}

METHOD_ORDER = [
    "from_dict", "from_json", "node_labels", "rel_types", "has_node_label", "has_rel_type",
    "node_properties", "rel_properties", "rel_endpoints", "to_dict", "to_json", "merge",
    "to_prompt", "to_markdown", "to_cypher_context",
]


def split_signature(doc):
    head, _, body = doc.partition("\n--\n\n")
    return head[head.index("("):], body


def test_method_docstrings(tv):
    for name, doc in DOCS.items():
        method = getattr(tv.Schema, name)
        signature, body = split_signature(doc)
        assert method.__text_signature__ == signature, name
        # The interpreter reports an empty body as no docstring.
        assert method.__doc__ == (body or None), name


def test_method_table_order(tv):
    names = [n for n in vars(tv.Schema) if not n.startswith("__")]
    assert names == METHOD_ORDER
    assert sorted(DOCS) == sorted(METHOD_ORDER)


def test_static_methods(tv):
    assert isinstance(vars(tv.Schema)["from_dict"], staticmethod)
    assert isinstance(vars(tv.Schema)["from_json"], staticmethod)
