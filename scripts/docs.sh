#!/usr/bin/env bash
# Builds the documentation site (warnings are errors) and runs its code examples, against
# the installed package. Tools: pip install --group docs (pyproject.toml).
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}

$python -m sphinx -W --keep-going -q -b html docs build/docs/html
$python -m sphinx -W --keep-going -q -b doctest docs build/docs/doctest
echo "docs: built in build/docs/html, examples ran"
