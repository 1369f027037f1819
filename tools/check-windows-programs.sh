#!/bin/bash
# Checks the built Windows programs, as each Windows build lists them in its
# programs.json: PE console executables for the right machine, importing
# system DLLs only (static runtimes), each carrying its own service name and
# no other program's.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

system_dlls='^(kernel32|advapi32|msvcrt|ntdll|user32|ws2_32|shell32|ole32)\.dll$'
passed=0
failed=0

check() {
    local name=$1
    shift
    if "$@"; then
        echo "PASS $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name"
        failed=$((failed + 1))
        return 1
    fi
}

# "name<TAB>service name<TAB>path" for each program of a Windows build of
# the given bitness; fails, saying why, for any other table.
program_rows() {
    python3 -B - "$1" "$2" <<'PYTHON'
import sys
sys.path.insert(0, "tests/support")
import halvern_install
try:
    table = halvern_install.load_programs(sys.argv[1])
except halvern_install.ProgramTableError as error:
    sys.exit("  %s" % error)
if (table.system, table.bits) != ("Windows", int(sys.argv[2])):
    sys.exit("  a %s %d-bit build" % (table.system, table.bits))
for row in table.programs:
    print("%s\t%s\t%s" % (row.name, row.service_name, row.path))
PYTHON
}

lists_programs() {
    rows=$(program_rows "$1" "$2")
}

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
    done <<<"$rows"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
