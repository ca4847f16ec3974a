from _torvane import CypherGenerator as CypherGenerator
from _torvane import QueryInfo as QueryInfo
from _torvane import Schema as Schema
from _torvane import Torvane as Torvane
from _torvane import ValidationDiagnostic as ValidationDiagnostic
from _torvane import ValidationResult as ValidationResult
from _torvane import parse_query as parse_query

__all__ = [
    "Schema",
    "Torvane",
    "ValidationResult",
    "ValidationDiagnostic",
    "CypherGenerator",
    "QueryInfo",
    "parse_query",
]
