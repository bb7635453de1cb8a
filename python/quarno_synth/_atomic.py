"""Files that appear whole or not at all, under one naming scheme for every write.

A file is written under a temporary sibling name, ``.<name>.<pid>-<n>-<token>.tmp``, made
durable (``fsync``) and renamed over its final name; the directory is synced after the
rename. The temporary stays locked (``flock``) by its writer until it is renamed or removed,
so a later writer into the same directory can tell a temporary whose writer is gone (killed,
or its machine lost) from one still being written, and removes only the former.

Outputs that are not regular files (a FIFO, a character device, a socket, the process's own
standard output) are written into as they are, never replaced; a symbolic link is followed
and its target is replaced. Errors name the output path, never the temporary.
"""

from __future__ import annotations

import contextlib
import errno
import io
import itertools
import os
import re
import signal
import socket
import stat
import uuid
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import IO, Any

try:
    import fcntl

    _LOCKS = True
except ImportError:  # pragma: no cover - not POSIX: no locks, stale files are kept
    _LOCKS = False

_counter = itertools.count()
# Unique across machines too: workers on a shared file system may write the same file at
# once (a task run again after its worker seemed lost).
_token = uuid.uuid4().hex[:12]
_TEMPORARY = re.compile(r"^\..+\.[0-9]+-[0-9]+-[0-9a-f]{12}\.tmp$")


def temporary_name(path: Path) -> Path:
    """The sibling name under which ``path`` is written."""
    return path.with_name(f".{path.name}.{os.getpid()}-{next(_counter)}-{_token}.tmp")


def is_temporary(name: str) -> bool:
    """Whether ``name`` is a temporary of this naming scheme (of any process)."""
    return _TEMPORARY.match(name) is not None


def naming(exc: OSError, path: Path | str) -> OSError:
    """``exc`` with ``path`` as its file name (same class, errno and reason)."""
    if exc.errno is None:
        return exc
    renamed = OSError(exc.errno, exc.strerror or os.strerror(exc.errno), str(path))
    return renamed.with_traceback(exc.__traceback__)


def _lock(fd: int, wait: bool) -> bool:
    if not _LOCKS:
        return True
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | (0 if wait else fcntl.LOCK_NB))
    except OSError as exc:
        if exc.errno in (errno.EWOULDBLOCK, errno.EAGAIN, errno.EACCES):
            return False
        if exc.errno in (errno.ENOLCK, errno.EOPNOTSUPP, errno.EINVAL):
            # no locks on this file system: a writer goes on, a cleaner keeps the file
            return wait
        raise
    return True


def remove_stale(directory: Path | str) -> int:
    """Remove the temporaries in ``directory`` whose writer is gone; how many were removed.

    A temporary is its writer's only while the writer lives (the lock goes with the
    process), so one that can be locked is left over from a writer killed or lost.
    """
    if not _LOCKS:
        return 0
    removed = 0
    try:
        entries = list(os.scandir(directory))
    except OSError:
        return 0
    for entry in entries:
        if not is_temporary(entry.name):
            continue
        try:
            fd = os.open(entry.path, os.O_RDONLY | os.O_CLOEXEC | os.O_NOFOLLOW | os.O_NONBLOCK)
        except OSError:
            continue
        try:
            if not _lock(fd, wait=False):
                continue
            # still the file that was locked (not a new one under a reused name)
            if os.path.samestat(os.fstat(fd), os.lstat(entry.path)):
                os.unlink(entry.path)
                removed += 1
        except OSError:
            pass
        finally:
            os.close(fd)
    return removed


def sync_directory(directory: Path | str) -> None:
    """Make the renames in ``directory`` durable (where the system can)."""
    try:
        fd = os.open(directory, os.O_RDONLY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        with contextlib.suppress(OSError):  # some file systems cannot sync a directory
            os.fsync(fd)
    finally:
        os.close(fd)


_INTERRUPTS = {signal.SIGINT, signal.SIGTERM}


@contextlib.contextmanager
def _signals_deferred() -> Iterator[None]:
    """Ctrl-C and SIGTERM wait until the block is done (their handlers run right after)."""
    if not hasattr(signal, "pthread_sigmask"):  # pragma: no cover - not POSIX
        yield
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, _INTERRUPTS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


class OutputError(OSError):
    """An output path that cannot be written (a directory, an empty name)."""


def _special_output(path: Path) -> bool:
    """Whether ``path`` exists and is written into rather than replaced; OutputError for a
    directory."""
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return False
    except OSError as exc:
        raise naming(exc, path) from None
    if stat.S_ISDIR(st.st_mode):
        raise OutputError(errno.EISDIR, "is a directory", str(path))
    return not stat.S_ISREG(st.st_mode)


def final_path(path: Path | str) -> Path:
    """Where a regular file written to ``path`` goes: a symbolic link's target (the link
    stays); OutputError for a directory or an empty name."""
    if str(path) == "":
        raise OutputError(errno.ENOENT, "the output path is empty", "")
    path = Path(path)
    if path.name in ("", ".", ".."):
        raise OutputError(errno.EISDIR, "is a directory", str(path))
    if path.is_symlink():
        return Path(os.path.realpath(path))
    return path


def _open_special(path: Path) -> IO[bytes]:
    st = os.stat(path)
    for fd in (1, 2):  # the process's own stdout or stderr, whatever it is (a socket too)
        with contextlib.suppress(OSError):
            if os.path.samestat(st, os.fstat(fd)):
                return os.fdopen(os.dup(fd), "wb")
    if stat.S_ISSOCK(st.st_mode):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            sock.connect(os.fspath(path))
            return sock.makefile("wb")
        finally:
            sock.close()  # the file object keeps the connection
    return open(path, "wb")


class Staged:
    """One output under its temporary name (or, for a special file, the file itself)."""

    def __init__(self, path: Path | str) -> None:
        self.path = Path(path)  # as the caller named it, for messages
        self.final = self.path
        self.temp: Path | None = None
        self.special = False
        self.file: IO[bytes] | None = None
        self._lock_fd: int | None = None
        try:
            self.special = _special_output(self.path)
            if self.special:
                self.file = _open_special(self.path)
            else:
                self.final = final_path(self.path)
                self._create()
        except OSError as exc:
            self.discard()
            raise naming(exc, self.path) from None
        except BaseException:  # Ctrl-C or SIGTERM while opening: nothing may stay behind
            self.discard()
            raise

    def _create(self) -> None:
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
        while True:
            temp = temporary_name(self.final)
            with _signals_deferred():  # the file exists only once it is recorded
                fd = os.open(temp, flags, 0o666)
                self.temp = temp
            self.file = os.fdopen(fd, "wb")
            self._lock_fd = os.dup(fd)  # holds the lock until the rename
            _lock(self._lock_fd, wait=True)
            with contextlib.suppress(OSError):
                # taken for stale between the open and the lock: write under another name
                if os.path.samestat(os.fstat(fd), os.lstat(temp)):
                    return
            self.temp = None
            self._close()

    def write(self, data: Any) -> int:
        assert self.file is not None
        try:
            return self.file.write(data)
        except OSError as exc:
            raise naming(exc, self.path) from None

    def finish(self) -> None:
        """Flush, sync and close the file (not yet renamed)."""
        if self.file is None:
            return
        try:
            self.file.flush()
            if not self.special:
                os.fsync(self.file.fileno())
            file, self.file = self.file, None
            file.close()
        except OSError as exc:
            raise naming(exc, self.path) from None

    def publish(self) -> None:
        """Put the finished file under its final name."""
        self.finish()
        if self.temp is not None:
            try:
                os.replace(self.temp, self.final)
            except OSError as exc:
                raise naming(exc, self.path) from None
            self.temp = None
        self._close()

    def _close(self) -> None:
        file, self.file = self.file, None
        if file is not None:
            try:
                file.close()
            except Exception:  # a flush that fails again (a full disk): the fd goes anyway
                with contextlib.suppress(Exception):
                    if not file.closed:
                        os.close(file.fileno())
        fd, self._lock_fd = self._lock_fd, None
        if fd is not None:
            with contextlib.suppress(OSError):
                os.close(fd)

    def discard(self) -> None:
        """Close and remove the temporary; never raises, never skips the removal."""
        temp, self.temp = self.temp, None
        try:
            self._close()
        finally:
            if temp is not None:
                with contextlib.suppress(OSError):
                    os.unlink(temp)


def publish_all(staged: Iterable[Staged], placed: list[Path]) -> None:
    """Finish every output, then rename them all and sync their directories. The finals
    renamed into place are appended to ``placed``, so that a caller whose publishing fails
    part way can remove them (and discard the rest)."""
    staged = list(staged)
    for item in staged:
        item.finish()
    first = len(placed)
    try:
        for item in staged:
            with _signals_deferred():  # a file renamed is a file recorded
                renamed = item.temp is not None
                item.publish()
                if renamed:
                    placed.append(item.final)
    finally:
        for directory in dict.fromkeys(path.parent for path in placed[first:]):
            sync_directory(directory)


@contextlib.contextmanager
def replacing(path: Path | str, mode: str = "wb") -> Iterator[StagedStream]:
    """A binary file that replaces ``path`` only once it is complete and durable.

    A failed or interrupted write leaves neither a truncated result under the final name nor
    a temporary beside it; a special file (a FIFO, a device, stdout) is written into.
    """
    if mode != "wb":
        raise ValueError(f"mode must be 'wb', not {mode!r}")
    target = Path(path)
    if not _special_output_quiet(target):
        remove_stale(final_path(target).parent)
    staged = Staged(target)
    try:
        yield StagedStream(staged)
        publish_all([staged], [])
    except BaseException:
        staged.discard()
        raise


def _special_output_quiet(path: Path) -> bool:
    try:
        return _special_output(path)
    except OSError:
        return False


class StagedStream(io.RawIOBase):
    """A staged output as a writable stream whose errors name the output path; closing the
    stream leaves the output to be published or discarded."""

    def __init__(self, staged: Staged) -> None:
        super().__init__()
        self._staged = staged
        self._written = 0  # the position, also where the output cannot seek (a FIFO)

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        count = self._staged.write(data)
        self._written += count
        return count

    def flush(self) -> None:
        if self._staged.file is not None:
            try:
                self._staged.file.flush()
            except OSError as exc:
                raise naming(exc, self._staged.path) from None

    def tell(self) -> int:
        return self._written

    def fileno(self) -> int:
        if self._staged.file is None:
            raise ValueError("the output is closed")
        return self._staged.file.fileno()
