"""Running a command with one of its output streams on a pseudo-terminal."""

import fcntl
import os
import pty
import struct
import subprocess
import termios


def run_on_pty(argv, columns, env=None, cwd=None, stream="stdout", rows=50, timeout=120):
    """(exit status, what reached the terminal, the other stream) of ``argv``
    run with ``stream`` ("stdout" or "stderr") on a terminal ``columns`` wide
    and the other stream piped."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
    kw = {"stdout": slave, "stderr": subprocess.PIPE} if stream == "stdout" else {"stdout": subprocess.PIPE, "stderr": slave}
    p = subprocess.Popen(argv, cwd=cwd, env=env, **kw)
    os.close(slave)
    chunks = []
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:  # the child closed its end
            break
        if not data:
            break
        chunks.append(data)
    os.close(master)
    other = (p.stderr if stream == "stdout" else p.stdout).read().decode("utf-8", "replace")
    p.wait(timeout=timeout)
    return p.returncode, b"".join(chunks).decode("utf-8", "replace"), other
