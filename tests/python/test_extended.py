"""The extended language: a superset of the classic one, read by every data entry point."""

import json

import pytest
import quarno_synth as qs
from quarno_synth._columns import Run

np = pytest.importorskip("numpy")

CLASSIC_REGIME = "`kind`, `len`, `drift`, `vol`"
EXTENDED_REGIME = "`kind`, `len`, `drift`, `vol`, `garch`, `tails`, `jumps`"

GARCH = {"alpha": 0.06, "gamma": 0.1, "beta": 0.88}
TAILS = {"df": 5.0}
JUMPS = {"rate": 0.05, "mean": -0.02, "vol": 0.03}


def spec(bars=40, **members):
    regimes = [
        {"kind": "trend", "len": bars // 2, "drift": 0.0004, "vol": 0.01, **members},
        {"kind": "crash", "len": bars - bars // 2, "drift": 0.003, "vol": 0.025},
    ]
    micro = {"book_depth": 3, "spread_bps": 2.0, "trade_rate": 2.0,
             "funding": {"interval_bars": 4, "base_rate": 1e-5, "sensitivity": 0.5}}  # fmt: skip
    return {"seed": 11, "bars": bars, "start_price": 100.0, "regimes": regimes,
            "microstructure": micro}  # fmt: skip


def same_arrays(a, b):
    return all(
        list(a[t]) == list(b[t])
        and all(
            a[t][c].tobytes() == b[t][c].tobytes() and a[t][c].dtype == b[t][c].dtype for c in a[t]
        )  # fmt: skip
        for t in ("candles", "trades", "book", "funding")
    )


def test_array_form_places_extension_members_after_the_classic_fields():
    as_objects = spec(garch=GARCH, tails=TAILS, jumps=JUMPS)
    as_arrays = json.loads(json.dumps(as_objects))
    first = as_arrays["regimes"][0]
    as_arrays["regimes"][0] = ["trend", first["len"], 0.0004, 0.01,
                               [0.06, 0.1, 0.88], [5.0], [0.05, -0.02, 0.03]]  # fmt: skip
    assert same_arrays(qs.generate_arrays(as_arrays), qs.generate_arrays(as_objects))
    # left out or null: absent
    short = json.loads(json.dumps(as_arrays))
    short["regimes"][0] = ["trend", first["len"], 0.0004, 0.01, None]
    assert same_arrays(qs.generate_arrays(short), qs.generate_arrays(spec()))


def test_members_are_extension_only():
    with pytest.raises(qs.SynthError) as classic:
        qs.generate(spec(tails=TAILS))
    assert str(classic.value) == (
        f"unknown field `tails`, expected one of {CLASSIC_REGIME}".join(["parse: ", ""])
    )
    for form in (spec(tails=TAILS), json.dumps(spec(tails=TAILS))):
        assert qs.generate_arrays(form)["candles"]["close"].shape == (40,)


def test_a_typo_is_an_unknown_field_listing_the_extended_record():
    text = json.dumps(spec(garch=GARCH)).replace('"garch"', '"garh"')
    with pytest.raises(qs.SynthError, match=f"^parse: unknown field `garh`, expected one of "
                       f"{EXTENDED_REGIME} at line 1 column "):  # fmt: skip
        Run(text)
    with pytest.raises(qs.SynthError) as info:
        qs.generate_frames(json.loads(text))
    assert str(info.value) == f"parse: unknown field `garh`, expected one of {EXTENDED_REGIME}"
    with pytest.raises(qs.SynthError, match="^parse: unknown field `b`, expected one of "
                       "`alpha`, `gamma`, `beta`$"):  # fmt: skip
        qs.iter_batches(spec(garch={"b": 1}))


BAD = [
    ("garch", {"alpha": -0.1, "gamma": 0.0, "beta": 0.5}, "garch: alpha must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": -1.0, "beta": 0.5}, "garch: gamma must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": 0.0, "beta": -0.5}, "garch: beta must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": 0.2, "beta": 0.8},
     "garch: alpha + gamma/2 + beta must be below 1"),
    ("tails", {"df": 2.0}, "tails: df must be finite and > 2"),
    ("jumps", {"rate": -1.0, "mean": 0.0, "vol": 0.0}, "jumps: rate must be finite and >= 0"),
    ("jumps", {"rate": 1.0, "mean": 0.0, "vol": -0.5}, "jumps: vol must be finite and >= 0"),
]  # fmt: skip
MISSING = [("garch", {"alpha": 0.1, "beta": 0.5}, "missing field `gamma`"),
           ("tails", {}, "missing field `df`"),
           ("jumps", [0.1, 0.0], "invalid length 2, expected struct Jumps with 3 elements"),
           ("tails", 3.0, "invalid type: floating point `3.0`, expected struct Tails")]  # fmt: skip


@pytest.mark.parametrize("member, value, message", BAD + MISSING)
def test_bad_members_are_named_with_their_path(member, value, message):
    bad = spec(**{member: value})
    bad["regimes"][1][member] = bad["regimes"][0].pop(member)  # the second regime
    parse = message.startswith(("missing", "invalid"))
    want = f"parse: {message}" if parse else f"bad spec: regimes[1].{message}"
    for form in (bad, json.dumps(bad)):
        with pytest.raises(qs.SynthError) as info:
            Run(form) if isinstance(form, str) else qs.generate_arrays(form)
        got = str(info.value)
        assert (got.split(" at line ")[0] if isinstance(form, str) else got) == want
        assert (" at line " in got) == (parse and isinstance(form, str))


def test_sweeps_and_the_cli_read_the_extended_language(tmp_path):
    pytest.importorskip("pyarrow")
    from quarno_synth.cli import main

    extended = spec(garch=GARCH, tails=TAILS, jumps=JUMPS)
    manifest = qs.generate_dataset(extended, seeds=[3], path=tmp_path / "ds", max_workers=1)
    assert manifest["summary"] == {"runs": 1, "failed": 0, "rows": manifest["summary"]["rows"]}
    path = tmp_path / "s.json"
    path.write_text(json.dumps(extended))
    assert main(["validate", str(path)]) == 0
    assert main(["generate", str(path), "--format", "csv", "-o", str(tmp_path / "csv")]) == 0
    with open(tmp_path / "csv" / "candles.csv") as f:
        assert len(f.readlines()) == 41
