"""classify_units: the request it sends, how it reads the reply and merges
the model's answer with the heuristics, and how it fails.

Every test talks to a fake chat-completions server on 127.0.0.1 (see
fake_model_server.py) that records the requests and answers scripted
replies; LLM_URL, LLM_MODEL and _TIMEOUT are module attributes read at each
call, so the tests point them at the fake server.

The Units used below come with kinds worked out by hand from the kind rules
(strong kind / heuristic kind):
  S_CMD    "I ran `pytest -q` and all passed."          command_ran / command_ran
  S_FILE   "Updated config.yaml to enable caching."     file_changed / file_changed
  U_T      "Set timeout=30 in config.yaml for 30s retries."  file_changed (set + a path)
  H_RUN    "Ran the tests."                             none / command_ran
  H_EXT    "Sent 3 messages"                            none / external_action
  H_OBS    "Tests pass."                                none / result_observed
  H_OTHER  "This is an explanation."                    none / other
"""

import codecs
import json
import math
import subprocess
import sys
import threading
import time

import pytest

from conftest import child_env, compiled
from fake_model_server import (
    PATH,
    FakeModel,
    SilentListener,
    answer,
    envelope,
    hang_up,
    held,
    refused_url,
    stalled_after_head,
    trickle,
)

X = compiled("vorlane_core.extract", "classify_units")
pytestmark = pytest.mark.skipif(X is None, reason="vorlane_core.extract.classify_units not built")

S_CMD = "I ran `pytest -q` and all passed."
S_FILE = "Updated config.yaml to enable caching."
U_T = "Set timeout=30 in config.yaml for 30s retries."
H_RUN = "Ran the tests."
H_EXT = "Sent 3 messages"
H_OBS = "Tests pass."
H_OTHER = "This is an explanation."

PROMPT = (
    "Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    "- kind: file_changed (agent says it edited/created/removed a file or setting) | command_ran "
    "(agent says it executed a command/test/build) | result_observed (agent reports a value, output "
    "or state it saw) | external_action (cron, message, skill, brain, browser, delegation) | other "
    "(explanation, opinion, plan)\n"
    "- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that would "
    "appear verbatim in a terminal or file (a path, a key=value, a number, an exact short string). "
    "Copy them exactly as written in the sentence. Empty list if none.\n"
    'Return JSON: {"units": {"<n>": {"kind": "...", "targets": ["..."]}, ...}}\n'
    "\n"
)

# The prompt as it appears inside the JSON string of the request body,
# escaped by hand: line feeds as \n, quotes as \".
PROMPT_IN_JSON = (
    r"Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    r"- kind: file_changed (agent says it edited/created/removed a file or setting) | command_ran "
    r"(agent says it executed a command/test/build) | result_observed (agent reports a value, output "
    r"or state it saw) | external_action (cron, message, skill, brain, browser, delegation) | other "
    r"(explanation, opinion, plan)\n"
    r"- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that would "
    r"appear verbatim in a terminal or file (a path, a key=value, a number, an exact short string). "
    r"Copy them exactly as written in the sentence. Empty list if none.\n"
    r"Return JSON: {\"units\": {\"<n>\": {\"kind\": \"...\", \"targets\": [\"...\"]}, ...}}\n"
    r"\n"
)


@pytest.fixture
def model(monkeypatch):
    srv = FakeModel()
    monkeypatch.setattr(X, "LLM_URL", srv.url)
    monkeypatch.setattr(X, "LLM_MODEL", "test-model")
    monkeypatch.setattr(X, "_TIMEOUT", 20.0)  # a broken test must not wait 300 s
    yield srv
    srv.close()


def classify_with(srv, units, content):
    """classify_units(units) with the model answering ``content``."""
    srv.reply(envelope(content))
    return X.classify_units(units)


def heuristic(units):
    return [{"kind": X.heuristic_kind(u), "model_targets": []} for u in units]


# ---------------------------------------------------------------------------
# The request


def test_prompt_constant():
    assert X.CLASSIFY_PROMPT == PROMPT
    assert X.CLASSIFY_PROMPT.endswith("...}}\n\n")


def test_request_bytes_exact(model, monkeypatch):
    monkeypatch.setattr(X, "LLM_MODEL", "m\u00f6del-\U0001f600")
    units = [
        "Edited caf\u00e9.md \u2014 na\u00efve fix",
        'Saw \U0001f600 in "out"\\log\tand\x7f\x00 end',
        "Lone \ud800 surrogate",
    ]
    model.reply(answer({}))
    result = X.classify_units(units)

    (req,) = model.requests
    expected = (
        r'{"model": "m\u00f6del-\ud83d\ude00", "temperature": 0, "seed": 7, '
        r'"messages": [{"role": "user", "content": "' + PROMPT_IN_JSON
        + r"1. Edited caf\u00e9.md \u2014 na\u00efve fix\n"
        + r"2. Saw \ud83d\ude00 in \"out\"\\log\tand\u007f\u0000 end\n"
        + r"3. Lone \ud800 surrogate"
        + r'"}], "response_format": {"type": "json_object"}, '
        r'"chat_template_kwargs": {"enable_thinking": false}}'
    ).encode("ascii")
    assert req.body == expected
    # The same text as the host serializer writes it with its defaults.
    doc = {
        "model": "m\u00f6del-\U0001f600",
        "temperature": 0,
        "seed": 7,
        "messages": [{"role": "user", "content": PROMPT + "\n".join("%d. %s" % (i + 1, u) for i, u in enumerate(units))}],
        "response_format": {"type": "json_object"},
        "chat_template_kwargs": {"enable_thinking": False},
    }
    assert req.body == json.dumps(doc).encode("ascii")

    assert req.method == "POST"
    assert req.path == PATH
    assert req.headers["content-type"] == "application/json"
    assert int(req.headers["content-length"]) == len(req.body)
    assert "authorization" not in req.headers
    assert len(result) == 3
    assert [r["model_targets"] for r in result] == [[], [], []]


def test_numbered_lines_and_settings_read_per_call(model, monkeypatch):
    units = [H_RUN, H_EXT, H_OBS, H_OTHER, S_CMD, S_FILE, U_T, "x" * 9, "tenth unit here"]
    model.reply(answer({}))
    X.classify_units(units)
    lines = model.requests[0].content[len(PROMPT):].split("\n")
    assert lines == ["%d. %s" % (i + 1, u) for i, u in enumerate(units)]
    assert model.requests[0].json()["model"] == "test-model"

    monkeypatch.setattr(X, "LLM_MODEL", "")
    model.reply(answer({}))
    X.classify_units([H_RUN])
    assert model.requests[1].json()["model"] == ""
    assert model.requests[1].content == PROMPT + "1. " + H_RUN


def test_empty_unit_list_still_sends_one_request(model):
    # "units" of the wrong type is only an error once a Unit is looked up.
    model.reply(envelope('{"units": null}'))
    assert X.classify_units([]) == []
    (req,) = model.requests
    assert req.content == PROMPT
    assert req.content.endswith("\n\n")


def test_units_argument_is_checked_before_sending(model):
    with pytest.raises(TypeError, match=r"units\[1\]"):
        X.classify_units([H_RUN, 3])
    with pytest.raises(TypeError):
        X.classify_units(5)
    with pytest.raises(TypeError):
        X.classify_units(None)
    assert model.requests == []
    # Any sequence of str will do.
    model.reply(answer({}))
    assert X.classify_units((H_OTHER,)) == heuristic([H_OTHER])


# ---------------------------------------------------------------------------
# Reading the answer

OK_ANSWER = '{"units": {"1": {"kind": "other", "targets": ["tests"]}}}'


@pytest.mark.parametrize(
    "content",
    [
        OK_ANSWER,
        "```json\n" + OK_ANSWER + "\n```",
        "```\n" + OK_ANSWER + "\n```",
        "  \n```json\n" + OK_ANSWER + "\n```\n\t ",
        "```json" + OK_ANSWER + "```",
        "\u3000" + OK_ANSWER + "\u2029",
        # Fence markers go at every line start and line end, not only at
        # the ends of the answer.
        "```json\n" + OK_ANSWER + "\n```\n```",
        '{"units":```\n```json {"1": {"kind": "other", "targets": ["tests"]}}}',
    ],
    ids=["bare", "json-fence", "plain-fence", "padded-fence", "one-line-fence", "unicode-space", "stray-fence", "inner-lines"],
)
def test_fenced_answers_are_accepted(model, content):
    assert classify_with(model, [H_RUN], content) == [{"kind": "other", "model_targets": ["tests"]}]


@pytest.mark.parametrize(
    "content",
    [
        "```JSON\n" + OK_ANSWER + "\n```",  # only the backticks go; "JSON" stays
        "```Json\n" + OK_ANSWER + "\n```",
        "```json\n" + OK_ANSWER + "\n```\nHope this helps.",
        "Sure! " + OK_ANSWER,
        "",
        "{",
        "\ufeff" + OK_ANSWER,  # a byte-order mark is no JSON white space
        '{"units": {"1": {"kind": "other", "targets": [NaN]}}}',
        "{'units': {}}",
        OK_ANSWER + " " + OK_ANSWER,
        OK_ANSWER + "\x00",  # the JSON parser must not stop at a NUL
        OK_ANSWER + "\x00garbage",
    ],
    ids=["JSON-caps", "Json", "trailing-text", "leading-text", "empty", "truncated", "bom", "nan", "single-quotes",
         "two-values", "nul-after", "nul-then-text"],
)
def test_invalid_answer_falls_back_to_heuristics(model, content):
    # H_RUN's heuristic kind is command_ran; no model target survives.
    assert classify_with(model, [H_RUN], content) == [{"kind": "command_ran", "model_targets": []}]


@pytest.mark.parametrize(
    "content",
    ['{"result": {"1": {"kind": "other", "targets": ["tests"]}}}', '{"units": {}}', "{}"],
)
def test_answer_without_units_uses_heuristics(model, content):
    units = [H_RUN, H_EXT, H_OBS, H_OTHER]
    expected = [
        {"kind": "command_ran", "model_targets": []},
        {"kind": "external_action", "model_targets": []},
        {"kind": "result_observed", "model_targets": []},
        {"kind": "other", "model_targets": []},
    ]
    assert classify_with(model, units, content) == expected


def test_keys_from_zero_and_unmatched_keys(model):
    units = [H_RUN, H_EXT, H_OTHER]
    content = json.dumps(
        {
            "units": {
                "0": {"kind": "file_changed", "targets": ["Ran"]},
                "1": {"kind": "result_observed", "targets": ["tests"]},
                "02": {"kind": "file_changed", "targets": ["Sent"]},
                " 3": {"kind": "file_changed", "targets": ["This"]},
                "3.0": {"kind": "file_changed"},
                "three": {"kind": "file_changed"},
            }
        }
    )
    assert classify_with(model, units, content) == [
        {"kind": "result_observed", "model_targets": ["tests"]},
        {"kind": "external_action", "model_targets": []},
        {"kind": "other", "model_targets": []},
    ]


@pytest.mark.parametrize(
    "kind, expected",
    [
        ("file_changed", "file_changed"),
        ("command_ran", "command_ran"),
        ("result_observed", "result_observed"),
        ("external_action", "external_action"),
        ("other", "other"),
        ("File_changed", "result_observed"),
        ("OTHER", "result_observed"),
        ("other ", "result_observed"),
        ("deleted", "result_observed"),
        ("mention", "result_observed"),
        ("", "result_observed"),
        (None, "result_observed"),
        (7, "result_observed"),
        (["other"], "result_observed"),
        ({"other": 1}, "result_observed"),
    ],
)
def test_model_kind_taken_only_when_exactly_known(model, kind, expected):
    # H_OBS has no strong kind; its heuristic kind is result_observed.
    content = json.dumps({"units": {"1": {"kind": kind, "targets": []}}})
    assert classify_with(model, [H_OBS], content) == [{"kind": expected, "model_targets": []}]


def test_strong_kind_beats_the_model_but_targets_still_count(model):
    content = json.dumps(
        {
            "units": {
                "1": {"kind": "other", "targets": ["pytest -q"]},
                "2": {"kind": "external_action", "targets": ["config.yaml"]},
                "3": {"kind": "result_observed", "targets": ["30s"]},
            }
        }
    )
    assert classify_with(model, [S_CMD, S_FILE, U_T], content) == [
        {"kind": "command_ran", "model_targets": ["pytest -q"]},
        {"kind": "file_changed", "model_targets": ["config.yaml"]},
        {"kind": "file_changed", "model_targets": ["30s"]},
    ]


def test_target_acceptance(model):
    targets = [
        " Config.YAML ",  # trimmed and lower-cased for the test, stored as written
        "nothere",
        "",
        "   ",
        5,
        None,
        True,
        ["30s"],
        {"30s": 1},
        "30S",
        "30s",
        "30s",  # duplicates stay
        "timeout=30",
        "TIMEOUT = 30",  # inner spaces are not removed
        "fig.y",  # a plain substring is enough
        "retries.\n",
    ]
    content = json.dumps({"units": {"1": {"kind": "other", "targets": targets}}})
    assert classify_with(model, [U_T], content) == [
        {
            "kind": "file_changed",
            "model_targets": [" Config.YAML ", "30S", "30s", "30s", "timeout=30", "fig.y", "retries.\n"],
        }
    ]


def test_target_acceptance_uses_full_lower_casing(model):
    # "İ".lower() is "i" + U+0307, so "i̇stanbul" occurs in the lower-cased
    # Unit and plain "istanbul" does not.
    unit = "Checked the \u0130stanbul build on \u00c4PFEL.txt \U0001f600."
    targets = ["\u0130STANBUL", "i\u0307stanbul", "istanbul", "\u00e4pfel.TXT", "\U0001f600", "\U0001f603"]
    content = json.dumps({"units": {"1": {"kind": "other", "targets": targets}}})
    assert classify_with(model, [unit], content) == [
        {"kind": "other", "model_targets": ["\u0130STANBUL", "i\u0307stanbul", "\u00e4pfel.TXT", "\U0001f600"]}
    ]


def test_targets_as_a_string_are_walked_by_character(model):
    content = json.dumps(
        {
            "units": {
                "1": {"kind": "other", "targets": "Rz x."},
                "2": {"kind": "other", "targets": "\u00e9\U0001f600 P"},
            }
        }
    )
    units = [H_RUN, "Posted \U0001f600 to the channel."]
    assert classify_with(model, units, content) == [
        {"kind": "other", "model_targets": ["R", "."]},
        {"kind": "other", "model_targets": ["\U0001f600", "P"]},
    ]


def test_targets_as_an_object_give_its_member_names(model):
    # Written by hand: the duplicate "tests" keeps its first position.
    content = '{"units": {"1": {"kind": "other", "targets": {"tests": 1, "nope": 2, "RAN": 0, "tests": 3}}}}'
    assert classify_with(model, [H_RUN], content) == [{"kind": "other", "model_targets": ["tests", "RAN"]}]


@pytest.mark.parametrize("targets", [0, 0.0, -0.0, False, "", [], {}, None])
def test_empty_targets(model, targets):
    content = json.dumps({"units": {"1": {"kind": "other", "targets": targets}}})
    assert classify_with(model, [H_RUN], content) == [{"kind": "other", "model_targets": []}]


@pytest.mark.parametrize("entry", [0, 0.0, False, "", [], {}, None])
def test_empty_entries_count_as_absent(model, entry):
    content = json.dumps({"units": {"1": entry, "2": {"kind": "other", "targets": ["3"]}}})
    assert classify_with(model, [H_RUN, H_EXT], content) == [
        {"kind": "command_ran", "model_targets": []},
        {"kind": "other", "model_targets": ["3"]},
    ]


@pytest.mark.parametrize(
    "content, units",
    [
        ('{"units": {"1": "other"}}', [H_RUN]),
        ('{"units": {"1": ["other"]}}', [H_RUN]),
        ('{"units": {"1": 3}}', [H_RUN]),
        ('{"units": {"1": true}}', [H_RUN]),
        ('{"units": {"1": "x"}}', [S_CMD]),  # even when the strong kind decides
        ('{"units": {"2": "x"}}', [H_RUN, H_EXT]),
        ('{"units": {"1": {"kind": "other", "targets": 5}}}', [H_RUN]),
        ('{"units": {"1": {"kind": "other", "targets": 2.5}}}', [H_RUN]),
        ('{"units": {"1": {"kind": "other", "targets": true}}}', [H_RUN]),
        ('{"units": null}', [H_RUN]),
        ('{"units": []}', [H_RUN]),
        ('{"units": "1"}', [H_RUN]),
        ('{"units": 1}', [H_RUN]),
        ("[1, 2]", [H_RUN]),
        ("[]", []),
        ("null", [H_RUN]),
        ('"text"', [H_RUN]),
        ("42", [H_RUN]),
    ],
)
def test_answers_of_the_wrong_shape_raise(model, content, units):
    with pytest.raises(TypeError):
        classify_with(model, units, content)


# ---------------------------------------------------------------------------
# Reading the reply body

BODY_ANSWER = '{"units": {"1": {"kind": "other", "targets": ["\U0001f600", "caf\u00e9"]}}}'
BODY_UNIT = "Posted \U0001f600 to the caf\u00e9 channel."


@pytest.mark.parametrize(
    "encode",
    [
        lambda s: s.encode("utf-8"),
        lambda s: s.encode("utf-8-sig"),
        lambda s: s.encode("utf-16"),
        lambda s: codecs.BOM_UTF16_BE + s.encode("utf-16-be"),
        lambda s: s.encode("utf-16-le"),
        lambda s: s.encode("utf-16-be"),
        lambda s: s.encode("utf-32"),
        lambda s: codecs.BOM_UTF32_BE + s.encode("utf-32-be"),
        lambda s: s.encode("utf-32-le"),
        lambda s: s.encode("utf-32-be"),
    ],
    ids=["utf8", "utf8-bom", "utf16-bom-le", "utf16-bom-be", "utf16le", "utf16be", "utf32-bom-le", "utf32-bom-be", "utf32le", "utf32be"],
)
def test_reply_encodings(model, encode):
    doc = {"choices": [{"message": {"role": "assistant", "content": BODY_ANSWER}}]}
    model.reply(encode(json.dumps(doc, ensure_ascii=False)))
    assert X.classify_units([BODY_UNIT]) == [{"kind": "other", "model_targets": ["\U0001f600", "caf\u00e9"]}]


@pytest.mark.parametrize(
    "body",
    [
        b"",
        b"not json",
        b"<html>busy</html>",
        b'{"choices": [}',
        b'{"choices": "\xff"}',  # not UTF-8
        b"\xef\xbb\xbf\xef\xbb\xbf{}",  # one byte-order mark is dropped, not two
        b"\xff\xfe" + '{"choices": []}'.encode("utf-16-le") + b"\x00",  # odd UTF-16 length
        '{"choices": []}'.encode("utf-32-le")[:-1],
        b'{"choices": [{"message": {"content": "{}"}}]}\x00not json',  # valid prefix, then NUL
        b'{"choices": [{"message": {"content": "{}"}}]}\x00',
    ],
)
def test_undecodable_reply_raises_value_error(model, body):
    model.reply(body)
    with pytest.raises(ValueError):
        X.classify_units([H_RUN])


def _doc(doc):
    return json.dumps(doc).encode()


@pytest.mark.parametrize(
    "body, error, key",
    [
        (_doc({}), KeyError, "choices"),
        (_doc({"Choices": []}), KeyError, "choices"),
        (_doc({"choices": [{}]}), KeyError, "message"),
        (_doc({"choices": [{"message": {}}]}), KeyError, "content"),
        (_doc({"choices": [{"message": {"text": "{}"}}]}), KeyError, "content"),
        (_doc({"choices": {}}), KeyError, 0),
        (_doc({"choices": []}), IndexError, None),
        (_doc([]), TypeError, None),
        (_doc("choices"), TypeError, None),
        (_doc({"choices": None}), TypeError, None),
        (_doc({"choices": [None]}), TypeError, None),
        (_doc({"choices": [["message"]]}), TypeError, None),
        (_doc({"choices": [{"message": "hi"}]}), TypeError, None),
        (_doc({"choices": [{"message": {"content": None}}]}), TypeError, "content"),
        (_doc({"choices": [{"message": {"content": 5}}]}), TypeError, "content"),
        (_doc({"choices": [{"message": {"content": {"units": {}}}}]}), TypeError, "content"),
    ],
)
def test_malformed_envelope(model, body, error, key):
    model.reply(body)
    with pytest.raises(error) as info:
        X.classify_units([H_RUN])
    if error is KeyError:
        assert info.value.args == (key,)
    elif key is not None:
        assert key in str(info.value)


# ---------------------------------------------------------------------------
# Transport failures


@pytest.mark.parametrize("status", [400, 404, 500, 503])
def test_http_error_status(model, status):
    # A well-formed body does not rescue an error status.
    model.reply(answer({"1": {"kind": "other", "targets": []}}), status=status)
    with pytest.raises(X.ModelHTTPError) as info:
        X.classify_units([H_RUN])
    e = info.value
    assert isinstance(e, X.ModelEndpointError) and isinstance(e, OSError)
    assert not isinstance(e, TimeoutError)
    assert e.status == status
    assert e.url == model.url
    assert model.url in str(e) and str(status) in str(e)
    assert len(model.requests) == 1  # no retry


def test_empty_success_body_is_not_json(model):
    model.reply(b"", status=204)
    with pytest.raises(ValueError):
        X.classify_units([H_RUN])


def test_connection_refused(monkeypatch):
    url = refused_url()
    monkeypatch.setattr(X, "LLM_URL", url)
    t0 = time.monotonic()
    with pytest.raises(X.ModelEndpointError) as info:
        X.classify_units([H_RUN])
    assert time.monotonic() - t0 < 5
    e = info.value
    assert isinstance(e, OSError)
    assert not isinstance(e, (X.ModelHTTPError, TimeoutError))
    assert e.url == url and url in str(e)


@pytest.mark.parametrize("url", ["", "not a url", "ftp://127.0.0.1/v1/chat/completions", "http://", "127.0.0.1:8000/v1"])
def test_invalid_url(monkeypatch, url):
    monkeypatch.setattr(X, "LLM_URL", url)
    with pytest.raises(X.ModelEndpointError) as info:
        X.classify_units([H_RUN])
    assert isinstance(info.value, OSError)
    assert info.value.url == url
    assert repr(url)[1:-1] in str(info.value)


def test_url_with_nul_is_invalid(model, monkeypatch):
    monkeypatch.setattr(X, "LLM_URL", model.url.replace("/v1", "\x00/v1"))
    with pytest.raises(X.ModelEndpointError):
        X.classify_units([H_RUN])
    assert model.requests == []


def test_huge_timeout_is_fine(model, monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", 1e300)
    model.reply(envelope(OK_ANSWER))
    assert X.classify_units([H_RUN]) == [{"kind": "other", "model_targets": ["tests"]}]


def test_connection_closed_without_reply(model):
    model.script(hang_up)
    with pytest.raises(X.ModelEndpointError) as info:
        X.classify_units([H_RUN])
    assert not isinstance(info.value, (X.ModelHTTPError, TimeoutError))
    assert model.url in str(info.value)


def test_nothing_is_printed(model, monkeypatch, capfd):
    model.reply(answer({"1": {"kind": "other", "targets": ["tests"]}}))
    X.classify_units([H_RUN])
    model.reply(b"{}", status=500)
    with pytest.raises(X.ModelHTTPError):
        X.classify_units([H_RUN])
    model.reply(b"oops")
    with pytest.raises(ValueError):
        X.classify_units([H_RUN])
    monkeypatch.setattr(X, "LLM_URL", refused_url())
    with pytest.raises(X.ModelEndpointError):
        X.classify_units([H_RUN])
    assert capfd.readouterr() == ("", "")


def test_llm_url_must_be_a_string(model, monkeypatch):
    monkeypatch.setattr(X, "LLM_URL", None)
    with pytest.raises(TypeError, match="LLM_URL"):
        X.classify_units([H_RUN])
    assert model.requests == []


# ---------------------------------------------------------------------------
# Time-outs (the tests use one second; the default is 300)


def _expect_timeout(url, seconds=1.0):
    X._set_timeout(seconds)
    t0 = time.monotonic()
    with pytest.raises(TimeoutError) as info:
        X.classify_units([H_RUN])
    elapsed = time.monotonic() - t0
    e = info.value
    assert isinstance(e, X.ModelTimeoutError)
    assert isinstance(e, X.ModelEndpointError) and isinstance(e, OSError)
    assert e.url == url and url in str(e)
    return elapsed


def test_timeout_when_the_server_never_answers(monkeypatch):
    listener = SilentListener()
    monkeypatch.setattr(X, "LLM_URL", listener.url)
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    try:
        elapsed = _expect_timeout(listener.url)
    finally:
        listener.close()
    assert 0.9 <= elapsed < 10


def test_timeout_when_the_reply_stalls(model, monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    model.script(stalled_after_head(model.gate))
    elapsed = _expect_timeout(model.url)
    assert 0.9 <= elapsed < 10


def test_slow_but_steady_reply_is_not_cut_off(model, monkeypatch):
    # Every wait is shorter than the time-out, the whole reply takes longer.
    monkeypatch.setattr(X, "_TIMEOUT", 1.0)
    body = envelope(OK_ANSWER)
    model.script(trickle(body, pieces=6, pause=0.3))
    t0 = time.monotonic()
    assert X.classify_units([H_RUN]) == [{"kind": "other", "model_targets": ["tests"]}]
    assert time.monotonic() - t0 > 1.5


def test_interrupt_ends_the_wait(monkeypatch):
    # Ctrl-C (here simulated) must not have to wait for the time-out.
    import _thread
    import signal

    # A shell starts background jobs with SIGINT ignored, and Python then
    # installs no handler, so interrupt_main would do nothing: install the
    # usual one for this test.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    listener = SilentListener()
    monkeypatch.setattr(X, "LLM_URL", listener.url)
    monkeypatch.setattr(X, "_TIMEOUT", 30.0)
    timer = threading.Timer(0.5, _thread.interrupt_main)
    t0 = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            X.classify_units([H_RUN])
    finally:
        timer.cancel()
        listener.close()
        signal.signal(signal.SIGINT, previous)
    assert time.monotonic() - t0 < 5


def test_set_timeout(monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", X._TIMEOUT)
    X._TIMEOUT = 300.0
    assert X._set_timeout(2) == 300.0
    assert X._TIMEOUT == 2.0
    assert X._set_timeout(0.5) == 2.0
    for bad in (0, -1, math.nan, math.inf):
        with pytest.raises(ValueError):
            X._set_timeout(bad)
    with pytest.raises(TypeError):
        X._set_timeout("1")
    assert X._TIMEOUT == 0.5


def test_bad_timeout_attribute_is_rejected(model, monkeypatch):
    monkeypatch.setattr(X, "_TIMEOUT", 0)
    with pytest.raises(ValueError, match="_TIMEOUT"):
        X.classify_units([H_RUN])
    assert model.requests == []


# ---------------------------------------------------------------------------
# Threads


def test_gil_is_released_during_the_request(model):
    # The fake server is Python code in another thread: it can only take
    # the request, and the main thread can only see it, while the call
    # waits without holding the interpreter lock.
    gate = threading.Event()
    model.script(held(gate, 200, envelope(OK_ANSWER)))
    out = {}
    worker = threading.Thread(target=lambda: out.setdefault("r", X.classify_units([H_RUN])))
    worker.start()
    try:
        assert model.in_handler.wait(10)
        assert worker.is_alive()  # still waiting for the reply
        spins = 0
        t0 = time.monotonic()
        while time.monotonic() - t0 < 0.2:
            spins += 1
        assert spins > 1000
    finally:
        gate.set()
        worker.join(20)
    assert out["r"] == [{"kind": "other", "model_targets": ["tests"]}]


def _echo(handler, req):
    """Answers every Unit with kind "other" and its first word as target."""
    lines = req.content[len(PROMPT):].split("\n")
    units = {}
    for line in lines:
        n, _, text = line.partition(". ")
        units[n] = {"kind": "other", "targets": [text.split()[0]]}
    time.sleep(0.2)
    body = envelope(json.dumps({"units": units}))
    handler.send_response(200)
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body)


def test_concurrent_calls_are_independent(model):
    batches = [["Alpha one two three", "Beta four five six"], ["Gamma seven", "Delta eight", "Epsilon nine"]]
    for _ in batches:
        model.script(_echo)
    results = [None] * len(batches)

    def run(i):
        results[i] = X.classify_units(batches[i])

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(batches))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(20)
    for units, got in zip(batches, results):
        assert got == [{"kind": "other", "model_targets": [u.split()[0]]} for u in units]


# ---------------------------------------------------------------------------
# Settings from the environment (read once, when the module loads)

_SHOW = (
    "import json, os, vorlane_core.extract as X\n"
    "before = [X.LLM_URL, X.LLM_MODEL, X._TIMEOUT]\n"
    "os.environ['VESKARD_LLM_URL'] = 'http://changed.invalid/'\n"
    "os.environ['VESKARD_LLM_MODEL'] = 'changed'\n"
    "print(json.dumps(before + [X.LLM_URL, X.LLM_MODEL]))\n"
)


def _child_settings(tmp, **env):
    e = child_env()
    e.pop("VESKARD_LLM_URL", None)
    e.pop("VESKARD_LLM_MODEL", None)
    e.update(env)
    # Run from an empty directory, so that no source tree shadows the build.
    p = subprocess.run([sys.executable, "-c", _SHOW], env=e, capture_output=True, timeout=60, cwd=tmp)
    assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
    url, model_name, timeout, url_after, model_after = json.loads(p.stdout)
    assert (url_after, model_after) == (url, model_name)  # not read again
    return url, model_name, timeout


def test_settings_defaults(tmp_path):
    from urllib.parse import urlsplit

    url, model_name, timeout = _child_settings(tmp_path)
    parts = urlsplit(url)
    assert parts.scheme == "http"
    assert parts.hostname in ("127.0.0.1", "localhost", "::1")
    assert parts.port == 8000
    assert parts.path == "/v1/chat/completions"
    assert model_name == "qwen3.8-flash-next"
    assert timeout == 300


def test_settings_set_but_empty_are_used(tmp_path):
    assert _child_settings(tmp_path, VESKARD_LLM_URL="", VESKARD_LLM_MODEL="")[:2] == ("", "")


def test_settings_from_environment_reach_the_request(tmp_path):
    srv = FakeModel()
    try:
        srv.reply(answer({"1": {"kind": "other", "targets": ["tests"]}}))
        code = (
            "import json, vorlane_core.extract as X\n"
            "print(json.dumps(X.classify_units([%r])))\n" % H_RUN
        )
        e = child_env(VESKARD_LLM_URL=srv.url, VESKARD_LLM_MODEL="env-m\u00f6del")
        p = subprocess.run([sys.executable, "-c", code], env=e, capture_output=True, timeout=60, cwd=tmp_path)
        assert p.returncode == 0, p.stderr.decode("utf-8", "replace")
        assert json.loads(p.stdout) == [{"kind": "other", "model_targets": ["tests"]}]
        (req,) = srv.requests
        assert req.json()["model"] == "env-m\u00f6del"
        assert b'"model": "env-m\\u00f6del"' in req.body
    finally:
        srv.close()


# ---------------------------------------------------------------------------
# Against the pure-Python reference, on generated answers

try:
    import reference
    from hypothesis import HealthCheck, given, settings
    from hypothesis import strategies as st
except ImportError:  # pragma: no cover
    reference = None

if reference is not None:
    _UNITS = [S_CMD, H_RUN, U_T, H_OTHER]
    _pieces = st.sampled_from(["tests", "Ran", "pytest -q", " Config.YAML ", "30s", "x", " ", "", "nope", "\u00e9"])
    _scalar = st.one_of(st.none(), st.booleans(), st.integers(-2, 2), st.floats(allow_nan=False, allow_infinity=False), _pieces)
    _targets = st.one_of(_scalar, st.lists(st.one_of(_pieces, _scalar), max_size=5), st.dictionaries(_pieces, _scalar, max_size=3))
    _kind = st.one_of(st.sampled_from(list(reference.KINDS) + ["Other", "bogus", ""]), _scalar)
    _entry = st.one_of(
        _scalar,
        st.fixed_dictionaries({}, optional={"kind": _kind, "targets": _targets}),
    )
    _answer = st.one_of(
        st.dictionaries(st.sampled_from(["0", "1", "2", "3", "4", "5"]), _entry, max_size=5).map(lambda u: {"units": u}),
        st.just({}),
        _scalar.map(lambda v: {"units": v}),
    )

    @settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
    @given(doc=_answer, n=st.integers(0, len(_UNITS)), fence=st.booleans())
    def test_matches_reference_merge(model, doc, n, fence):
        units = _UNITS[:n]
        content = json.dumps(doc)
        if fence:
            content = "```json\n" + content + "\n```"
        try:
            expected = ("ok", reference.merge_classification(units, content))
        except (TypeError, AttributeError):
            expected = ("error", TypeError)
        model.reply(envelope(content))
        try:
            got = ("ok", X.classify_units(units))
        except TypeError:
            got = ("error", TypeError)
        assert got == expected
