"""The native module's surface: names, docstrings, argument rules, exceptions,
the thread rule and resource use."""

import gc
import inspect
import json
import re
import sys
import threading

import pytest

from quarno_synth import _quarno_synth
from quarno_synth._quarno_synth import Synth

SPEC = json.dumps(
    {
        "seed": 3,
        "bars": 5,
        "start_price": 100.0,
        "regimes": [{"kind": "trend", "len": 5, "drift": 0.001, "vol": 0.02}],
        "microstructure": {"book_depth": 2, "spread_bps": 4.0, "trade_rate": 1.5},
    }
)
VERSION = '{"cmd":"version"}'
NO_SPEC = '{"ok":false,"error":"bad spec: no spec set"}'


class Text(str):
    """A str subclass; accepted wherever a str is."""


def run_in_thread(target):
    """Runs target on a new thread and returns what it returned or raised."""
    outcome = {}

    def body():
        try:
            outcome["value"] = target()
        except BaseException as exc:  # noqa: BLE001 - handed back to the test
            outcome["error"] = exc

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    return outcome


# --- names and docstrings -------------------------------------------------------


def test_module_names():
    assert _quarno_synth.__doc__ == "The native module (`quarno_synth._quarno_synth`)."
    assert _quarno_synth.__version__ == "0.2.0"
    assert _quarno_synth.__all__ == ["__version__", "Synth"]
    public = [name for name in dir(_quarno_synth) if not name.startswith("_")]
    assert public == ["Synth"]


def test_class_identity():
    assert Synth.__module__ == "builtins"
    assert Synth.__qualname__ == "Synth"
    assert Synth.__name__ == "Synth"
    import quarno_synth

    assert quarno_synth.Synth is Synth
    assert quarno_synth.__version__ == "0.2.0"


def test_reimport_reuses_the_type():
    import importlib

    name = "quarno_synth._quarno_synth"
    saved = sys.modules.pop(name)
    try:
        fresh = importlib.import_module(name)
        assert fresh is not saved
        assert fresh.Synth is saved.Synth
        assert fresh.__all__ == ["__version__", "Synth"]
        assert fresh.Synth("").command('{"cmd":"version"}') == '{"version":"0.2.0"}'
    finally:
        sys.modules[name] = saved


@pytest.mark.parametrize(
    "obj, doc, signature",
    [
        (
            Synth,
            "A synth driven by JSON commands.\n\n`unsendable`: the handle holds a stateful "
            "generator, so it is bound to the\nthread that created it.",
            "(spec_json)",
        ),
        (
            Synth.command,
            "Apply a command JSON and return the resulting response JSON.",
            "($self, cmd_json)",
        ),
        (Synth.version, "The library version.", "()"),
    ],
)
def test_docstrings_and_signatures(obj, doc, signature):
    assert obj.__doc__ == doc
    assert obj.__text_signature__ == signature


def test_version_on_class_and_handle():
    assert Synth.version() == "0.2.0"
    assert Synth("").version() == _quarno_synth.__version__
    assert isinstance(inspect.getattr_static(Synth, "version"), staticmethod)


# --- argument rules ---------------------------------------------------------------


def make(*args, **kwargs):
    return Synth(*args, **kwargs)


def command(*args, **kwargs):
    return Synth("").command(*args, **kwargs)


@pytest.mark.parametrize(
    "call, args, kwargs, message",
    [
        (make, (), {}, "Synth.__new__() missing 1 required positional argument: 'spec_json'"),
        (make, ("", ""), {}, "Synth.__new__() takes 1 positional arguments but 2 were given"),
        (make, ("", "", ""), {}, "Synth.__new__() takes 1 positional arguments but 3 were given"),
        (make, (), {"spec": ""}, "Synth.__new__() got an unexpected keyword argument 'spec'"),
        (make, ("",), {"x": 1}, "Synth.__new__() got an unexpected keyword argument 'x'"),
        (
            make,
            ("",),
            {"spec_json": ""},
            "Synth.__new__() got multiple values for argument 'spec_json'",
        ),
        (command, (), {}, "Synth.command() missing 1 required positional argument: 'cmd_json'"),
        (
            command,
            (VERSION, VERSION),
            {},
            "Synth.command() takes 1 positional arguments but 2 were given",
        ),
        (command, (), {"cmd": VERSION}, "Synth.command() got an unexpected keyword argument 'cmd'"),
        (
            command,
            (VERSION,),
            {"cmd_json": VERSION},
            "Synth.command() got multiple values for argument 'cmd_json'",
        ),
    ],
)
def test_argument_errors(call, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        call(*args, **kwargs)
    assert str(info.value) == message


def test_arguments_by_keyword_and_subclass():
    handle = Synth(spec_json=Text(SPEC))
    assert handle.command(cmd_json=Text(VERSION)) == '{"version":"0.2.0"}'
    assert handle.command(Text('{"cmd":"generate"}')) == handle.command('{"cmd":"generate"}')


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "value, message",
    [
        (b"{}", "'bytes' object is not an instance of 'str'"),
        (bytearray(b""), "'bytearray' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (7, "'int' object is not an instance of 'str'"),
        ({"cmd": "version"}, "'dict' object is not an instance of 'str'"),
        (Outer.Inner(), "'Outer.Inner' object is not an instance of 'str'"),
        (Synth.version, "'builtin_function_or_method' object is not an instance of 'str'"),
    ],
)
@pytest.mark.parametrize("target", ["spec_json", "cmd_json"])
def test_non_str_arguments(value, message, target):
    with pytest.raises(TypeError) as info:
        if target == "spec_json":
            Synth(value)
        else:
            Synth("").command(value)
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{target}'"]


@pytest.mark.parametrize("target", ["spec_json", "cmd_json"])
@pytest.mark.parametrize("text, position", [("\ud800", 0), ('{"cmd":"\udfff"}', 8)])
def test_lone_surrogates(target, text, position):
    handle = Synth("")
    with pytest.raises(UnicodeEncodeError) as info:
        if target == "spec_json":
            Synth(text)
        else:
            handle.command(text)
    assert str(info.value) == (
        f"'utf-8' codec can't encode character {text[position]!r} in position {position}: "
        "surrogates not allowed"
    )
    assert info.value.__notes__ == [f"while processing '{target}'"]
    # The busy flag was cleared: the handle still answers.
    assert handle.command(VERSION) == '{"version":"0.2.0"}'


# --- construction -------------------------------------------------------------------


@pytest.mark.parametrize(
    "text", ["", "   ", "{}", " \t\n{}\n\t ", "\u3000{}\u00a0", "\u2028\n", Text("{}")]
)
def test_texts_without_a_spec(text):
    handle = Synth(text)
    assert handle.command('{"cmd":"generate"}') == NO_SPEC
    assert handle.command('{"cmd":"generate_stream"}') == NO_SPEC


@pytest.mark.parametrize(
    "text, message",
    [
        ("{ }", "parse: missing field `seed` at line 1 column 3"),
        ("\n\n[", re.compile(r"parse: .* at line 1 column 1")),
        (SPEC + " {}", f"parse: trailing characters at line 1 column {len(SPEC) + 2}"),
        ("\u200b{}", "parse: expected value at line 1 column 1"),
        ('{"seed":-1}', "parse: invalid value: integer `-1`, expected u64 at line 1 column 10"),
        (SPEC.replace('"bars": 5', '"bars": 0'), "bad spec: bars must be > 0"),
        (SPEC.replace('"len": 5', '"len": 4'), "bad spec: sum of regime lengths must equal bars"),
    ],
)
def test_constructor_value_errors(text, message):
    with pytest.raises(ValueError) as info:
        Synth(text)
    if isinstance(message, str):
        assert str(info.value) == message
    else:
        assert message.fullmatch(str(info.value)), str(info.value)
    assert not getattr(info.value, "__notes__", None)


def test_constructor_spec_is_current():
    assert Synth(" \n" + SPEC + "\u3000").command('{"cmd":"generate"}') == Synth("").command(
        json.dumps({"cmd": "generate", "spec": json.loads(SPEC)})
    )


def test_handles_are_independent():
    first, second = Synth(""), Synth(SPEC)
    other = SPEC.replace('"seed": 3', '"seed": 4')
    assert first.command(json.dumps({"cmd": "set_spec", "spec": json.loads(other)})) == (
        '{"ok":true}'
    )
    assert second.command('{"cmd":"generate"}') == Synth(SPEC).command('{"cmd":"generate"}')
    assert first.command('{"cmd":"generate"}') == Synth(other).command('{"cmd":"generate"}')
    assert first.command('{"cmd":"generate"}') != second.command('{"cmd":"generate"}')


# --- thread rule ------------------------------------------------------------------

REFUSAL = re.compile(
    r"assertion `left == right` failed: _quarno_synth::PySynth is unsendable, but sent to "
    r"another thread\n  left: ThreadId\((\d+)\)\n right: ThreadId\((\d+)\)"
)


def test_command_from_foreign_thread_is_refused():
    handle = Synth(SPEC)
    expected = handle.command('{"cmd":"generate"}')
    outcome = run_in_thread(lambda: handle.command('{"cmd":"set_spec"}'))
    error = outcome["error"]
    assert type(error) is RuntimeError
    match = REFUSAL.fullmatch(str(error))
    assert match, str(error)
    caller, owner = (int(n) for n in match.groups())
    assert caller != owner and caller > 0 and owner > 0

    # A second foreign thread has a number of its own; the owner's stays the same.
    again = REFUSAL.fullmatch(str(run_in_thread(lambda: handle.command(VERSION))["error"]))
    assert int(again.group(2)) == owner and int(again.group(1)) not in (caller, owner)

    # Refusal comes after the argument check and before the argument is read.
    assert isinstance(run_in_thread(lambda: handle.command())["error"], TypeError)
    assert REFUSAL.fullmatch(str(run_in_thread(lambda: handle.command(b"x"))["error"]))

    # The handle is untouched and usable by its owner.
    assert handle.command('{"cmd":"generate"}') == expected


def test_version_and_construction_work_on_any_thread():
    assert run_in_thread(Synth.version) == {"value": "0.2.0"}
    outcome = run_in_thread(lambda: Synth(SPEC).command('{"cmd":"generate"}'))
    assert outcome == {"value": Synth(SPEC).command('{"cmd":"generate"}')}


DROP_MESSAGE = "_quarno_synth::PySynth is unsendable, but is being dropped on another thread"


@pytest.fixture
def no_stray_collection():
    """Handles of earlier tests caught in reference cycles would otherwise be
    collected whenever the collector next runs, possibly on the helper thread,
    and be reported there too."""
    gc.collect()
    gc.disable()
    yield
    gc.enable()


@pytest.mark.usefixtures("no_stray_collection")
def test_release_on_foreign_thread_is_reported(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    holder = [Synth(SPEC)]
    run_in_thread(lambda: holder.pop() and None)
    assert len(seen) == 1
    report = seen[0]
    assert type(report.exc_value) is RuntimeError
    assert str(report.exc_value) == DROP_MESSAGE
    assert report.object is None

    # Released on the owner thread: nothing to report.
    holder.append(Synth(SPEC))
    holder.pop()
    assert len(seen) == 1


@pytest.mark.usefixtures("no_stray_collection")
def test_release_report_keeps_a_pending_exception(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    holder = [Synth("")]

    # The call fails and only then releases its argument, the handle's last
    # reference, with the TypeError still pending.
    outcome = run_in_thread(lambda: int(holder.pop()))
    assert type(outcome["error"]) is TypeError
    assert "Synth" in str(outcome["error"])
    assert [str(r.exc_value) for r in seen] == [DROP_MESSAGE]


# --- memory -------------------------------------------------------------------------

HUGE = SPEC.replace('"bars": 5', '"bars": 1000000000000000').replace(
    '"len": 5', '"len": 1000000000000000'
)


@pytest.mark.parametrize("name", ["generate", "generate_stream"])
def test_memory_error_leaves_handle_usable(name):
    handle = Synth(SPEC)
    before = handle.command('{"cmd":"generate"}')
    with pytest.raises(MemoryError) as info:
        handle.command(json.dumps({"cmd": name, "spec": json.loads(HUGE)}))
    assert str(info.value).startswith("out of memory: ")
    assert handle.command('{"cmd":"generate"}') == before

    big = Synth(HUGE)
    with pytest.raises(MemoryError):
        big.command(json.dumps({"cmd": name}))
    assert big.command(VERSION) == '{"version":"0.2.0"}'


# --- resources ----------------------------------------------------------------------


def resident_bytes():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    import resource

    return pages * resource.getpagesize()


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_no_growth_over_many_handles_and_commands():
    regimes = [{"kind": "range", "len": 1, "drift": 0.0, "vol": 0.01}] * 40
    spec = json.loads(SPEC)
    spec.update(bars=40, regimes=regimes)
    spec_text = json.dumps(spec)
    cmd_text = json.dumps({"cmd": "set_spec", "spec": spec})
    bad_text = '{"cmd":"generate","spec":null}'
    arguments = [spec_text, cmd_text, bad_text]
    counts = [sys.getrefcount(a) for a in arguments]

    def churn(rounds):
        for _ in range(rounds):
            handle = Synth(spec_text)
            handle.command(cmd_text)
            handle.command(bad_text)
            handle.command(VERSION)
            try:
                Synth(bad_text)
            except ValueError:
                pass

    churn(1000)
    gc.collect()
    start = resident_bytes()
    churn(10000)
    gc.collect()
    grown = resident_bytes() - start
    # A leaked spec per handle or per set_spec alone would be over 10 MB here.
    assert grown < 4 * 1024 * 1024, grown
    assert [sys.getrefcount(a) for a in arguments] == counts
