#!/bin/bash
# The programs of the win32 and win64 builds, as each lists them in its
# programs.json: PE console executables for the right machine, importing
# system DLLs only (static runtimes), each carrying its own service name and
# no other program's, one version resource with the project's version, one
# application manifest, and no signature.
set -uo pipefail
if [ $# -gt 0 ]; then
    echo "usage: $0" >&2
    exit 2
fi
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

system_dlls='^(kernel32|advapi32|netapi32|msvcrt|ntdll|user32|ws2_32|shell32|ole32)\.dll$'

imports_only_system_dlls() {
    local dlls bad
    dlls=$("$objdump" -p "$1" | awk '/DLL Name:/ {print tolower($3)}')
    [ -n "$dlls" ] || return 1
    bad=$(echo "$dlls" | grep -Ev "$system_dlls")
    [ -z "$bad" ] || { echo "  imports: $bad"; return 1; }
}

is_console_program_for() {
    local format=$2
    file -b "$1" | grep -q "^$format executable (console)"
}

names_only_itself() {
    local exe=$1 own=$2 other texts
    texts=$(strings -n 6 "$exe")
    grep -qx "$own" <<<"$texts" || { echo "  own service name missing"; return 1; }
    for other in "${services[@]}"; do
        [ "$other" = "$own" ] && continue
        if grep -q "$other" <<<"$texts"; then
            echo "  names $other"
            return 1
        fi
    done
}

# The resources as the mingw windres reads them from a program.
resources() {
    "$machine-w64-mingw32-windres" -i "$1" -O rc 2>/dev/null
}

# One version resource, whose numbers are the project version (four numbers,
# missing ones 0), and one manifest, both under the id 1.
has_version_and_manifest() {
    local listing numbers
    listing=$(resources "$1")
    numbers=$(tr . '\n' <<<"$project_version.0.0.0" | head -4 | paste -sd, | sed 's/,/, /g')
    [ "$(grep -c '^1 VERSIONINFO$' <<<"$listing")" -eq 1 ] || { echo "  version resources: $(grep -c VERSIONINFO <<<"$listing")"; return 1; }
    grep -qx " FILEVERSION $numbers" <<<"$listing" || { echo "  $(grep FILEVERSION <<<"$listing"), not $numbers"; return 1; }
    grep -qx " PRODUCTVERSION $numbers" <<<"$listing" || { echo "  $(grep PRODUCTVERSION <<<"$listing"), not $numbers"; return 1; }
    if [ "$(grep -c '^[0-9A-Za-z_"]* 24 ' <<<"$listing")" -ne 1 ] || ! grep -q '^1 24 ' <<<"$listing"; then
        echo "  manifests: $(grep '^[0-9A-Za-z_"]* 24 ' <<<"$listing" | tr '\n' ' ')"
        return 1
    fi
}

for target in win32:32:PE32:i686 win64:64:PE32+:x86_64; do
    IFS=: read -r preset bits format machine <<<"$target"
    objdump=$machine-w64-mingw32-objdump
    table=build/$preset/programs.json
    rows=""
    check "$table lists the $bits-bit Windows programs" lists_programs "$table" "$bits" || continue
    mapfile -t services < <(cut -f2 <<<"$rows")
    while IFS=$'\t' read -r _ service exe; do
        shown=${exe#"$PWD/"}
        check "$shown exists" test -f "$exe" || continue
        check "$shown is a $format console program" is_console_program_for "$exe" "$format"
        check "$shown imports system DLLs only" imports_only_system_dlls "$exe"
        check "$shown names its own service and no other" names_only_itself "$exe" "$service"
        check "$shown carries the project version and a manifest" has_version_and_manifest "$exe"
        check "$shown is unsigned" is_unsigned "$exe"
    done <<<"$rows"
done

summary
