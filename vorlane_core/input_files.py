"""Reading the command's input files: regular files and standard input only,
each with a size limit.

A path that names anything else (a FIFO, ``/dev/zero``, a socket, or a link to
one of them) is refused before anything is read from it, so that no input can
hang the command or feed it without end.  Standard input is ``-``, or any
path that opens the very file standard input is (``/dev/stdin``).

The limit (:func:`max_input_bytes`) is 512 MiB unless ``--max-input-mb`` or
the environment variable ``VORLANE_MAX_INPUT_MB`` says otherwise: far above
any real session, low enough that a stray disk image is refused at once
rather than read.  A regular file larger than the limit is refused from its
size alone; standard input is read until the limit is passed.
"""

from __future__ import annotations

import math
import os
import re
import stat
from typing import BinaryIO, Iterator

__all__ = [
    "InputError",
    "DEFAULT_MAX_INPUT_MB",
    "MAX_INPUT_ENV",
    "STDIN",
    "max_input_bytes",
    "open_input",
    "read_input",
    "read_lines",
    "line_spans",
    "read_span",
    "line_too_long",
]

DEFAULT_MAX_INPUT_MB = 512
MAX_INPUT_ENV = "VORLANE_MAX_INPUT_MB"
STDIN = "-"
_CHUNK = 1 << 20


class InputError(Exception):
    """An input that cannot be used; ``str(error)`` is the message to show."""


def max_input_bytes(mb: float | None = None) -> int:
    """The read limit in bytes: ``mb`` MiB when given, else $VORLANE_MAX_INPUT_MB, else 512 MiB."""
    if mb is None:
        text = os.environ.get(MAX_INPUT_ENV, "").strip()
        if not text:
            return DEFAULT_MAX_INPUT_MB << 20
        try:
            mb = float(text)
        except ValueError:
            raise InputError(f"{MAX_INPUT_ENV}: expected a number of MiB, got {text!r}") from None
        where = MAX_INPUT_ENV
    else:
        where = "--max-input-mb"
    if not (math.isfinite(mb) and mb > 0):
        raise InputError(f"{where}: expected a positive number of MiB, got {mb:g}")
    return max(1, math.ceil(mb * (1 << 20)))


def _mib(n: int) -> str:
    mib = n / (1 << 20)
    return f"{mib:.0f} MiB" if mib >= 100 else f"{mib:.3g} MiB"


def _too_large(name: str, limit: int, size: int | None) -> InputError:
    what = f"{_mib(size)}, " if size is not None else ""
    return InputError(
        f"{name}: too large ({what}more than the input limit of {_mib(limit)}); "
        f"raise the limit with --max-input-mb or {MAX_INPUT_ENV}"
    )


def _kind(mode: int) -> str:
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISCHR(mode):
        return "a character device"
    if stat.S_ISBLK(mode):
        return "a block device"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "not a regular file"


def _is_stdin(st: os.stat_result) -> bool:
    try:
        s0 = os.fstat(0)
    except OSError:
        return False
    return (s0.st_dev, s0.st_ino) == (st.st_dev, st.st_ino)


def _refused(name: str, mode: int) -> InputError:
    return InputError(f"{name}: not a regular file ({_kind(mode)}); give a file, or - for standard input")


def open_input(path: str, name: str | None = None) -> tuple[BinaryIO, int | None]:
    """``path`` opened for binary reading, and its size (None for standard input).

    Opening never blocks: a FIFO is opened without waiting for a writer and
    then refused, like every other file that is not a regular one."""
    name = name or path
    if path == STDIN:
        try:
            return os.fdopen(os.dup(0), "rb"), None
        except OSError:
            raise InputError("standard input is closed") from None
    flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)
    try:
        fd = os.open(path, flags)
    except FileNotFoundError:
        raise InputError(f"{name}: no such file") from None
    except IsADirectoryError:
        raise InputError(f"{name}: is a directory, not a file") from None
    except PermissionError:
        raise InputError(f"{name}: permission denied") from None
    except OSError as e:
        try:  # a socket cannot be opened at all: say what it is
            mode = os.stat(path).st_mode
        except OSError:
            mode = stat.S_IFREG
        if not stat.S_ISREG(mode):
            raise _refused(name, mode) from None
        raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
    try:
        st = os.fstat(fd)
        if stat.S_ISDIR(st.st_mode):
            raise InputError(f"{name}: is a directory, not a file")
        size: int | None = st.st_size
        if not stat.S_ISREG(st.st_mode):
            if not _is_stdin(st):
                raise _refused(name, st.st_mode)
            size = None
        try:
            os.set_blocking(fd, True)
        except (AttributeError, OSError):
            pass
        return os.fdopen(fd, "rb"), size
    except BaseException:
        os.close(fd)
        raise


def read_input(path: str, max_bytes: int, name: str | None = None) -> bytes:
    """The bytes of ``path`` (see :func:`open_input`); InputError when there
    are more than ``max_bytes``."""
    name = name or path
    f, size = open_input(path, name)
    with f:
        if size is not None and size > max_bytes:
            raise _too_large(name, max_bytes, size)
        try:
            # A regular file comes in one read of its size (one allocation);
            # what follows only catches a file that grew meanwhile.
            first = f.read(size + 1 if size is not None else min(_CHUNK, max_bytes + 1))
            chunks, total = [first], len(first)
            while total <= max_bytes:
                chunk = f.read(min(_CHUNK, max_bytes + 1 - total))
                if not chunk:
                    break
                chunks.append(chunk)
                total += len(chunk)
        except OSError as e:
            raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
    if total > max_bytes:
        raise _too_large(name, max_bytes, size if size is not None and size > max_bytes else None)
    return chunks[0] if len(chunks) == 1 else b"".join(chunks)


def read_lines(path: str, max_bytes: int, name: str | None = None) -> Iterator[tuple[int, bytes | None]]:
    """The lines of ``path`` one at a time, numbered from 1, without their
    line ends; ``None`` in place of a line longer than ``max_bytes`` (which
    is skipped without being kept)."""
    name = name or path
    f, _ = open_input(path, name)
    with f:
        n = 0
        try:
            while True:
                line = f.readline(max_bytes + 1)
                if not line:
                    return
                n += 1
                if line.endswith(b"\n"):
                    yield n, line[:-1]
                elif len(line) <= max_bytes:
                    yield n, line  # the last line, with no line end
                else:
                    while True:
                        rest = f.readline(_CHUNK)
                        if not rest or rest.endswith(b"\n"):
                            break
                    yield n, None
        except OSError as e:
            raise InputError(f"{name}: cannot read: {e.strerror or e}") from None


_CONTENT = re.compile(rb"[^ \t\n\r\x0b\x0c]")  # what bytes.strip() keeps


def line_spans(path: str, name: str | None = None) -> Iterator[tuple[int, int, int, bool]]:
    """(number from 1, offset, length, blank) of each line of the regular
    file ``path``, line ends left out; the lines themselves are not kept, so
    that the process that lists them need not copy them (see :func:`read_span`)."""
    name = name or path
    f, size = open_input(path, name)
    with f:
        if size is None:
            raise InputError(f"{name}: standard input has no line offsets")
        n = start = offset = 0  # line number, where the current line starts, where the block starts
        content = False  # the current line holds more than white space
        try:
            while True:
                block = f.read(_CHUNK)
                if not block:
                    break
                pos = 0
                while True:
                    nl = block.find(b"\n", pos)
                    end = len(block) if nl < 0 else nl
                    content = content or _CONTENT.search(block, pos, end) is not None
                    if nl < 0:
                        break
                    n += 1
                    yield n, start, offset + nl - start, not content
                    start, content, pos = offset + nl + 1, False, nl + 1
                offset += len(block)
        except OSError as e:
            raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
        if start < offset:
            yield n + 1, start, offset - start, not content


def read_span(path: str, offset: int, length: int, name: str | None = None) -> bytes:
    """The ``length`` bytes of the regular file ``path`` at ``offset`` (a line
    found by :func:`line_spans`)."""
    name = name or path
    f, _ = open_input(path, name)
    with f:
        try:
            f.seek(offset)
            data = f.read(length)
        except OSError as e:
            raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
    if len(data) != length:
        raise InputError(f"{name}: the file changed while it was being read")
    return data


def line_too_long(name: str, max_bytes: int) -> str:
    """The message for a line that :func:`read_lines` skipped."""
    return str(_too_large(name, max_bytes, None))
