"""Output files appear whole or not at all: a full disk, a killed writer, special outputs."""

import builtins
import errno
import fcntl
import io
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest
import quarno_synth as qs
from quarno_synth import files

SPEC = {
    "seed": 3, "bars": 400, "start_price": 100.0,
    "regimes": [{"kind": "vol", "len": 400, "drift": 0.0, "vol": 0.01}],
    "microstructure": {"book_depth": 5, "spread_bps": 2.0, "trade_rate": 4.0},
}  # fmt: skip


class FullDisk:
    """A file on a disk with ``room`` bytes left. Like a buffered file, the write that
    overflows is taken; the flush after it fails, and so does every flush again (as close
    does), while the descriptor is closed all the same."""

    def __init__(self, f, room):
        self._f, self._room, self._pending = f, room, False

    def _full(self):
        return OSError(errno.ENOSPC, "No space left on device")

    def write(self, data):
        if self._pending:
            raise self._full()
        size = memoryview(data).nbytes
        self._room -= size
        self._pending = self._room < 0
        return self._f.write(data) if not self._pending else size

    def flush(self):
        if self._pending:
            raise self._full()
        self._f.flush()

    def close(self):
        try:
            self.flush()
        finally:
            self._f.close()

    def __getattr__(self, name):
        return getattr(self._f, name)


@pytest.fixture
def full_disk(monkeypatch, tmp_path):
    """Files opened for writing under tmp_path have 2000 bytes of room."""
    real = io.open

    def opening(file, mode="r", *args, **kwargs):
        f = real(file, mode, *args, **kwargs)
        name = os.readlink(f"/proc/self/fd/{f.fileno()}")
        if "r" not in mode and name.startswith(str(tmp_path)):
            return FullDisk(f, 2000)
        return f

    monkeypatch.setattr(builtins, "open", opening)
    monkeypatch.setattr(io, "open", opening)


def open_fds():
    return len(os.listdir("/proc/self/fd"))


WRITES = {
    "csv": lambda out: qs.write_csv(SPEC, out),
    "parquet": lambda out: qs.write_parquet(SPEC, out),
    "text": lambda out: files.write_text(out / "doc.json", "x" * 10_000),
}


@pytest.mark.parametrize("write", list(WRITES))
def test_a_full_disk_leaves_nothing_behind(full_disk, tmp_path, write):
    out = tmp_path / "out"
    out.mkdir()
    before = open_fds()
    with pytest.raises(OSError) as info:
        WRITES[write](out)
    assert info.value.errno == errno.ENOSPC or "No space left" in str(info.value)
    assert ".tmp" not in str(info.value)  # the output is named, not its temporary
    assert sorted(os.listdir(out)) == []
    assert open_fds() == before


def test_temporaries_of_a_writer_that_is_gone_are_removed_live_ones_kept(tmp_path):
    stale = tmp_path / ".candles.csv.4242-0-0123456789ab.tmp"
    live = tmp_path / ".book.csv.4343-7-ba9876543210.tmp"
    other = tmp_path / ".keep-me"
    for path in (stale, live, other):
        path.write_bytes(b"partial")
    with open(live, "rb") as held:  # its writer still holds it
        fcntl.flock(held.fileno(), fcntl.LOCK_EX)
        qs.write_csv(SPEC, tmp_path)
        names = sorted(p.name for p in tmp_path.iterdir())
    tables = [path.name for path in files.table_paths(tmp_path, "csv").values()]
    assert names == sorted([live.name, other.name, *tables])


def test_special_outputs_are_written_into_links_followed(tmp_path):
    text = "document"
    target = tmp_path / "target.json"
    target.write_text("old")
    link = tmp_path / "link.json"
    link.symlink_to(target.name)
    files.write_text(link, text)
    assert link.is_symlink() and target.read_text() == text

    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    files.write_text(fifo, text)
    reader.join(10)
    assert got == [text.encode()] and fifo.is_fifo()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["fifo", "link.json", "target.json"]


@pytest.mark.parametrize("name", [".", "", "sub"])
def test_a_directory_or_an_empty_name_is_refused(tmp_path, monkeypatch, name):
    (tmp_path / "sub").mkdir()
    monkeypatch.chdir(tmp_path)
    with pytest.raises(OSError) as info:
        files.write_text(name, "x")
    assert info.value.strerror in ("is a directory", "the output path is empty")


BIG = dict(SPEC, bars=300_000, regimes=[{"kind": "vol", "len": 300_000, "drift": 0.0, "vol": 0.01}])


@pytest.mark.parametrize("fmt", ["csv", "parquet"])
def test_sigterm_is_taken_like_ctrl_c(tmp_path, fmt):
    (tmp_path / "spec.json").write_text(json.dumps(BIG))
    out = tmp_path / "out"
    command = ["generate", str(tmp_path / "spec.json"), "--format", fmt, "-o", str(out)]
    process = subprocess.Popen(
        [sys.executable, "-m", "quarno_synth", *command], stderr=subprocess.PIPE
    )
    while not (out.is_dir() and any(out.iterdir())):  # writing has begun
        assert process.poll() is None, process.communicate()
        time.sleep(0.02)
    process.send_signal(signal.SIGTERM)
    _, err = process.communicate(timeout=60)
    assert (process.returncode, err.decode().strip()) == (143, "quarno-synth: terminated")
    assert list(out.iterdir()) == []
