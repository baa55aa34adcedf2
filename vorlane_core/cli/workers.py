"""Worker processes for a batch: items handled in parallel, results handed
back in input order, with a bounded number of items in flight.

Processes rather than threads: reading a run's JSON and handing its log to
the compiled checker hold the GIL for about half of a run's time, so
threads cannot use a second core.  Processes also keep the command in
charge: a worker that crashes costs one result (``on_failure``), not the
batch, and an interrupted batch kills its workers instead of waiting for
them (a model request in flight may take minutes).

Each worker holds at most one item at a time; items are taken from the
input iterator only as workers free up, and at most ``window`` items are
between being taken and being handed back (finished results wait for the
slowest earlier item), so memory stays flat however many items there are.
"""

from __future__ import annotations

import multiprocessing
import multiprocessing.connection
import signal
import sys
import threading
from typing import Any, Callable, Iterable, Iterator

__all__ = ["OrderedPool"]

_SIGINT = {signal.SIGINT} if hasattr(signal, "pthread_sigmask") else set()


def _serve(conn: Any, fn: Callable[[Any], Any]) -> None:
    # Ctrl-C reaches the whole process group: the parent decides what to do.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if _SIGINT:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, _SIGINT)
    while True:
        try:
            msg = conn.recv()
        except (EOFError, OSError):
            return
        if msg is None:
            return
        seq, item = msg
        try:
            reply = (seq, True, fn(item))
        except BaseException as e:  # a fault of the checker: one failed item
            reply = (seq, False, f"{type(e).__name__}: {e}")
        conn.send(reply)


def _context() -> Any:
    # fork is cheapest (the checker is already loaded) and safe while this
    # process has a single thread; otherwise start workers afresh.
    if sys.platform.startswith("linux") and threading.active_count() == 1:
        return multiprocessing.get_context("fork")
    if "forkserver" in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("forkserver")
    return multiprocessing.get_context("spawn")


class _Worker:
    def __init__(self, ctx: Any, fn: Callable[[Any], Any]):
        self.conn, child = ctx.Pipe(duplex=True)
        self.proc = ctx.Process(target=_serve, args=(child, fn), daemon=True)
        # Blocked until the worker ignores it, so that a Ctrl-C cannot reach
        # a worker that has not yet set its handler.
        if _SIGINT:
            signal.pthread_sigmask(signal.SIG_BLOCK, _SIGINT)
        try:
            self.proc.start()
        finally:
            if _SIGINT:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, _SIGINT)
        child.close()
        self.task: tuple[int, Any] | None = None

    def give(self, seq: int, item: Any) -> None:
        self.task = (seq, item)
        self.conn.send((seq, item))


class OrderedPool:
    """``fn`` over items in up to ``workers`` processes; see :meth:`map`.

    ``fn`` must be a module-level function (it may be sent to a fresh
    interpreter).  ``start_method`` overrides the choice of fork (when this
    process has one thread) or forkserver.  When ``fn`` raises, or the worker dies while holding an
    item, that item's result is ``on_failure(item, why)``."""

    def __init__(
        self,
        fn: Callable[[Any], Any],
        on_failure: Callable[[Any, str], Any],
        workers: int,
        window: int | None = None,
        start_method: str | None = None,
    ):
        self.fn, self.on_failure = fn, on_failure
        self.max_workers = max(1, workers)
        self.window = max(self.max_workers, window or 4 * self.max_workers)
        self._ctx = multiprocessing.get_context(start_method) if start_method else _context()
        self._workers: list[_Worker] = []

    def map(self, items: Iterable[Any]) -> Iterator[Any]:
        """The result of each item, in the order of ``items``."""
        it = iter(items)
        idle: list[_Worker] = list(self._workers)
        busy: dict[Any, _Worker] = {}  # connection -> worker
        done: dict[int, Any] = {}
        taken = handed = 0
        exhausted = False
        while True:
            while not exhausted and taken - handed < self.window:
                if not idle and len(self._workers) >= self.max_workers:
                    break
                try:
                    item = next(it)
                except StopIteration:
                    exhausted = True
                    break
                w = self._give(idle.pop() if idle else None, taken, item)
                busy[w.conn] = w
                taken += 1
            while handed in done:
                yield done.pop(handed)
                handed += 1
            if not busy:
                if exhausted and not done:
                    return
                continue
            sentinels = {w.proc.sentinel: w for w in busy.values()}
            for ready in multiprocessing.connection.wait([*busy, *sentinels]):
                w = busy.get(ready) or sentinels.get(ready)  # type: ignore[call-overload]
                if w is None or w.conn not in busy:
                    continue  # its connection and its sentinel were both ready
                seq, item = w.task  # type: ignore[misc]
                try:
                    if ready is w.conn or w.conn.poll():
                        got, ok, value = w.conn.recv()
                        done[got] = value if ok else self.on_failure(item, value)
                        del busy[w.conn]
                        if ready is w.conn:
                            idle.append(w)
                        else:  # it answered, then died
                            self._drop(w)
                        continue
                except (EOFError, OSError):
                    pass
                # The worker died holding this item.
                w.proc.join(timeout=5)
                done[seq] = self.on_failure(item, _death(w.proc.exitcode))
                del busy[w.conn]
                self._drop(w)

    def _give(self, w: _Worker | None, seq: int, item: Any) -> _Worker:
        """Hands ``item`` to ``w`` (None: a new worker), or to a new worker
        when ``w`` died while idle."""
        for _ in range(2):
            if w is None:
                w = _Worker(self._ctx, self.fn)
                self._workers.append(w)
            try:
                w.give(seq, item)
                return w
            except OSError:
                self._drop(w)
                w = None
        raise OSError("cannot start a worker process")

    def _drop(self, w: _Worker) -> None:
        w.proc.join(timeout=5)
        if w.proc.is_alive():
            w.proc.kill()
        w.conn.close()
        self._workers.remove(w)

    def close(self) -> None:
        """Lets the workers finish and exit."""
        for w in self._workers:
            try:
                w.conn.send(None)
            except OSError:
                pass
        for w in self._workers:
            w.proc.join(timeout=10)
            if w.proc.is_alive():
                w.proc.kill()
            w.conn.close()
        self._workers = []

    def abandon(self) -> None:
        """Kills the workers at once, waiting for nothing."""
        for w in self._workers:
            try:
                w.proc.kill()
            except (OSError, AttributeError, ValueError):
                pass
        self._workers = []


def _death(code: int | None) -> str:
    if code is not None and code < 0:
        try:
            return f"the checker process was killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"the checker process was killed by signal {-code}"
    return f"the checker process ended (exit status {code})"
