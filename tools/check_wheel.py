"""Checks a repaired wheel the way a user without build tools would meet it.

    python tools/check_wheel.py dist/wheel/vorlane_core-...-manylinux_....whl

1. the wheel has a manylinux tag and carries its libraries (PCRE2, libcurl
   and theirs) under vorlane_core.libs/; what takes the room is printed;
2. it installs, with no index and no build, into a fresh virtual environment
   made from the base interpreter;
3. the demo runs from there (`vorlane check` on examples/) and gives the
   summary the README shows;
4. in that environment the compiled modules load the bundled PCRE2 and
   libcurl, not the system's: read from the loader's own map
   (/proc/self/maps), and from `ldd` of each module.

Exits non-zero, saying why, on any failure.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUNDLED = ("libpcre2-8", "libcurl")  # must come from the wheel

PROBE = r"""
import json, sys
import vorlane_core.extract, vorlane_core.verify
maps = sorted({line.split()[-1] for line in open("/proc/self/maps") if ".so" in line.split()[-1]})
print(json.dumps({"maps": maps, "modules": [vorlane_core.extract.__file__, vorlane_core.verify.__file__]}))
"""


def fail(msg):
    sys.exit(f"check_wheel: {msg}")


def clean_env():
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "LD_LIBRARY_PATH", "LD_PRELOAD", "VIRTUAL_ENV", "PYTHONHOME")}
    env["PYTHONIOENCODING"] = "utf-8"
    return env


def run(cmd, **kw):
    out = subprocess.run(cmd, capture_output=True, text=True, env=clean_env(), **kw)
    return out


def describe(wheel):
    with zipfile.ZipFile(wheel) as z:
        infos = z.infolist()
    libs = [i for i in infos if ".libs/" in i.filename]
    print(f"{wheel.name}: {wheel.stat().st_size / 1e6:.1f} MB "
          f"({sum(i.file_size for i in infos) / 1e6:.1f} MB unpacked, {len(infos)} files)")
    print("largest members (compressed / unpacked, MB):")
    for i in sorted(infos, key=lambda i: i.compress_size, reverse=True)[:12]:
        print(f"  {i.compress_size / 1e6:6.2f} / {i.file_size / 1e6:6.2f}  {i.filename}")
    names = [Path(i.filename).name for i in libs]
    for lib in BUNDLED:
        if not any(n.startswith(lib) for n in names):
            fail(f"{lib} is not bundled in {wheel.name} (bundled: {names})")
    print(f"bundled libraries: {len(libs)}, {sum(i.compress_size for i in libs) / 1e6:.1f} MB compressed")


def main(argv):
    if len(argv) != 1:
        fail("usage: check_wheel.py WHEEL")
    wheel = Path(argv[0]).resolve()
    if not wheel.is_file():
        fail(f"no wheel at {wheel}")
    if "manylinux" not in wheel.name:
        fail(f"{wheel.name} has no manylinux tag (not repaired?)")
    describe(wheel)

    with tempfile.TemporaryDirectory(prefix="vorlane-wheel-") as tmp:
        venv = Path(tmp) / "venv"
        base = getattr(sys, "_base_executable", sys.executable)
        r = run([base, "-m", "venv", str(venv)])
        if r.returncode:
            fail(f"cannot make a virtual environment: {r.stderr}")
        py = venv / "bin" / "python"
        # The package from the wheel file itself; its pure-Python dependencies
        # (wcwidth) from the index, as any user's install gets them.
        r = run([str(py), "-m", "pip", "install", "-q", "--disable-pip-version-check", str(wheel)])
        if r.returncode:
            fail(f"the wheel does not install: {r.stdout}{r.stderr}")

        # The demo, from the fresh environment, in a directory of its own.
        work = Path(tmp) / "demo"
        work.mkdir()
        for name in ("report.md", "run.json"):
            (work / name).write_bytes((ROOT / "examples" / name).read_bytes())
        r = run([str(venv / "bin" / "vorlane"), "check", "report.md", "--log", "run.json"], cwd=work, timeout=300)
        summary = re.search(r"^\d+ claims: .*$", (ROOT / "README.md").read_text(encoding="utf-8"), re.M)
        lines = r.stdout.strip().splitlines()
        if r.returncode not in (0, 1) or not lines or summary is None or lines[-1] != summary.group(0):
            fail(f"the demo failed (exit {r.returncode}); last line {lines[-1:]!r}, README says "
                 f"{summary and summary.group(0)!r}\n{r.stderr}")
        print(f"demo from the fresh environment: {lines[-1]} (exit {r.returncode})")

        # Which libraries the loader mapped.
        r = run([str(py), "-c", PROBE], cwd=work)
        if r.returncode:
            fail(f"the modules do not load: {r.stderr}")
        probe = json.loads(r.stdout)
        site_libs = Path(probe["modules"][1]).parent.parent / "vorlane_core.libs"
        for lib in BUNDLED:
            mapped = [m for m in probe["maps"] if Path(m).name.startswith(lib)]
            if not mapped:
                fail(f"{lib} is not loaded at all: {probe['maps']}")
            outside = [m for m in mapped if Path(m).resolve().parent != site_libs.resolve()]
            if outside:
                fail(f"{lib} is loaded from outside the wheel: {outside}")
            print(f"loaded (maps): {', '.join(mapped)}")
        resolved = set()
        for module in probe["modules"]:
            r = run(["ldd", module])
            for lib in BUNDLED:
                found = re.findall(rf"^\s*{re.escape(lib)}\S* => (\S+)", r.stdout, re.M)
                if any(Path(f).resolve().parent != site_libs.resolve() for f in found):
                    fail(f"ldd {module}: {lib} does not resolve into {site_libs}: {found}\n{r.stdout}")
                if found:
                    resolved.add(lib)
                    print(f"ldd {Path(module).name}: {lib} => vorlane_core.libs/{Path(found[0]).name}")
        if resolved != set(BUNDLED):
            fail(f"ldd shows no module needing {sorted(set(BUNDLED) - resolved)}")
    print("wheel check: ok")


if __name__ == "__main__":
    main(sys.argv[1:])
