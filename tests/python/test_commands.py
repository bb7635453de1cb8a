"""Command texts through the module, answered byte for byte, and the shapes of
the two data documents."""

import json

import pytest
from quarno_synth._quarno_synth import Synth

SPEC = {
    "seed": 11,
    "bars": 6,
    "start_price": 250.0,
    "start_ts": -7200,
    "bar_secs": 60,
    "regimes": [
        {"kind": "trend", "len": 3, "drift": 0.002, "vol": 0.01},
        ["crash", 3, -0.01, 0.03],
    ],
    "microstructure": {
        "book_depth": 3,
        "spread_bps": 8.0,
        "trade_rate": 2.5,
        "funding": {"interval_bars": 4, "base_rate": 0.0001, "sensitivity": 0.3},
    },
}
SPEC_TEXT = json.dumps(SPEC)


def cmd(name, **members):
    return json.dumps({"cmd": name, **members})


def envelope(message):
    return json.dumps({"ok": False, "error": message}, separators=(",", ":"))


VERSION_ANSWER = '{"version":"0.2.0"}'


@pytest.mark.parametrize(
    "text, answer",
    [
        ('{"cmd":"version"}', VERSION_ANSWER),
        ('{"cmd":"version","spec":7,"other":[1]}', VERSION_ANSWER),
        ('{"cmd":"version"} x', envelope("parse: trailing characters at line 1 column 19")),
        ('{"cmd":"version"}  \t\r\n ', VERSION_ANSWER),
        ("", envelope("parse: EOF while parsing a value at line 1 column 0")),
        ("[" * 128, envelope("parse: recursion limit exceeded at line 1 column 128")),
        ("[" * 127 + "]" * 127, envelope("bad spec: missing cmd")),
        ("[]", envelope("bad spec: missing cmd")),
        ("{}", envelope("bad spec: missing cmd")),
        ('{"cmd":5}', envelope("bad spec: missing cmd")),
        ('{"cmd":"Version"}', envelope("bad spec: unknown cmd: Version")),
        ('{"cmd":""}', envelope("bad spec: unknown cmd: ")),
        ('{"cmd":"x","cmd":"version"}', VERSION_ANSWER),
        ('{"cmd":"set_spec"}', envelope("bad spec: set_spec requires a spec")),
        ('{"cmd":"generate"}', envelope("bad spec: no spec set")),
        ('{"cmd":"generate_stream"}', envelope("bad spec: no spec set")),
        ("not json", envelope("parse: expected ident at line 1 column 2")),
        ('{"cmd":"set_spec","spec":{}}', envelope("parse: missing field `seed`")),
        (
            '{"cmd":"generate","spec":null}',
            envelope("parse: invalid type: null, expected struct GenSpec"),
        ),
        (
            '{"cmd":"\\u00e9\\"\\\\\\u0007"}',
            '{"ok":false,"error":"bad spec: unknown cmd: \u00e9\\"\\\\\\u0007"}',
        ),
    ],
)
def test_answers_on_a_fresh_handle(text, answer):
    assert Synth("").command(text) == answer


def test_set_spec_flow():
    handle = Synth("")
    assert handle.command(cmd("set_spec", spec=SPEC, note="ignored")) == '{"ok":true}'
    first = handle.command(cmd("generate"))
    assert handle.command(cmd("set_spec", spec=dict(SPEC, bars=0))) == envelope(
        "bad spec: bars must be > 0"
    )
    assert handle.command(cmd("generate")) == first
    other = dict(SPEC, seed=99)
    assert handle.command(cmd("set_spec", spec=other)) == '{"ok":true}'
    assert handle.command(cmd("generate")) == Synth(json.dumps(other)).command(cmd("generate"))
    assert handle.command(cmd("generate")) != first


@pytest.mark.parametrize("name", ["generate", "generate_stream"])
def test_determinism(name):
    handle = Synth(SPEC_TEXT)
    first = handle.command(cmd(name))
    assert handle.command(cmd(name)) == first
    assert Synth("").command(cmd(name, spec=SPEC)) == first
    fresh = Synth("{}")
    assert fresh.command(cmd(name, spec=SPEC)) == first
    # The inline spec served one call only.
    assert fresh.command(cmd(name)) == envelope("bad spec: no spec set")


def test_grouped_document_shape():
    text = Synth(SPEC_TEXT).command(cmd("generate"))
    assert " " not in text and "\n" not in text
    doc = json.loads(text)
    assert list(doc) == ["candles", "book_snapshots", "trades", "funding"]
    stamps = [-7200 + 60 * k for k in range(6)]
    assert [c["ts"] for c in doc["candles"]] == stamps
    assert all(list(c) == ["ts", "open", "high", "low", "close", "volume"] for c in doc["candles"])
    assert [b["ts"] for b in doc["book_snapshots"]] == stamps
    for book in doc["book_snapshots"]:
        assert list(book) == ["ts", "bids", "asks"]
        assert len(book["bids"]) == len(book["asks"]) == 3
    assert [t["seq"] for t in doc["trades"]] == list(range(len(doc["trades"])))
    assert all(list(t) == ["ts", "seq", "price", "qty", "side"] for t in doc["trades"])
    assert all(t["side"] in ("buy", "sell") for t in doc["trades"])
    # Funding closes each complete interval of four bars: bar 3 only.
    assert [f["ts"] for f in doc["funding"]] == [stamps[3]]

    without = json.loads(
        Synth("").command(cmd("generate", spec=dict(SPEC, microstructure=[3, 8.0, 2.5])))
    )
    assert list(without) == ["candles", "book_snapshots", "trades"]


def test_stream_document_shape():
    handle = Synth(SPEC_TEXT)
    grouped = json.loads(handle.command(cmd("generate")))
    doc = json.loads(handle.command(cmd("generate_stream")))
    assert list(doc) == ["events"]
    events = doc["events"]
    payload_key = {"candle": "candle", "book": "snapshot", "trade": "trade", "funding": "sample"}
    for event in events:
        assert list(event) == ["type", payload_key[event["type"]]]
    payloads = {
        kind: [e[key] for e in events if e["type"] == kind] for kind, key in payload_key.items()
    }
    assert payloads["candle"] == grouped["candles"]
    assert payloads["book"] == grouped["book_snapshots"]
    assert payloads["trade"] == grouped["trades"]
    assert payloads["funding"] == grouped["funding"]
    # Within a bar: trades, then book, then candle, then funding.
    order = {"trade": 0, "book": 1, "candle": 2, "funding": 3}
    keys = [(e[payload_key[e["type"]]]["ts"], order[e["type"]]) for e in events]
    assert keys == sorted(keys)


def huge(bars=6, book_depth=3, trade_rate=2.5):
    micro = dict(SPEC["microstructure"], book_depth=book_depth, trade_rate=trade_rate)
    regimes = [{"kind": "vol", "len": bars, "drift": 0.0, "vol": 0.01}]
    return dict(SPEC, bars=bars, regimes=regimes, microstructure=micro)


# Far beyond any machine's memory: bars, levels, or trades (about 745 a bar once
# exp(-trade_rate) is 0). Refused before anything is reserved, and the handle
# keeps answering.
@pytest.mark.parametrize(
    "spec",
    [
        huge(bars=10**15),
        huge(book_depth=10**15),
        huge(book_depth=2**64 - 1),
        huge(bars=10**7, book_depth=1, trade_rate=1e9),
    ],
    ids=["bars", "book_depth", "book_depth_max", "trades"],
)
@pytest.mark.parametrize("name", ["generate", "generate_stream"])
def test_oversized_runs_raise_memory_error(spec, name):
    handle = Synth(SPEC_TEXT)
    before = handle.command(cmd("generate"))
    with pytest.raises(MemoryError):
        handle.command(cmd(name, spec=spec))
    assert handle.command(cmd("set_spec", spec=spec)) == '{"ok":true}'
    with pytest.raises(MemoryError):
        handle.command(cmd(name))
    assert handle.command(cmd("generate", spec=SPEC)) == before
    assert handle.command(cmd("version")) == VERSION_ANSWER
