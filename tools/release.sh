#!/bin/bash
# Builds the release archives from this source tree:
#
#   tools/release.sh [--out DIR] [--build DIR] [--sign] [--dirty]
#
#   <out>/halvern-service-hosts-<version>-win32.zip
#   <out>/halvern-service-hosts-<version>-win64.zip
#   <out>/SHA256SUMS                                 the SHA-256 of both
#
# A release is the commit it is built from: a git work tree with changes
# not committed (files git does not know among them; ignored ones aside) is
# refused. --dirty builds one anyway, and its names say so: <version>-dirty
# in place of <version>. A tree outside git (an export, as the release check
# builds from) has nothing to compare with; it needs SOURCE_DATE_EPOCH.
#
# Each archive holds one folder, halvern-service-hosts-<version>-<arch>, with
# the five programs, README.txt for administrators (resources/README-admin.txt)
# and SHA256SUMS of those. The version is the project's (the top
# CMakeLists.txt). <out> is dist/release, <build> build/release by default.
#
# The programs are built afresh, in <build>/win32 and <build>/win64. The
# same sources give the same archives byte for byte: SOURCE_DATE_EPOCH (by
# default the time of the last commit) stamps the programs and every archive
# entry, and entries have a fixed order and fixed attributes.
#
# Nothing is signed unless --sign is given: then tools/sign.sh signs the
# programs before they are archived, with the certificate its environment
# names (see tools/sign.sh). Signatures carry their signing time, so signed
# archives differ from build to build; the programs under them do not.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

usage() {
    echo "usage: tools/release.sh [--out DIR] [--build DIR] [--sign] [--dirty]" >&2
    exit 2
}
fail() {
    echo "release: $*" >&2
    exit 1
}

out=dist/release
build=build/release
sign=no
allow_dirty=no
while [ $# -gt 0 ]; do
    case $1 in
        --out) [ $# -ge 2 ] || usage; out=$2; shift 2 ;;
        --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
        --sign) sign=yes; shift ;;
        --dirty) allow_dirty=yes; shift ;;
        *) usage ;;
    esac
done

# "-dirty" when this is a git work tree with changes not committed, and
# --dirty asked for it; refuses such a tree otherwise.
label=""
if [ "$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    changes=$(git -C "$source_dir" status --porcelain) || fail "git status failed"
    if [ -n "$changes" ]; then
        if [ "$allow_dirty" != yes ]; then
            echo "release: the tree has changes that are not committed:" >&2
            sed 's/^/  /' <<<"$changes" >&2
            fail "commit them (or remove them), or build from them anyway with --dirty: the names then say <version>-dirty"
        fi
        label=-dirty
        echo "release: building from changes that are not committed (--dirty): the names say so"
    fi
fi

mkdir -p "$out" "$build"
out=$(cd "$out" && pwd)
build=$(cd "$build" && pwd)

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) ||
        fail "no SOURCE_DATE_EPOCH and no commit to take it from: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH

archives=()
for preset in win32 win64; do
    tree=$build/$preset
    rm -rf "$tree"
    log=$build/$preset.log
    echo "release: building $preset in $tree"
    if ! { cmake -S "$source_dir" -B "$tree" --preset "$preset" -DHALVERN_DIST_DIR="$tree/dist" &&
           mapfile -t programs < <(python3 -B -c '
import json, sys
for row in json.load(open(sys.argv[1]))["programs"]:
    print(row["name"])' "$tree/programs.json") &&
           cmake --build "$tree" --target "${programs[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        fail "the $preset build failed"
    fi
    if [ "$sign" = yes ]; then
        tools/sign.sh "$tree/dist"
    fi
    archives+=("$(python3 -B - "$tree/programs.json" "$preset" "$out" resources/README-admin.txt "$label" <<'PYTHON'
import hashlib
import json
import os
import sys
import time
import zipfile

programs_json, preset, out, readme, label = sys.argv[1:]
with open(programs_json, encoding="utf-8") as f:
    table = json.load(f)
version = table["version"] + label
folder = "halvern-service-hosts-%s-%s" % (version, preset)

rows = [("Program", "Service", "Display name", "Init file")] + [
    (os.path.basename(row["path"]), row["serviceName"], row["displayName"], row["initFileName"])
    for row in table["programs"]]
widths = [max(len(row[column]) for row in rows) + 3 for column in range(3)]
lines = ["  " + "".join(text.ljust(width) for text, width in zip(row, widths)) + row[3] for row in rows]
with open(readme, encoding="utf-8") as f:
    text = f.read()
for key, value in (("@VERSION@", version), ("@ARCH@", preset), ("@BITS@", str(table["bits"])),
                   ("@PROGRAMS@", "\n".join(lines))):
    text = text.replace(key, value)

# Name, bytes and Unix mode of each file, in archive order.
files = []
for row in sorted(table["programs"], key=lambda row: os.path.basename(row["path"])):
    with open(row["path"], "rb") as f:
        files.append((os.path.basename(row["path"]), f.read(), 0o755))
files.append(("README.txt", text.replace("\n", "\r\n").encode("ascii"), 0o644))
sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data, _ in files)
files.append(("SHA256SUMS", sums.encode("ascii"), 0o644))

# ZIP keeps local times from 1980 on, in two-second steps.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]


def entry(name, mode):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that the mode below is read
    info.external_attr = mode << 16
    return info


archive = os.path.join(out, folder + ".zip")
with zipfile.ZipFile(archive + ".part", "w") as zip_file:
    zip_file.writestr(entry(folder + "/", 0o40755), b"")
    for name, data, mode in files:
        info = entry(folder + "/" + name, 0o100000 | mode)
        info.compress_type = zipfile.ZIP_DEFLATED
        zip_file.writestr(info, data, compresslevel=9)
os.replace(archive + ".part", archive)
print(os.path.basename(archive))
PYTHON
)")
done

(cd "$out" && sha256sum "${archives[@]}" >SHA256SUMS)
echo "release: SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH, signed: $sign"
for archive in "${archives[@]}" SHA256SUMS; do
    echo "  $out/$archive"
done
