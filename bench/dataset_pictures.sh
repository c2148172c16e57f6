#!/usr/bin/env bash
# What the dataset pictures cost: ombrel-export with --png alone against --labels, --instances
# and --depth together (and all four), same city, camera and size. Each run is timed whole
# (load, generation, drawing, encoding, writing) and the median of N runs is shown; a run with
# a 16 x 12 picture gives the part that is not the pictures (load and generation), so that the
# last column compares the pictures' own time. The machine is shared: the load average when
# the runs started is printed.
# Usage: [OMBREL_EXPORT=tool] bench/dataset_pictures.sh [construction file] [WxH] [runs] [view]
#   view: home (default) or overview
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${OMBREL_EXPORT:-build/bin/ombrel-export}
cfg=${1:-examples/metropolis/metropolis.xml}
size=${2:-1024x768}
runs=${3:-5}
view=${4:-home}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

[ -x "$tool" ] || { echo "build the ombrel-export target first" >&2; exit 1; }

# The median wall time in seconds of `runs` runs of the tool with the given options.
median() {
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$tool" -q --view "$view" "$@" "$cfg"
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

echo "city: $cfg, size $size, view $view, median of $runs runs, load $(cut -d' ' -f1 /proc/loadavg)"
base=$(median --png "$out/tiny.png" --size 16x12)
png=$(median --png "$out/city.png" --size "$size")
sets=$(median --labels "$out/l.png" --instances "$out/i.png" --depth "$out/d.png" --size "$size")
all=$(median --png "$out/city.png" --labels "$out/l.png" --instances "$out/i.png" \
    --depth "$out/d.png" --size "$size")
printf '%-34s %8s %14s\n' run wall_s pictures_s
printf '%-34s %8s %14s\n' "load and generate (16x12 --png)" "$base" "-"
for row in "--png:$png" "--labels --instances --depth:$sets" "all four:$all"; do
    name=${row%:*}
    t=${row##*:}
    printf '%-34s %8s %14s\n' "$name" "$t" "$(awk -v t="$t" -v b="$base" 'BEGIN { printf "%.3f", t - b }')"
done
awk -v p="$png" -v s="$sets" -v b="$base" 'BEGIN {
    printf "three dataset pictures / --png: %.2fx whole runs, %.2fx the pictures alone\n",
        s / p, (p - b > 0 ? (s - b) / (p - b) : 0) }'
