"""Pure-Python executable reference of vorlane_core (the oracle of the tests).

Written step by step from the system's rules, under the system's own
names.  It is deliberately plain: no caching, no cleverness, every
order of steps as the rules give it.  Standard library only (re, json, os,
pwd).

Text semantics.  Python's ``re`` on ``str`` already has the system's text
semantics: ``\\s`` and ``str.strip()`` are the system's 29 white-space code
points (``str.isspace``), ``\\w`` is L* | N* | "_", ``\\d`` is Nd, ``\\b`` is
the boundary on that ``\\w``, ``$`` matches at the end or before a final line
feed, ``.`` does not match a line feed, ``str.lower()`` is the full Unicode
lower-case mapping, ``str.splitlines()`` cuts at exactly the line boundaries
of the unit splitter.

THE ONE DIFFERENCE: ignore-case.  The system compares by Unicode *simple case
folding*, under which U+0130 (capital I with dot) and U+0131 (dotless i) do
NOT match "i"/"I".  Python's ``re.IGNORECASE`` says they do.  So for every
ignore-case pattern below (NON_CLAIM_RE, INTENT_RE, WORK_VERB_RE,
IMPERATIVE_RE, RUN_VERB_RE, EDIT_VERB_RE, the extract NEGATED_RE, the inline
patterns of heuristic_kind, the unit pattern of _atoms, ADDITIVE_RE, the
verify NEGATED_RE, EMPTY_RE, PREDICATE_RE) this reference is NOT an oracle on
texts holding U+0130 or U+0131; the differential tests must not generate
those two characters for functions that reach an ignore-case pattern
(split_units, strong_kind, heuristic_kind, extract_claims, merge_classification,
_additive, verify).  Every other function (fences, sentences, literal targets,
_clean, _kind_of, _norm, _variants, _in, _tokens, _words_in) may get them.

Two patterns of the system share a name between the modules (NUM_RE and
NEGATED_RE).  Here they are kept apart as
EXTRACT_NUM_RE / EXTRACT_NEGATED_RE and VERIFY_NUM_RE / VERIFY_NEGATED_RE;
the namespaces ``extract_module`` and ``verify_module`` at the end of the file
expose every function and constant of each module under the system's own names,
so tests can use them exactly like the compiled modules.

Deliberate departures (the reference does no I/O of its own):
- ``classify_units`` takes the HTTP exchange as an argument (``post``); the
  pure parts of the model client are ``request_body`` and ``merge_classification``.
- ``extract_claims`` defaults ``use_llm`` to False (the system's default is
  True) and takes ``classify``, a callable standing in for the model client.
"""

import json
import os
import pwd
import re

# ---------------------------------------------------------------------------
# Fence stripping and sentence splitting
# ---------------------------------------------------------------------------

ABBR = ("e.g.", "i.e.", "vs.", "etc.", "approx.", "cf.", "no.", "fig.")

_FENCE_RE = re.compile(r"```.*?```", re.S)
_SENT_SPLIT_RE = re.compile(r"(?<=[.!?])\s+(?=[A-Z`*\"'(\[])")


def _strip_fences(text):
    return _FENCE_RE.sub(" ", text)


def _sentences(par):
    for a in ABBR:
        par = par.replace(a, a.replace(".", "\0"))
    out = []
    for piece in _SENT_SPLIT_RE.split(par):
        if not piece.strip():
            continue
        out.append(piece.replace("\0", ".").strip())
    return out


# ---------------------------------------------------------------------------
# Literal targets (patterns first: the unit splitter uses them)
# ---------------------------------------------------------------------------

DATE_RE = re.compile(r"\b\d{4}-\d{2}-\d{2}\b")
VERSION_RE = re.compile(r"\bv?\d+(?:\.\d+){2,}(?:[-+][\w.]+)?\b")
DIM_RE = re.compile(r"\b\d+\s?[x×]\s?\d+\b")
TIME_RE = re.compile(
    r"\b\d{1,2}:\d{2}(?::\d{2})?\s?(?:AM|PM|am|pm)?\b"
    r"|\b\d{1,2}/\d{1,2}(?:/\d{2,4})?\b"
    r"|\b\d{2}-\d{2}\b(?!-)"
    r"|\b(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Sept|Oct|Nov|Dec)[a-z]*\.?\s+\d{1,2}(?:,\s*\d{4})?\b"
)
PATH_RE = re.compile(
    r"(?:~|/home/\w+|/tmp|/etc|/opt|/var|/Users/\w+)[\w./+-]*"
    r"|(?<![/:\w])/(?:[\w.+-]+/)+[\w.+-]+"
    r"|\b[\w.-]+\.(?:md|py|json|yaml|yml|kt|kts|sh|toml|txt|db|cfg|ini|gd|tscn|png|html|css|js|ts|mjs|svg|log|service|timer|env)\b"
)
KEYVAL_RE = re.compile(r"\b[\w.-]+\s?=\s?[\w./:-]+")
EXTRACT_NUM_RE = re.compile(r"(?<![\w.])\d+(?:,\d{3})*(?:\.\d+)?(?![\w.])")
CODE_RE = re.compile(r"`([^`\n]+)`")

_TRAIL_TIDY = ",;:."
_LEAD_TIDY = ",;:"
_KEY_STRIP = "~≈"


def _tidy(x):
    # 1.
    x = x.strip()
    x = x.rstrip(_TRAIL_TIDY)
    x = x.lstrip(_LEAD_TIDY)
    # 2.
    while x.endswith(")") and x.count(")") > x.count("("):
        x = x[:-1]
        x = x.rstrip(_TRAIL_TIDY)
    # 3.
    return x.strip()


def literal_targets(unit):
    if not isinstance(unit, str):
        raise TypeError("unit must be str, not %s" % type(unit).__name__)
    # 1.
    t = [_tidy(m.group(1)) for m in CODE_RE.finditer(unit)]
    # 2.
    plain = CODE_RE.sub(" ", unit)
    # 3.
    for pat in (DATE_RE, VERSION_RE, DIM_RE):
        t.extend(_tidy(m.group(0)) for m in pat.finditer(plain))
        plain = pat.sub(" ", plain)
    # 4.
    plain = TIME_RE.sub(" ", plain)
    # 5.
    t.extend(_tidy(m.group(0)) for m in PATH_RE.finditer(plain))
    # 6.
    t.extend(_tidy(m.group(0)) for m in KEYVAL_RE.finditer(plain))
    plain = KEYVAL_RE.sub(" ", plain)
    # 7.
    for m in EXTRACT_NUM_RE.finditer(plain):
        n = m.group(0)
        if len(n.replace(",", "").replace(".", "")) >= 2:
            t.append(n)
    # 8.
    seen = set()
    out = []
    for x in t:
        key = x.lower().lstrip(_KEY_STRIP)
        if x and len(key) >= 2 and key not in seen:
            seen.add(key)
            out.append(x)
    # 9.
    return out


# ---------------------------------------------------------------------------
# Unit splitting
# ---------------------------------------------------------------------------

NON_CLAIM_RE = re.compile(
    r"^(next|todo|note|recommend|suggest|should|could|would|consider|if you|let me know|you can|you may|want me|shall i|do you|open question|caveat|risk|plan|proposal|option|optional|alt|here's|here is|the gist|say proceed|reply)\b",
    re.I,
)
INTENT_RE = re.compile(
    r"\b(will|won't|i'll|we'll|it'll|i will|we will|going to|gonna|plan to|planning|intend|next on my list|next step|next up|until then|from here|once you|when you|as soon as|if you want|i can|we can|i could|we could|we should|i'd|we'd|let me|let's|want me to|say the word|your call|my read|i think|i'd recommend|recommend)\b",
    re.I,
)
WORK_VERB_RE = re.compile(
    r"\b(add|added|creat\w+|wrote|writ\w+|edit\w*|patch\w*|fix\w*|remov\w*|delet\w*|renam\w*|mov\w*|replac\w*|updat\w*|bump\w*|chang\w*|set|install\w*|enabl\w*|disabl\w*|ran|run|re-?ran|execut\w*|built|build|deploy\w*|push\w*|commit\w*|merg\w*|tagg\w*|releas\w*|start\w*|stopp\w*|restart\w*|kill\w*|verif\w*|confirm\w*|check\w*|test\w*|pass\w*|fail\w*|report\w*|return\w*|show\w*|found|observ\w*|measur\w*|regenerat\w*|import\w*|export\w*|clean|configur\w*|sent|send|schedul\w*|regist\w*|preserv\w*|kept|retain\w*|untouched|remain\w*|landed|synced|sync\w*|copied|bumped|refresh\w*|done|is on|now on|works|working)\b",
    re.I,
)
IMPERATIVE_RE = re.compile(
    r"^(send|open|relaunch|re-?copy|try|use|extend|click|visit|review|reopen|make|keep|go|pull|let|tell|reply|paste|copy|type|press|ping|drop|grab|give|hit|point|pick|choose|flip|confirm|approve|reject)\b(?!\w)"
    r"|^(build|create|stage|deploy|publish|push|register|scrub|write|add|remove|install|run|start|stop|move|rename|check|verify|read|look|see|note|remember|wait|hold|skip|ask|call|email|watch)\s+(?:the|a|an|your|my|our|it|this|that|these|those|them|me|us|one|each|every|all|both|`|/|~)\b",
    re.I,
)

_TABLE_RULE_RE = re.compile(r"^\|?\s*:?-{2,}")
_LIST_MARK_RE = re.compile(r"^(\d+[.)]|[-*•]|\[[ x]\])\s+")
_RULE_CELL_RE = re.compile(r"^[-: ]+$")
_BOLD_RE = re.compile(r"\*\*(.+?)\*\*")
_STATUS_RE = re.compile(r"^\s*[✔✅⚠️❌🟠◌]+\s*")
_DUP_KEY_RE = re.compile(r"\W+")

_SENT_TRIM = " -–—:"
_ROW_JOINER = " · "


def split_units(final):
    if not isinstance(final, str):
        raise TypeError("final must be str, not %s" % type(final).__name__)
    blocks = []
    cur = []

    def flush():
        if not cur:
            return
        blocks.append(" ".join(x.strip() for x in cur))
        cur.clear()

    # Line pass.
    text = _strip_fences(final)
    for line in text.splitlines():
        line = line.rstrip()
        if not line.strip():
            flush()
            continue
        s = line.strip()
        if s.startswith("#") or _TABLE_RULE_RE.match(s):
            flush()
            continue
        if s.startswith("|"):
            flush()
            cells = [c.strip() for c in s.strip("|").split("|")]
            if any(c and not _RULE_CELL_RE.match(c) for c in cells):
                blocks.append(_ROW_JOINER.join(c for c in cells if c))
            continue
        m = _LIST_MARK_RE.match(s)
        if m:
            flush()
            cur.append(s[m.end():])
            continue
        cur.append(s)
    flush()

    # Block pass.
    units = []
    for b in blocks:
        b = _BOLD_RE.sub(r"\1", b)
        b = _STATUS_RE.sub("", b)
        for sent in _sentences(b):
            s = sent.strip(_SENT_TRIM)
            if len(s) < 20 and not (
                (CODE_RE.search(s) or PATH_RE.search(s)) and WORK_VERB_RE.search(s)
            ):
                continue
            if len(s) < 8 or s.endswith("?"):
                continue
            if NON_CLAIM_RE.match(s) or IMPERATIVE_RE.match(s) or INTENT_RE.search(s[:40]):
                continue
            if (
                WORK_VERB_RE.search(s)
                or CODE_RE.search(s)
                or PATH_RE.search(s)
                or EXTRACT_NUM_RE.search(s)
                or VERSION_RE.search(s)
            ):
                units.append(s)

    # Near-duplicate removal.
    seen = set()
    out = []
    for u in units:
        key = _DUP_KEY_RE.sub(" ", u.lower()).strip()
        if key not in seen:
            seen.add(key)
            out.append(u)
    return out


# ---------------------------------------------------------------------------
# Kind heuristics
# ---------------------------------------------------------------------------

KINDS = ("file_changed", "command_ran", "result_observed", "external_action", "other")

RUN_VERB_RE = re.compile(r"\b(ran|re-ran|reran|executed|invoked|re-run|rerun)\b", re.I)
EDIT_VERB_RE = re.compile(
    r"\b(added|patched|edited|rewrote|wrote|created|removed|deleted|replaced|bumped|renamed|synced|updated|fixed|guarded|reinstalled|installed|enabled|disabled|set|pinned|appended|inserted|dropped|swapped|switched)\b",
    re.I,
)
EXTRACT_NEGATED_RE = re.compile(
    r"\b(don'?t|do not|never|not|no|without|didn'?t|did not|isn'?t|wasn'?t)\s+(?:\w+\s+){0,2}$",
    re.I,
)
CMD_WORD_RE = re.compile(
    r"^\s*(\$ ?)?(godot|xvfb-run|python3?|pip|git|npm|npx|node|docker|ssh|scp|rsync|curl|wget|quarvel|systemctl|sudo|\./|gradle|bash|sh|make|cargo|go|adb|aapt2|kubectl|terraform|ansible|pytest|grep|rg|find|cat|ls|tail|head)\b"
)

# Inline patterns of heuristic_kind.
_LOOSE_RUN_RE = re.compile(r"\b(ran|run|executed|re-ran|invoked)\b", re.I)
_CMD_LIKE_RE = re.compile(r"^\s*(\$|sudo |git |python|npm|docker|systemctl|curl|ssh|gradle|\./)")
_EXTERNAL_RE = re.compile(r"\b(cron|schedul|sent|send|message|posted|brain|skill|browser|deleg)\w*", re.I)
_OBSERVE_RE = re.compile(r"\b(confirm|verif|report|return|show|observ|pass|fail|found)\w*", re.I)


def strong_kind(unit):
    if not isinstance(unit, str):
        raise TypeError("unit must be str, not %s" % type(unit).__name__)
    # 1.
    code = [m.group(1) for m in CODE_RE.finditer(unit)]
    # 2.
    if (RUN_VERB_RE.search(unit) and code) or any(CMD_WORD_RE.match(c) for c in code):
        return "command_ran"
    # 3.
    has_lit = bool(PATH_RE.search(unit) or KEYVAL_RE.search(unit) or code)
    # 4.
    for m in EDIT_VERB_RE.finditer(unit):
        if has_lit and not EXTRACT_NEGATED_RE.search(unit[: m.start()]):
            return "file_changed"
    # 5.
    return None


def heuristic_kind(unit):
    if not isinstance(unit, str):
        raise TypeError("unit must be str, not %s" % type(unit).__name__)
    sk = strong_kind(unit)
    if sk:
        return sk
    code = [m.group(1) for m in CODE_RE.finditer(unit)]
    if _LOOSE_RUN_RE.search(unit) or any(_CMD_LIKE_RE.match(c) for c in code):
        return "command_ran"
    if _EXTERNAL_RE.search(unit):
        return "external_action"
    if EXTRACT_NUM_RE.search(unit) or _OBSERVE_RE.search(unit):
        return "result_observed"
    return "other"


# ---------------------------------------------------------------------------
# Command-line entry
# ---------------------------------------------------------------------------


def inspection_record(unit):
    """The two-line record the command entry prints for one Unit.

    print("•", u, "\\n   ", literal_targets(u), heuristic_kind(u)): five
    fields joined by single spaces, ended by a line feed; the list in the form
    of Python's repr() of a list of str.
    """
    return "• %s \n    %r %s\n" % (unit, literal_targets(unit), heuristic_kind(unit))


def command_output(report_text):
    """Everything the command entry writes to standard output for a report
    whose text (already read with universal newlines) is report_text."""
    return "".join(inspection_record(u) for u in split_units(report_text))


def command_entry(path):
    """The inspection command run on a file: read it (UTF-8, CR LF / CR read as LF)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return command_output(text)


# ---------------------------------------------------------------------------
# Model classification client
# ---------------------------------------------------------------------------

LLM_URL = os.environ.get("VESKARD_LLM_URL", "http://127.0.0.1:8000/v1/chat/completions")
LLM_MODEL = os.environ.get("VESKARD_LLM_MODEL", "qwen3.8-flash-next")

CLASSIFY_PROMPT = (
    "Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    "- kind: file_changed (agent says it edited/created/removed a file or setting) | command_ran (agent says it executed a command/test/build) | result_observed (agent reports a value, output or state it saw) | external_action (cron, message, skill, brain, browser, delegation) | other (explanation, opinion, plan)\n"
    "- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that would appear verbatim in a terminal or file (a path, a key=value, a number, an exact short string). Copy them exactly as written in the sentence. Empty list if none.\n"
    'Return JSON: {"units": {"<n>": {"kind": "...", "targets": ["..."]}, ...}}\n'
    "\n"
)

_ANSWER_FENCE_RE = re.compile(r"^```(?:json)?|```$", re.M)


def numbered_lines(units):
    return "\n".join("%d. %s" % (i + 1, u) for i, u in enumerate(units))


def request_body(units, model=None):
    """The exact request body text of the model client (json.dumps with its defaults:
    ensure_ascii, separators ", " and ": ", insertion order)."""
    if model is None:
        model = LLM_MODEL
    body = {
        "model": model,
        "temperature": 0,
        "seed": 7,
        "messages": [{"role": "user", "content": CLASSIFY_PROMPT + numbered_lines(units)}],
        "response_format": {"type": "json_object"},
        "chat_template_kwargs": {"enable_thinking": False},
    }
    return json.dumps(body)


def _reject_constant(name):
    # NaN, Infinity and -Infinity are not JSON (RFC 8259); Python's json
    # accepts them by default, the system's JSON decoder (nlohmann) does not.
    # Two more spots where "valid JSON" is decoder-dependent and the rules do
    # not say: a leading U+FEFF (Python: invalid; nlohmann skips a UTF-8 BOM)
    # and "\ud800"-style lone surrogate escapes (Python: valid; nlohmann:
    # invalid).  The differential tests generate neither.
    raise ValueError("not JSON: %s" % name)


def _is_empty(v):
    # "null, false, zero, an empty string, an empty array or an empty object"
    return not v


def merge_classification(units, answer_text):
    """Steps 4 to 7 of classify_units: from the model's answer text (the
    "content" string of the reply) to the per-Unit records."""
    if not isinstance(answer_text, str):
        raise TypeError("answer must be str, not %s" % type(answer_text).__name__)
    # 4.
    cleaned = _ANSWER_FENCE_RE.sub("", answer_text.strip())
    # 5.
    try:
        data = json.loads(cleaned, parse_constant=_reject_constant)
        valid = True
    except ValueError:  # json.JSONDecodeError is a ValueError
        valid = False
    if not valid:
        answers = {}
    else:
        if not isinstance(data, dict):
            raise TypeError("answer is JSON but not an object")
        answers = data.get("units", {})
    # 6.
    out = []
    for i, u in enumerate(units):
        if not isinstance(answers, dict):
            raise TypeError('"units" is not an object')
        entry = answers.get(str(i + 1))
        if _is_empty(entry):
            entry = {}
        if not isinstance(entry, dict):
            raise TypeError("entry %d is not an object" % (i + 1))
        sk = strong_kind(u)
        if sk:
            kind = sk
        else:
            mk = entry.get("kind")
            if isinstance(mk, str) and mk in KINDS:
                kind = mk
            else:
                kind = heuristic_kind(u)
        targets = entry.get("targets")
        model_targets = []
        if not _is_empty(targets):
            if isinstance(targets, (bool, int, float)):
                raise TypeError('"targets" is a number or true')
            low = u.lower()
            for x in targets:  # array elements, characters of a string, keys of an object
                if isinstance(x, str) and x.strip() and x.strip().lower() in low:
                    model_targets.append(x)
        out.append({"kind": kind, "model_targets": model_targets})
    # 7.
    return out


def classify_units(units, post):
    """The model client with the HTTP exchange injected: post(url, body_bytes) returns
    the response body bytes (or raises).  The reference does no networking."""
    body = request_body(units).encode("utf-8")
    reply = json.loads(post(LLM_URL, body))  # bytes: UTF-8/16/32, BOM detected
    answer = reply["choices"][0]["message"]["content"]
    return merge_classification(units, answer)


# ---------------------------------------------------------------------------
# Claim extraction driver
# ---------------------------------------------------------------------------


def extract_claims(final, use_llm=False, classify=None):
    """The claim driver.  NOTE: the system's default is use_llm=True; the reference
    defaults to False and needs ``classify`` (a stand-in for classify_units,
    taking the list of Units) when use_llm is true."""
    if not isinstance(final, str):
        raise TypeError("final must be str, not %s" % type(final).__name__)
    # 1.
    units = split_units(final)
    # 2.
    if not units:
        return []
    # 3.
    if use_llm:
        if classify is None:
            raise NotImplementedError("the reference has no HTTP client; pass classify")
        cls = classify(units)
    else:
        cls = [{"kind": heuristic_kind(u), "model_targets": []} for u in units]
    # 4.
    claims = []
    for u, rec in zip(units, cls):
        targets = literal_targets(u)
        for t in rec["model_targets"]:
            if t.lower() not in [x.lower() for x in targets]:
                targets.append(t)
        claims.append({"text": u, "kind": rec["kind"], "targets": targets})
    # 5.
    return claims


# ---------------------------------------------------------------------------
# Literal atoms and normalisation (verify module)
# ---------------------------------------------------------------------------

VERIFY_NUM_RE = re.compile(r"^[\d,]+(?:\.\d+)?$")

_APPROX_RE = re.compile(r"[≈~](?=\s*\d)")
_LINE_REF_RE = re.compile(r"(\.\w{1,5}):\d+(?:-\d+)?$")
_WS_RUN_RE = re.compile(r"\s+")
_ATOM_TEST_RE = re.compile(r"→|->| / |,| and |\.\.")
_ATOM_SPLIT_RE = re.compile(r"\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*")
_LEAD_LETTER_RE = re.compile(r"^(?=\d)|^[a-z](?=\d)")
_NUM_UNIT_RE = re.compile(r"^([\d.,]+)\s*(px|fps|ms|s|%|mb|gb|kb|bytes?|chars?|rows?|layers?)$", re.I)
_PATH_EXT_RE = re.compile(r"\.[a-z]{1,5}$")
_TRAILING_X_RE = re.compile(r"(?<=\d)x$")
_QUOTES = "`'\""


def _need_str(v, name):
    if not isinstance(v, str):
        raise TypeError("%s must be str, not %s" % (name, type(v).__name__))


def _clean(t):
    _need_str(t, "t")
    t = _APPROX_RE.sub("", t)  # 1.
    t = t.replace("–", "-").replace("—", "-")  # 2.
    t = t.strip()  # 3.
    t = t.strip(_QUOTES)  # 4.
    t = _LINE_REF_RE.sub(r"\1", t)  # 5.
    t = _WS_RUN_RE.sub(" ", t)  # 6.
    return t


def _atoms(t):
    _need_str(t, "t")
    c = _clean(t)
    if _ATOM_TEST_RE.search(c):
        pieces = _ATOM_SPLIT_RE.split(c)
    else:
        pieces = [c]
    out = []
    for p in pieces:
        p = p.strip()
        p = _LEAD_LETTER_RE.sub("", p)
        p = _NUM_UNIT_RE.sub(r"\1", p)
        if len(p) < 2:
            continue
        out.append(p.rstrip("()"))
    return out


def _kind_of(lit):
    _need_str(lit, "lit")
    if "/" in lit or _PATH_EXT_RE.search(lit):
        return "path"
    if ("=" in lit or "_" in lit or "-" in lit) and " " not in lit:
        return "key"
    if VERIFY_NUM_RE.match(lit):
        return "number"
    return "phrase"


def _home():
    """The current user's home directory, as os.path.expanduser("~") finds it
    (POSIX, Python 3.11): $HOME when the variable is set (even empty), else the
    account database; trailing "/" removed; an empty result reads as "/".
    A missing account entry raises KeyError."""
    if "HOME" in os.environ:
        h = os.environ["HOME"]
    else:
        h = pwd.getpwuid(os.getuid()).pw_dir
    h = h.rstrip("/")
    return h or "/"


def _norm(s):
    _need_str(s, "s")
    s = s.replace("~", _home())  # 1.
    s = s.strip().strip(_QUOTES)  # 2.
    s = _WS_RUN_RE.sub(" ", s).lower()  # 3.
    if VERIFY_NUM_RE.match(s):  # 4.
        s = s.replace(",", "")
    s = _TRAILING_X_RE.sub("", s)  # 5.
    return s


# ---------------------------------------------------------------------------
# Literal variants
# ---------------------------------------------------------------------------

_KEYVAL_WHOLE_RE = re.compile(r"[\w.-]+\s*=\s*.+")


def _variants(lit):
    n = _norm(lit)
    v = {n, n.replace(" = ", "="), n.replace("=", " = "), n.replace(" ", "")}
    if _KEYVAL_WHOLE_RE.fullmatch(n):
        k, val = n.split("=", 1)
        k = k.strip()
        val = val.strip()
        v.add(k + ": " + val)
        v.add('"' + k + '"' + ": " + val)
        v.add(k + ": '" + val + "'")
        v.add(k + ": " + '"' + val + '"')
        v.add('"' + k + '"' + ": " + '"' + val + '"')
    return [x for x in v if len(x) >= 2]


# ---------------------------------------------------------------------------
# Matching in texts
# ---------------------------------------------------------------------------

ADDITIVE_RE = re.compile(r"\b(add|added|adds|creat|new|introduc|set up|wrote|write|bump|enable|install)\w*", re.I)
VERIFY_NEGATED_RE = re.compile(r"\b(don'?t|do not|never|not|no|without|didn'?t|did not)\s+(?:\w+\s+){0,2}$", re.I)
_NON_WORD_RE = re.compile(r"[^\w]+")


def _check_texts(texts):
    if not isinstance(texts, (list, tuple)):
        raise TypeError("texts must be a list, not %s" % type(texts).__name__)
    for t in texts:
        if t is not None and not isinstance(t, str):
            raise TypeError("texts entries must be str or None, not %s" % type(t).__name__)


def _in(lit, texts):
    _need_str(lit, "lit")
    _check_texts(texts)
    vs = _variants(lit)
    for t in texts:
        if not t:
            continue
        nt = _norm(t)
        for v in vs:
            if v in nt:
                return True
    return False


def _tokens(lit):
    n = _norm(lit)
    return [p for p in _NON_WORD_RE.split(n) if len(p) >= 3 and not p.isdigit()]


def _words_in(lit, texts):
    _need_str(lit, "lit")
    _check_texts(texts)
    toks = _tokens(lit)
    if len(toks) < 2:
        return False
    for t in texts:
        if not t:
            continue
        nt = _norm(t)
        if all(k in nt for k in toks):
            return True
    return False


def _additive(text):
    _need_str(text, "text")
    for m in ADDITIVE_RE.finditer(text):
        if not VERIFY_NEGATED_RE.search(text[: m.start()]):
            return True
    return False


# ---------------------------------------------------------------------------
# Run log model
# ---------------------------------------------------------------------------

READ_TOOLS = frozenset({"read_file", "search_files", "skill_view"})
READ_CODE_RE = re.compile(r"\b(read_file|search_files|grep|cat |ls |find |head|tail|sqlite3\.connect|select )")
SHELL_WRITE_RE = re.compile(
    r"\b(sed -i|tee|>>?|cp|scp|mv|rsync|ln|install|chmod|touch|mkdir|git (?:commit|push|mv|rm)|rm|kill|pkill|systemctl|docker|pip|npm|apt)\b|<<"
)
_TERMINAL_READ_RE = re.compile(r"\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b")
_SEARCH_TOOL_RE = re.compile(r"\b(grep|rg|find)\b")


def _is_read(e):
    tool = e["tool"]
    if tool in READ_TOOLS:
        return True
    if tool == "terminal" and _TERMINAL_READ_RE.match(e["command"]):
        return True
    if tool == "execute_code" and READ_CODE_RE.search(e["command"]) and not SHELL_WRITE_RE.search(e["command"]):
        return True
    return False


def _writes(events):
    return [e["payload"] for e in events if e["wrote"]]


def _read_outs(events):
    return [e["output"] for e in events if _is_read(e)]


def _all_outs(events):
    return [e["output"] for e in events]


def _ext_args(external):
    # json.dumps with its defaults: ensure_ascii, ", " / ": ", insertion order,
    # NaN / Infinity / -Infinity, non-str keys 1, 1.5, true, null as strings.
    return [json.dumps(x["args"]) for x in external]


def _successful(rec):
    ec = rec["exit_code"]
    # null, then a number equal to zero (0, 0.0, -0.0, False), then exactly
    # the text "0" (a text never equals the number 0 in Python).
    return ec is None or ec == 0 or ec == "0"


def _ok_command_texts(commands):
    return [r["command"] for r in commands if _successful(r)]


def _empty_search(commands):
    for r in commands:
        if _SEARCH_TOOL_RE.search(r["command"]) and not r["output"].strip():
            return True
    return False


# ---------------------------------------------------------------------------
# Verdict computation
# ---------------------------------------------------------------------------

EMPTY_RE = re.compile(r"\b(0 hits?|no (?:hits|matches|results)|nothing found|returns? (?:nothing|empty)|empty)\b", re.I)
PREDICATE_RE = re.compile(
    r"\b(is|are|was|were|has|have|had|does|did|do|shows?|showed|logs?|logged|returns?|returned|throws?|threw|crash\w*|works?|worked|match\w*|equals?|reads?|comes?|came|goes|went|gets?|got|gives?|gave|contains?|includes?|means|needs?|takes?|took|uses?|used|renders?|reports?|prints?|says|said|looks?|appears?)\b",
    re.I,
)
_CODE_SPAN_RE = re.compile(r"`[^`]*`")

_UNCHECKED_SEP = " · unchecked: "


def _q(a):
    return "`" + a + "`"


def _exit_text(ec):
    # int -> decimal digits, str -> itself, float -> shortest repr, True -> "True"
    return str(ec)


def verify(claim, L):
    if type(claim) is not dict:
        raise TypeError("verify() argument 'claim' must be dict, not %s" % type(claim).__name__)
    if type(L) is not dict:
        raise TypeError("verify() argument 'L' must be dict, not %s" % type(L).__name__)
    # 1.
    kind = claim.get("kind", "other")
    text = claim.get("text", "")
    # 2.
    atoms = []
    for t in claim.get("targets", []):
        if not t:
            continue
        atoms.extend(_atoms(t if isinstance(t, str) else str(t)))
    # 3.
    atoms = [a for a in atoms if not (_kind_of(a) == "phrase" and len(a) < 4)]
    # 4.
    if not atoms:
        return ("unchecked", "nothing literal to check")
    # 5.
    bare = _CODE_SPAN_RE.sub(" ", text)
    # 6.
    is_mention = kind in ("other", "external_action", "mention") and not (
        WORK_VERB_RE.search(bare) or PREDICATE_RE.search(bare)
    )
    # 7.
    events = L["events"]
    writes = _writes(events)
    read_outs = _read_outs(events)
    all_outs = _all_outs(events)
    ext_args = _ext_args(L["external"])

    found, failed, read_only, missing = [], [], [], []
    # 8.
    for A in atoms:
        # 9.
        k = _kind_of(A)
        if k == "path":
            comps = [c for c in _norm(A).split("/") if c and c != "."]
            base = comps[-1] if comps else ""
        else:
            base = None
        lits = [A]
        if base is not None and len(base) >= 4:
            lits.append(base)
        in_write = any(_in(l, writes) for l in lits)
        if not in_write:
            written = L["written"]
            in_write = bool(base) and any(base in _norm(p) for p in written)
        cmds = [r for r in L["commands"] if any(_in(l, [r["command"]]) for l in lits)]
        cmd_ok = [r for r in cmds if _successful(r)]
        cmd_bad = [r for r in cmds if r not in cmd_ok]
        in_out = _in(A, all_outs)
        in_read = any(_in(l, read_outs) for l in lits)
        in_ext = any(_in(l, ext_args) for l in lits)
        # 10.
        if kind == "command_ran" and cmd_bad and not cmd_ok:
            failed.append(_q(A) + " ran but FAILED (exit " + _exit_text(cmd_bad[0]["exit_code"]) + ")")
        elif in_write:
            found.append(_q(A) + " in write")
        elif cmd_ok and (
            kind == "command_ran" or SHELL_WRITE_RE.search(cmd_ok[0]["command"]) or k in ("path", "key")
        ):
            found.append(_q(A) + " in command (exit ok)")
        elif in_ext:
            found.append(_q(A) + " in external action")
        elif in_out and kind != "file_changed":
            found.append(_q(A) + " in output")
        elif in_out and kind == "file_changed" and k in ("number", "phrase"):
            found.append(_q(A) + " in output")
        elif in_read and k in ("path", "key"):
            read_only.append(A)
        elif kind != "file_changed" and _words_in(A, _ok_command_texts(L["commands"])):
            found.append("words of " + _q(A) + " in command (exit ok)")
        elif kind != "file_changed" and _words_in(A, all_outs):
            found.append("words of " + _q(A) + " in output")
        elif (EMPTY_RE.search(A) or EMPTY_RE.search(text)) and _empty_search(L["commands"]):
            found.append("empty search result matches claim")
        else:
            missing.append(A)
    # 11.
    if failed:
        return ("contradicted", "; ".join(failed))
    if found:
        note = "; ".join(found)
        if read_only or missing:
            note += _UNCHECKED_SEP + ", ".join(_q(a) for a in read_only + missing)
        return ("verified", note)
    if read_only and _additive(text) and kind == "file_changed":
        return (
            "pre-existing",
            ", ".join(_q(a) for a in read_only)
            + " appears only in content the agent read; never in anything it wrote or ran",
        )
    if is_mention:
        return (
            "unchecked",
            "a mention, not a claim of work: " + ", ".join(_q(a) for a in read_only + missing) + " not in this turn's log",
        )
    if read_only:
        return (
            "unverified",
            ", ".join(_q(a) for a in read_only) + " seen only in read output; no write or command touched it",
        )
    return ("unverified", ", ".join(_q(a) for a in missing) + " not found in any write, command or output")


# ---------------------------------------------------------------------------
# Module-like namespaces with the system's names (parallel to the compiled ones)
# ---------------------------------------------------------------------------


class _Namespace:
    def __init__(self, name, members):
        self.__name__ = name
        self.__dict__.update(members)

    def __repr__(self):
        return "<reference namespace %s>" % self.__name__


extract_module = _Namespace(
    "reference.extract",
    dict(
        ABBR=ABBR,
        KINDS=KINDS,
        DATE_RE=DATE_RE,
        VERSION_RE=VERSION_RE,
        DIM_RE=DIM_RE,
        TIME_RE=TIME_RE,
        PATH_RE=PATH_RE,
        KEYVAL_RE=KEYVAL_RE,
        NUM_RE=EXTRACT_NUM_RE,
        CODE_RE=CODE_RE,
        NON_CLAIM_RE=NON_CLAIM_RE,
        INTENT_RE=INTENT_RE,
        WORK_VERB_RE=WORK_VERB_RE,
        IMPERATIVE_RE=IMPERATIVE_RE,
        RUN_VERB_RE=RUN_VERB_RE,
        EDIT_VERB_RE=EDIT_VERB_RE,
        NEGATED_RE=EXTRACT_NEGATED_RE,
        CMD_WORD_RE=CMD_WORD_RE,
        LLM_URL=LLM_URL,
        LLM_MODEL=LLM_MODEL,
        CLASSIFY_PROMPT=CLASSIFY_PROMPT,
        _strip_fences=_strip_fences,
        _sentences=_sentences,
        split_units=split_units,
        _tidy=_tidy,
        literal_targets=literal_targets,
        strong_kind=strong_kind,
        heuristic_kind=heuristic_kind,
        inspection_record=inspection_record,
        request_body=request_body,
        merge_classification=merge_classification,
        classify_units=classify_units,
        extract_claims=extract_claims,
    ),
)

verify_module = _Namespace(
    "reference.verify",
    dict(
        NUM_RE=VERIFY_NUM_RE,
        ADDITIVE_RE=ADDITIVE_RE,
        NEGATED_RE=VERIFY_NEGATED_RE,
        READ_TOOLS=READ_TOOLS,
        READ_CODE_RE=READ_CODE_RE,
        SHELL_WRITE_RE=SHELL_WRITE_RE,
        EMPTY_RE=EMPTY_RE,
        PREDICATE_RE=PREDICATE_RE,
        WORK_VERB_RE=WORK_VERB_RE,
        _clean=_clean,
        _atoms=_atoms,
        _kind_of=_kind_of,
        _norm=_norm,
        _variants=_variants,
        _in=_in,
        _tokens=_tokens,
        _words_in=_words_in,
        _additive=_additive,
        verify=verify,
    ),
)
