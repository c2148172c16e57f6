#!/usr/bin/env bash
# Installs the build into a prefix inside this test's scratch folder and uses the installed
# programs the way a user would, from an empty folder elsewhere:
#   - ombrel-export on an installed example: schema and textures found, export written;
#   - ombrel-export copied where no schema is: the error names every place it looked;
#   - the installed documents: every relative link resolves, the tutorial's examples export;
#   - the file type of construction files (application/x-ombrel+xml) and of other XML;
#   - --version of both programs, and every option of ombrel-export --help in its manual page;
#   - a usage mistake of the window program answered without a display;
#   - the window started with a file argument (under the display CTest runs in, or a virtual
#     one): the field names the file, Generate loads it and the preview shows a city.
# Usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail

build=$1
version=$2

scratch=$(mktemp -d "${TEST_TMPDIR:-$build/test-tmp}/install.XXXXXX")
keep=1
trap '[ $keep -eq 0 ] && rm -rf "$scratch" || echo "install_test: kept $scratch" >&2' EXIT

fail() {
    echo "install_test: FAILED: $*" >&2
    exit 1
}

# expect NAME EXPECTED ACTUAL
expect() {
    if [ "$2" != "$3" ]; then
        printf 'install_test: FAILED: %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3" >&2
        exit 1
    fi
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || fail "cmake --install"
examples=$prefix/share/ombrel/examples
town=$examples/town/town.xml

# The batch tool from an empty folder outside the prefix.
mkdir "$scratch/empty"
cd "$scratch/empty"
status=0
"$prefix/bin/ombrel-export" -o town.wrl --png town.png "$town" 2>export.log || status=$?
expect "ombrel-export status" 0 "$status"
expect "ombrel-export log" "Parsing $town ... 
Successfully loaded $town
Generated city [randomSeed=0x000070C1]
Triangulating the entire model
Saved as VRML to town.wrl
(normal, textured, triangulated, with roads)
Saved the picture to town.png" "$(tr -d '\r' <export.log)"
[ -s town.wrl ] && [ -s town.png ] || fail "the export or the picture is missing"
# Every texture url of the export leads to an installed image.
urls=$(grep -o 'url "[^"]*"' town.wrl | sed 's/^url "\(.*\)"$/\1/' | sort -u)
[ -n "$urls" ] || fail "the export names no textures"
for url in $urls; do
    [ -f "$url" ] || fail "texture url $url of the export does not lead to a file"
    case $(realpath "$url") in
    "$(realpath "$examples")"/textures/*) ;;
    *) fail "texture url $url is not an installed example texture" ;;
    esac
done

# Without a schema anywhere it could be, the error says where it looked.
mkdir -p "$scratch/lone/bin"
cp "$prefix/bin/ombrel-export" "$scratch/lone/bin/"
status=0
"$scratch/lone/bin/ombrel-export" -o lone.wrl "$town" 2>lone.log || status=$?
expect "status without a schema" 1 "$status"
expect "log without a schema" "Parsing $town ... 
ERROR  : Cannot find the schema xsd/Ombrel.xsd in the current directory or beside the program
ERROR  : 	Looked for it at $scratch/empty/xsd/Ombrel.xsd, $scratch/lone/xsd/Ombrel.xsd, \
$scratch/lone/bin/xsd/Ombrel.xsd, $scratch/lone/share/ombrel/xsd/Ombrel.xsd
ERROR  : Failed parsing input file - fix errors and reload" "$(tr -d '\r' <lone.log)"
[ ! -e lone.wrl ] || fail "an export was written without a schema"

# The installed documents: every relative link of every Markdown document leads to a file or
# folder that was installed (a picture, an example, another document), and the tutorial's
# example files load with their images from where they are installed.
docs=$prefix/share/doc/ombrel
links=0
while IFS= read -r document; do
    while IFS= read -r target; do
        case $target in
        http:* | https:* | mailto:* | "#"*) continue ;;
        esac
        target=${target%%#*}
        links=$((links + 1))
        [ -e "$(dirname "$document")/$target" ] ||
            fail "the link $target of ${document#"$docs"/} leads nowhere"
    done < <(grep -oE '\]\([^)]+\)' "$document" | sed 's/^](\(.*\))$/\1/')
done < <(find "$docs" -name '*.md')
[ "$links" -gt 40 ] || fail "only $links links were found in the installed documents"
for step in 1 6; do
    example=$docs/docs/examples/tutorial-$step.xml
    "$prefix/bin/ombrel-export" -o "tutorial-$step.wrl" "$example" 2>tutorial.log ||
        fail "the installed $example does not export"
    ! grep -qiE 'warning|error' tutorial.log || fail "tutorial-$step.xml: $(cat tutorial.log)"
done

# Construction files have their own type, found from their root element, while other XML files
# stay XML (as the desktop sees them: shared-mime-info through GIO).
if command -v update-mime-database >/dev/null && command -v xdg-mime >/dev/null &&
    command -v gio >/dev/null; then
    update-mime-database "$prefix/share/mime" 2>/dev/null
    printf '<?xml version="1.0"?>\n<notes>not a city</notes>\n' >plain.xml
    for pair in "$town application/x-ombrel+xml" "$docs/docs/examples/tutorial-1.xml application/x-ombrel+xml" \
        "plain.xml application/xml"; do
        file=${pair% *}
        expect "type of ${file##*/}" "${pair##* }" "$(XDG_DATA_DIRS=$prefix/share:/usr/share \
            XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$file")"
    done
else
    echo "install_test: update-mime-database, xdg-mime or gio missing: file type not checked" >&2
fi

# One version, and manual pages that know every option.
expect "ombrel-export --version" "ombrel-export $version" "$("$prefix/bin/ombrel-export" --version)"
man=$(gzip -dc "$prefix/share/man/man1/ombrel-export.1.gz" | sed 's/\\-/-/g')
for option in $("$prefix/bin/ombrel-export" --help | grep -oE -- '--[a-z-]+' | sort -u); do
    grep -qF -- "$option" <<<"$man" || fail "ombrel-export.1 does not describe $option"
done

if [ ! -x "$prefix/bin/ombrel" ]; then
    keep=0
    exit 0
fi
expect "ombrel --version" "ombrel $version" "$("$prefix/bin/ombrel" --version)"
man=$(gzip -dc "$prefix/share/man/man1/ombrel.1.gz" | sed 's/\\-/-/g')
for option in $("$prefix/bin/ombrel" --help | grep -oE -- '--[a-z-]+' | sort -u); do
    grep -qF -- "$option" <<<"$man" || fail "ombrel.1 does not describe $option"
done
status=0
"$prefix/bin/ombrel" -platform offscreen --no-such-option 2>usage.log || status=$?
expect "ombrel with an unknown option: status" 2 "$status"
expect "ombrel with an unknown option: message" "ombrel: unknown option --no-such-option
Usage: ombrel [--help] [--version] [CONSTRUCTION_FILE]" "$(grep -v '^QStandardPaths' usage.log)"
# A usage mistake needs no display.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/ombrel" --bogus 2>usage.log ||
    status=$?
expect "ombrel --bogus without a display: status" 2 "$status"
expect "ombrel --bogus without a display: message" "ombrel: unknown option --bogus
Usage: ombrel [--help] [--version] [CONSTRUCTION_FILE]" "$(cat usage.log)"

# The window, with its settings kept in the scratch folder. The program draws the preview
# before and after pressing Generate, writes what the dialog shows and closes itself.
mkdir "$scratch/config" "$scratch/window"
run=()
if [ -z "${DISPLAY:-}" ]; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi
status=0
XDG_CONFIG_HOME=$scratch/config OMBREL_SELFTEST=$scratch/window LIBGL_ALWAYS_SOFTWARE=1 \
    QT_QPA_PLATFORM=xcb timeout 120 "${run[@]}" "$prefix/bin/ombrel" "$town" \
    2>window.log || status=$?
expect "window status" 0 "$status"
expect "what the window showed" "field: $town
log:
Parsing $town ... 
Successfully loaded $town
Generated city [randomSeed=0x000070C1]" "$(cat "$scratch/window/report.txt")"
before=$scratch/window/before.ppm
after=$scratch/window/after.ppm
[ -s "$before" ] && [ -s "$after" ] || fail "the preview was not drawn"
expect "preview picture size" "$(wc -c <"$before")" "$(wc -c <"$after")"
# The town covers a few thousand of the preview's 250,000 pixels; a preview without it would
# differ from the empty one in none.
changed=$(cmp -l "$before" "$after" | wc -l || true)
[ "$changed" -gt 2000 ] || fail "the preview shows no city after Generate ($changed bytes changed)"
grep -qxF "cfgFile=$town" "$scratch/config/Ombrel/Ombrel.conf" ||
    fail "the named file was not kept as cfgFile when the dialog closed"

keep=0
