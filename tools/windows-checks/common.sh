# shellcheck shell=bash disable=SC2034  # its variables are for the scripts that source it
# Sourced by the checks of the built Windows programs: goes to the top of the
# tree, and gives the project version, the PASS/FAIL tally, the program
# tables of the builds and their signatures.
cd "$(dirname "${BASH_SOURCE[0]}")/../.." || exit 1

# The project version, from its one place (the top CMakeLists.txt).
project_version=$(sed -n 's/^project(HalvernServiceHosts VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

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

# The size of a PE file's certificate table: 0 when it is not signed.
signature_size() {
    local size
    # shellcheck disable=SC2154  # each sourcing script sets objdump for its machine
    size=$("$objdump" -p "$1" | awk '/Security Directory/ {print $3}')
    [ -n "$size" ] && echo $((16#$size))
}

is_unsigned() {
    [ "$(signature_size "$1")" = 0 ]
}

is_signed() {
    local size
    size=$(signature_size "$1")
    [ -n "$size" ] && [ "$size" -gt 0 ]
}

# The last line, and the exit code: 0 when nothing failed.
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
