#!/usr/bin/env bash
# Builds the golden driver in every build flavour (gcc -O2, gcc -O0, gcc with
# AddressSanitizer+UBSan, clang -O3) and checks that each prints exactly the
# digests in tests/golden/digests.txt (command responses of the classic specs,
# CSV bytes of the tables of the extended ones). On a difference it names the
# spec and the first differing byte against the gcc -O2 build's output.
#   scripts/golden.sh            check every flavour
#   scripts/golden.sh --update   rewrite digests.txt from the gcc -O2 build
set -euo pipefail
cd "$(dirname "$0")/.."
golden=tests/golden
specs=$golden/specs.jsonl

if ! command -v clang++ >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
fi

build() {  # build VARIANT -> path of the driver
    local variant=$1 dir=build/hard-golden-$1
    local -a flags=(-DSYNTH_BUILD_GOLDEN=ON -DSYNTH_BUILD_MODULE=OFF -DSYNTH_BUILD_TESTS=OFF)
    local cc=gcc cxx=g++
    case $variant in
        release) flags+=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG") ;;
        debug) flags+=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g") ;;
        sanitize) flags+=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" -DSYNTH_SANITIZE=ON) ;;
        clang-release) flags+=(-DCMAKE_BUILD_TYPE=Release) cc=clang cxx=clang++ ;;
    esac
    CC=$cc CXX=$cxx cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j2 --target golden_driver >"$dir/build.log" 2>&1 ||
        { cat "$dir/build.log"; return 1; }
    echo "$dir/tests/golden/golden_driver"
}

run() {  # run DRIVER ARGS...
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$@"
}

reference=$(build release)
run "$reference" --self-test
if [ "${1:-}" = "--update" ]; then
    run "$reference" "$specs" >"$golden/digests.txt"
    echo "golden: wrote $(wc -l <"$golden/digests.txt") digests"
    exit 0
fi

failed=0
for variant in release debug sanitize clang-release; do
    driver=$([ "$variant" = release ] && echo "$reference" || build "$variant")
    out=build/hard-golden-$variant
    run "$driver" "$specs" >"$out/digests.txt"
    if ! cmp -s "$golden/digests.txt" "$out/digests.txt"; then
        rm -rf "$out/dump" build/hard-golden-release/dump
        mkdir -p "$out/dump" build/hard-golden-release/dump
        run "$reference" "$specs" --dump build/hard-golden-release/dump >/dev/null
        run "$driver" "$specs" --dump "$out/dump" >/dev/null
    fi
    bash "$golden/compare.sh" "$golden/digests.txt" "$out/digests.txt" "$variant" \
        "$out/dump" build/hard-golden-release/dump || failed=1
done
exit $failed
