"""The quarno-synth command line, run as a separate process."""

import csv
import json
import os
import pty
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
import quarno_synth as qs
from conftest import needs

REPO = Path(__file__).resolve().parents[2]

SPEC = {
    "seed": 5,
    "bars": 10,
    "start_price": 40.0,
    "regimes": [{"kind": "vol", "len": 6, "drift": 0.0, "vol": 0.02}, ["range", 4, 0.1, 0.01]],
    "microstructure": {
        "book_depth": 2,
        "spread_bps": 3.0,
        "trade_rate": 1.5,
        "funding": {"interval_bars": 3, "base_rate": 0.0, "sensitivity": 1.0},
    },
}
SPEC_TEXT = json.dumps(SPEC, indent=1)


def run(*args, stdin=None, cwd=None):
    return subprocess.run(
        [sys.executable, "-m", "quarno_synth", *args],
        input=stdin,
        capture_output=True,
        cwd=cwd,
        timeout=120,
    )


@pytest.fixture
def spec_file(tmp_path):
    path = tmp_path / "spec.json"
    path.write_text(SPEC_TEXT)
    return path


def native(text, cmd):
    return qs.Synth(text).command(json.dumps({"cmd": cmd})).encode()


def test_no_arguments_prints_version_and_self_check():
    done = run()
    assert done.returncode == 0
    assert done.stdout.decode().splitlines()[:2] == [
        f"quarno_synth {qs.__version__}",
        "self-check: ok",
    ]


def test_console_script_is_installed():
    exe = shutil.which(
        "quarno-synth",
        path=os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", ""),
    )
    if exe is None:
        pytest.skip("quarno-synth is not on PATH")
    done = subprocess.run([exe, "examples"], capture_output=True, timeout=60)
    assert done.returncode == 0 and b"calm_trend" in done.stdout


@pytest.mark.parametrize(
    "extra, cmd",
    [([], "generate"), (["--stream"], "generate_stream")],
)
def test_generate_writes_the_exact_response(spec_file, tmp_path, extra, cmd):
    expected = native(SPEC_TEXT, cmd)
    to_stdout = run("generate", str(spec_file), *extra)
    from_stdin = run("generate", "-", *extra, stdin=SPEC_TEXT.encode())
    out = tmp_path / "run.json"
    to_file = run("generate", str(spec_file), *extra, "-o", str(out))
    assert [d.returncode for d in (to_stdout, from_stdin, to_file)] == [0, 0, 0]
    assert to_stdout.stdout == expected
    assert from_stdin.stdout == expected
    assert out.read_bytes() == expected and to_file.stdout == b"" and to_file.stderr == b""


def test_generate_an_example():
    done = run("generate", "--example", "calm_trend")
    assert done.returncode == 0
    assert done.stdout == native(qs.example_text("calm_trend"), "generate")


@pytest.mark.parametrize(
    "text, status, stdout, stderr",
    [
        (SPEC_TEXT, 0, "ok\n", ""),
        ('{"bars":1}', 1, "", "parse: missing field `seed` at line 1 column 10\n"),
        ("", 1, "", "parse: EOF while parsing a value at line 1 column 0\n"),
        ("{}\n", 1, "", "parse: missing field `seed` at line 1 column 2\n"),
        (
            '{\n  "seed": 1,\n  "Bars": 2}',
            1,
            "",
            "parse: unknown field `Bars`, expected one of `seed`, `bars`, `start_price`, "
            "`start_ts`, `bar_secs`, `regimes`, `microstructure`, `factors`, `chain` at line 3 "
            "column 8\n",
        ),
        (json.dumps(dict(SPEC, bars=0)), 1, "", "bad spec: bars must be > 0\n"),
        (
            json.dumps(dict(SPEC, bars=11)),
            1,
            "",
            "bad spec: sum of regime lengths must equal bars\n",
        ),
    ],
)
def test_validate_prints_ok_or_the_rendered_error(tmp_path, text, status, stdout, stderr):
    path = tmp_path / "s.json"
    path.write_text(text)
    done = run("validate", str(path))
    assert (done.returncode, done.stdout.decode(), done.stderr.decode()) == (status, stdout, stderr)


def write(tmp_path, name, data):
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


@pytest.mark.parametrize(
    "make_args, status, message",
    [
        (lambda t: ["generate", str(t / "missing.json")], 2, "cannot read spec '"),
        (lambda t: ["validate", str(t)], 2, "cannot read spec '"),
        (
            lambda t: ["generate", "--example", "nope"],
            2,
            "unknown example 'nope' (available: calm_trend",
        ),
        (
            lambda t: ["plot", "--example", "nope", "-o", str(t / "c.png")],
            2,
            "unknown example 'nope'",
        ),
        (lambda t: ["generate", write(t, "b.json", b'{"seed": [')], 1, "b.json: parse: "),
        (
            lambda t: ["generate", write(t, "z.json", json.dumps(dict(SPEC, bars=0)).encode())],
            1,
            "z.json: bad spec: bars must be > 0",
        ),
        (
            lambda t: ["generate", write(t, "u.json", b"\xfe{}")],
            2,
            "is not UTF-8 text (byte 0xfe at offset 0)",
        ),
        (lambda t: ["generate", "--example", "deep_book", "--format", "csv"], 2, "needs -o DIR"),
        (lambda t: ["generate", "--example", "deep_book", "--book", "wide"], 2, "--book applies"),
        (
            lambda t: ["generate", "--example", "deep_book", "-o", str(t / "no" / "x.json")],
            2,
            "does not exist",
        ),
        (
            lambda t: [
                "generate",
                "--example",
                "deep_book",
                "--format",
                "csv",
                "-o",
                write(t, "f", b""),
            ],
            2,
            "not a directory",
        ),
        (lambda t: ["generate", "--example", "calm_trend", "-o", str(t)], 2, "is a directory"),
        (lambda t: ["generate", "--example", "calm_trend", "-o", ""], 2, "not an empty name"),
        # nested too deeply for the standard library's reader: the native reader's one line
        (lambda t: ["generate", write(t, "d.json", b"[" * 5000 + b"]" * 5000)], 1, "d.json: "),
        (lambda t: ["generate"], 2, "a spec is required"),
        (lambda t: ["generate", "x.json", "--example", "calm_trend"], 2, "not allowed with"),
        (lambda t: ["plot", "--example", "calm_trend"], 2, "-o/--output"),
        pytest.param(
            lambda t: ["plot", "--example", "calm_trend", "-o", str(t / "c.xyz")],
            2,
            "unknown image type '.xyz'",
            marks=needs("matplotlib"),
        ),
        (lambda t: ["frobnicate"], 2, "invalid choice"),
        (lambda t: ["examples", "nope"], 2, "unknown example 'nope'"),
    ],
)
def test_user_errors_are_one_line_on_stderr(tmp_path, make_args, status, message):
    done = run(*make_args(tmp_path))
    err = done.stderr.decode()
    assert done.returncode == status
    assert err.count("\n") == 1 and err.startswith("quarno-synth: "), err
    assert message in err
    assert done.stdout == b""
    assert not [p for p in tmp_path.rglob("*") if p.name.startswith(".")]  # no temporaries left


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


def test_csv_tables(spec_file, tmp_path):
    out = tmp_path / "out"
    done = run("generate", str(spec_file), "--format", "csv", "-o", str(out))
    assert done.returncode == 0 and done.stderr == b""
    doc = json.loads(native(SPEC_TEXT, "generate"))
    tables = {p.name: read_csv(p) for p in out.iterdir()}
    assert sorted(tables) == ["book.csv", "candles.csv", "funding.csv", "trades.csv"]
    assert tables["candles.csv"][0] == ["ts", "open", "high", "low", "close", "volume"]
    assert tables["trades.csv"][0] == ["ts", "seq", "price", "qty", "side"]
    assert tables["book.csv"][0] == ["ts", "side", "level", "price", "qty"]
    assert tables["funding.csv"][0] == ["ts", "rate"]
    assert [
        len(t) - 1 for t in (tables["candles.csv"], tables["book.csv"], tables["funding.csv"])
    ] == [10, 40, 3]
    assert len(tables["trades.csv"]) - 1 == len(doc["trades"])
    first = doc["candles"][0]
    row = tables["candles.csv"][1]
    assert int(row[0]) == first["ts"] == 1700000000
    assert [float(v) for v in row[1:]] == [
        first[k] for k in ("open", "high", "low", "close", "volume")
    ]
    bid = doc["book_snapshots"][9]["asks"][1]
    assert tables["book.csv"][-1] == [
        str(1700000000 + 9 * 3600),
        "ask",
        "1",
        repr(bid["price"]),
        repr(bid["qty"]),
    ]


def test_stream_and_grouped_give_the_same_tables(spec_file, tmp_path):
    run("generate", str(spec_file), "--format", "csv", "-o", str(tmp_path / "g"))
    run("generate", str(spec_file), "--stream", "--format", "csv", "-o", str(tmp_path / "s"))
    for name in ("candles", "trades", "book", "funding"):
        grouped = (tmp_path / "g" / f"{name}.csv").read_bytes()
        assert grouped == (tmp_path / "s" / f"{name}.csv").read_bytes()


@pytest.mark.parametrize("fmt", ["csv", "parquet"])
def test_wide_book_tables_are_the_library_files(spec_file, tmp_path, fmt):
    read = Path.read_bytes if fmt == "csv" else pytest.importorskip("pyarrow.parquet").read_table
    done = run("generate", str(spec_file), "--format", fmt, "--book", "wide", "-o", str(tmp_path))
    assert done.returncode == 0, done.stderr
    write = qs.write_csv if fmt == "csv" else qs.write_parquet
    for table, path in write(SPEC, tmp_path / "lib", book="wide").items():
        assert read(tmp_path / path.name) == read(path), table
    if fmt == "csv":
        assert read(tmp_path / "book.csv").startswith(b"ts,bid_price_0,bid_qty_0,bid_price_1,")


def test_parquet_tables(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    done = run("generate", "--example", "deep_book", "--format", "parquet", "-o", str(tmp_path))
    assert done.returncode == 0, done.stderr
    doc = json.loads(native(qs.example_text("deep_book"), "generate"))
    book = pq.read_table(tmp_path / "book.parquet")
    assert book.num_rows == 600 * 2 * 50
    assert pq.read_table(tmp_path / "trades.parquet").num_rows == len(doc["trades"])
    assert pq.read_table(tmp_path / "funding.parquet").num_rows == 0
    assert (
        str(pq.read_table(tmp_path / "candles.parquet").schema.field("ts").type)
        == "timestamp[ms, tz=UTC]"
    )  # Parquet has no second unit


def test_plot_writes_a_png(tmp_path):
    pytest.importorskip("matplotlib")
    out = tmp_path / "chart.png"
    done = run("plot", "--example", "volatile_perp", "-o", str(out))
    assert done.returncode == 0, done.stderr
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_examples_lists_every_example_with_a_description():
    lines = run("examples").stdout.decode().splitlines()
    assert [line.split()[0] for line in lines] == [e.name for e in qs.EXAMPLES]
    assert all(len(line.split(None, 1)) == 2 for line in lines)
    shown = run("examples", "crash_recovery").stdout
    assert shown == (REPO / "python/quarno_synth/examples/crash_recovery.json").read_bytes()


def test_progress_is_shown_only_on_a_terminal(tmp_path):
    main_fd, term_fd = pty.openpty()
    try:
        done = subprocess.run(
            [
                sys.executable,
                "-m",
                "quarno_synth",
                "generate",
                "--example",
                "calm_trend",
                "--format",
                "csv",
                "-o",
                str(tmp_path),
            ],
            stdout=subprocess.PIPE,
            stderr=term_fd,
            timeout=120,
        )
        os.close(term_fd)
        shown = b""
        while True:
            try:
                chunk = os.read(main_fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
    finally:
        os.close(main_fd)
    assert done.returncode == 0
    assert b"generating 2,000 bars" in shown and b"wrote 4 csv files" in shown
    assert b"100% (2,000/2,000 bars, " in shown and b" bars/s, 0:00 left)" in shown
