"""The three prompt renderings, byte for byte."""
import pytest

PROMPT = (
    "Graph Schema\n"
    "============\n"
    "\n"
    "Nodes\n"
    "-----\n"
    "  :Company" + " " * 19 + "  founded, name\n"
    "  :Person" + " " * 20 + "  age, email, name\n"
    "\n"
    "Relationships\n"
    "-------------\n"
    "  :LIVES_IN" + " " * 18 + "  (Person)-->(City)\n"
    "  :WORKS_FOR" + " " * 17 + "  (Person)-->(Company)   role, since\n"
)

MARKDOWN = (
    "### Nodes\n"
    "\n"
    "| Label | Properties |\n"
    "|---|---|\n"
    "| :Company | founded, name |\n"
    "| :Person | age, email, name |\n"
    "\n"
    "### Relationships\n"
    "\n"
    "| Type | Source \u2192 Target | Properties |\n"
    "|---|---|---|\n"
    "| :LIVES_IN | :Person \u2192 :City | \u2014 |\n"
    "| :WORKS_FOR | :Person \u2192 :Company | role, since |\n"
)

CYPHER = (
    "// Node labels and their properties\n"
    "(:Company {founded, name})\n"
    "(:Person {age, email, name})\n"
    "\n"
    "// Relationship types\n"
    "(:Person)-[:LIVES_IN]->(:City)\n"
    "(:Person)-[:WORKS_FOR {role, since}]->(:Company)\n"
)

PROMPT_HEADERS = "Graph Schema\n============\n\nNodes\n-----\n\nRelationships\n-------------\n"
MARKDOWN_HEADERS = ("### Nodes\n\n| Label | Properties |\n|---|---|\n"
                    "\n### Relationships\n\n| Type | Source \u2192 Target | Properties |\n"
                    "|---|---|---|\n")
CYPHER_HEADERS = "// Node labels and their properties\n\n// Relationship types\n"


def test_renderings(people):
    assert people.to_prompt() == PROMPT
    assert people.to_markdown() == MARKDOWN
    assert people.to_cypher_context() == CYPHER


def test_empty_schema(tv):
    s = tv.Schema({}, {})
    assert s.to_prompt() == PROMPT_HEADERS
    assert s.to_markdown() == MARKDOWN_HEADERS
    assert s.to_cypher_context() == CYPHER_HEADERS


def test_label_without_properties(tv):
    s = tv.Schema({"Empty": []}, {})
    assert "\n  :Empty\n" in s.to_prompt()
    assert "| :Empty | \u2014 |\n" in s.to_markdown()
    assert "\n(:Empty)\n" in s.to_cypher_context()


@pytest.mark.parametrize("label,padding", [
    ("L" * 30, 0),
    ("L" * 26, 0),
    ("L" * 25, 1),
    ("L" * 24 + "\u00e9", 1),        # two bytes, one character
    ("\U0001f600" * 3, 23),          # four bytes each
    ("", 26),
])
def test_prompt_padding_counts_characters(tv, label, padding):
    s = tv.Schema({label: ["p"]}, {label: ("A", "B", [])})
    lines = s.to_prompt().split("\n")
    assert "  :" + label + " " * padding + "  p" in lines
    assert "  :" + label + " " * padding + "  (A)-->(B)" in lines


def test_names_go_in_unchanged(tv):
    s = tv.Schema({"a|b": ["x}", "{y"]}, {"R\nS": ("A", "B", ["p|q"])})
    assert "| :a|b | x}, {y |\n" in s.to_markdown()
    assert "(:a|b {x}, {y})\n" in s.to_cypher_context()
    assert "(:A)-[:R\nS {p|q}]->(:B)\n" in s.to_cypher_context()


def test_same_content_same_text(tv):
    names = [f"p{i}" for i in range(40)]
    a = tv.Schema({f"L{i}": names for i in range(20)}, {f"R{i}": ("A", "B", names)
                                                        for i in range(20)})
    b = tv.Schema({f"L{i}": names[::-1] for i in reversed(range(20))},
                  {f"R{i}": ("A", "B", names[::-1]) for i in reversed(range(20))})
    for method in ("to_prompt", "to_markdown", "to_cypher_context"):
        assert getattr(a, method)() == getattr(b, method)()
    assert tv.Schema.from_json(a.to_json()).to_prompt() == a.to_prompt()
