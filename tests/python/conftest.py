import ctypes
import os
import sys

import pytest

import _torvane

# Under an emulator the host cannot start this interpreter's binary by itself:
# TORVANE_TEST_PYTHON then names a program that starts it, and so do the tests
# that start another interpreter, which start sys.executable.
if os.environ.get("TORVANE_TEST_PYTHON"):
    sys.executable = os.environ["TORVANE_TEST_PYTHON"]

# Under AddressSanitizer freed memory waits in quarantine, so the process grows
# whatever the module does: the memory-growth checks say nothing there.
SANITIZED = hasattr(ctypes.CDLL(None), "__asan_init")


def pytest_collection_modifyitems(config, items):
    if not SANITIZED:
        return
    skip = pytest.mark.skip(reason="memory growth is not measurable under the sanitizer")
    for item in items:
        if getattr(item, "originalname", item.name).startswith("test_memory"):
            item.add_marker(skip)


@pytest.fixture(scope="session")
def tv():
    return _torvane


@pytest.fixture
def movies(tv):
    """Person(name, age) and Movie(title), joined by ACTED_IN(role)."""
    return tv.Schema({"Person": ["name", "age"], "Movie": ["title"]},
                     {"ACTED_IN": ("Person", "Movie", ["role"])})


@pytest.fixture
def people(tv):
    """The schema of the rendering examples: two labels, two relationship types."""
    return tv.Schema(
        {"Person": ["name", "age", "email"], "Company": ["name", "founded"]},
        {
            "WORKS_FOR": ("Person", "Company", ["since", "role"]),
            "LIVES_IN": ("Person", "City", []),
        },
    )
