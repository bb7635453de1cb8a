"""Spec decoding compared with an independent model (spec_model.py) on generated
and mutated spec texts: the constructor's ValueError text, with its position,
and the set_spec error of the same JSON sent as a command value."""

import json
import random

import pytest
import spec_model as model
from quarno_synth._quarno_synth import Synth

FLOATS = [
    "0.0",
    "-0.0",
    "1",
    "100",
    "0.5",
    "-2.5",
    "1e3",
    "1E-3",
    "5.0",
    "-0",
    "0.001",
    "1.5e+17",
    "1e-400",
    "-1e-400",
    "2.7715077941825975e-163",
    "123456789012345678901234",
    "0.1e1",
    "-7",
    "18446744073709551616",
    "1e16",
    "-9223372036854775809",
]
INTS = [
    "0",
    "1",
    "5",
    "10",
    "-1",
    "-0",
    "5.0",
    "1e2",
    "18446744073709551615",
    "18446744073709551616",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    "3600",
    "1700000000",
    "-5",
    "0.0",
    "12",
]
ODD = [
    '"5"',
    '"x"',
    "null",
    "true",
    "false",
    "[]",
    "[1]",
    "{}",
    '{"a":1}',
    '"a\\"b\\\\c\\t\\r\\n"',
    '"\\u0000\\u0001\\u001f\\u007f\\b\\f"',
    '"\\u00e9\\u0085\\u200b\\ud83d\\ude00"',
    '"é"',
    '""',
    "[[]]",
    '{"x":[1,2]}',
    '"trend"',
]
KIND_FORMS = [
    '"trend"',
    '"range"',
    '"crash"',
    '"vol"',
    '"Trend"',
    '""',
    '{"crash":null}',
    '{"vol": null }',
    "{}",
    '{"trend":null,"range":null}',
    '{"trend":1}',
    '{"x":null}',
    "{1:null}",
    '{"trend" null}',
    '{"trend":null',
    '{"trend":null,}',
    "3",
    "null",
    "true",
    "[]",
    '["trend"]',
    '{"trend":[]}',
    '{"trend":{}}',
    '{"trend":"x"}',
    '{ "trend" : null }',
    '{"tr\\u0065nd":null}',
    '{"a\\nb":null}',
    "{",
    '{"',
    '{"trend"',
    '{"trend":',
]


def ws(rng):
    r = rng.random()
    if r < 0.6:
        return ""
    return rng.choice([" ", "\n", "\t", "\r\n", "  \n ", "\n\n", " "])


def join_object(rng, members):
    parts = ["{", ws(rng)]
    for k, (key, value) in enumerate(members):
        if k:
            parts += [ws(rng), ",", ws(rng)]
        parts += ['"%s"' % key, ws(rng), ":", ws(rng), value]
    parts += [ws(rng), "}"]
    return "".join(parts)


def join_array(rng, items):
    parts = ["[", ws(rng)]
    for k, item in enumerate(items):
        if k:
            parts += [ws(rng), ",", ws(rng)]
        parts.append(item)
    parts += [ws(rng), "]"]
    return "".join(parts)


FAULT = [0.1]  # chance that a value is replaced by an odd one, set per text


def pick(rng, good, pool):
    return good() if rng.random() >= FAULT[0] else rng.choice(pool)


def record(rng, fields, optional=()):
    """fields: list of (name, producer). Object or array form, with faults."""
    bad = FAULT[0]
    if rng.random() < 0.7:
        members = [(n, p()) for n, p in fields if not (n in optional and rng.random() < 0.4)]
        if rng.random() < bad:
            rng.shuffle(members)
        if rng.random() < bad and members:
            # a repeated key, with a fresh value: the text rejects it, a value keeps the last
            key = rng.choice(members)[0]
            members.insert(rng.randrange(len(members) + 1), (key, dict(fields)[key]()))
        if rng.random() < bad / 2:
            members.insert(
                rng.randrange(len(members) + 1),
                (rng.choice(["x", "Seed", "kind", "len", "funding", "a\\u0041"]), "1"),
            )
        if rng.random() < bad / 2 and members:
            del members[rng.randrange(len(members))]
        return join_object(rng, members)
    items = [p() for _, p in fields]
    r = rng.random()
    if r < bad:
        items = items[: rng.randrange(len(items) + 1)]
    elif r < 2 * bad:
        items.append(rng.choice(INTS + ODD))
    return join_array(rng, items)


def number(rng, pool):
    return lambda: rng.choice(pool)


def regime(rng, length):
    return record(
        rng,
        [
            (
                "kind",
                lambda: pick(rng, lambda: rng.choice(KIND_FORMS[:4] + KIND_FORMS[6:8]), KIND_FORMS),
            ),
            ("len", lambda: pick(rng, lambda: str(length), INTS + ODD)),
            ("drift", lambda: pick(rng, lambda: rng.choice(FLOATS[:6]), FLOATS + ODD)),
            ("vol", lambda: pick(rng, lambda: rng.choice(["0.01", "0", "-0.0"]), FLOATS + ODD)),
        ],
    )


def funding(rng):
    if rng.random() < 0.2:
        return "null"
    return record(
        rng,
        [
            ("interval_bars", lambda: pick(rng, lambda: str(rng.randint(1, 4)), INTS + ODD)),
            ("base_rate", lambda: pick(rng, lambda: rng.choice(FLOATS[:8]), FLOATS + ODD)),
            ("sensitivity", lambda: pick(rng, lambda: "0.5", FLOATS + ODD)),
        ],
    )


def micro(rng):
    return record(
        rng,
        [
            ("book_depth", lambda: pick(rng, lambda: str(rng.randint(0, 3)), INTS + ODD)),
            ("spread_bps", lambda: pick(rng, lambda: rng.choice(FLOATS[:6]), FLOATS + ODD)),
            ("trade_rate", lambda: pick(rng, lambda: rng.choice(FLOATS[:6]), FLOATS + ODD)),
            ("funding", lambda: pick(rng, lambda: funding(rng), ODD)),
        ],
        optional=("funding",),
    )


def spec(rng):
    lengths = [rng.randint(1, 5) for _ in range(rng.choice([0, 1, 1, 2, 3]))]
    bars = sum(lengths) if rng.random() < 0.9 else rng.randint(0, 8)
    regimes = [regime(rng, n) for n in lengths]
    return record(
        rng,
        [
            ("seed", lambda: pick(rng, lambda: str(rng.randint(0, 99)), INTS + ODD)),
            ("bars", lambda: pick(rng, lambda: str(bars), INTS + ODD)),
            (
                "start_price",
                lambda: pick(rng, lambda: rng.choice(["1", "100", "0.5", "1e3"]), FLOATS + ODD),
            ),
            (
                "start_ts",
                lambda: pick(
                    rng,
                    lambda: rng.choice(["0", "-5", "1700000000", "9223372036854775807"]),
                    INTS + ODD,
                ),
            ),
            (
                "bar_secs",
                lambda: pick(rng, lambda: rng.choice(["60", "3600", "1", "0"]), INTS + ODD),
            ),
            ("regimes", lambda: pick(rng, lambda: join_array(rng, regimes), ODD)),
            ("microstructure", lambda: pick(rng, lambda: micro(rng), ODD)),
        ],
        optional=("start_ts", "bar_secs"),
    )


JUNK = [
    ",",
    "]",
    "}",
    "[",
    "{",
    ":",
    '"',
    "\\",
    "x",
    "1",
    "-",
    ".",
    "e",
    "n",
    " ",
    "\n",
    "\x01",
    "null",
    '"k"',
    "é",
    "\u2028",
]


def mutate(rng, text):
    r = rng.random()
    if r < 0.3:
        return text[: rng.randrange(len(text) + 1)]
    k = rng.randrange(len(text) + 1)
    if r < 0.6:
        return text[:k] + rng.choice(JUNK) + text[k:]
    if r < 0.8:
        return text[:k] + text[k + 1 :]
    if r < 0.9:
        return text[:k] + rng.choice(JUNK) + text[k + 1 :]
    return text + rng.choice([" x", " {}", "\n1", ",", "  "])


def texts(seed, count):
    rng = random.Random(seed)
    for _ in range(count):
        FAULT[0] = rng.choice([0.0, 0.01, 0.03, 0.1])
        t = spec(rng)
        if rng.random() < 0.5:
            t = mutate(rng, t)
        yield t


def constructed(text):
    try:
        Synth(text)
    except ValueError as err:
        return str(err)
    return None


def set_spec_error(text):
    doc = json.loads(Synth("").command('{"cmd":"set_spec","spec":' + text + "}"))
    return None if doc.get("ok") else doc["error"]


def assert_same(text):
    raw = text.encode()
    assert constructed(text) == model.construct(raw), text
    assert set_spec_error(text) == model.set_spec(raw), text


# The model itself, anchored to the rules' own examples.
@pytest.mark.parametrize(
    "text, error",
    [
        ('{"bars":1}', "parse: missing field `seed` at line 1 column 10"),
        (
            '{"x":1}',
            "parse: unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, "
            "`bar_secs`, `regimes`, `microstructure` at line 1 column 4",
        ),
        ('{"seed":[1]}', "parse: invalid type: sequence, expected u64 at line 1 column 8"),
        (
            '{"seed":-1,"bars":-1}',
            "parse: invalid value: integer `-1`, expected u64 at line 1 column 10",
        ),
        (
            "[1,2,3.0]",
            "parse: invalid length 5, expected struct GenSpec with 7 elements at line 1 column 9",
        ),
        (
            '{"bars":5.0}',
            "parse: invalid type: floating point `5.0`, expected usize at line 1 column 11",
        ),
        ("\n\n[", "parse: EOF while parsing a list at line 1 column 1"),
        (" \u3000{}\u2029", None),
    ],
)
def test_model_follows_the_examples(text, error):
    assert model.construct(text.encode()) == error
    assert constructed(text) == error


@pytest.mark.parametrize("seed", range(6))
def test_generated_texts(seed):
    for text in texts(seed, 300):
        assert_same(text)


BASES = [
    '{"seed":1,"bars":3,"start_price":100.0,"regimes":[{"kind":"trend","len":2,"drift":0.001,'
    '"vol":0.02},["crash",1,0,0]],"microstructure":{"book_depth":2,"spread_bps":1.5,"trade_rate":2,'
    '"funding":{"interval_bars":1,"base_rate":0.0001,"sensitivity":0.5}}}',
    '[7,2,1e2,-5,60,[{"kind":{"vol":null},"len":2,"drift":-1,"vol":0}],[1,2.5,3,[2,0.1,0.2]]]',
    '{\n "seed": 1,\n "bars": 1, "start_price": 5,\r\n "regimes": [ { "kind" : { "range" : null } ,'
    ' "len" : 1 , "drift" : 0 , "vol" : 0 } ],\n "microstructure": [ 1 , 0 , 0 , null ]\n}',
]


@pytest.mark.parametrize("base", BASES, ids=["object", "array", "spaced"])
def test_every_cut_and_insertion(base):
    for k in range(len(base) + 1):
        assert_same(base[:k])
        assert_same(base[:k] + base[k + 1 :])
        for insert in ("\n ", ",", "]", "}", "null", "{"):
            assert_same(base[:k] + insert + base[k:])


def number_literal(rng):
    if rng.random() < 0.4:
        return repr(rng.choice([1.0, -1.0]) * rng.random() * 10.0 ** rng.randint(-330, 308))
    text = rng.choice(["", "-"]) + rng.choice(["0", str(rng.randint(1, 9))])
    text += "".join(
        rng.choice("0123456789") for _ in range(rng.randint(0, 22) if text[-1] != "0" else 0)
    )
    if rng.random() < 0.5:
        text += "." + "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 22)))
    if rng.random() < 0.5:
        text += rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randint(0, 400))
    return text


def test_numbers_in_integer_and_float_fields():
    rng = random.Random(11)
    for _ in range(300):
        literal = number_literal(rng)
        for template in ('{"seed":%s}', '{"start_ts":%s}', "[1,1,%s]"):
            assert_same(template % literal)


STRING_PIECES = [
    '\\"',
    "\\\\",
    "\\t",
    "\\r",
    "\\n",
    "\\u0000",
    "\\u0008",
    "\\f",
    "\\u001b",
    "\\u007f",
    "a",
    " ",
    "é",
    "\\u0085",
    "\\u00ad",
    "\u200b",
    "\\u2028",
    "\\ufeff",
    "\\ud83d\\ude00",
    "\u0300",
    "\ue000",
]


def test_strings_shown_in_errors():
    rng = random.Random(12)
    for _ in range(300):
        quoted = '"' + "".join(rng.choice(STRING_PIECES) for _ in range(rng.randint(0, 5))) + '"'
        for template in (
            '{"seed":%s}',
            "{%s:1}",
            "[1,1,1,0,1,[[%s,1,1,1]]]",
            '[1,1,1,0,1,[{"kind":{%s:null}}]]',
        ):
            assert_same(template % quoted)


def test_validation_at_the_integer_limits():
    rng = random.Random(13)
    unsigned = [1, 2, 3, 2**62, 2**63 - 1, 2**63, 2**63 + 1, 2**64 - 1, 4611686018427387905]
    signed = [0, 1, -1, 2, 2**63 - 1, -(2**63), -4611686018427387904, 4611686018427387904, 3600]
    for _ in range(400):
        lengths = [rng.choice(unsigned) for _ in range(rng.randint(1, 3))]
        bars = (
            sum(lengths)
            if rng.random() < 0.7 and sum(lengths) < 2**64
            else rng.choice(unsigned + [0])
        )
        regimes = ",".join('["trend",%d,0,0]' % n for n in lengths)
        assert_same(
            '{"seed":0,"bars":%d,"start_price":1,"start_ts":%d,"bar_secs":%d,"regimes":[%s],'
            '"microstructure":[1,0,0%s]}'
            % (
                bars,
                rng.choice(signed),
                rng.choice(signed),
                regimes,
                rng.choice(["", ",null", ",[0,0,0]", ",[1,1,1]"]),
            )
        )
