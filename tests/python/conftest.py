import pytest

import _torvane


@pytest.fixture(scope="session")
def tv():
    return _torvane


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
