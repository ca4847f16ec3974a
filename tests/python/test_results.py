"""ValidationResult and ValidationDiagnostic: attributes, dicts, JSON and reprs."""
import json

import pytest

NO_FINDINGS_JSON = ('{"diagnostics":[],"errors":[],"fixed_query":null,"is_valid":true,'
                    '"semantic_errors":[],"syntax_errors":[],"warnings":[]}')
RESULT_KEYS = ["is_valid", "errors", "syntax_errors", "semantic_errors", "warnings",
               "fixed_query", "diagnostics"]
DIAGNOSTIC_KEYS = ["code", "code_name", "severity", "message", "suggestion_original",
                   "suggestion_replacement", "suggestion_description", "position_line",
                   "position_col"]


@pytest.fixture
def v(tv):
    """Person(name) and Movie(title), joined by ACTED_IN."""
    schema = tv.Schema({"Person": ["name"], "Movie": ["title"]},
                       {"ACTED_IN": ("Person", "Movie", ["role"])})
    return tv.Torvane(schema)


def expected_json(r):
    """The JSON text a result must give: its dict without absent values, keys
    sorted at both levels, written compactly."""
    d = r.to_dict()
    d["diagnostics"] = [{k: x for k, x in diag.items() if x is not None}
                        for diag in d["diagnostics"]]
    return json.dumps(d, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def test_valid_query_without_findings(v):
    r = v.validate("MATCH (n:Person) RETURN n.name")
    assert bool(r) and len(r) == 0
    assert r.is_valid is True
    assert r.fixed_query is None
    assert r.diagnostics == [] and r.warnings == []
    assert repr(r) == "ValidationResult(is_valid=true, errors=[])"
    assert r.to_json() == NO_FINDINGS_JSON


def test_warnings_leave_the_result_valid(v):
    r = v.validate("MATCH (n) RETURN n")
    assert bool(r) and len(r) == 0 and r.errors == []
    assert [d.code for d in r.diagnostics] == ["W201"]
    assert r.warnings == [r.diagnostics[0].message]
    assert r.diagnostics[0].severity == "warning"
    assert r.fixed_query is None


def test_unknown_label_with_suggestion(v):
    r = v.validate("MATCH (n:Persn) RETURN n")
    assert not r and len(r) == 1
    assert r.fixed_query == "MATCH (n:Person) RETURN n"
    (d,) = r.diagnostics
    assert (d.code, d.code_name, d.severity) == ("E201", "UnknownNodeLabel", "error")
    assert d.message == "Unknown node label: :Persn, did you mean :Person?"
    assert (d.suggestion_original, d.suggestion_replacement, d.suggestion_description) == (
        ":Persn", ":Person", "Replace :Persn with :Person")
    assert d.position_line is None and d.position_col is None
    assert d.to_dict() == {
        "code": "E201", "code_name": "UnknownNodeLabel", "severity": "error",
        "message": "Unknown node label: :Persn, did you mean :Person?",
        "suggestion_original": ":Persn", "suggestion_replacement": ":Person",
        "suggestion_description": "Replace :Persn with :Person",
        "position_line": None, "position_col": None,
    }
    assert list(d.to_dict()) == DIAGNOSTIC_KEYS
    assert repr(d).endswith("suggestion=':Person')")
    assert r.to_json() == (
        '{"diagnostics":[{"code":"E201","code_name":"UnknownNodeLabel",'
        '"message":"Unknown node label: :Persn, did you mean :Person?","severity":"error",'
        '"suggestion_description":"Replace :Persn with :Person",'
        '"suggestion_original":":Persn","suggestion_replacement":":Person"}],'
        '"errors":["Unknown node label: :Persn, did you mean :Person?"],'
        '"fixed_query":"MATCH (n:Person) RETURN n","is_valid":false,'
        '"semantic_errors":["Unknown node label: :Persn, did you mean :Person?"],'
        '"syntax_errors":[],"warnings":[]}')


def test_syntax_error_has_a_position(v):
    r = v.validate("MATCH (n RETURN n")
    assert not r and len(r) == 1
    assert r.errors == r.syntax_errors and r.semantic_errors == []
    (d,) = r.diagnostics
    assert (d.code, d.code_name) == ("E101", "ParseError")
    assert (d.position_line, d.position_col) == (1, 10)
    assert type(d.position_line) is int
    assert d.suggestion_original is None and d.suggestion_replacement is None
    assert d.message == r.errors[0]
    assert list(json.loads(r.to_json())["diagnostics"][0]) == [
        "code", "code_name", "message", "position_col", "position_line", "severity"]
    assert '"position_col":10,"position_line":1,' in r.to_json()
    assert "suggestion" not in repr(d)
    assert r.to_dict()["diagnostics"][0]["position_line"] == 1


def test_nesting_error_has_its_position(v):
    r = v.validate("RETURN 1 +\n " + "(" * 3000 + "1" + ")" * 3000)
    (d,) = r.diagnostics
    assert d.code == "E101"
    assert d.message.endswith("= query nested too deeply (more than 1000 nested grammar rules)")
    assert d.position_line == 2 and d.position_col > 2


def test_unbound_variable_repr_is_unescaped(v):
    r = v.validate("MATCH (n:Person) RETURN m")
    (d,) = r.diagnostics
    assert repr(d) == ("ValidationDiagnostic(code='E501', severity='error', "
                       "message='Variable 'm' is not bound in this scope')")
    assert r.fixed_query is None


def test_quote_and_line_feed_in_a_message(v):
    r = v.validate('MATCH (n:`Ze"r\nzon`) RETURN n')
    message = 'Unknown node label: :`Ze"r\nzon`'
    assert r.errors == [message]
    assert '"Unknown node label: :`Ze\\"r\\nzon`"' in r.to_json()
    assert repr(r) == 'ValidationResult(is_valid=false, errors=["Unknown node label: :`Ze\\"r\\nzon`"])'
    assert repr(r.diagnostics[0]) == (
        "ValidationDiagnostic(code='E201', severity='error', message='" + message + "')")


def test_multiline_syntax_error_in_result_repr(v):
    r = v.validate("MATCH (n RETURN n")
    assert "\n" in r.errors[0]
    assert "\n" not in repr(r) and "\\n" in repr(r)
    assert "\n" in repr(r.diagnostics[0])


def test_dict_form(v):
    r = v.validate("MATCH (n:Persn) RETURN m")
    d = r.to_dict()
    assert list(d) == RESULT_KEYS
    assert d["is_valid"] is False and d["fixed_query"] is None
    assert d["errors"] == r.errors and d["semantic_errors"] == r.semantic_errors
    assert d["syntax_errors"] == [] and d["warnings"] == []
    assert d["diagnostics"] == [x.to_dict() for x in r.diagnostics]
    assert [x["code"] for x in d["diagnostics"]] == ["E201", "E501"]
    assert r.to_dict() is not d


QUERIES = [
    "MATCH (n:Person) RETURN n.name",
    "MATCH (n) RETURN n",
    "MATCH (n:Persn) RETURN n",
    "MATCH (a:Pers), (b:Pers) RETURN a, b",
    "MATCH (n:Person) RETURN n.nme, 'nme'",
    "MATCH (a:Persn)-[:ACTS_IN]->(m:Movie) WHERE m.titel = 'x' RETURN a.name, b",
    "MATCH (a:Person)-[r:ACTED_IN*]->(m) RETURN count(r)",
    "MATCH (n RETURN n",
    "",
    "RETURN 1\n\n  ,, 2",
    "MATCH (n:`\u00e9t\u00e9\t\u0001\u2028`) RETURN n",
    "MATCH (n:Person {nmae: 'x\\\\y', agee: 1}) RETURN n SKIP 'a' LIMIT 1.5",
]


@pytest.mark.parametrize("query", QUERIES)
def test_json_is_the_sorted_compact_dict(v, query):
    r = v.validate(query)
    assert r.to_json() == expected_json(r)


@pytest.mark.parametrize("query", QUERIES)
def test_dict_and_attributes_agree(v, query):
    r = v.validate(query)
    d = r.to_dict()
    for key in RESULT_KEYS[:-1]:
        assert d[key] == getattr(r, key)
    for diag, as_dict in zip(r.diagnostics, d["diagnostics"], strict=True):
        assert {k: getattr(diag, k) for k in DIAGNOSTIC_KEYS} == as_dict
    assert bool(r) is r.is_valid is (len(r) == 0)
    assert r.errors == [x.message for x in r.diagnostics if x.severity == "error"]
    assert r.warnings == [x.message for x in r.diagnostics if x.severity == "warning"]


def test_attributes_are_new_objects(v):
    r = v.validate("MATCH (n:Persn) RETURN n")
    assert r.errors is not r.errors and r.errors == r.errors
    assert r.diagnostics[0] is not r.diagnostics[0]
    assert r.diagnostics[0].to_dict() == r.diagnostics[0].to_dict()
    # Changing a returned list leaves the result as it was.
    errors = r.errors
    errors.clear()
    assert len(r.errors) == 1


def test_objects_are_read_only_and_closed(tv, v):
    r = v.validate("MATCH (n:Persn) RETURN n")
    d = r.diagnostics[0]
    for obj, name in [(r, "is_valid"), (r, "errors"), (d, "code"), (d, "position_line")]:
        with pytest.raises(AttributeError):
            setattr(obj, name, None)
        with pytest.raises(AttributeError):
            delattr(obj, name)
    for obj in (r, d):
        with pytest.raises(AttributeError):
            obj.extra = 1
        assert not hasattr(obj, "__dict__")
    for cls in (tv.ValidationResult, tv.ValidationDiagnostic):
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert cls.__doc__ is None and cls.__module__ == "builtins"
    # No equality beyond identity.
    assert v.validate("RETURN 1") != v.validate("RETURN 1")


@pytest.mark.parametrize("cls, name, doc", [
    ("ValidationResult", "is_valid", None),
    ("ValidationResult", "errors", "All errors (syntax + semantic) combined."),
    ("ValidationResult", "syntax_errors", "Parse/syntax errors only."),
    ("ValidationResult", "semantic_errors", "Schema-level semantic errors only."),
    ("ValidationResult", "warnings",
     "Advisory warnings (not errors \u2014 query still runs, but may be slow or incorrect)."),
    ("ValidationResult", "fixed_query", "Auto-corrected query when all errors are fixable, or None."),
    ("ValidationResult", "diagnostics",
     "Structured diagnostics with error codes, suggestions, and positions."),
    ("ValidationResult", "to_dict", "Return the result as a plain Python dict."),
    ("ValidationResult", "to_json", "Return the result as a compact JSON string."),
    ("ValidationDiagnostic", "code", 'Short error code (e.g. "E201").'),
    ("ValidationDiagnostic", "code_name", 'Human-readable code name (e.g. "UnknownNodeLabel").'),
    ("ValidationDiagnostic", "severity", '"error" or "warning".'),
    ("ValidationDiagnostic", "message", "Full human-readable message."),
    ("ValidationDiagnostic", "suggestion_original", "Original text fragment to replace, or None."),
    ("ValidationDiagnostic", "suggestion_replacement", "Suggested replacement text, or None."),
    ("ValidationDiagnostic", "suggestion_description",
     "Human-readable description of the suggestion, or None."),
    ("ValidationDiagnostic", "position_line", "1-based line number (parse errors only), or None."),
    ("ValidationDiagnostic", "position_col", "1-based column number (parse errors only), or None."),
    ("ValidationDiagnostic", "to_dict", None),
])
def test_docstrings(tv, cls, name, doc):
    assert getattr(getattr(tv, cls), name).__doc__ == doc


@pytest.mark.parametrize("cls", ["ValidationResult", "ValidationDiagnostic"])
def test_method_signatures(tv, cls):
    assert getattr(tv, cls).to_dict.__text_signature__ == "($self)"
    with pytest.raises(TypeError):
        getattr(tv, cls).to_dict(object())
