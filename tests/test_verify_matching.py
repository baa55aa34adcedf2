"""Matching in texts: _in, _words_in and _additive on long texts, the cache
of normalised texts, and verify() from several threads.

The compiled matcher skips the parts of a long text that cannot hold a
literal (a filter per chunk of the text) and keeps normalised texts across
calls; both must leave every answer exactly that of plain substring search
on freshly normalised texts, which tests/reference.py does.
"""

import random
import sys
import threading

import pytest

from conftest import compiled

import reference as R

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

CV = compiled("vorlane_core.verify", "verify")


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", "/home/u")


@pytest.fixture
def fresh_cache():
    """An empty cache with the default limit, restored afterwards."""
    limit = CV._cache_info()["limit"]
    CV._cache_clear()
    yield
    CV._cache_limit(limit)
    CV._cache_clear()


def filler(n, seed=0, alphabet="abcdefghij ,.;"):
    rnd = random.Random(seed)
    return "".join(rnd.choice(alphabet) for _ in range(n))


# ---------------------------------------------------------------------------
# Long texts

SIZES = [1023, 1024, 1025, 4096, 4097, 16384, 16385, 40000]
# Chunk boundaries of the compiled filter lie at multiples of the chunk size
# (a power of two from 1 KiB to 16 KiB); put literals across all of them.
EDGES = [1024, 2048, 4096, 8192, 16384, 32768]


class TestLongTexts:
    @pytest.mark.parametrize("size", SIZES)
    def test_literal_at_every_offset_near_chunk_edges(self, size):
        base = filler(size, size)
        for lit in ["qz", "qzw", "qzwvk", "qz" + "w" * 40 + "k"]:
            offsets = {0, size - len(lit)}
            for e in EDGES:
                offsets.update(e + d for d in range(-len(lit) - 1, 2))
            for off in sorted(o for o in offsets if 0 <= o <= size - len(lit)):
                text = base[:off] + lit + base[off + len(lit):]
                assert CV._in(lit, [text]), (size, lit, off)
                assert CV._in(lit.upper(), ["", None, text])
            assert not CV._in(lit, [base])

    def test_key_value_forms_across_an_edge(self):
        base = filler(20000, 3)
        for form in ['"max_qz": 5', "max_qz: '5'", "max_qz = 5", 'max_qz: "5"', "MAX_QZ=5"]:
            for off in range(4096 - len(form), 4097):
                text = base[:off] + form + base[off + len(form):]
                assert CV._in("max_qz=5", [text]) is R._in("max_qz=5", [text]) is True, (form, off)

    def test_literal_longer_than_a_chunk(self):
        lit = filler(20000, 9, "klmnop")
        text = filler(30000, 4)[:5000] + lit + filler(30000, 5)
        assert CV._in(lit, [text])
        assert not CV._in(lit + "q", [text])

    def test_offsets_count_bytes_not_characters(self):
        # Multi-byte characters before the literal move it in the UTF-8 text.
        for pre in ["\u00e9" * 2047, "\U0001F600" * 1023, "\u4e2d" * 1365]:
            text = pre + "qzwvk" + filler(5000, 1)
            assert CV._in("qzwvk", [text]) and CV._in("\u00e9qzwvk", [text]) is ("\u00e9" in pre)

    def test_normalisation_shifts_text_before_filtering(self):
        # Collapsed white space, removed quotes and the home directory change
        # where the literal stands in the normalised text.
        text = '  "' + "a \t\n " * 3000 + "~/qz/w" + " " * 5000 + "end"
        assert CV._in("/home/u/qz/w", [text]) and R._in("/home/u/qz/w", [text])
        assert CV._in("a a ~/QZ", [text])

    def test_words_in_different_chunks(self):
        text = "qzalpha " + filler(30000, 2) + " qzbeta"
        assert CV._words_in("qzalpha qzbeta", [text])
        assert not CV._words_in("qzalpha qzbeta", [text[:-7], text[-7:]])
        assert not CV._words_in("qzalpha qzgamma", [text])

    @settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
    @given(st.data())
    def test_same_as_reference(self, data):
        pieces = data.draw(st.lists(st.sampled_from(["ab", "ba ", "a=b", ' "a": b', "A", "\u00e9", "~", "1,2", "\n", "  ",
                                                      "q", "x", "qz", "'", "\u03a3"]), min_size=1, max_size=12))
        rnd = random.Random(data.draw(st.integers(0, 10**6)))
        text = "".join(rnd.choice(pieces) for _ in range(data.draw(st.sampled_from([200, 3000, 20000]))))
        lit = data.draw(st.one_of(st.sampled_from(["a=b", "ab ba", "qz", "a: b", "1,2", "~", "x q", "\u03c3\u00e9"]),
                                  st.integers(0, len(text) - 1).map(lambda i: text[i:i + 9])))
        texts = [text[: len(text) // 3], None, text[len(text) // 3:]]
        assert CV._in(lit, texts) == R._in(lit, texts)
        assert CV._words_in(lit, texts) == R._words_in(lit, texts)


class TestLookupArguments:
    @pytest.mark.parametrize("f", ["_in", "_words_in"])
    def test_texts_must_be_a_list(self, f):
        for texts in [None, "ab", (t for t in ["ab"]), {"ab": 1}, 5]:
            with pytest.raises(TypeError):
                getattr(CV, f)("ab cd", texts)
        assert getattr(CV, f)("ab cd", ("ab cd",)) is (f == "_in")

    @pytest.mark.parametrize("f", ["_in", "_words_in"])
    def test_every_entry_is_checked_first(self, f):
        with pytest.raises(TypeError):
            getattr(CV, f)("abc def", ["abc def", 5])
        with pytest.raises(TypeError):
            getattr(CV, f)("abc def", [b"abc def"])
        with pytest.raises(TypeError):
            getattr(CV, f)(None, ["abc"])


class TestAdditive:
    def test_negation_window(self):
        assert not CV._additive("did not add")
        assert not CV._additive("never  really\tquite added")
        assert CV._additive("never really quite fully added")  # three words between
        assert CV._additive("not, add")  # punctuation breaks the window
        assert not CV._additive("it is not\nadded")
        assert CV._additive("NOT ADD and then created")  # second match not negated

    def test_long_text(self):
        text = "did not add " * 20000 + "so we then created"
        assert CV._additive(text) is True
        assert CV._additive("did not add " * 20000) is False
        # Long white space and words around the negation.
        for gap in [" ", "\n" * 5000, " \u3000 " * 3000]:
            for text in ["not" + gap + "we" + gap + "added", "did not" + gap + "x" + gap + "y" + gap + "add",
                         "don't" + gap + "add", "no" + gap + "a" + gap + "b" + gap + "c" + gap + "add",
                         "x" * 10000 + " not add"]:
                assert CV._additive(text) == R._additive(text), (gap[:3], text[:12])


# ---------------------------------------------------------------------------
# The cache of normalised texts

def unique_texts(n, seed):
    return ["event %d %s" % (i, filler(3000, seed * 1000 + i)) for i in range(n)]


class TestCache:
    def test_texts_are_cached_per_object(self, fresh_cache):
        texts = unique_texts(5, 1)
        assert not CV._in("qzqz", texts)
        info = CV._cache_info()
        assert info["entries"] == 5 and info["normalised"] == 5
        assert not CV._in("zqzq", texts)
        assert CV._cache_info()["entries"] == 5
        # Equal text in a new object is a new entry with the same answer.
        copies = ["".join(list(t)) for t in texts]
        assert CV._in("event 3", copies) and CV._in("event 3", texts)
        assert CV._cache_info()["entries"] >= 6

    def test_results_do_not_depend_on_the_cache(self, fresh_cache):
        texts = unique_texts(20, 2)
        lits = [t[100:110] for t in texts[::3]] + ["qzqz", "event 19", "event 20", "a b c"]
        first = [(CV._in(l, texts), CV._words_in(l, texts)) for l in lits]
        again = [(CV._in(l, texts), CV._words_in(l, texts)) for l in lits]
        CV._cache_clear()
        CV._cache_limit(0)
        uncached = [(CV._in(l, texts), CV._words_in(l, texts)) for l in lits]
        assert CV._cache_info()["entries"] == 0
        assert first == again == uncached == [(R._in(l, texts), R._words_in(l, texts)) for l in lits]

    def test_bounded(self, fresh_cache):
        CV._cache_limit(50_000)
        texts = unique_texts(40, 3)
        for i in range(0, 40, 5):
            CV._in("qzqz", texts[i:i + 5])
            assert CV._cache_info()["bytes"] <= 50_000
        assert 0 < CV._cache_info()["entries"] < 40
        # Evicted entries are simply made again.
        assert CV._in(texts[0][200:215], texts[:1])

    def test_home_is_part_of_the_key(self, fresh_cache, monkeypatch):
        texts = ["see ~/qz.md " + filler(3000)]
        assert CV._in("/home/u/qz.md", texts)
        monkeypatch.setenv("HOME", "/srv")
        assert not CV._in("/home/u/qz.md", texts)
        assert CV._in("/srv/qz.md", texts)

    def test_ids_of_dead_texts_are_never_confused(self, fresh_cache):
        # Texts made and dropped one after the other often reuse an address;
        # each answer must belong to its own text.
        for i in range(300):
            t = "".join(["alpha ", "qz%d" % i, filler(50, i)])
            assert CV._in("qz%d" % i, [t])
            assert not CV._in("qz%d" % (i + 1), [t]) or ("qz%d" % (i + 1)) in t.lower()
            del t

    def test_cache_keeps_what_it_knows_alive(self, fresh_cache):
        t = "".join(["qz", filler(5000)])
        CV._in("x", [t])
        refs = sys.getrefcount(t)
        CV._cache_clear()
        assert sys.getrefcount(t) == refs - 1


# ---------------------------------------------------------------------------
# Threads

def big_log(seed=5, n=120):
    rnd = random.Random(seed)
    events, commands = [], []
    for i in range(n):
        body = filler(rnd.randint(500, 6000), seed * 10000 + i)
        if i % 3 == 0:
            events.append({"tool": "write_file", "wrote": True, "payload": body + " key_%d" % i, "output": "ok"})
        elif i % 3 == 1:
            events.append({"tool": "read_file", "wrote": False, "output": body + " read_%d" % i})
        else:
            events.append({"tool": "terminal", "wrote": False, "command": "make t%d" % i, "output": body})
            commands.append({"command": "make t%d" % i, "exit_code": i % 2, "output": body})
    return {"events": events, "external": [{"args": {"n": i}} for i in range(3)], "written": ["/w/f%d.py" % i for i in range(20)],
            "commands": commands}


def many_claims(n=24):
    kinds = ["file_changed", "command_ran", "result_observed", "other"]
    return [{"kind": kinds[i % 4], "text": "Added %d" % i,
             "targets": ["key_%d" % (i * 3), "read_%d" % (i * 3 + 1), "t%d" % i, "src/f%d.py" % i, "missing_%d" % i]}
            for i in range(n)]


class TestThreads:
    def test_same_verdicts_from_many_threads(self, fresh_cache):
        L = big_log()
        claims = many_claims()
        expected = [R.verify(c, L) for c in claims]
        results = {}
        errors = []

        def work(k):
            try:
                for rep in range(3):
                    for i in range(k, len(claims), 4):
                        got = tuple(CV.verify(claims[i], L))
                        if got != expected[i]:
                            errors.append((i, got, expected[i]))
                        results[i] = got
            except Exception as e:  # pragma: no cover - reported below
                errors.append(e)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not errors
        assert len(results) == len(claims)

    def test_cache_cleared_while_threads_verify(self, fresh_cache):
        L = big_log(7, 120)
        claims = many_claims(30)
        expected = [R.verify(c, L) for c in claims]
        stop = threading.Event()
        errors = []

        def clearer():
            while not stop.is_set():
                CV._cache_clear()
                CV._cache_limit(20_000)

        def work():
            try:
                for _ in range(3):
                    for c, e in zip(claims, expected):
                        if tuple(CV.verify(c, L)) != e:
                            errors.append(c)
            except Exception as e:  # pragma: no cover
                errors.append(e)

        threads = [threading.Thread(target=work) for _ in range(3)]
        c = threading.Thread(target=clearer)
        c.start()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        stop.set()
        c.join()
        assert not errors
