"""classify_units: the request it sends and how it merges the model's
answer with the heuristics.

Every test talks to a fake chat-completions server on 127.0.0.1 (see
fake_model_server.py) that records the requests and answers scripted
replies; LLM_URL, LLM_MODEL and the limits are module attributes read at
each call, so the tests point them at the fake server.  The Units and their
kinds are described in model_client_cases.py.
"""

import json

import pytest

from fake_model_server import PATH, answer, envelope
from model_client_cases import (  # noqa: F401 (model is a fixture)
    H_EXT,
    H_OBS,
    H_OTHER,
    H_RUN,
    OK_ANSWER,
    PROMPT,
    PROMPT_IN_JSON,
    S_CMD,
    S_FILE,
    U_T,
    X,
    classify_with,
    heuristic,
    model,
)


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

