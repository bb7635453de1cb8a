#!/usr/bin/env bash
# Builds the documentation site from scratch (-E: pages generated from the folder's
# contents are never stale; warnings are errors) and runs its code examples, against
# the installed package. Tools: pip install --group docs (pyproject.toml).
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}

$python -m sphinx -E -W --keep-going -q -b html docs build/docs/html
$python -m sphinx -E -W --keep-going -q -b doctest docs build/docs/doctest
echo "docs: built in build/docs/html, examples ran"
