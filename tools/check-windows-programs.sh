#!/bin/bash
# Checks the built Windows programs: PE console executables for the right
# machine, importing system DLLs only (static runtimes), each carrying its
# own service name and no other program's.
set -uo pipefail
cd "$(dirname "$0")/.."

programs=(AlderSvc BirchSvc CedarSvc HazelSvc SorrelSvc)
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
    fi
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
    for other in "${programs[@]}"; do
        [ "$other" = "$own" ] && continue
        if grep -q "$other" <<<"$texts"; then
            echo "  names $other"
            return 1
        fi
    done
}

for target in win32:PE32:i686 win64:PE32+:x86_64; do
    dir=dist/${target%%:*}
    format=$(cut -d: -f2 <<<"$target")
    objdump=$(cut -d: -f3 <<<"$target")-w64-mingw32-objdump
    for program in "${programs[@]}"; do
        exe=$dir/$program.exe
        check "$dir/$program.exe exists" test -f "$exe" || continue
        check "$dir/$program.exe is a $format console program" is_console_program_for "$exe" "$format"
        check "$dir/$program.exe imports system DLLs only" imports_only_system_dlls "$exe"
        check "$dir/$program.exe names its own service and no other" names_only_itself "$exe" "$program"
    done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
