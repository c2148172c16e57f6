#!/usr/bin/env bash
# How a streamed tileset export grows with the city: for each size, the construction file with
# numCellsX and numCellsY set to it, exported as a tileset. Prints wall and CPU time, time per
# cell, peak memory (GNU time), the tileset's bytes and the load average when the run started
# (the machine is shared; compare runs taken at a similar load).
# Usage: [OMBREL_EXPORT=tool] bench/tileset-scaling.sh [construction file] [size ...]
#   default: examples/metropolis/metropolis.xml at 256 512 1024 2048 4096
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${OMBREL_EXPORT:-build/bin/ombrel-export}
cfg=${1:-examples/metropolis/metropolis.xml}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(256 512 1024 2048 4096)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

[ -x "$tool" ] || { echo "build the ombrel-export target first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (package time)" >&2; exit 1; }

# The copy lives beside the original, so that its relative image paths still hold.
dir=$(cd "$(dirname "$cfg")" && pwd)
printf '%-6s %10s %9s %9s %10s %9s %10s %6s\n' size cells wall_s cpu_s us_per_cell peak_MB size_MB load
for n in "${sizes[@]}"; do
    copy="$dir/.scaling-$$-$n.xml"
    sed -E "s/numCellsX=\"[0-9]+\"/numCellsX=\"$n\"/; s/numCellsY=\"[0-9]+\"/numCellsY=\"$n\"/" \
        "$cfg" >"$copy"
    load=$(cut -d' ' -f1 /proc/loadavg)
    status=0
    /usr/bin/time -v -o "$out/time.txt" "$tool" -q -o "$out/tiles/tileset.json" "$copy" || status=$?
    rm -f "$copy"
    [ "$status" -eq 0 ] || { echo "size $n: the export failed ($status)" >&2; exit 1; }
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$out/time.txt" |
        awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
    cpu=$(awk -F': ' '/(User|System) time/ {s += $2} END {printf "%.2f", s}' "$out/time.txt")
    peak=$(awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$out/time.txt")
    bytes=$(du -sb "$out/tiles" | cut -f1)
    cells=$((n * n))
    printf '%-6s %10s %9s %9s %10s %9s %10s %6s\n' "$n" "$cells" "$wall" "$cpu" \
        "$(awk -v t="$cpu" -v c="$cells" 'BEGIN { printf "%.2f", t * 1e6 / c }')" "$peak" \
        "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')" "$load"
    rm -rf "$out/tiles"
done
