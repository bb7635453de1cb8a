"""Properties of Synth.command over generated specs and mutated command texts:
every answer is JSON, every failure is the exact error envelope with a known
prefix, data documents have their documented members, and the handle's spec
changes only when set_spec succeeds."""

import json
import re

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from quarno_synth._quarno_synth import Synth

PROPERTY_SETTINGS = settings(
    max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)

BAD_SPEC_MESSAGES = {
    "missing cmd",
    "set_spec requires a spec",
    "no spec set",
    "bars must be > 0",
    "start_price must be finite and > 0",
    "bar_secs must be > 0",
    "regimes must not be empty",
    "regime len must be > 0",
    "regime drift must be finite",
    "regime vol must be finite and >= 0",
    "sum of regime lengths must equal bars",
    "book_depth must be > 0",
    "spread_bps must be finite and >= 0",
    "trade_rate must be finite and >= 0",
    "funding.interval_bars must be > 0",
    "funding base_rate and sensitivity must be finite",
    "start_ts + (bars - 1) * bar_secs overflows i64",
}
READER_MESSAGE = re.compile(
    r"(EOF while parsing (a list|an object|a string|a value)|expected `:`|expected `,` or `[\]}]`"
    r"|expected ident|expected value|invalid escape|invalid number|number out of range"
    r"|control character \(\\u0000-\\u001F\) found while parsing a string|key must be a string"
    r"|lone leading surrogate in hex escape|trailing comma|trailing characters"
    r"|unexpected end of hex escape|recursion limit exceeded) at line [1-9]\d* column \d+"
)
DECODER_MESSAGE = re.compile(
    r"invalid type: .+, expected .+|invalid value: .+, expected .+|unknown field `.*`, expected .+"
    r"|missing field `\w+`|invalid length \d+, expected .+"
    r"|unknown variant `.*`, expected one of .+",
    re.S,
)


def compact(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


def check_error(response, doc):
    """A failure is exactly {"ok":false,"error":M} with M of a known form."""
    assert list(doc) == ["ok", "error"] and doc["ok"] is False, response
    assert response == compact(doc), response
    error = doc["error"]
    if error.startswith("parse: "):
        message = error[len("parse: ") :]
        assert READER_MESSAGE.fullmatch(message) or DECODER_MESSAGE.fullmatch(message), error
    elif error.startswith("bad spec: "):
        message = error[len("bad spec: ") :]
        assert message in BAD_SPEC_MESSAGES or message.startswith("unknown cmd: "), error
    else:
        assert error == "numeric: price walk produced a non-finite value", error


def check_data(response, doc, bars, shape):
    if shape == "generate_stream":
        assert list(doc) == ["events"], response[:200]
        assert sum(1 for e in doc["events"] if e["type"] == "candle") == bars
        return
    assert list(doc)[:3] == ["candles", "book_snapshots", "trades"], response[:200]
    assert set(doc) <= {"candles", "book_snapshots", "trades", "funding"}
    assert len(doc["candles"]) == len(doc["book_snapshots"]) == bars
    assert doc.get("funding", [None]) != []  # present only when not empty


def answer(handle, text):
    response = handle.command(text)
    doc = json.loads(response)
    assert isinstance(doc, dict), response
    return response, doc


# --- specs ----------------------------------------------------------------------------

finite = st.floats(allow_nan=False, allow_infinity=False)
small_float = st.floats(-1.0, 1.0, allow_nan=False)
kinds = st.sampled_from(["trend", "range", "crash", "vol"])


@st.composite
def specs(draw, max_regimes=4):
    lengths = draw(st.lists(st.integers(1, 8), min_size=1, max_size=max_regimes))
    regimes = []
    for length in lengths:
        regime = {
            "kind": draw(kinds),
            "len": length,
            "drift": draw(small_float),
            "vol": draw(st.floats(0.0, 0.2) | st.just(-0.0)),
        }
        regimes.append(draw(st.sampled_from([regime, list(regime.values())])))
    spec = {
        "seed": draw(st.integers(0, 2**64 - 1)),
        "bars": sum(lengths),
        "start_price": draw(st.floats(1e-6, 1e12) | st.sampled_from([5e-324, 1.0, 1e300])),
        "start_ts": draw(st.integers(-(2**40), 2**40)),
        "bar_secs": draw(st.integers(1, 10**6)),
        "regimes": regimes,
        "microstructure": {
            "book_depth": draw(st.integers(1, 6)),
            "spread_bps": draw(st.floats(0.0, 500.0)),
            "trade_rate": draw(st.floats(0.0, 30.0) | st.just(800.0)),
        },
    }
    if draw(st.booleans()):
        spec["microstructure"]["funding"] = {
            "interval_bars": draw(st.integers(1, 10)),
            "base_rate": draw(st.floats(-0.01, 0.01)),
            "sensitivity": draw(st.floats(-5.0, 5.0)),
        }
    return spec


def too_big(text):
    """Mutations can blow a count up; such runs test nothing extra here."""
    try:
        doc = json.loads(text)
    except ValueError:
        return False
    spec = doc.get("spec") if isinstance(doc, dict) else None
    if isinstance(spec, dict):
        bars, micro = spec.get("bars"), spec.get("microstructure")
        depth = micro.get("book_depth") if isinstance(micro, dict) else None
    elif isinstance(spec, list) and len(spec) > 6:
        bars, micro = spec[1], spec[6]
        depth = micro[0] if isinstance(micro, list) and micro else None
    else:
        return False
    numbers = [n for n in (bars, depth) if isinstance(n, int) and not isinstance(n, bool)]
    return any(abs(n) > 400 for n in numbers)


@PROPERTY_SETTINGS
@given(spec=specs(), shape=st.sampled_from(["generate", "generate_stream"]))
def test_generated_specs_answer_their_documents(spec, shape):
    response, doc = answer(Synth(""), compact({"cmd": shape, "spec": spec}))
    if "ok" in doc:
        check_error(response, doc)
        assert doc["error"].startswith("numeric: "), response
        return
    check_data(response, doc, spec["bars"], shape)
    # The same spec through set_spec answers the same bytes, every time.
    handle = Synth("")
    assert handle.command(compact({"cmd": "set_spec", "spec": spec})) == '{"ok":true}'
    assert handle.command(compact({"cmd": shape})) == response
    assert handle.command(compact({"cmd": shape})) == response


# --- mutated commands -----------------------------------------------------------------

PIECES = [
    '"',
    "\\",
    "{",
    "}",
    "[",
    "]",
    ",",
    ":",
    " ",
    "\n",
    "-",
    ".",
    "e",
    "0",
    "7",
    "null",
    "true",
    '"cmd"',
    '"spec"',
    '"set_spec"',
    '"generate"',
    '"generate_stream"',
    '"version"',
    '"kind"',
    '"len"',
    '"bars"',
    '"funding"',
    "\\u0000",
    "\\ud800",
    "\x01",
    "é",
    "€",
]


@st.composite
def mutated(draw, text):
    for _ in range(draw(st.integers(1, 4))):
        at = draw(st.integers(0, len(text)))
        action = draw(st.sampled_from(["insert", "delete", "replace"]))
        piece = draw(st.sampled_from(PIECES))
        span = draw(st.integers(1, 6))
        if action == "insert":
            text = text[:at] + piece + text[at:]
        elif action == "delete":
            text = text[:at] + text[at + span :]
        else:
            text = text[:at] + piece + text[at + span :]
    return text


@st.composite
def commands(draw):
    spec = draw(specs(max_regimes=2))
    name = draw(st.sampled_from(["set_spec", "generate", "generate_stream", "version", "Version"]))
    members = {"cmd": name}
    if draw(st.booleans()):
        members["spec"] = spec
    text = compact(members)
    return draw(st.one_of(st.just(text), mutated(text)))


BASE_SPEC = {
    "seed": 5,
    "bars": 4,
    "start_price": 100.0,
    "regimes": [{"kind": "vol", "len": 4, "drift": 0.0, "vol": 0.02}],
    "microstructure": {"book_depth": 2, "spread_bps": 5.0, "trade_rate": 2.0},
}
GENERATE = '{"cmd":"generate"}'


def check_any_command(handle, text, fresh_handle):
    before = handle.command(GENERATE)
    response, doc = answer(handle, text)
    if "ok" in doc and doc["ok"] is False:
        check_error(response, doc)
    elif "version" in doc:
        assert response == '{"version":"0.2.0"}'
    elif "ok" in doc:
        assert response == '{"ok":true}'
    else:
        assert "candles" in doc or "events" in doc, response[:200]
    after = handle.command(GENERATE)
    if response == '{"ok":true}':
        # The new spec is exactly the one the command carried.
        assert fresh_handle.command(text) == '{"ok":true}'
        assert after == fresh_handle.command(GENERATE)
    else:
        assert after == before


@PROPERTY_SETTINGS
@given(text=commands())
def test_mutated_commands_keep_the_envelope_and_the_state(text):
    assume(not too_big(text))
    check_any_command(Synth(compact(BASE_SPEC)), text, Synth(""))


@PROPERTY_SETTINGS
@given(text=st.text(max_size=40))
def test_arbitrary_text_is_answered_as_json(text):
    handle = Synth(compact(BASE_SPEC))
    check_any_command(handle, text, Synth(""))
    # Without a spec, data commands answer "no spec set" and nothing else changes.
    empty = Synth("")
    response, doc = answer(empty, text)
    if "ok" in doc and doc["ok"] is False:
        check_error(response, doc)


# --- constructor text ---------------------------------------------------------------

WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(map(chr, range(0x2000, 0x200B)))
    + ("\u2028\u2029\u202f\u205f\u3000")
)
LOOKALIKES = "\x00\x1c\x1d\x1e\x1f\u180e\u200b\u2060\ufeff"


def construct(text):
    """What constructing a handle from text comes to, as comparable data."""
    try:
        handle = Synth(text)
    except ValueError as error:
        return "ValueError", str(error)
    return "handle", handle.command(GENERATE)


def trim(text):
    """White space trimmed by the Unicode White_Space set, not str.strip's."""
    return text.strip(WHITE_SPACE)


bodies = st.one_of(
    st.sampled_from(["", "{}", "{ }", "[", "\n[", compact(BASE_SPEC), compact(BASE_SPEC) + " 1"]),
    st.text(alphabet=st.sampled_from(WHITE_SPACE + LOOKALIKES + '{}[]"01 a:,'), max_size=12),
    st.builds(
        lambda a, b: a + compact(BASE_SPEC) + b,
        st.text(LOOKALIKES, max_size=2),
        st.text(LOOKALIKES, max_size=2),
    ),
)


@PROPERTY_SETTINGS
@given(
    before=st.text(alphabet=st.sampled_from(WHITE_SPACE), max_size=4),
    body=bodies,
    after=st.text(alphabet=st.sampled_from(WHITE_SPACE), max_size=4),
)
def test_constructor_trims_unicode_white_space(before, body, after):
    outcome = construct(before + body + after)
    assert outcome == construct(trim(body))
    kept = trim(body)
    if kept in ("", "{}"):
        assert outcome == ("handle", '{"ok":false,"error":"bad spec: no spec set"}')
    elif kept[0] in LOOKALIKES or kept[-1] in LOOKALIKES:
        # Not trimmed, and no spec text starts or ends with one of them.
        assert outcome[0] == "ValueError", outcome
