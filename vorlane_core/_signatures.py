"""Python-level faces of the compiled modules' functions.

A nanobind function object is neither a Python function nor a builtin, so
``help()`` files it under DATA and ``inspect.signature()`` cannot read its
parameters.  Each compiled module calls :func:`expose` at the end of its
initialisation: every function becomes a thin Python function that calls the
compiled one, with the compiled one's name, documentation and a real
signature (read from the nanobind signature, which the bindings write in
the same terms as the type stubs).  The record types the module deals in are
attached too, so that ``from vorlane_core.extract import Claim`` works.
"""

from __future__ import annotations

import ast
import inspect
import keyword
import re
from types import ModuleType
from typing import Any, Callable

from vorlane_core import types as _types

# The record types each module exposes (the stubs re-export the same names).
_RECORD_TYPES = {
    "vorlane_core.extract": ("Claim", "UnitRecord", "ModelLimits"),
    "vorlane_core.verify": ("Claim", "RunLog"),
}


def _is_compiled_function(obj: object) -> bool:
    t = type(obj)
    return t.__name__ == "nb_func" and t.__module__ == "nanobind"


_PLACEHOLDER = re.compile(r"\\(\d+)")  # nanobind's "= \0": the value is defaults[0]


class _Expression:
    """A default known only by its text; shown as that text."""

    def __init__(self, text: str) -> None:
        self.text = text

    def __repr__(self) -> str:
        return self.text


def _default(node: ast.expr, defaults: tuple[object, ...]) -> object:
    if isinstance(node, ast.Name) and node.id.startswith("_nb_default_"):
        return defaults[int(node.id.removeprefix("_nb_default_"))]
    try:
        return ast.literal_eval(node)
    except ValueError:
        return _Expression(ast.unparse(node))


def signature_of(func: Any) -> inspect.Signature | None:
    """The signature in ``func.__nb_signature__``, or None for an
    overloaded function or one whose signature cannot be read."""
    entries: tuple[tuple[str, str | None, tuple[object, ...] | None], ...] = getattr(func, "__nb_signature__", ())
    if len(entries) != 1:
        return None
    text, _doc, defaults = entries[0]
    try:
        node = ast.parse(_PLACEHOLDER.sub(r"_nb_default_\1", text) + ": ...").body[0]
    except SyntaxError:
        return None
    if not isinstance(node, ast.FunctionDef):
        return None
    a = node.args

    def annotation(n: ast.expr | None) -> object:
        return inspect.Parameter.empty if n is None else ast.unparse(n)

    params = []
    positional = a.posonlyargs + a.args
    first_default = len(positional) - len(a.defaults)
    for i, arg in enumerate(positional):
        kind = inspect.Parameter.POSITIONAL_ONLY if i < len(a.posonlyargs) else inspect.Parameter.POSITIONAL_OR_KEYWORD
        default = _default(a.defaults[i - first_default], defaults or ()) if i >= first_default else inspect.Parameter.empty
        params.append(inspect.Parameter(arg.arg, kind, default=default, annotation=annotation(arg.annotation)))
    if a.vararg:
        params.append(inspect.Parameter(a.vararg.arg, inspect.Parameter.VAR_POSITIONAL,
                                        annotation=annotation(a.vararg.annotation)))
    for arg, d in zip(a.kwonlyargs, a.kw_defaults):
        default = inspect.Parameter.empty if d is None else _default(d, defaults or ())
        params.append(inspect.Parameter(arg.arg, inspect.Parameter.KEYWORD_ONLY, default=default,
                                        annotation=annotation(arg.annotation)))
    if a.kwarg:
        params.append(inspect.Parameter(a.kwarg.arg, inspect.Parameter.VAR_KEYWORD,
                                        annotation=annotation(a.kwarg.annotation)))
    return inspect.Signature(params, return_annotation=annotation(node.returns))


def _forwarder(func: Any, sig: inspect.Signature) -> Callable[..., Any]:
    """A Python function with exactly the parameters of `sig` that passes
    them on to `func`.  Written out parameter by parameter, the call costs
    about a third of one through ``*args, **kwargs``; a signature that
    cannot be written so (``*args``, ``**kwargs``, a default known only by
    its text) gets the generic forwarder."""
    params, passed, env = [], [], {"_func": func}
    star_done = False
    plist = list(sig.parameters.values())
    for i, p in enumerate(plist):
        if (p.kind in (p.VAR_POSITIONAL, p.VAR_KEYWORD) or not p.name.isidentifier()
                or keyword.iskeyword(p.name) or p.name.startswith("_")):
            break
        text = p.name
        if p.default is not p.empty:
            if isinstance(p.default, _Expression):
                break
            env[f"_d{i}"] = p.default
            text += f"=_d{i}"
        if p.kind is p.KEYWORD_ONLY:
            if not star_done:
                params.append("*")
                star_done = True
            passed.append(f"{p.name}={p.name}")
        else:
            passed.append(p.name)
        params.append(text)
        if p.kind is p.POSITIONAL_ONLY and (i + 1 == len(plist) or plist[i + 1].kind is not p.POSITIONAL_ONLY):
            params.append("/")
    else:
        src = f"def _face({', '.join(params)}):\n    return _func({', '.join(passed)})\n"
        exec(src, env)  # the text is made of identifiers checked above and names bound in env
        return env["_face"]  # type: ignore[no-any-return]

    def face(*args: Any, **kwargs: Any) -> Any:
        return func(*args, **kwargs)
    return face


def _face(func: Any, module: str) -> Callable[..., Any] | None:
    sig = signature_of(func)
    if sig is None:
        return None
    face = _forwarder(func, sig)
    face.__name__ = face.__qualname__ = func.__name__
    face.__module__ = module
    face.__doc__ = func.__nb_signature__[0][1]
    face.__signature__ = sig  # type: ignore[attr-defined]
    face.__wrapped__ = func  # type: ignore[attr-defined]
    return face


def expose(module: ModuleType) -> None:
    """Gives every compiled function of `module` its Python face, and
    attaches the module's record types."""
    for name, obj in list(vars(module).items()):
        if _is_compiled_function(obj):
            face = _face(obj, module.__name__)
            if face is not None:
                setattr(module, name, face)
    for name in _RECORD_TYPES.get(module.__name__, ()):
        setattr(module, name, getattr(_types, name))
