#!/usr/bin/env bash
# End-to-end timing of ombrel-export in every collapse mode: wall and CPU time, output size and
# rate, peak memory (GNU time), and the load average when the run started (the machine is
# shared; compare runs taken at a similar load).
# Usage: [OMBREL_EXPORT=tool] bench/export_e2e.sh [construction file] [faces] [format]
#   faces: "both" (default: triangulated and as generated) or "triangulated"
#   format: wrl (default), glb, gltf, obj, xodr or 3dtiles; the size counts the files beside it
#   (.bin, .mtl), for 3dtiles every file of the tileset's folder
# The million-cell city: bench/export_e2e.sh examples/downtown/downtown-1024.xml triangulated
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${OMBREL_EXPORT:-build/bin/ombrel-export} # another build to compare with
cfg=${1:-examples/metropolis/metropolis.xml}
faces=${2:-both}
format=${3:-wrl}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

[ -x "$tool" ] || { echo "build the ombrel-export target first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (package time)" >&2; exit 1; }

printf '%-10s %-14s %8s %8s %10s %9s %9s %6s\n' mode faces wall_s cpu_s size_MB MB_per_s peak_MB load
echo "format: $format"
for mode in normal building model; do
    for tri in yes no; do
        [ "$tri" = no ] && [ "$faces" = triangulated ] && continue
        target="$out/city.$format"
        [ "$format" = 3dtiles ] && target="$out/city/tileset.json"
        args=(-q -m "$mode" -o "$target")
        [ "$tri" = no ] && args+=(--no-triangulate)
        load=$(cut -d' ' -f1 /proc/loadavg)
        /usr/bin/time -v -o "$out/time.txt" "$tool" "${args[@]}" "$cfg"
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$out/time.txt" |
            awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
        cpu=$(awk -F': ' '/(User|System) time/ {s += $2} END {printf "%.2f", s}' "$out/time.txt")
        peak=$(awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$out/time.txt")
        if [ "$format" = 3dtiles ]; then
            bytes=$(find "$out/city" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
        else
            bytes=$(cat "$out"/city*.* | wc -c)
        fi
        mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')
        rate=$(awk -v b="$bytes" -v t="$wall" 'BEGIN { printf "%.1f", (t > 0 ? b / 1e6 / t : 0) }')
        label=$([ "$tri" = yes ] && echo triangulated || echo as-generated)
        printf '%-10s %-14s %8s %8s %10s %9s %9s %6s\n' "$mode" "$label" "$wall" "$cpu" "$mb" \
            "$rate" "$peak" "$load"
        rm -rf "$out"/city*.* "$out/city"
    done
done
