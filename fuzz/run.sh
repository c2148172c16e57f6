#!/bin/sh
# Builds a seed corpus for one libFuzzer target in a scratch folder and runs the target on it.
#   fuzz/run.sh <config_load|triangulate|attributes> <seconds> [more libFuzzer options]
# The targets come from build-fuzz (see docs/fuzzing.md); the scratch folder is
# ${OMBREL_FUZZ_WORK:-/tmp/ombrel-fuzz-work}/<target>, crash files land in its artifacts/.
set -eu
[ $# -ge 2 ] || { echo "usage: $0 <target> <seconds> [libFuzzer options]" >&2; exit 2; }
target=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${OMBREL_FUZZ_BUILD:-$root/build-fuzz}/bin/fuzz_$target"
[ -x "$bin" ] || { echo "$bin is not built" >&2; exit 1; }
work="${OMBREL_FUZZ_WORK:-/tmp/ombrel-fuzz-work}/$target"
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"

# Construction files: the bundled cities, the loader's test files and the bad-input catalogue.
seed_files() {
    for f in "$root"/examples/*/*.xml "$root"/tests/config/data/*.xml \
        "$root"/tests/bad-inputs/files/*.xml; do
        [ -f "$f" ] && echo "$f"
    done
    return 0
}

options="-max_total_time=$seconds -timeout=10 -rss_limit_mb=2048 -print_final_stats=1"
case $target in
config_load)
    seed_files | while read -r f; do cp "$f" "$work/seeds/"; done
    # The schema's element, attribute and value names make the mutations land in valid XML.
    grep -ho 'name="[^"]*"\|value="[^"]*"' "$root"/xsd/*.xsd | sed 's/^[a-z]*=//' | sort -u |
        awk '{ printf "k%d=%s\n", NR, $0 }' >"$work/xml.dict"
    options="$options -max_len=20000 -dict=$work/xml.dict"
    ;;
attributes)
    # Every attribute value of the seed files, one file each.
    seed_files | xargs grep -ho '="[^"]*"' | sed 's/^="//; s/"$//' | sort -u |
        awk -v dir="$work/seeds" '{ f = sprintf("%s/v%04d", dir, NR); printf "%s", $0 > f; close(f) }'
    options="$options -max_len=256"
    ;;
triangulate)
    options="$options -max_len=8192"
    ;;
*)
    echo "unknown target $target" >&2
    exit 2
    ;;
esac

cd "$root"
# shellcheck disable=SC2086
exec "$bin" $options -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "$work/seeds"
