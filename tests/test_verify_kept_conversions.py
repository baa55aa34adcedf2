"""The verify module keeps the conversion of a run-log list between calls
(a report's claims are each checked against the same log) and must notice
any change to an element dict made in place since: on every interpreter the
verdict after such a change is the verdict for a fresh copy of the log.
"""

import copy

import pytest

from conftest import compiled
from runlog_builders import ev, log

V = compiled("vorlane_core.verify", "verify")
pytestmark = pytest.mark.skipif(V is None, reason="vorlane_core.verify not built")

CLAIM = {"text": "Created `alpha.py`.", "kind": "file_changed", "targets": ["alpha.py"]}


def _write(path):
    return ev("write_file", wrote=True, payload=path, output="ok")


# Each change turns the one event from a write of alpha.py into something else
# (or back), in place.
CHANGES = {
    "item replaced": lambda e: e.__setitem__("payload", "beta.py"),
    "item deleted": lambda e: e.__delitem__("payload"),
    "item added": lambda e: e.__setitem__("command", "touch alpha.py"),
    "pop": lambda e: e.pop("wrote"),
    "popitem": lambda e: e.popitem(),
    "clear": lambda e: e.clear(),
    "update": lambda e: e.update({"payload": "gamma.py", "tool": "read_file"}),
    "in-place or": lambda e: e.__ior__({"wrote": False}),
    "setdefault": lambda e: e.setdefault("command", "touch alpha.py"),
}


def outcome(L):
    """The verdict for L, or the error it raises."""
    try:
        return V.verify(CLAIM, L)
    except Exception as e:  # a log broken by the change: the same error either way
        return type(e), str(e)


@pytest.fixture
def fresh_cache():
    V._cache_clear()
    yield
    V._cache_clear()


@pytest.mark.parametrize("change", CHANGES.values(), ids=CHANGES.keys())
def test_change_in_place_is_seen(fresh_cache, change):
    L = log(events=[_write("alpha.py"), ev("read_file", output="x")])
    assert V.verify(CLAIM, L)[0] == "verified"
    assert V.verify(CLAIM, L)[0] == "verified"
    assert V._cache_info()["lists"] > 0  # the conversion is kept, on every version
    change(L["events"][0])
    assert outcome(L) == outcome(copy.deepcopy(L))


def test_changed_back_and_replaced_elements(fresh_cache):
    L = log(events=[_write("alpha.py")])
    first = V.verify(CLAIM, L)
    L["events"][0]["payload"] = "beta.py"
    assert V.verify(CLAIM, L)[0] != first[0]
    L["events"][0]["payload"] = "alpha.py"  # same content again
    assert V.verify(CLAIM, L) == first
    L["events"][0] = _write("beta.py")  # a new dict in the same list
    assert V.verify(CLAIM, L) == V.verify(CLAIM, copy.deepcopy(L))
