"""Helpers the test modules share: argument types of the caller's own and the
loops of the reference and memory checks."""
import ctypes
import gc
import sys


class OwnSequence:
    """A sequence type of the caller's own, read by index."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Idx:
    """An integer given through __index__, which may first run a hook."""

    def __init__(self, value, hook=None):
        self.value = value
        self.hook = hook

    def __index__(self):
        if self.hook is not None:
            self.hook()
        return self.value


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def _heap_counter():
    """Bytes in use on the C heap (glibc), else the resident set in bytes."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        mallinfo2 = None
    if mallinfo2 is not None:
        mallinfo2.restype = _MallInfo2
        return lambda: (lambda m: m.uordblks + m.hblkhd)(mallinfo2())
    return lambda: rss_kib() * 1024


heap_bytes = _heap_counter()


def run(fns, rounds, expected, panics=False):
    """Calls every function, `rounds` times over. An error of a type in
    `expected` is what the call is for; so is a PanicException where `panics`."""
    for _ in range(rounds):
        for fn in fns:
            try:
                fn()
            except expected:
                pass
            except BaseException as e:  # noqa: B902 - the panic is no Exception
                if not panics or type(e).__name__ != "PanicException":
                    raise


def refcounts_around(objects, warm_up, repeat):
    """The reference counts of `objects` after `warm_up` and again after
    `repeat`, each followed by a collection. Counted here rather than inside
    an assert, whose rewrite holds references of its own."""
    warm_up()
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    repeat()
    gc.collect()
    return before, [sys.getrefcount(o) for o in objects]


def growth(measure, warm_up, repeat):
    """How much `measure` grows over `repeat`, after `warm_up`, each followed
    by a collection."""
    warm_up()
    gc.collect()
    start = measure()
    repeat()
    gc.collect()
    return measure() - start
