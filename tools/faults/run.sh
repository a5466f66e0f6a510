#!/bin/sh
# Applies each deliberate fault of tools/faults/faults.txt, one at a time, to
# a copy of the tree, rebuilds it and runs the whole suite (fuzz targets
# and the minute-long X end-to-end test aside; for a fault of the web page,
# its browser tests), and writes which tests failed: "NAME caught by N: test test ...".
# A fault no test catches reads "NAME caught by 0: SURVIVED".
#
#   tools/faults/run.sh [OUT] [NAME...]     (default OUT: faults-results.txt)
#
# The copy is built once (Debug, with ccache when present) in a temporary
# folder; each fault is then an incremental build and one ctest run. Set
# TALMO_FAULTS_DIR to keep the copy between runs, TALMO_FAULTS_REV to test a
# commit rather than the working tree, and TALMO_FAULTS_JOBS for the build's
# and the suite's parallel jobs (2).
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath -m "${1:-faults-results.txt}")
[ $# -gt 0 ] && shift
jobs=${TALMO_FAULTS_JOBS:-2}
copy=${TALMO_FAULTS_DIR:-$(mktemp -d /tmp/talmo-faults-XXXXXX)}
mkdir -p "$copy"

# The tracked files as they stand in the working tree, or as a commit holds
# them (TALMO_FAULTS_REV).
# Into a kept copy only the files that changed are written, with the time of
# now, so that its build sees every change whatever the files' own times.
fresh=$(mktemp -d /tmp/talmo-faults-tree-XXXXXX)
if [ -n "${TALMO_FAULTS_REV:-}" ]; then
    (cd "$src" && git archive "$TALMO_FAULTS_REV") | tar -xf - -C "$fresh"
else
    (cd "$src" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$fresh"
fi
python3 - "$fresh" "$copy" <<'PY'
import filecmp, os, shutil, sys
fresh, copy = sys.argv[1:]
for root, _, files in os.walk(fresh):
    for name in files:
        a = os.path.join(root, name)
        b = os.path.join(copy, os.path.relpath(a, fresh))
        if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
            os.makedirs(os.path.dirname(b), exist_ok=True)
            shutil.copyfile(a, b)
            shutil.copymode(a, b)
PY
rm -rf "$fresh"
launcher=
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
export CCACHE_BASEDIR="$copy" CCACHE_NOHASHDIR=1 QT_QPA_PLATFORM=offscreen
: >"$out"
python3 - "$src/tools/faults/faults.txt" <<'PY' >"$copy/faults.tsv"
import sys
name = None
for line in open(sys.argv[1], encoding="utf-8"):
    line = line.rstrip("\n")
    if line.startswith("## "):
        name = line[3:].split()[0]; fields = {}
    elif name and line.startswith("file: "):
        fields["file"] = line[6:]
    elif name and line.startswith("tests: "):
        fields["tests"] = line[7:]
    elif name and line.startswith("- "):
        fields["old"] = line[2:]
    elif name and line.startswith("+ "):
        print("\t".join([name, fields["file"], fields["old"], line[2:], fields.get("tests", "")]))
        name = None
PY

# The page's faults (in web/site/, the page's build scripts web/*.mjs and
# the C++ only the page's programs build) need the page built too, and run the browser tests (label web); every
# other fault runs the rest of the suite.
is_page_fault() { case "$1" in web/site/* | web/*.mjs | web/web_main.cpp | web/web_demo.*) return 0 ;; esac; return 1; }
web=
page_faults=$(cut -f1,2 "$copy/faults.tsv" | while IFS="$(printf '\t')" read -r name file; do
    if is_page_fault "$file" && { [ $# -eq 0 ] || printf ' %s ' "$*" | grep -q " $name "; }; then echo "$name"; fi
done)
if [ -n "$page_faults" ] && command -v emcmake >/dev/null; then
    # shellcheck disable=SC2086
    NODE_PATH=/usr/share/nodejs emcmake cmake -S "$copy" -B "$copy/build-web" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release $launcher >/dev/null
    NODE_PATH=/usr/share/nodejs cmake --build "$copy/build-web" -j"$jobs" >/dev/null </dev/null
    web="-DTALMO_WEB_SITE=$copy/build-web/web/site"
    # The accessibility checker, as npm installed it in the tree.
    [ ! -d "$src/tests/web/node_modules" ] || ln -sfn "$src/tests/web/node_modules" "$copy/tests/web/node_modules"
fi
# shellcheck disable=SC2086
cmake -S "$copy" -B "$copy/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug $launcher $web >/dev/null
cmake --build "$copy/build" -j"$jobs" >/dev/null </dev/null
# After a fault only what the suite runs is built again: every program but
# the benches and fuzz targets.
targets=$(ninja -C "$copy/build" -t targets all </dev/null |
    sed -n 's/^\([^:]*\): CXX_EXECUTABLE_LINKER.*/\1/p' | grep -v -e '^bench/' -e '^fuzz/' -e '\[' -e '^/')

apply() { # file old new -> replaces the first line holding old; fails when none does
    python3 - "$@" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
if old not in text:
    sys.exit("no such text in " + path + ": " + old)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
PY
}


while IFS="$(printf '\t')" read -r name file old new tests <&3; do
    if [ $# -gt 0 ] && ! printf ' %s ' "$*" | grep -q " $name "; then
        continue
    fi
    cp -p "$copy/$file" "$copy/$file.orig"
    if ! apply "$copy/$file" "$old" "$new"; then
        echo "$name NOT APPLIED" | tee -a "$out"
        rm -f "$copy/$file.orig"
        continue
    fi
    if is_page_fault "$file"; then
        [ -n "$web" ] || { echo "$name NOT RUN (no emscripten)" | tee -a "$out"; mv "$copy/$file.orig" "$copy/$file"; continue; }
        build="env NODE_PATH=/usr/share/nodejs ninja -C $copy/build-web" labels="-L web${tests:+ -R $tests}"
    else
        build="ninja -C $copy/build -j$jobs $targets" labels="-LE x11|web"
    fi
    # shellcheck disable=SC2086
    if $build >"$copy/build.log" 2>&1 </dev/null; then
        failed=$(cd "$copy/build" && ctest -j"$jobs" -E '^fuzz_' $labels --timeout 240 2>&1 </dev/null |
            sed -n '/The following tests FAILED:/,$p' |
            sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' | sort | tr '\n' ' ')
        n=$(printf '%s' "$failed" | wc -w)
        [ "$n" -eq 0 ] && failed=SURVIVED
        echo "$name caught by $n: $failed" | tee -a "$out"
    else
        echo "$name BUILD FAILED (see $copy/build.log)" | tee -a "$out"
    fi
    mv "$copy/$file.orig" "$copy/$file"
    touch "$copy/$file"
done 3<"$copy/faults.tsv"
# Back to the tree as it is, so a kept copy starts clean next time.
[ -z "$web" ] || NODE_PATH=/usr/share/nodejs cmake --build "$copy/build-web" -j"$jobs" >/dev/null </dev/null
cmake --build "$copy/build" -j"$jobs" >/dev/null </dev/null
[ -n "${TALMO_FAULTS_DIR:-}" ] || rm -rf "$copy"
