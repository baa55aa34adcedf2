"""The style sheet and script inlined in every page of ``--format html``
(one self-contained file: nothing is fetched)."""

# No network at all: only inline style and script, images as data: URLs.
CSP = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:"

COLOURS = {
    # verdict: (highlight, accent)
    "verified": ("#d3f5dc", "#1a7f37"),
    "unverified": ("#fff1b8", "#9a6700"),
    "contradicted": ("#ffd5d3", "#cf222e"),
    "unchecked": ("#e8eaed", "#57606a"),
    "pre-existing": ("#d2f1f9", "#0969da"),
}

_VERDICT_CSS = "\n".join(
    f".v-{v} {{ --hl: {hl}; --accent: {accent}; }}\n"
    f"body.hide-{v} mark.v-{v} {{ background: none; border-bottom-color: transparent; }}"
    for v, (hl, accent) in COLOURS.items()
)

CSS = """
:root { color-scheme: light; }
* { box-sizing: border-box; }
body { margin: 0; font: 15px/1.5 system-ui, -apple-system, "Segoe UI", sans-serif; color: #1f2328;
       background: #f6f8fa; display: flex; flex-direction: column; }
header.top { order: -2; background: #fff; border-bottom: 1px solid #d0d7de; padding: 12px 20px;
             position: sticky; top: 0; z-index: 20; }
nav.index { order: -1; background: #fff; margin: 12px 20px 0; padding: 8px 16px; border: 1px solid #d0d7de;
            border-radius: 6px; }
nav.index table { border-collapse: collapse; width: 100%; }
nav.index td, nav.index th { padding: 2px 8px; text-align: right; }
nav.index td:first-child, nav.index th:first-child { text-align: left; }
h1 { font-size: 18px; margin: 0 0 6px; }
h2 { font-size: 16px; margin: 0 0 8px; }
.status { font-weight: 600; padding: 1px 8px; border-radius: 10px; color: #fff; }
.status.fail { background: #cf222e; } .status.pass { background: #1a7f37; }
.chip { display: inline-block; padding: 0 8px; margin: 2px 4px 2px 0; border-radius: 10px;
        background: var(--hl); border: 1px solid var(--accent); color: #1f2328; }
.filters label { margin-right: 10px; cursor: pointer; white-space: nowrap; }
section.run { background: #fff; margin: 12px 20px; padding: 12px 16px; border: 1px solid #d0d7de;
              border-radius: 6px; }
pre.report { white-space: pre-wrap; overflow-wrap: anywhere; font: 14px/1.6 ui-monospace, "DejaVu Sans Mono",
             monospace; background: #fcfcfd; border: 1px solid #eaeef2; border-radius: 6px; padding: 12px;
             margin: 0 0 12px; }
mark.claim { background: var(--hl); border-bottom: 2px solid var(--accent); padding-bottom: 2px; color: inherit; cursor: pointer;
             position: relative; border-radius: 2px; }
mark.claim .tip { display: none; position: absolute; left: 0; top: 100%; z-index: 10; width: min(34em, 80vw);
                  white-space: normal; font: 13px/1.45 system-ui, sans-serif; background: #fff; color: #1f2328;
                  border: 1px solid var(--accent); border-left-width: 4px; border-radius: 6px; padding: 6px 10px;
                  box-shadow: 0 4px 12px rgba(0,0,0,.15); }
mark.claim:hover .tip, mark.claim:focus .tip, mark.claim.open .tip { display: block; }
.tip b, li.claim b { color: var(--accent); }
.esc { color: #cf222e; background: #fff0f0; border-radius: 2px; }
ol.claims { margin: 0; padding-left: 28px; }
li.claim { margin: 3px 0; border-left: 4px solid var(--accent); padding-left: 8px; }
li.claim .note { color: #57606a; }
.error { color: #cf222e; font-weight: 600; }
""" + _VERDICT_CSS

# Filters by verdict (``#only=contradicted,unverified`` in the address picks
# them too); ``#open=ID`` opens the note of one claim.
JS = """
(function () {
  var boxes = document.querySelectorAll('input[data-verdict]');
  function apply() {
    boxes.forEach(function (b) {
      var v = b.getAttribute('data-verdict');
      document.body.classList.toggle('hide-' + v, !b.checked);
      document.querySelectorAll('li.claim[data-verdict="' + v + '"]').forEach(function (li) { li.hidden = !b.checked; });
    });
  }
  var only = /[#&]only=([\\w,-]*)/.exec(location.hash);
  if (only) {
    var keep = only[1].split(',');
    boxes.forEach(function (b) { b.checked = keep.indexOf(b.getAttribute('data-verdict')) >= 0; });
  }
  boxes.forEach(function (b) { b.addEventListener('change', apply); });
  apply();
  document.querySelectorAll('mark.claim').forEach(function (m) {
    m.addEventListener('click', function () { m.classList.toggle('open'); });
  });
  var open = /[#&]open=([\\w-]+)/.exec(location.hash);
  if (open) {
    var m = document.getElementById(open[1]);
    if (m) { m.classList.add('open'); }
  }
  document.body.setAttribute('data-ready', 'yes');
})();
"""
