"""Types that check and functions that describe themselves.

- every compiled function has a real signature (inspect.signature) that
  agrees with its type stub, and help() lists it under FUNCTIONS;
- the record types are importable at run time, from vorlane_core.types and
  from the modules that deal in them;
- the README's library example runs, and passes ``mypy --strict`` and
  pyright (strict) against the installed package;
- ``mypy.stubtest`` finds the stubs in agreement with the modules.

The type checkers are tools, not dependencies: a test that needs one skips
when it is not installed (``make test`` installs them).
"""

import ast
import inspect
import os
import pydoc
import re
import shutil
import subprocess
import sys
import typing
from pathlib import Path

import pytest

from conftest import REPO, child_env

import vorlane_core.extract as X
import vorlane_core.verify as V
from vorlane_core import types as T

MODULES = {"vorlane_core.extract": X, "vorlane_core.verify": V}


def _stub_path(module):
    f = Path(module.__file__)  # the compiled module: NAME.cpython-...so or NAME/__init__.cpython-...so
    if f.name.startswith("__init__."):
        return f.parent / "__init__.pyi"
    return f.parent / (module.__name__.rpartition(".")[2] + ".pyi")


def _stub_functions(module):
    """{name: ast.FunctionDef} of the module's stub."""
    tree = ast.parse(_stub_path(module).read_text(encoding="utf-8"))
    return {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}


STUB_FUNCTIONS = [(m, name, node) for m in MODULES.values() for name, node in _stub_functions(m).items()]


@pytest.mark.parametrize("module, name, stub", STUB_FUNCTIONS, ids=[f"{m.__name__}.{n}" for m, n, _ in STUB_FUNCTIONS])
def test_signature_agrees_with_the_stub(module, name, stub):
    sig = inspect.signature(getattr(module, name))
    a = stub.args
    assert list(sig.parameters) == [p.arg for p in a.posonlyargs + a.args + a.kwonlyargs]
    with_default = [p for p in sig.parameters.values() if p.default is not inspect.Parameter.empty]
    assert len(with_default) == len(a.defaults) + sum(d is not None for d in a.kw_defaults)


@pytest.mark.parametrize("module", MODULES.values(), ids=MODULES.keys())
def test_help_lists_the_functions(module):
    text = pydoc.render_doc(module, renderer=pydoc.plaintext)
    functions = text[text.index("FUNCTIONS"):text.index("DATA")]
    for name in _stub_functions(module):
        if not name.startswith("_"):
            assert re.search(rf"^    {name}\(", functions, re.M), name


def test_signatures_name_the_record_types():
    assert "Claim" in str(inspect.signature(X.extract_claims).return_annotation)
    assert "UnitRecord" in str(inspect.signature(X.classify_units).return_annotation)
    assert inspect.signature(X.extract_claims).parameters["use_llm"].default is True
    assert list(inspect.signature(V.verify).parameters) == ["claim", "L"]


REPORT = "Ran `pytest -q`: 3 passed. Updated `config.yaml` to set timeout=30."


@pytest.mark.parametrize("call, same", [
    # The same call made positionally, by keyword and with the default left out.
    (lambda: X.extract_claims(final=REPORT, use_llm=False), lambda: X.extract_claims(REPORT, False)),
    (lambda: X.literal_targets(unit=REPORT), lambda: X.literal_targets(REPORT)),
    (lambda: X._tidy(x="(a.py))"), lambda: X._tidy("(a.py))")),
    (lambda: V._in(lit="a.py", texts=["x a.py"]), lambda: V._in("a.py", ["x a.py"])),
])
def test_faces_pass_arguments_on(call, same):
    assert call() == same()


@pytest.mark.parametrize("call, message", [
    (lambda: X.split_units(), "missing 1 required positional argument: 'final'"),
    (lambda: X.split_units(REPORT, REPORT), "takes 1 positional argument but 2 were given"),
    (lambda: X.split_units(text=REPORT), "unexpected keyword argument 'text'"),
    (lambda: X.split_units(3), "final must be str, not int"),
])
def test_faces_refuse_what_the_compiled_function_refuses(call, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        call()


@pytest.mark.parametrize(
    "module, name",
    [(X, "Claim"), (X, "UnitRecord"), (V, "Claim"), (V, "RunLog"), (T, "Event"), (T, "Command")],
)
def test_record_types_at_run_time(module, name):
    cls = getattr(module, name)
    assert cls is getattr(T, name)
    assert typing.is_typeddict(cls)


def test_claims_have_the_claim_keys():
    claims = X.extract_claims("Ran `pytest -q`: 3 passed. Updated `config.yaml` to set timeout=30.", use_llm=False)
    assert claims
    hints = typing.get_type_hints(T.Claim)
    for c in claims:
        assert set(c) == set(hints)
        assert all(isinstance(c[k], typing.get_origin(t) or t) for k, t in hints.items())


def readme_example():
    text = (REPO / "README.md").read_text(encoding="utf-8")
    section = text[text.index("## Library"):]
    section = section[:section.index("\n## ", 1)]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert len(blocks) >= 1
    return "\n".join(blocks)


@pytest.fixture(scope="module")
def example_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("readme") / "example.py"
    path.write_text(readme_example(), encoding="utf-8")
    return path


def test_readme_example_runs(example_file):
    out = subprocess.run([sys.executable, str(example_file)], cwd=REPO, env=child_env(), capture_output=True,
                         text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines()[0].split()[0] in ("verified", "unverified", "contradicted", "unchecked",
                                                      "pre-existing")


def _static_env():
    # The checkers import nothing of the package: no sanitizer runtime.
    env = child_env()
    env.pop("LD_PRELOAD", None)
    return env


def test_readme_example_passes_mypy_strict(example_file):
    pytest.importorskip("mypy", reason="mypy not installed")
    out = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable",
                          sys.executable, str(example_file)], cwd=example_file.parent, env=_static_env(),
                         capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stdout + out.stderr


def test_readme_example_passes_pyright(example_file):
    pyright = shutil.which("pyright", path=os.path.dirname(sys.executable)) or shutil.which("pyright")
    if pyright is None:
        pytest.skip("pyright not installed")
    (example_file.parent / "pyrightconfig.json").write_text('{"typeCheckingMode": "strict"}')
    out = subprocess.run([pyright, "--pythonpath", sys.executable, str(example_file)], cwd=example_file.parent,
                         env=_static_env(), capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stdout + out.stderr


def test_stubs_agree_with_the_modules():
    pytest.importorskip("mypy", reason="mypy not installed")
    out = subprocess.run([sys.executable, "-m", "mypy.stubtest", "vorlane_core.extract", "vorlane_core.verify"],
                         cwd=Path(__file__).parent, env=child_env(), capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stdout + out.stderr
