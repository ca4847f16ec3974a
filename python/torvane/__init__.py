"""Check Cypher queries against a graph schema."""
import _torvane
from _torvane import *  # noqa: F401,F403

__all__ = list(getattr(_torvane, "__all__", []))
