"""--format html in a real browser: headless Chromium loads the page, runs
its script, and what it shows is read back (the DOM and a screenshot)."""

import html.parser
import os
import re
import shutil
import struct
import subprocess
import zlib

import pytest

from format_checks import CORPUS_RUNS, REPORT, RUN, RUNS, VERDICTS, hostile_run, json_doc, vorlane, workdir  # noqa: F401

from vorlane_core.cli.formats.html_assets import COLOURS


@pytest.fixture(scope="module")
def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome", "google-chrome-stable"):
        path = shutil.which(name)
        if path:
            return path
    pytest.skip("no Chromium on PATH (Debian: apt-get install chromium)")


def browse(chromium, profile, url, *flags):
    # The browser is a tool here, not what is tested: it runs without the
    # sanitizer runtime that the ASan pass preloads into everything else.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    p = subprocess.run(
        [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
         f"--user-data-dir={profile}", "--virtual-time-budget=5000", *flags, url],
        capture_output=True, timeout=120, env=env,
    )
    assert p.returncode == 0, p.stderr.decode(errors="replace")[-2000:]
    return p.stdout.decode("utf-8")


class Dom(html.parser.HTMLParser):
    """Every element as (tag, attributes, text inside it)."""

    VOID = {"meta", "input", "br", "img", "link"}

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.elements, self.open = [], []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        el = [tag, dict(attrs), ""]
        self.elements.append(el)
        if tag not in self.VOID:
            self.open.append(el)

    def handle_endtag(self, tag):
        while self.open:
            if self.open.pop()[0] == tag:
                break

    def handle_data(self, data):
        for el in self.open:
            el[2] += data

    def find(self, tag, **attrs):
        return [e for e in self.elements if e[0] == tag and all(e[1].get(k.rstrip("_")) == v for k, v in attrs.items())]

    def classes(self, el):
        return set((el[1].get("class") or "").split())


def page(args, cwd, path):
    p = vorlane(*args, "--format", "html", cwd=cwd)
    assert p.returncode in (0, 1, 2) and b"Traceback" not in p.stderr
    path.write_bytes(p.stdout)
    return p.stdout.decode("utf-8")


def png_pixels(data):
    """The set of (r, g, b) colours of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + n]
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    width, height, depth, ctype, _, _, interlace = ihdr
    assert depth == 8 and ctype in (2, 6) and interlace == 0
    bpp = 3 if ctype == 2 else 4
    raw, stride, prev, colours = zlib.decompress(idat), width * bpp, bytearray(width * bpp), set()
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        colours.update(bytes(line[i : i + 3]) for i in range(0, stride, bpp * 4))
        prev = line
    return colours


def rgb(hex_colour):
    return bytes.fromhex(hex_colour[1:])


def test_example_page(chromium, tmp_path, workdir):
    src = page([REPORT, "--log", RUN], workdir, tmp_path / "view.html")
    doc = json_doc([REPORT, "--log", RUN], workdir)
    # Self-contained: nothing to fetch, and the page forbids fetching.
    assert not re.search(r"<link|@import|url\(|\b(?:src|href)=\"(?!#)", src)
    assert "default-src 'none'" in src
    dom = Dom(browse(chromium, tmp_path / "profile", (tmp_path / "view.html").as_uri(), "--dump-dom"))
    (body,) = dom.find("body")
    assert body[1].get("data-ready") == "yes"  # the script ran
    marks = [m for m in dom.find("mark") if "claim" in dom.classes(m)]
    assert [m[1]["data-verdict"] for m in marks] == [c["verdict"] for c in doc["claims"]]
    for m, c in zip(marks, doc["claims"]):
        tip = next(e for e in dom.elements if e[0] == "span" and e[2] and e[2] in m[2] and "tip" in dom.classes(e))
        shown = m[2][: len(m[2]) - len(tip[2])]
        assert re.sub(r"[\s*]", "", shown) == re.sub(r"[\s*]", "", c["text"])
        assert c["note"] in tip[2] and c["verdict"] in tip[2]
        for e in c["evidence"]:  # each literal with where the log had it
            assert f"{e.get('literal', '—')}: {e['where']}" in tip[2]
    summary = " ".join(dom.find("p", class_="summary")[0][2].split())
    assert f"{doc['summary']['total']} claims" in summary and "fails --fail-on contradicted" in summary
    assert all(f"{doc['summary'][v]} {v}" in summary for v in VERDICTS)
    assert "## Summary" in dom.find("pre", class_="report")[0][2]  # the report as written


def test_filters_and_screenshot(chromium, tmp_path, workdir):
    page([REPORT, "--log", RUN], workdir, tmp_path / "view.html")
    url = (tmp_path / "view.html").as_uri()
    dom = Dom(browse(chromium, tmp_path / "profile", url + "#only=contradicted,unverified", "--dump-dom"))
    (body,) = dom.find("body")
    assert dom.classes(body) == {"hide-verified", "hide-unchecked", "hide-pre-existing"}
    items = [e for e in dom.find("li") if "claim" in dom.classes(e)]
    assert items and all(("hidden" in e[1]) == (e[1]["data-verdict"] not in ("contradicted", "unverified")) for e in items)
    # What is drawn: every verdict's highlight colour is on the screen.
    shot = tmp_path / "view.png"
    browse(chromium, tmp_path / "profile", url + "#open=c1-7", f"--screenshot={shot}", "--window-size=1200,1000")
    colours = png_pixels(shot.read_bytes())
    assert {v for v, (hl, _) in COLOURS.items() if rgb(hl) in colours} == set(VERDICTS)


def test_batch_page(chromium, tmp_path, workdir):
    batches = [RUNS] + ([CORPUS_RUNS] if CORPUS_RUNS.is_dir() else [])
    for n, runs in enumerate(batches):
        path = tmp_path / f"batch{n}.html"
        page(["--runs", runs], workdir, path)
        doc = json_doc(["--runs", runs], workdir)
        dom = Dom(browse(chromium, tmp_path / "profile", path.as_uri(), "--dump-dom"))
        sections = [e for e in dom.find("section") if "run" in dom.classes(e)]
        assert len(sections) == len(doc["runs"])
        index = dom.find("nav", class_="index")[0][2]
        rows = [e for e in dom.find("a") if e[1].get("href", "").startswith("#run-")]
        assert [e[2] for e in rows] == [r["name"] for r in doc["runs"]] and all(r["name"] in index for r in doc["runs"])
        for sec, run in zip(sections, doc["runs"]):
            if "error" in run:
                assert "could not be checked" in sec[2] and run["error"] in sec[2]
        marks = [m for m in dom.find("mark") if "claim" in dom.classes(m)]
        assert len(marks) == sum(len(r.get("claims", ())) for r in doc["runs"])


def test_hostile_report_stays_text(chromium, tmp_path, workdir):
    page(["--log", hostile_run(tmp_path)], workdir, tmp_path / "h.html")
    dom = Dom(browse(chromium, tmp_path / "profile", (tmp_path / "h.html").as_uri(), "--dump-dom"))
    assert len(dom.find("script")) == 1  # only the page's own
    report = dom.find("pre", class_="report")[0][2]
    assert "<script>alert(1)</script>" in report
    assert "\u202e" not in report and "\\u202e" in report and "\\x1b" in report and "\\ud800" in report
    assert "設定/ファイル.toml" in report and "🚀" in report
