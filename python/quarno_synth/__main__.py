"""`python -m quarno_synth`: the command-line tool; without arguments, version and self-check."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
