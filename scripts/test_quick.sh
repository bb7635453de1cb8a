#!/usr/bin/env bash
# The quick tier, for development (about a minute once the tree is built): one build of the
# package with the C++ unit tests and the golden driver beside it, installed into the current
# Python; then the unit tests, the native golden check, the Python suite, lint and types.
# The complete gate that CI and the README run is scripts/test.sh.
#   needs: libgtest-dev, cmake, ninja, and pip install scikit-build-core --group test --group lint
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}
tree=build/quick

$python -m pip install -q --no-deps --no-build-isolation -C build-dir=$tree \
    -C cmake.define.SYNTH_BUILD_TESTS=ON -C cmake.define.SYNTH_BUILD_GOLDEN=ON .
ctest --test-dir $tree --output-on-failure -j "$(nproc)"
$tree/tests/golden/golden_driver tests/golden/specs.jsonl | cmp - tests/golden/digests.txt
echo "golden: digests match"
(cd tests && $python -m pytest -q python)
PYTHON=$python bash scripts/lint.sh
