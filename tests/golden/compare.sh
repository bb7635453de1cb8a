#!/usr/bin/env bash
# compare.sh EXPECTED ACTUAL LABEL [ACTUAL_DUMPS REFERENCE_DUMPS]
# Compares two digest listings ("name shape sha256" per line). For every spec
# and shape whose digest differs it prints the name and, when response dumps of
# both builds are given, the first differing byte offset. Exits 1 on any
# difference.
set -euo pipefail
expected=$1 actual=$2 label=$3 dumps=${4:-} reference=${5:-}

if cmp -s "$expected" "$actual"; then
    echo "golden: $label: $(wc -l <"$actual") digests match"
    exit 0
fi
echo "golden: $label: digests differ from $expected"
join -j1 -a1 -a2 -e MISSING -o 0,1.2,2.2 \
    <(awk '{print $1"/"$2, $3}' "$expected" | sort) \
    <(awk '{print $1"/"$2, $3}' "$actual" | sort) |
while read -r key want got; do
    [ "$want" = "$got" ] && continue
    name=${key%/*} shape=${key#*/}
    where=""
    # responses are dumped as .json, the tables of extended runs as .csv
    ext=json
    [ "$shape" = tables ] && ext=csv
    if [ -n "$dumps" ] && [ -f "$dumps/$name.$shape.$ext" ] && [ -f "$reference/$name.$shape.$ext" ]; then
        first=$(cmp "$reference/$name.$shape.$ext" "$dumps/$name.$shape.$ext" 2>&1 | head -1 || true)
        # cmp counts bytes from 1; offsets here count from 0.
        if [[ "$first" =~ byte\ ([0-9]+) ]]; then
            where=", first differing byte at offset $((BASH_REMATCH[1] - 1))"
        elif [[ "$first" =~ EOF ]]; then
            where=", one response is a prefix of the other ($first)"
        else
            where=", responses equal to the reference build's; the golden file is stale"
        fi
    fi
    echo "  $name $shape: expected $want, got $got$where"
done
exit 1
