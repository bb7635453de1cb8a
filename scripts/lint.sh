#!/usr/bin/env bash
# Lint, format and types: ruff (lint and format), clang-format, mypy (strict, over the
# package) and mypy's stubtest of both native modules against the installed package.
# Tools: pip install --group lint (pyproject.toml).
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}

$python -m ruff check .
$python -m ruff format --check .
# the clang-format of the lint group, wherever pip put its scripts
clang_format=$($python -c 'import clang_format; print(clang_format.get_executable("clang-format"))')
git ls-files -z '*.cpp' '*.hpp' | xargs -0 "$clang_format" --dry-run --Werror
$python -m mypy
# from tests/, so the installed package (with its native modules) is imported
(cd tests && $python -m mypy.stubtest quarno_synth._quarno_synth quarno_synth._columns)
echo "lint: ruff, clang-format, mypy and stubtest clean"
