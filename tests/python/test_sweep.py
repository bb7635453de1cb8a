"""Sweeps: one dataset, byte for byte, from one process, a process pool and a Dask cluster."""

import concurrent.futures as cf
import json
import multiprocessing
import os
import shutil
import signal
import subprocess
import sys
import time
import warnings

import pytest
import quarno_synth as qs

pytest.importorskip("pyarrow.parquet")
sweep = pytest.importorskip("quarno_synth.sweep")

SPEC = {
    "seed": 1,
    "bars": 30,
    "start_price": 50.0,
    "regimes": [["trend", 20, 0.001, 0.02], ["crash", 10, 0.01, 0.03]],
    "microstructure": {
        "book_depth": 2,
        "spread_bps": 4.0,
        "trade_rate": 2.0,
        "funding": {"interval_bars": 7, "base_rate": 0.0001, "sensitivity": 0.1},
    },
}
OVERFLOW = dict(SPEC, start_price=1e300, regimes=[["vol", 30, 0.0, 1e300]])
GRID = [
    json.dumps(SPEC),
    json.dumps(dict(SPEC, bars=0)),
    json.dumps(OVERFLOW),
    '{"seed": [',
    json.dumps(dict(SPEC, seed=9, bars=12, regimes=[["range", 12, 0.1, 0.01]])),
]
PLANS = {
    "seeds": dict(spec=SPEC, seeds=range(3, 15)),
    "grid": dict(specs=GRID, seeds=range(2)),
}


def files(root):
    """Every file under ``root`` (temporaries included) with its bytes."""
    paths = sorted(p for p in root.rglob("*") if p.is_file())
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in paths}


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None
    ) as local:
        yield local.scheduler_address


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    """Each plan's dataset made in this process."""
    made = {}
    for name, plan in PLANS.items():
        root = tmp_path_factory.mktemp(name)
        sweep.generate_dataset(**plan, path=root, max_workers=1)
        made[name] = files(root)
    return made


@pytest.mark.parametrize("plan", sorted(PLANS))
def test_pool_and_cluster_write_the_same_bytes(tmp_path, cluster, reference, plan):
    sweep.generate_dataset(**PLANS[plan], path=tmp_path / "pool", max_workers=2)
    with sweep.cluster_executor(cluster) as executor:
        sweep.generate_dataset(**PLANS[plan], path=tmp_path / "cluster", executor=executor)
    with cf.ThreadPoolExecutor(2) as threads:
        sweep.generate_dataset(**PLANS[plan], path=tmp_path / "threads", executor=threads)
    for where in ("pool", "cluster", "threads"):
        assert files(tmp_path / where) == reference[plan], where


def test_failed_runs_are_recorded_with_their_error(reference):
    runs = json.loads(reference["grid"]["manifest.json"])["runs"]
    for run in runs:
        if run["status"] == "ok":
            assert run["spec"] == json.dumps(
                json.loads(GRID[run["run"]]) | {"seed": run["seed"]}, separators=(",", ":")
            )
            continue
        with pytest.raises(qs.SynthError) as caught:
            qs.generate(run["spec"])
        assert run["error"] == str(caught.value)
    assert [r["status"] for r in runs] == ["ok"] * 2 + ["failed"] * 6 + ["ok"] * 2
    assert [r["error"][:6] for r in runs[2:8]] == ["bad sp"] * 2 + ["numeri"] * 2 + ["parse:"] * 2


def interrupt(root, plan, executor):
    def stop(done, total):
        if done:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        sweep.generate_dataset(**plan, path=root, max_workers=2, on_runs=stop)


def kill_a_worker(root, plan, executor):
    killed = []

    def kill(done, total):
        # once: a result that was already on its way may come in after the kill
        if done and not killed:
            killed.append(next(iter(executor._processes.values())).pid)
            os.kill(killed[0], signal.SIGKILL)

    with pytest.raises(sweep.SweepFailed, match="start the sweep again"):
        sweep.generate_dataset(**plan, path=root, executor=executor, max_workers=2, on_runs=kill)


def part(root, table, seed):
    return root / table / f"seed={seed}" / "part-0.parquet"


def lose_files(root):
    part(root, "trades", 4).unlink()
    # temporaries of writers killed (nothing holds their lock)
    (root / "book" / "seed=5" / ".part-0.parquet.999-0-0123456789ab.tmp").write_bytes(b"PAR1 cut")
    (root / ".manifest.json.999-1-0123456789ab.tmp").write_bytes(b'{"format"')
    for table in ("candles", "funding"):
        part(root, table, 7).unlink()


def truncate(root):
    os.truncate(part(root, "candles", 7), part(root, "candles", 7).stat().st_size // 2)
    os.truncate(part(root, "book", 8), 0)


def flip_bytes(root):
    data = bytearray(part(root, "book", 9).read_bytes())
    middle = len(data) // 2
    data[middle : middle + 64] = bytes(b ^ 0xFF for b in data[middle : middle + 64])
    part(root, "book", 9).write_bytes(data)


def swap(root):
    shutil.copyfile(part(root, "trades", 8), part(root, "trades", 7))


def cut_short_then_truncate(root):
    # as the manifest of a sweep killed before it recorded its runs: no digest vouches
    manifest = json.loads((root / sweep.MANIFEST).read_bytes())
    for entry in manifest["runs"]:
        for key in ("rows", "files"):
            entry.pop(key)
        entry["status"] = "pending"
    (root / sweep.MANIFEST).write_text(json.dumps(manifest))
    os.truncate(part(root, "funding", 6), 100)


def finished_then(change):
    def damage(root, plan, executor):
        sweep.generate_dataset(**plan, path=root, executor=executor)
        change(root)

    damage.__name__ = change.__name__
    return damage


FINISHED_DAMAGE = [
    finished_then(change)
    for change in (lose_files, truncate, flip_bytes, swap, cut_short_then_truncate)
]


@pytest.mark.parametrize("damage", [interrupt, kill_a_worker, *FINISHED_DAMAGE])
def test_started_again_a_sweep_ends_with_the_same_bytes(tmp_path, reference, damage):
    plan = PLANS["seeds"]
    forkserver = multiprocessing.get_context("forkserver")
    with cf.ProcessPoolExecutor(2, mp_context=forkserver) as executor:
        damage(tmp_path, plan, executor)
    if damage is interrupt:  # Ctrl-C leaves no partial file behind
        assert not [name for name in files(tmp_path) if "/." in name]
    assert files(tmp_path) != reference["seeds"]
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        sweep.generate_dataset(**plan, path=tmp_path, max_workers=2)
    assert files(tmp_path) == reference["seeds"]
    # runs the manifest vouched for but whose files differ are made again, and said so once
    remade = [str(w.message) for w in said if "again whose files did not match" in str(w.message)]
    assert len(remade) == (damage in FINISHED_DAMAGE), remade


def test_read_back_with_pyarrow_dataset(tmp_path, reference):
    ds = pytest.importorskip("pyarrow.dataset")
    pd = pytest.importorskip("pandas")
    for name, data in reference["seeds"].items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_bytes(data)
    for table in ("candles", "trades", "book", "funding"):
        dataset = ds.dataset(tmp_path / table, partitioning="hive")
        assert dataset.schema.names[-1] == "seed"
        for seed in PLANS["seeds"]["seeds"]:
            got = dataset.to_table(filter=ds.field("seed") == seed).to_pandas()
            expected = qs.generate_frames(dict(SPEC, seed=seed))[table]
            assert (got.pop("seed") == seed).all()
            got["ts"] = got["ts"].astype(expected["ts"].dtype)
            pd.testing.assert_frame_equal(got, expected, check_dtype=False, check_categorical=False)


def cli(*args):
    return subprocess.run(
        [sys.executable, "-m", "quarno_synth", "sweep", *args], capture_output=True, timeout=120
    )


def test_cli_writes_the_api_dataset(tmp_path, reference):
    (tmp_path / "grid.jsonl").write_text("\n".join(GRID) + "\n\n")
    done = cli("--specs", str(tmp_path / "grid.jsonl"), "--seeds", "0:2", "-o", str(tmp_path / "d"))
    assert done.returncode == 1 and done.stderr.count(b"\n") == 1, done.stderr
    assert b"6 of 10 runs failed" in done.stderr and b"run=1,seed=0: bad spec" in done.stderr
    assert files(tmp_path / "d") == reference["grid"]


def another_sweep(t):
    sweep.generate_dataset(SPEC, seeds=range(2), path=t / "out", max_workers=1)
    return []


@pytest.mark.parametrize(
    "args, message",
    [
        (["--seeds", "5:5"], "seeds '5:5' is an empty range"),
        (["--seeds", "9:3"], "seeds '9:3' is an empty range"),
        (["--seeds", "0:x"], "expected START:STOP"),
        (["--seeds=-1:3"], "seeds are from 0 to 2^64 - 1"),
        ([], "needs --seeds START:STOP"),
        (["--seeds", "0:3", "--specs", "f"], "not both"),
        (["--seeds", "0:3", "--scheduler", "x", "--workers", "2"], "leave out --workers"),
    ],
)
def test_cli_bad_arguments_are_one_line_and_write_nothing(tmp_path, args, message):
    (tmp_path / "spec.json").write_text(json.dumps(SPEC))
    done = cli(str(tmp_path / "spec.json"), *args, "-o", str(tmp_path / "out"))
    err = done.stderr.decode()
    assert (done.returncode, err.count("\n")) == (2, 1) and message in err, err
    assert not (tmp_path / "out").exists()


def manifest_of_shape(runs):
    def prepare(t):
        (t / "out").mkdir()
        document = {"format": sweep.FORMAT, "runs": runs}
        (t / "out" / sweep.MANIFEST).write_text(json.dumps(document))

    return prepare


@pytest.mark.parametrize(
    "prepare, message",
    [
        (another_sweep, "holds another sweep"),
        *[(manifest_of_shape(runs), "is not a sweep manifest") for runs in (5, [1, 2, 3], ["a"])],
        (manifest_of_shape([{"files": {"x": 1}}]), "is not a sweep manifest"),
        (lambda t: (t / "out").mkdir() or (t / "out" / "a").write_text(""), "holds no manifest"),
    ],
)
def test_a_directory_of_something_else_is_refused(tmp_path, prepare, message):
    prepare(tmp_path)
    before = files(tmp_path)
    (tmp_path / "spec.json").write_text(json.dumps(SPEC))
    done = cli(str(tmp_path / "spec.json"), "--seeds", "0:3", "-o", str(tmp_path / "out"))
    err = done.stderr.decode()
    assert (done.returncode, err.count("\n")) == (2, 1) and message in err, err
    assert files(tmp_path) == dict(before, **{"spec.json": json.dumps(SPEC).encode()})


def test_an_unreachable_scheduler_is_an_error():
    pytest.importorskip("distributed")
    with pytest.raises(sweep.SweepError, match="cannot reach the scheduler at 'tcp://127.0.0.1:9'"):
        with sweep.cluster_executor("tcp://127.0.0.1:9", timeout=0.5):
            pass


def test_without_dask_the_error_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "distributed", None)  # import fails as if not installed
    with pytest.raises(ImportError, match=r'pip install "quarno_synth\[cluster\]"'):
        with sweep.cluster_executor("tcp://127.0.0.1:9"):
            pass


def test_a_task_error_in_a_thread_pool_is_raised_as_it_is(tmp_path, monkeypatch):
    from quarno_synth._sweep import worker

    def fail(*args, **kwargs):
        raise RuntimeError("disk on fire")

    monkeypatch.setattr(worker, "write_tables", fail)
    monkeypatch.delattr(cf, "process", raising=False)  # as in a process with no process pool
    with cf.ThreadPoolExecutor(2) as pool, pytest.raises(RuntimeError, match="disk on fire"):
        sweep.generate_dataset(SPEC, seeds=range(2), path=tmp_path / "d", executor=pool)


def test_resume_says_in_one_line_which_run_it_makes_again(tmp_path, reference):
    (tmp_path / "spec.json").write_text(json.dumps(SPEC))
    sweep.generate_dataset(**PLANS["seeds"], path=tmp_path / "d", max_workers=1)
    os.truncate(part(tmp_path / "d", "candles", 7), 0)
    done = cli(str(tmp_path / "spec.json"), "--seeds", "3:15", "-o", str(tmp_path / "d"))
    err = done.stderr.decode()
    assert done.returncode == 0 and err.count("\n") == 1 and "seed=7" in err, err
    assert files(tmp_path / "d") == reference["seeds"]


BIG = dict(SPEC, bars=150_000, regimes=[["trend", 150_000, 0.0, 0.01]])


def wait_for_temporaries(root, process):
    """Until a worker is writing under ``root`` (a temporary exists)."""
    while not any(p.name.endswith(".tmp") for p in root.rglob(".*")):
        assert process.poll() is None, process.communicate()
        time.sleep(0.05)


@pytest.mark.parametrize("how", ["SIGKILL", "SIGTERM"])
def test_a_sweep_stopped_by_a_signal_leaves_no_worker_and_no_part_file(tmp_path, how):
    (tmp_path / "spec.json").write_text(json.dumps(BIG))
    out = tmp_path / "d"
    args = [str(tmp_path / "spec.json"), "--seeds", "0:8", "--workers", "2", "-o", str(out)]
    process = subprocess.Popen(
        [sys.executable, "-m", "quarno_synth", "sweep", *args],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    wait_for_temporaries(out, process)
    process.send_signal(getattr(signal, how))
    # the streams close only once no process of the sweep (worker, forkserver) holds them
    _, err = process.communicate(timeout=60)
    assert process.returncode == (-signal.SIGKILL if how == "SIGKILL" else 143), err
    time.sleep(0.5)  # a worker would publish right after its parent's end: none does
    assert not [p for p in out.rglob(".*") if p.name.endswith(".tmp")]
    for seed in range(8):  # every run whole or absent
        assert len({t for t in TABLES if part(out, t, seed).exists()}) in (0, 4), seed


TABLES = ("candles", "trades", "book", "funding")


def test_a_script_without_a_main_guard_sweeps_on_a_pool(tmp_path, reference):
    # the workers must not run the script again (each would start the sweep anew)
    script = tmp_path / "script.py"
    script.write_text(
        "import quarno_synth as qs\n"
        f"qs.generate_dataset({SPEC!r}, seeds=range(3, 15), path='out', max_workers=2)\n"
        "print('swept')\n"
    )
    done = subprocess.run(
        [sys.executable, str(script)], cwd=tmp_path, capture_output=True, timeout=120
    )
    assert (done.returncode, done.stdout, done.stderr) == (0, b"swept\n", b"")
    assert files(tmp_path / "out") == reference["seeds"]
