"""extract_claims: Units -> Claims, with and without the model.

Reports and their Units, literal targets and kinds below are worked out by
hand from the segmentation, literal and kind rules:

  U_T    "Set timeout=30 in config.yaml for 30s retries."
         literal targets ['config.yaml', 'timeout=30'] (path before
         key=value; "30s" is no number target); strong kind file_changed
  U_RAN  "Ran the full test suite twice."
         no literal target; no strong kind (no code span); heuristic
         command_ran
  U_CP   "Copied `/notes.md` to ~/notes.md today."
         literal targets ['/notes.md'] ("~/notes.md" shares its duplicate
         key); heuristic kind other
  U_DOC  "Updated the docs for the new onboarding flow."
         no literal; heuristic kind other
"""

import json
import time

import pytest

from conftest import CORPUS, compiled
from fake_model_server import FakeModel, answer, envelope, refused_url

X = compiled("vorlane_core.extract", "extract_claims")

U_T = "Set timeout=30 in config.yaml for 30s retries."
U_RAN = "Ran the full test suite twice."
U_CP = "Copied `/notes.md` to ~/notes.md today."
U_DOC = "Updated the docs for the new onboarding flow."

REPORT = "## Summary\n\n" + U_T + "\n\n- " + U_RAN + "\n"


@pytest.fixture
def model(monkeypatch):
    srv = FakeModel()
    monkeypatch.setattr(X, "LLM_URL", srv.url)
    monkeypatch.setattr(X, "LLM_MODEL", "test-model")
    monkeypatch.setattr(X, "_TIMEOUT", 20.0)
    yield srv
    srv.close()


def claim(text, kind, targets):
    return {"text": text, "kind": kind, "targets": targets}


# ---------------------------------------------------------------------------
# Heuristic path


def test_heuristic_path(model):
    expected = [
        claim(U_T, "file_changed", ["config.yaml", "timeout=30"]),
        claim(U_RAN, "command_ran", []),
    ]
    assert X.extract_claims(REPORT, False) == expected
    assert X.extract_claims(REPORT, use_llm=False) == expected
    assert X.extract_claims(final=REPORT, use_llm=False) == expected
    assert model.requests == []


def test_claim_keys_in_order(model):
    (c,) = X.extract_claims(U_DOC, False)
    assert list(c) == ["text", "kind", "targets"]
    assert c == claim(U_DOC, "other", [])


@pytest.mark.parametrize("flag", [False, None, 0, 0.0, "", [], {}])
def test_false_flags_send_nothing(model, flag):
    claims = X.extract_claims(REPORT, flag)
    assert model.requests == []
    units = X.split_units(REPORT)
    assert [c["text"] for c in claims] == units
    assert [c["kind"] for c in claims] == [X.heuristic_kind(u) for u in units]
    assert [c["targets"] for c in claims] == [X.literal_targets(u) for u in units]


@pytest.mark.parametrize(
    "report",
    ["", "   \n\n\t", "# Updated config.yaml\n", "```\nUpdated config.yaml to enable caching.\n```\n", "Fixed.", "---\n"],
    ids=["empty", "blank", "heading", "fenced", "too-short", "rule"],
)
def test_no_units_no_request(model, report):
    assert X.extract_claims(report) == []
    assert X.extract_claims(report, True) == []
    assert model.requests == []


@pytest.mark.parametrize("final", [None, b"Updated config.yaml.", 5, ["Updated config.yaml to enable caching."]])
def test_final_must_be_text(model, final):
    with pytest.raises(TypeError, match="final"):
        X.extract_claims(final)
    with pytest.raises(TypeError, match="final"):
        X.extract_claims(final, False)
    assert model.requests == []


# ---------------------------------------------------------------------------
# Model path


@pytest.mark.parametrize("flag", [True, 1, "no", [0], object()], ids=["True", "1", "str", "list", "object"])
def test_true_flags_ask_the_model_once(model, flag):
    model.reply(answer({}))
    X.extract_claims(REPORT, flag)
    assert len(model.requests) == 1


def test_model_is_the_default(model):
    model.reply(answer({}))
    claims = X.extract_claims(REPORT)
    (req,) = model.requests
    assert req.content.endswith("\n\n1. " + U_T + "\n2. " + U_RAN)
    # An empty answer leaves the heuristic result.
    assert claims == X.extract_claims(REPORT, False)


def test_merge_of_model_targets(model):
    model.reply(
        answer(
            {
                "1": {"kind": "other", "targets": ["Config.YAML", "30s", "30S"]},
                "2": {"kind": "result_observed", "targets": ["twice", "TWICE", "suite", "full test", "missing"]},
            }
        )
    )
    assert X.extract_claims(REPORT) == [
        # The strong kind stays; 'Config.YAML' repeats a literal target in
        # other case, '30S' repeats the model's own '30s'.
        claim(U_T, "file_changed", ["config.yaml", "timeout=30", "30s"]),
        claim(U_RAN, "result_observed", ["twice", "suite", "full test"]),
    ]


def test_merge_compares_lower_case_only(model):
    # No "~" stripping in the merge: '~/notes.md' is new next to '/notes.md'.
    model.reply(answer({"1": {"kind": "file_changed", "targets": ["~/notes.md", "/NOTES.md", "today"]}}))
    assert X.extract_claims(U_CP) == [claim(U_CP, "file_changed", ["/notes.md", "~/notes.md", "today"])]


def test_invalid_answer_gives_the_heuristic_result(model):
    model.reply(envelope("I could not classify these sentences."))
    assert X.extract_claims(REPORT) == X.extract_claims(REPORT, False)
    assert len(model.requests) == 1


def test_explanation_unit(model):
    model.reply(answer({"1": {"kind": "bogus", "targets": ["nothing here"]}}))
    assert X.extract_claims(U_DOC) == [claim(U_DOC, "other", [])]


# ---------------------------------------------------------------------------
# Errors of the model path pass through, with no fallback


def test_http_error_passes_through(model):
    model.reply(b'{"error": "overloaded"}', status=503)
    with pytest.raises(X.ModelHTTPError) as info:
        X.extract_claims(REPORT)
    assert info.value.status == 503
    assert model.url in str(info.value)


def test_unreachable_endpoint_passes_through(monkeypatch):
    url = refused_url()
    monkeypatch.setattr(X, "LLM_URL", url)
    with pytest.raises(X.ModelEndpointError) as info:
        X.extract_claims(REPORT, True)
    assert isinstance(info.value, OSError) and url in str(info.value)
    # Without the model the same report is fine.
    assert len(X.extract_claims(REPORT, False)) == 2


def test_timeout_passes_through(model, monkeypatch):
    from fake_model_server import SilentListener

    listener = SilentListener()
    monkeypatch.setattr(X, "LLM_URL", listener.url)
    monkeypatch.setattr(X, "_TIMEOUT", 1.0)
    try:
        t0 = time.monotonic()
        with pytest.raises(TimeoutError):
            X.extract_claims(REPORT)
        assert time.monotonic() - t0 < 10
    finally:
        listener.close()


@pytest.mark.parametrize(
    "body, error",
    [
        (b"{}", KeyError),
        (b'{"choices": []}', IndexError),
        (b'{"choices": [{"message": {"content": null}}]}', TypeError),
        (b"oops", ValueError),
        (envelope('{"units": {"1": "file_changed"}}'), TypeError),
        (envelope('{"units": {"2": {"targets": 7}}}'), TypeError),
    ],
)
def test_malformed_replies_pass_through(model, body, error):
    model.reply(body)
    with pytest.raises(error):
        X.extract_claims(REPORT)


# ---------------------------------------------------------------------------
# Real reports, against the pure-Python reference

import reference

_KINDS_CYCLE = ["file_changed", "command_ran", "result_observed", "external_action", "other", "Other", "bogus", None]


def _model_answer(units):
    """A deterministic, varied answer: kinds cycling through valid and
    invalid ones, targets taken from the Unit's words (some in other case,
    some repeated, one absent from the Unit), one Unit left unanswered."""
    out = {}
    for i, u in enumerate(units):
        if i % 5 == 4:
            continue
        words = u.split()
        targets = [w.strip(".,;:") for w in words[1:4]] + [words[0].upper(), "zz-not-there"]
        out[str(i + 1)] = {"kind": _KINDS_CYCLE[i % len(_KINDS_CYCLE)], "targets": targets}
    return json.dumps({"units": out})


def _corpus_reports():
    d = CORPUS / "reports"
    if not d.is_dir():
        return []
    return sorted(d.glob("*.md"))


@pytest.mark.skipif(not _corpus_reports(), reason="corpus absent")
def test_corpus_reports_match_reference(model):
    checked = 0
    for path in _corpus_reports():
        report = path.read_text(encoding="utf-8")
        # The reference's ignore-case differs from the system's on these two.
        if "\u0130" in report or "\u0131" in report:
            continue
        units = reference.split_units(report)
        content = _model_answer(units)
        n_before = len(model.requests)
        if units:
            model.reply(envelope(content))
        got = X.extract_claims(report)
        expected = reference.extract_claims(report, True, classify=lambda us: reference.merge_classification(us, content))
        assert got == expected, path.name
        if units:
            assert len(model.requests) == n_before + 1, path.name
            assert model.requests[-1].content == reference.CLASSIFY_PROMPT + reference.numbered_lines(units)
        else:
            assert len(model.requests) == n_before, path.name
        assert X.extract_claims(report, False) == reference.extract_claims(report, False), path.name
        checked += 1
    assert checked > 100
