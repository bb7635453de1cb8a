"""An independent model of spec decoding and validation, written from the
decoding rules rather than from the native code: the text decoder with its
error texts and positions, the tree reader, the decoder from a parsed value and
the validator. Texts are bytes; positions are byte indices."""

import math

U64_MAX = 2**64 - 1
I64_MAX = 2**63 - 1
I64_MIN = -(2**63)

WS = b" \t\n\r"
UNICODE_WHITE_SPACE = (
    set(range(0x09, 0x0E))
    | {0x20, 0x85, 0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000}
    | set(range(0x2000, 0x200B))
)

FIELDS = {
    "GenSpec": ["seed", "bars", "start_price", "start_ts", "bar_secs", "regimes", "microstructure"],
    "Regime": ["kind", "len", "drift", "vol"],
    "Microstructure": ["book_depth", "spread_bps", "trade_rate", "funding"],
    "FundingSpec": ["interval_bars", "base_rate", "sensitivity"],
}
# field -> decoding rule
TYPES = {
    "seed": "u64",
    "bars": "usize",
    "start_price": "f64",
    "start_ts": "i64",
    "bar_secs": "i64",
    "regimes": "regimes",
    "microstructure": "Microstructure",
    "kind": "kind",
    "len": "usize",
    "drift": "f64",
    "vol": "f64",
    "book_depth": "usize",
    "spread_bps": "f64",
    "trade_rate": "f64",
    "funding": "funding",
    "interval_bars": "usize",
    "base_rate": "f64",
    "sensitivity": "f64",
}
DEFAULTS = {"start_ts": 1700000000, "bar_secs": 3600, "funding": None}
KINDS = ["trend", "range", "crash", "vol"]


class DecodeError(Exception):
    def __init__(self, message, pos=None):
        super().__init__(message)
        self.message = message
        self.pos = pos


# ---- numbers and their display ----------------------------------------------


def format_float(x):
    """The writer's float text."""
    if math.isnan(x) or math.isinf(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    r = repr(abs(x))  # shortest round-trip digits, nearest among them
    if "e" in r:
        mant, exp = r.split("e")
        exp = int(exp)
    else:
        mant, exp = r, 0
    if "." in mant:
        ip, fp = mant.split(".")
    else:
        ip, fp = mant, ""
    digits = (ip + fp).lstrip("0")
    # decimal exponent of the first significant digit
    lead_zeros = len(ip + fp) - len((ip + fp).lstrip("0"))
    e = exp + len(ip) - 1 - lead_zeros
    digits = digits.rstrip("0") or "0"
    n = len(digits)
    if -5 <= e <= 15:
        if e < 0:
            body = "0." + "0" * (-e - 1) + digits
        elif e < n - 1:
            body = digits[: e + 1] + "." + digits[e + 1 :]
        else:
            body = digits + "0" * (e - n + 1) + ".0"
    else:
        body = (
            digits[0]
            + ("." + digits[1:] if n >= 2 else "")
            + "e"
            + ("+" if e > 0 else "-")
            + str(abs(e))
        )
    return sign + body


POW10 = [float(10**k) for k in range(309)]


class Num:
    """A number as its literal was read: kind 'u', 'i' or 'f' and the value."""

    def __init__(self, kind, value):
        self.kind = kind
        self.value = value


def describe_string(raw):
    """raw: the decoded string's UTF-8 bytes."""
    out = ['string "']
    for ch in raw.decode("utf-8"):
        cp = ord(ch)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif cp == 0:
            out.append("\\0")
        elif cp < 0x20 or cp == 0x7F or unprintable(cp):
            out.append("\\u{%x}" % cp)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def unprintable(cp):
    # The native code's own (free) choice beyond ASCII.
    return (
        0x80 <= cp <= 0x9F
        or cp == 0xAD
        or 0x200B <= cp <= 0x200F
        or 0x2028 <= cp <= 0x202E
        or 0x2060 <= cp <= 0x2064
        or 0x2066 <= cp <= 0x2069
        or cp == 0xFEFF
    )


def describe(v):
    """v: ('null',), ('bool', b), ('num', Num), ('str', bytes), ('seq',), ('map',)."""
    tag = v[0]
    if tag == "null":
        return "null"
    if tag == "bool":
        return "boolean `%s`" % ("true" if v[1] else "false")
    if tag == "num":
        n = v[1]
        if n.kind in "ui":
            return "integer `%d`" % n.value
        return "floating point `%s`" % format_float(n.value)
    if tag == "str":
        return describe_string(v[1])
    if tag == "seq":
        return "sequence"
    return "map"


# ---- the token layer --------------------------------------------------------


class Lexer:
    def __init__(self, text):
        self.t = text
        self.i = 0

    def peek(self):
        return self.t[self.i] if self.i < len(self.t) else None

    def ws(self):
        while self.i < len(self.t) and self.t[self.i] in WS:
            self.i += 1
        return self.peek()

    def fail_peek(self, msg):
        raise DecodeError(msg, self.i + 1 if self.i < len(self.t) else self.i)

    def fail_here(self, msg):
        raise DecodeError(msg, self.i)

    def literal(self, word):
        for b in word:
            if self.i >= len(self.t):
                self.fail_here("EOF while parsing a value")
            c = self.t[self.i]
            self.i += 1
            if c != b:
                self.fail_here("expected ident")

    def hex4(self):
        if len(self.t) - self.i < 4:
            self.i = len(self.t)
            self.fail_here("EOF while parsing a string")
        chunk = self.t[self.i : self.i + 4]
        self.i += 4
        if any(c not in b"0123456789abcdefABCDEF" for c in chunk):
            self.fail_here("invalid escape")
        return int(chunk, 16)

    def string(self):
        assert self.t[self.i] == ord('"')
        self.i += 1
        out = bytearray()
        simple = {
            ord('"'): b'"',
            ord("\\"): b"\\",
            ord("/"): b"/",
            ord("b"): b"\b",
            ord("f"): b"\f",
            ord("n"): b"\n",
            ord("r"): b"\r",
            ord("t"): b"\t",
        }
        while True:
            if self.i >= len(self.t):
                self.fail_here("EOF while parsing a string")
            c = self.t[self.i]
            self.i += 1
            if c == ord('"'):
                return bytes(out)
            if c < 0x20:
                self.fail_here("control character (\\u0000-\\u001F) found while parsing a string")
            if c != ord("\\"):
                out.append(c)
                continue
            if self.i >= len(self.t):
                self.fail_here("EOF while parsing a string")
            e = self.t[self.i]
            self.i += 1
            if e in simple:
                out += simple[e]
                continue
            if e != ord("u"):
                self.fail_here("invalid escape")
            unit = self.hex4()
            if 0xDC00 <= unit <= 0xDFFF:
                self.fail_here("lone leading surrogate in hex escape")
            if not 0xD800 <= unit <= 0xDBFF:
                out += chr(unit).encode("utf-8")
                continue
            for want in b"\\u":
                if self.i >= len(self.t):
                    self.fail_here("EOF while parsing a string")
                got = self.t[self.i]
                self.i += 1
                if got != want:
                    self.fail_here("unexpected end of hex escape")
            low = self.hex4()
            if not 0xDC00 <= low <= 0xDFFF:
                self.fail_here("lone leading surrogate in hex escape")
            out += chr(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)).encode("utf-8")

    def digit(self):
        c = self.peek()
        return c is not None and 0x30 <= c <= 0x39

    def need_digit(self):
        if self.i >= len(self.t):
            self.fail_here("EOF while parsing a value")
        c = self.t[self.i]
        self.i += 1
        if not 0x30 <= c <= 0x39:
            self.fail_here("invalid number")
        return c - 0x30

    def number(self):
        neg = False
        if self.peek() == ord("-"):
            neg = True
            self.i += 1
        d = self.need_digit()
        int_digits = [d]
        if d == 0:
            if self.digit():
                self.fail_peek("invalid number")
        else:
            while self.digit():
                int_digits.append(self.t[self.i] - 0x30)
                self.i += 1
        frac_digits = None
        if self.peek() == ord("."):
            self.i += 1
            frac_digits = [self.need_digit()]
            while self.digit():
                frac_digits.append(self.t[self.i] - 0x30)
                self.i += 1
        exp_sign, exp_digits = 1, None
        if self.peek() in (ord("e"), ord("E")):
            self.i += 1
            if self.peek() == ord("+"):
                self.i += 1
            elif self.peek() == ord("-"):
                exp_sign = -1
                self.i += 1
            start = self.i
            exp_digits = [self.need_digit()]
            while self.digit():
                exp_digits.append(self.t[self.i] - 0x30)
                self.i += 1
        if frac_digits is None and exp_digits is None:
            mag = int("".join(map(str, int_digits)))
            if not neg and mag <= U64_MAX:
                return Num("u", mag)
            if neg and 1 <= mag <= 2**63:
                return Num("i", -mag)
        # float conversion, step by step
        s, e, overflowed = 0, 0, False
        for dg in int_digits:
            if overflowed or s * 10 + dg > U64_MAX:
                overflowed = True
                e += 1
            else:
                s = s * 10 + dg
        for dg in frac_digits or []:
            if overflowed or s * 10 + dg > U64_MAX:
                overflowed = True
            else:
                s = s * 10 + dg
                e -= 1
        if exp_digits is not None:
            acc = 0
            for k, dg in enumerate(exp_digits):
                if acc * 10 + dg > 2**31 - 1:
                    if s != 0 and exp_sign > 0:
                        raise DecodeError("number out of range", start + k + 1)
                    return Num("f", -0.0 if neg else 0.0)
                acc = acc * 10 + dg
            e += exp_sign * acc
        f = float(s)
        while abs(e) > 308:
            if f == 0:
                break
            if e > 0:
                self.fail_here("number out of range")
            f = f / POW10[308]
            e += 308
        else:
            if e >= 0:
                f = f * POW10[e]
                if math.isinf(f):
                    self.fail_here("number out of range")
            else:
                f = f / POW10[-e]
        return Num("f", -f if neg else f)

    def scalar(self):
        """A value read up to the point where a field can judge it: arrays and
        objects are only looked at."""
        c = self.ws()
        if c is None:
            self.fail_here("EOF while parsing a value")
        if c == ord("n"):
            self.literal(b"null")
            return ("null",)
        if c == ord("t"):
            self.literal(b"true")
            return ("bool", True)
        if c == ord("f"):
            self.literal(b"false")
            return ("bool", False)
        if c == ord('"'):
            return ("str", self.string())
        if c == ord("["):
            return ("seq",)
        if c == ord("{"):
            return ("map",)
        if c == ord("-") or 0x30 <= c <= 0x39:
            return ("num", self.number())
        self.fail_peek("expected value")

    # punctuation of a generic array / object
    def next_element(self, first):
        c = self.ws()
        if c == ord("]"):
            return False
        if c is None:
            self.fail_here("EOF while parsing a list")
        if not first:
            if c != ord(","):
                self.fail_peek("expected `,` or `]`")
            self.i += 1
            c = self.ws()
            if c == ord("]"):
                self.fail_peek("trailing comma")
            if c is None:
                self.fail_here("EOF while parsing a value")
        return True

    def next_key(self, first):
        c = self.ws()
        if c == ord("}"):
            return False
        if c is None:
            self.fail_here("EOF while parsing an object")
        if not first:
            if c != ord(","):
                self.fail_peek("expected `,` or `}`")
            self.i += 1
            c = self.ws()
            if c == ord("}"):
                self.fail_peek("trailing comma")
            if c is None:
                self.fail_here("EOF while parsing a value")
        if c != ord('"'):
            self.fail_peek("key must be a string")
        return True

    def colon(self):
        c = self.ws()
        if c is None:
            self.fail_here("EOF while parsing an object")
        if c != ord(":"):
            self.fail_peek("expected `:`")
        self.i += 1

    def finish(self):
        if self.ws() is not None:
            self.fail_peek("trailing characters")


def position(text, pos):
    s = text.rfind(b"\n", 0, pos) + 1
    line = 1 + text.count(b"\n", 0, s)
    return line, pos - s


# ---- decoding from text -----------------------------------------------------


class TextDecoder:
    def __init__(self, text):
        self.lx = Lexer(text)

    def record_error(self, msg, closing):
        if self.lx.ws() == ord(closing):
            self.lx.i += 1
        self.lx.fail_here(msg)

    def value_error(self, v, expected):
        self.lx.fail_here("invalid type: %s, expected %s" % (describe(v), expected))

    def field(self, name):
        rule = TYPES[name]
        if rule in FIELDS:
            return self.record(rule)
        if rule == "regimes":
            return self.regimes()
        if rule == "kind":
            return self.kind()
        if rule == "funding":
            if self.lx.ws() == ord("n"):
                self.lx.literal(b"null")
                return None
            return self.record("FundingSpec")
        v = self.lx.scalar()
        n = v[1] if v[0] == "num" else None
        if rule in ("u64", "usize"):
            if n is not None and n.kind == "u":
                return n.value
            if n is not None and n.kind == "i":
                self.lx.fail_here("invalid value: integer `%d`, expected %s" % (n.value, rule))
        elif rule == "i64":
            if n is not None and n.kind in "ui":
                if n.value > I64_MAX:
                    self.lx.fail_here("invalid value: integer `%d`, expected i64" % n.value)
                return n.value
        elif n is not None:  # f64
            return float(n.value)
        self.value_error(v, rule)

    def variant(self, raw):
        name = raw.decode("utf-8")
        if name not in KINDS:
            self.lx.fail_here(
                "unknown variant `%s`, expected one of `trend`, `range`, `crash`, `vol`" % name
            )
        return name

    def kind(self):
        lx = self.lx
        c = lx.ws()
        if c == ord('"'):
            return self.variant(lx.string())
        if c is None:
            lx.fail_here("EOF while parsing a value")
        if c != ord("{"):
            lx.fail_peek("expected value")
        lx.i += 1
        c = lx.ws()
        if c is None:
            lx.fail_here("EOF while parsing a value")
        if c == ord("}"):
            lx.fail_peek("expected value")
        if c != ord('"'):
            lx.fail_peek("key must be a string")
        name = self.variant(lx.string())
        lx.colon()
        v = lx.scalar()
        if v[0] != "null":
            self.value_error(v, "unit")
        c = lx.ws()
        if c is None:
            lx.fail_here("EOF while parsing an object")
        if c != ord("}"):
            lx.fail_peek("expected value")
        lx.i += 1
        return name

    def regimes(self):
        lx = self.lx
        if lx.ws() != ord("["):
            self.value_error(lx.scalar(), "a sequence")
        lx.i += 1
        out = []
        first = True
        while lx.next_element(first):
            first = False
            out.append(self.record("Regime"))
        lx.i += 1
        return out

    def record(self, rec):
        lx = self.lx
        c = lx.ws()
        if c == ord("{"):
            lx.i += 1
            return self.object_form(rec)
        if c == ord("["):
            lx.i += 1
            return self.array_form(rec)
        self.value_error(lx.scalar(), "struct " + rec)

    def object_form(self, rec):
        lx = self.lx
        names = FIELDS[rec]
        got = {}
        first = True
        while lx.next_key(first):
            first = False
            key = lx.string().decode("utf-8")
            if key not in names:
                self.record_error(
                    "unknown field `%s`, expected one of %s"
                    % (key, ", ".join("`%s`" % n for n in names)),
                    "}",
                )
            if key in got:
                self.record_error("duplicate field `%s`" % key, "}")
            got[key] = None
            lx.colon()
            got[key] = self.field(key)
        for name in names:
            if name not in got:
                if name not in DEFAULTS:
                    self.record_error("missing field `%s`" % name, "}")
                got[name] = DEFAULTS[name]
        lx.i += 1
        return {n: got[n] for n in names}

    def array_form(self, rec):
        lx = self.lx
        names = FIELDS[rec]
        got = {}
        ended = False
        for k, name in enumerate(names):
            if not ended:
                ended = not lx.next_element(k == 0)
            if not ended:
                got[name] = self.field(name)
            elif name in DEFAULTS:
                got[name] = DEFAULTS[name]
            else:
                self.record_error(
                    "invalid length %d, expected struct %s with %d elements" % (k, rec, len(names)),
                    "]",
                )
        c = lx.ws()
        if c == ord("]"):
            lx.i += 1
            return got
        if c is None:
            lx.fail_here("EOF while parsing a list")
        if c == ord(","):
            lx.i += 1
            if lx.ws() == ord("]"):
                lx.fail_peek("trailing comma")
        lx.fail_peek("trailing characters")

    def document(self):
        spec = self.record("GenSpec")
        self.lx.finish()
        return spec


def parse_spec(text):
    """Returns the decoded spec (dicts) or raises DecodeError with the rendered text."""
    try:
        return TextDecoder(text).document()
    except DecodeError as err:
        line, col = position(text, err.pos)
        raise DecodeError("%s at line %d column %d" % (err.message, line, col)) from None


# ---- the tree reader and decoding from a value --------------------------------


def read_tree(text):
    """A whole JSON text as a tree; objects keep sorted keys, the last duplicate wins."""
    lx = Lexer(text)

    def value():
        c = lx.ws()
        if c == ord("["):
            lx.i += 1
            items, first = [], True
            while lx.next_element(first):
                first = False
                items.append(value())
            lx.i += 1
            return ("seq", items)
        if c == ord("{"):
            lx.i += 1
            members, first = {}, True
            while lx.next_key(first):
                first = False
                key = lx.string()
                lx.colon()
                members[key] = value()
            lx.i += 1
            return ("map", dict(sorted(members.items())))
        return lx.scalar()

    try:
        v = value()
        lx.finish()
    except DecodeError as err:
        line, col = position(text, err.pos)
        raise DecodeError("%s at line %d column %d" % (err.message, line, col)) from None
    return v


def from_value(v, rec="GenSpec"):
    """Decodes a tree; raises DecodeError without position."""

    def fail(msg):
        raise DecodeError(msg)

    def kind(v):
        if v[0] == "str":
            name = v[1].decode("utf-8")
        elif v[0] == "map":
            if len(v[1]) != 1:
                fail("invalid value: map, expected map with a single key")
            ((raw, unit),) = v[1].items()
            name = raw.decode("utf-8")
        else:
            fail("invalid type: %s, expected string or map" % describe(v))
        if name not in KINDS:
            fail("unknown variant `%s`, expected one of `trend`, `range`, `crash`, `vol`" % name)
        if v[0] == "map" and unit[0] != "null":
            fail("invalid type: %s, expected unit" % describe(unit))
        return name

    def field(name, v):
        rule = TYPES[name]
        if rule in FIELDS:
            return record(rule, v)
        if rule == "regimes":
            if v[0] != "seq":
                fail("invalid type: %s, expected a sequence" % describe(v))
            return [record("Regime", e) for e in v[1]]
        if rule == "kind":
            return kind(v)
        if rule == "funding":
            return None if v[0] == "null" else record("FundingSpec", v)
        n = v[1] if v[0] == "num" else None
        if rule in ("u64", "usize"):
            if n is not None and n.kind == "u":
                return n.value
            if n is not None and n.kind == "i":
                fail("invalid value: integer `%d`, expected %s" % (n.value, rule))
        elif rule == "i64":
            if n is not None and n.kind in "ui":
                if n.value > I64_MAX:
                    fail("invalid value: integer `%d`, expected i64" % n.value)
                return n.value
        elif n is not None:
            return float(n.value)
        fail("invalid type: %s, expected %s" % (describe(v), rule))

    def record(rec, v):
        names = FIELDS[rec]
        got = {}
        if v[0] == "map":
            for raw, member in v[1].items():
                key = raw.decode("utf-8")
                if key not in names:
                    fail(
                        "unknown field `%s`, expected one of %s"
                        % (key, ", ".join("`%s`" % n for n in names))
                    )
                got[key] = field(key, member)
            for name in names:
                if name not in got:
                    if name not in DEFAULTS:
                        fail("missing field `%s`" % name)
                    got[name] = DEFAULTS[name]
            return {n: got[n] for n in names}
        if v[0] == "seq":
            items = v[1]
            for k, name in enumerate(names):
                if k < len(items):
                    got[name] = field(name, items[k])
                elif name in DEFAULTS:
                    got[name] = DEFAULTS[name]
                else:
                    fail(
                        "invalid length %d, expected struct %s with %d elements"
                        % (k, rec, len(names))
                    )
            if len(items) > len(names):
                fail("invalid length %d, expected fewer elements in array" % len(items))
            return got
        fail("invalid type: %s, expected struct %s" % (describe(v), rec))

    return record(rec, v)


# ---- validation -------------------------------------------------------------


def finite(x):
    return not (math.isnan(x) or math.isinf(x))


def validate(spec):
    """Returns the first failing message or None."""
    if spec["bars"] == 0:
        return "bars must be > 0"
    if not (finite(spec["start_price"]) and spec["start_price"] > 0):
        return "start_price must be finite and > 0"
    if spec["bar_secs"] <= 0:
        return "bar_secs must be > 0"
    if not spec["regimes"]:
        return "regimes must not be empty"
    for r in spec["regimes"]:
        if r["len"] == 0:
            return "regime len must be > 0"
        if not finite(r["drift"]):
            return "regime drift must be finite"
        if not (finite(r["vol"]) and r["vol"] >= 0):
            return "regime vol must be finite and >= 0"
    if sum(r["len"] for r in spec["regimes"]) != spec["bars"]:
        return "sum of regime lengths must equal bars"
    m = spec["microstructure"]
    if m["book_depth"] == 0:
        return "book_depth must be > 0"
    if not (finite(m["spread_bps"]) and m["spread_bps"] >= 0):
        return "spread_bps must be finite and >= 0"
    if not (finite(m["trade_rate"]) and m["trade_rate"] >= 0):
        return "trade_rate must be finite and >= 0"
    f = m["funding"]
    if f is not None:
        if f["interval_bars"] == 0:
            return "funding.interval_bars must be > 0"
        if not (finite(f["base_rate"]) and finite(f["sensitivity"])):
            return "funding base_rate and sensitivity must be finite"
    n = spec["bars"] - 1
    p = n * spec["bar_secs"]
    t = p + spec["start_ts"]
    if n > I64_MAX or not I64_MIN <= p <= I64_MAX or not I64_MIN <= t <= I64_MAX:
        return "start_ts + (bars - 1) * bar_secs overflows i64"
    return None


# ---- what the caller sees ---------------------------------------------------


def trim_white_space(text):
    s = text.decode("utf-8")
    a, b = 0, len(s)
    while a < b and ord(s[a]) in UNICODE_WHITE_SPACE:
        a += 1
    while b > a and ord(s[b - 1]) in UNICODE_WHITE_SPACE:
        b -= 1
    return s[a:b].encode("utf-8")


def construct(text):
    """The outcome of Synth(text) for UTF-8 bytes: None, or the ValueError text."""
    text = trim_white_space(text)
    if text in (b"", b"{}"):
        return None
    try:
        spec = parse_spec(text)
    except DecodeError as err:
        return "parse: " + err.message
    bad = validate(spec)
    return None if bad is None else "bad spec: " + bad


def set_spec(text):
    """The "error" text of {"cmd":"set_spec","spec":TEXT}, or None on success."""
    try:
        tree = read_tree(b'{"cmd":"set_spec","spec":' + text + b"}")
    except DecodeError as err:
        return "parse: " + err.message
    spec_value = tree[1][b"spec"]
    try:
        spec = from_value(spec_value)
    except DecodeError as err:
        return "parse: " + err.message
    bad = validate(spec)
    return None if bad is None else "bad spec: " + bad
