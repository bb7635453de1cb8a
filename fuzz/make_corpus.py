#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the cases the unit
tests tabulate. Run once after changing the tables; the files are committed."""

import hashlib
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"

SPEC = (
    '{"seed":7,"bars":4,"start_price":100.0,"regimes":[{"kind":"trend","len":4,'
    '"drift":0.001,"vol":0.02}],"microstructure":{"book_depth":2,"spread_bps":5.0,'
    '"trade_rate":2.0,"funding":{"interval_bars":2,"base_rate":0.0001,"sensitivity":0.5}}}'
)
SPECS = [
    SPEC,
    '[1,3,50.0,-60,60,[["range",2,0.0,0.01],["crash",1,0.01,0.03]],[2,1.0,1.0,null]]',
    '{"seed":18446744073709551615,"bars":2,"start_price":1e-3,"start_ts":-5,"bar_secs":1,'
    '"regimes":[{"kind":{"vol":null},"len":2,"drift":0,"vol":-0.0}],'
    '"microstructure":[1,0,800.0,[1,-0.01,2e3]]}',
    '{\n  "seed": 1,\n  "bars": 1,\n  "start_price": 100,\n  "start_ts": 9223372036854775807,\n'
    '  "regimes": [{"kind": "trend", "len": 1, "drift": 0.0, "vol": 0.0}],\n'
    '  "microstructure": {"book_depth": 3, "spread_bps": 0.0, "trade_rate": 0.0}\n}',
    '{"bars":1}',
    '{"x":1}',
    '{"seed":[1]}',
    '{"seed":-1,"bars":-1}',
    '{"seed":1,"seed":2}',
    '{"seed":1,"bars":5.0}',
    '{"seed":1,"bars":"5"}',
    '{"start_ts":9223372036854775808}',
    '{"start_ts":-0}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":{}}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[["trend",10,0.001]]}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":"Trend"}]}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":3}]}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":{}}]}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":{"crash":1}}]}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[],"microstructure":{"funding":{}}}',
    "[1,2,3]",
    "[1,2,3.0,4,5,6]",
    "[1,2,3.0,4,5,[],[1,2,3],8]",
    '{"Seed":1}',
    "{} {}",
    "[0,0,0.0,0,0,[],[0,0.0,0.0]]",
    # extension members (read by the extended dialect only)
    '{"seed":7,"bars":4,"start_price":100.0,"regimes":[{"kind":"trend","len":4,"drift":0.001,'
    '"vol":0.02,"garch":{"alpha":0.1,"gamma":0.1,"beta":0.8},"tails":{"df":5.0},'
    '"jumps":{"rate":0.5,"mean":-0.01,"vol":0.02}}],"microstructure":[2,5.0,2.0]}',
    '[1,3,50.0,-60,60,[["range",2,0.0,0.01,[0.1,0.2,0.7],null,[1,0,0]],'
    '["crash",1,0.01,0.03,null,[2.5]]],[2,1.0,1.0,null]]',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":"vol","len":1,"drift":0,"vol":0,'
    '"garch":{"alpha":0.5,"gamma":1,"beta":0.1},"tails":{"df":2}}],'
    '"microstructure":[1,0,0]}',
    # a universe asset: factors with per-kind loadings and common jumps
    '{"seed":7,"bars":4,"start_price":100.0,"regimes":[{"kind":"crash","len":4,"drift":0.001,'
    '"vol":0.02}],"microstructure":[1,1.0,0.0],"factors":{"seed":5,"count":2,'
    '"loadings":[0.5,0.3],"regimes":{"crash":[0.8,0.3]},"jumps":{"rate":0.1,"mean":-3,"vol":1}}}',
    '{"seed":7,"bars":1,"start_price":1,"regimes":[["vol",1,0,0]],"microstructure":[1,0,0],'
    '"factors":{"seed":1,"count":2,"loadings":[0.9,0.9],"jumps":{"rate":2,"mean":0,"vol":0}}}',
    # a regime chain: states, transitions and the start state
    '{"seed":3,"bars":9,"start_price":10.0,"regimes":[],"chain":{"states":[{"kind":"trend",'
    '"len":1,"drift":0.001,"vol":0.01},["crash",2,0.01,0.03,null,[4.0]]],'
    '"transitions":[[0.9,0.1],[0.5,0.5]],"start":1},"microstructure":[1,1.0,1.0]}',
    '[3,9,10.0,0,60,[],[1,1.0,1.0],null,[[["vol",1,0,0.01]],[[1]]]]',
]
READER = [
    "",
    "   ",
    "x",
    "{}x",
    "{}\n x",
    "[1,]",
    "[1 2]",
    '{"a" 1}',
    "tru",
    "trux",
    "-",
    "01",
    "1e400",
    '"a\nb"',
    "[" * 128,
    "[" * 127 + "]" * 127,
    "+1",
    ".5",
    "NaN",
    "-Infinity",
    "1.",
    "1.x",
    "\ufeff{}",
    "1e-400",
    "-1e-400",
    "-0",
    "18446744073709551615",
    "18446744073709551616",
    "-9223372036854775808",
    "-9223372036854775809",
    "2.7715077941825975e-163",
    '"\\ud83d\\ude00"',
    '"\\ud800"',
    '"\\ud800\\u0041"',
    '"\\udc00"',
    '"\\q"',
    '"\\u12g4"',
    '{"a":[1,{"b":null}],"a":true,"c":"\\"\\\\/\\b\\f\\n\\r\\t"}',
    '{"a":1,}',
    "{1:2}",
    '{"a":1 "b":2}',
    "123456789012345678901234567890.5e-10",
    "0.1e99999999999",
    "1e-99999999999",
    '"\x01"',
    "[true,false,null]",
]
COMMANDS = [
    '{"cmd":"version"}',
    '{"cmd":"version","spec":7,"other":[1]}',
    '{"cmd":"version"} x',
    '{"cmd":"version"} \t\r\n',
    "",
    "[" * 128,
    "[" * 127 + "]" * 127,
    "[]",
    "{}",
    '{"cmd":5}',
    '{"cmd":"Version"}',
    '{"cmd":""}',
    '{"cmd":"x","cmd":"version"}',
    '{"cmd":"set_spec"}',
    '{"cmd":"generate"}',
    '{"cmd":"generate_stream"}',
    '{"cmd":"set_spec","spec":{}}',
    '{"cmd":"generate","spec":null}',
    '{"cmd":"a\\"b\\\\c\\u0001\\t/\\u00e9"}',
    '{"cmd":"set_spec","spec":' + SPEC + "}",
    '{"cmd":"generate","spec":' + SPEC + "}",
    '{"cmd":"generate_stream","spec":' + SPECS[1] + "}",
    '{"cmd":"generate","spec":' + SPECS[2] + "}",
    '{"cmd":"set_spec","spec":[1,0,1.0,0,60,[],[1,1.0,1.0]]}',
    '{"cmd":"set_spec","spec":' + SPECS[1] + '}\0{"cmd":"generate"}\0{"cmd":"generate_stream"}',
    '{"cmd":"set_spec","spec":[1,0,1.0,0,60,[],[1,1.0,1.0]]}\0{"cmd":"generate"}',
    '{"cmd":"generate","spec":[1,1,1e300,0,1,[["crash",1,700.0,1e6]],[1,1.0,1.0]]}',
]

EXTENDED = [
    '{"seed":7,"bars":6,"start_price":100.0,"regimes":[{"kind":"trend","len":4,"drift":0.001,'
    '"vol":0.02,"garch":{"alpha":0.06,"gamma":0.1,"beta":0.88},"tails":{"df":5.0},'
    '"jumps":{"rate":0.2,"mean":-0.02,"vol":0.03}},{"kind":"crash","len":2,"drift":0.003,'
    '"vol":0.025}],"microstructure":{"book_depth":3,"spread_bps":2.0,"trade_rate":4.0}}',
    '{"seed":1,"bars":2,"start_price":1,"regimes":[{"kind":"vol","len":2,"drift":0,"vol":0.01,'
    '"garch":{"alpha":0,"gamma":0,"beta":0},"tails":{"df":1e300},"jumps":{"rate":0,"mean":0,'
    '"vol":0}}],"microstructure":{"book_depth":1,"spread_bps":0,"trade_rate":0}}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":"vol","len":1,"drift":0,"vol":0,'
    '"garch":{"alpha":1,"gamma":1,"beta":1}}],"microstructure":{"book_depth":1,'
    '"spread_bps":0,"trade_rate":0}}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":"vol","len":1,"drift":0,"vol":0,'
    '"tails":{"df":2}}],"microstructure":{"book_depth":1,"spread_bps":0,"trade_rate":0}}',
    '{"seed":1,"bars":1,"start_price":1,"regimes":[{"kind":"vol","len":1,"drift":0,"vol":0,'
    '"jumps":{"rate":-1}}],"microstructure":{"book_depth":1,"spread_bps":0,"trade_rate":0}}',
    '{"seed":1,"bars":1,"regimes":[{"garch":5}]}',
]
# Batch sizes for the columnar target: three of them (1, 7 and 64 bars), then the spec.
BATCHES = "\x02\x00\x06\x3f"


def write(target, cases):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    for case in cases:
        data = case.encode("utf-8")
        (folder / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


write("json_reader_fuzz", READER + SPECS + COMMANDS[:4])
write("parse_spec_fuzz", SPECS + READER[:24])
write("spec_from_value_fuzz", SPECS)
write("dispatcher_fuzz", COMMANDS)
write("columnar_run_fuzz", [BATCHES + spec for spec in SPECS[:4] + EXTENDED[:2]])
write("extended_reader_fuzz", SPECS + EXTENDED + READER[:12])
