#!/bin/bash
# tools/release.sh, run twice on two copies of the tree: bit-identical
# programs and archives, archive contents and checksums.
set -uo pipefail
if [ $# -gt 0 ]; then
    echo "usage: $0" >&2
    exit 2
fi
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

# halvern-service-hosts-<version>-<preset>.zip: the one folder with the
# programs in name order, README.txt and SHA256SUMS; regular files of fixed
# modes and, all entries, the time of SOURCE_DATE_EPOCH.
archive_entries_are() {
    python3 -B - "$@" <<'PYTHON'
import sys
import time
import zipfile
archive, folder, epoch, programs = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
stamp = time.gmtime(max(epoch, 315532800))[:6]
stamp = stamp[:5] + (stamp[5] // 2 * 2,)
expected = [(folder + "/", 0o40755, stamp)]
expected += [(folder + "/" + name, 0o100755, stamp) for name in sorted(programs)]
expected += [(folder + "/" + name, 0o100644, stamp) for name in ("README.txt", "SHA256SUMS")]
with zipfile.ZipFile(archive) as zip_file:
    actual = [(info.filename, info.external_attr >> 16, info.date_time) for info in zip_file.infolist()]
if actual != expected:
    sys.exit("  entries %r,\n  expected %r" % (actual, expected))
PYTHON
}

checksums_hold() {
    (cd "$1" && sha256sum --check --strict --quiet SHA256SUMS)
}

same_files() {
    local first=$1 second=$2 name
    shift 2
    for name in "$@"; do
        cmp "$first/$name" "$second/$name" || return 1
    done
}

all_unsigned() {
    local folder=$1 name
    shift
    for name in "$@"; do
        is_unsigned "$folder/$name" || { echo "  $name is signed"; return 1; }
    done
}

readme_is_complete() {
    local readme=$1 word
    grep -q $'\r$' "$readme" || { echo "  not in CR LF lines"; return 1; }
    ! grep -q '@[A-Z]*@' "$readme" || { echo "  unfilled: $(grep -o '@[A-Z]*@' "$readme" | sort -u | tr '\n' ' ')"; return 1; }
    for word in "${programs[@]}" "$project_version" install uninstall run check 1073 1060 1072 1113 "event id 2" "event 3" "event 4" \
            -Xbootclasspath/p: -Xbootclasspath/a: 'bin\server\jvm.dll' 'lib\util\*.jar'; do
        grep -qF -- "$word" "$readme" || { echo "  does not mention $word"; return 1; }
    done
}

release_checks() {
    local epoch copy preset folder archive
    work=$(mktemp -d "${TMPDIR:-/tmp}/halvern-release-check.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
    # Two copies of this tree, taken at once, in folders of different names
    # and depths: a path of the build machine inside a program or an archive
    # shows up as a difference.
    mkdir -p "$work/a/src" "$work/second/b/src"
    tar -c --exclude=./build --exclude=./dist --exclude=./.git . | tar -x -C "$work/a/src"
    cp -a "$work/a/src/." "$work/second/b/src"
    for copy in a second/b; do
        check "tools/release.sh in $copy" env SOURCE_DATE_EPOCH="$epoch" \
            "$work/$copy/src/tools/release.sh" --out "$work/$copy/out" --build "$work/$copy/build" >/dev/null ||
            return
    done
    mapfile -t programs < <(cd "$work/a/build/win64/dist" && ls)
    for preset in win32 win64; do
        folder=halvern-service-hosts-$project_version-$preset
        archive=$folder.zip
        check "$preset programs built twice are bit-identical" \
            same_files "$work/a/build/$preset/dist" "$work/second/b/build/$preset/dist" "${programs[@]}"
        check "$archive built twice is bit-identical" same_files "$work/a/out" "$work/second/b/out" "$archive"
        check "$archive: its entries" archive_entries_are "$work/a/out/$archive" "$folder" "$epoch" "${programs[@]}"
        mkdir -p "$work/unpacked/$preset"
        check "$archive unpacks" python3 -m zipfile -e "$work/a/out/$archive" "$work/unpacked/$preset" || continue
        check "$archive: SHA256SUMS holds for its files" checksums_hold "$work/unpacked/$preset/$folder"
        check "$archive: the programs of the build" \
            same_files "$work/unpacked/$preset/$folder" "$work/a/build/$preset/dist" "${programs[@]}"
        check "$archive: unsigned programs" all_unsigned "$work/unpacked/$preset/$folder" "${programs[@]}"
        check "$archive: README.txt for administrators" readme_is_complete "$work/unpacked/$preset/$folder/README.txt"
    done
    check "the archives' SHA256SUMS holds" checksums_hold "$work/a/out"
    check "SHA256SUMS built twice is bit-identical" same_files "$work/a/out" "$work/second/b/out" SHA256SUMS
}

objdump=x86_64-w64-mingw32-objdump  # reads both PE formats
release_checks
summary
