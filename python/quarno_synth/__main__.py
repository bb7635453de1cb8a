"""`python -m quarno_synth`: prints the version and a one-line self-check."""

import json
import sys

from . import Synth, __version__


def main() -> int:
    answer = json.loads(Synth("").command('{"cmd":"version"}'))
    ok = answer == {"version": __version__}
    print(f"quarno_synth {__version__}")
    print("self-check: " + ("ok" if ok else f"FAILED ({answer!r})"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
