#!/bin/bash
# Checks the built Windows programs, as each Windows build lists them in its
# programs.json: PE console executables for the right machine, importing
# system DLLs only (static runtimes), each carrying its own service name and
# no other program's, one version resource with the project's version, one
# application manifest, and no signature.
#
#   tools/check-windows-programs.sh                  the programs of the win32 and win64 builds
#   tools/check-windows-programs.sh --release        tools/release.sh, run twice on two copies of
#                                                    the tree: bit-identical programs and archives,
#                                                    archive contents and checksums
#   tools/check-windows-programs.sh --signing DIR    tools/sign.sh on copies of the built programs
#                                                    (DIR/win32, DIR/win64; tests/wine/run.sh
#                                                    --signed runs them) with a throw-away
#                                                    certificate: osslsigncode verify
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

mode=programs
case "${1:-}" in
    "") ;;
    --release) [ $# -eq 1 ] && mode=release ;;
    --signing) [ $# -eq 2 ] && mode=signing && signed_dir=$2 ;;
esac
if [ "$mode" = programs ] && [ $# -gt 0 ]; then
    echo "usage: $0 [--release | --signing DIR]" >&2
    exit 2
fi
# The project version, from its one place (the top CMakeLists.txt).
project_version=$(sed -n 's/^project(HalvernServiceHosts VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

system_dlls='^(kernel32|advapi32|netapi32|msvcrt|ntdll|user32|ws2_32|shell32|ole32)\.dll$'
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

# The size of a PE file's certificate table: 0 when it is not signed.
signature_size() {
    local size
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

# --- --release ----------------------------------------------------------------

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

# --- --signing DIR ------------------------------------------------------------

# tools/sign.sh FOLDER|PROGRAM with the given environment and nothing of the
# caller's signing environment; only its errors show.
sign() {
    env -u HALVERN_SIGN_PFX -u HALVERN_SIGN_KEY -u HALVERN_SIGN_CERT -u HALVERN_SIGN_PASSWORD \
        -u HALVERN_SIGN_PASSWORD_FILE -u HALVERN_SIGN_TIMESTAMP_URL "$@" >/dev/null
}

# osslsigncode verify PROGRAM OPTION...: sets verify_code, verify_output
# and the two digests it reports, the one the signature holds (current) and
# the program's own (calculated). The checks judge a verification by its
# exit code and these digests; wording differs between osslsigncode
# versions (Debian 12's 2.5 and later ones).
verify() {
    local program=$1
    shift
    verify_command="osslsigncode verify -in $program $*"
    verify_output=$(osslsigncode verify -in "$program" "$@" 2>&1)
    verify_code=$?
    current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$verify_output")
    calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$verify_output")
}

# Why a verification did not do what was expected, and all that verify
# said about it.
show_verify() {
    echo "  expected: $1"
    echo "  $verify_command: exit code $verify_code"
    local line
    while IFS= read -r line; do
        echo "    $line"
    done <<<"$verify_output"
}

# The certificate errors verify reports, one a line: osslsigncode 2.5
# passes on OpenSSL's "...:Verify error: <reason>", later versions print
# "Error: <reason>".
certificate_errors() {
    sed -n 's/^.*[Ee]rror: \(.*\)$/\1/p' <<<"$verify_output" | sort -u
}

# With the throw-away root as the one trusted: a SHA-256 signature over the
# program as it is, by a certificate that chains to that root.
verifies_against() {
    verify "$1" -CAfile "$2"
    if [ $verify_code -eq 0 ] && grep -q "^Message digest algorithm *: SHA256" <<<"$verify_output" &&
            [ -n "$current" ] && [ "$current" = "$calculated" ]; then
        return 0
    fi
    show_verify "exit code 0, a SHA-256 signature whose digest is the program's"
    return 1
}

# With an unrelated root as the one trusted (as for anyone who lacks the
# signer's root), verify fails, and for that alone: the digest still holds
# and the only certificate error is the self-signed root (of the signer's
# chain, and of a time stamp's).
fails_without_the_root() {
    local errors
    verify "$1" -CAfile "$2"
    errors=$(certificate_errors)
    if [ $verify_code -ne 0 ] && [ -n "$current" ] && [ "$current" = "$calculated" ] &&
            [ -n "$errors" ] && ! grep -Evqx "self[- ]signed certificate" <<<"$errors"; then
        return 0
    fi
    show_verify "a non-zero exit code, the program's digest, and no certificate error but the self-signed root"
    return 1
}

# A program changed after signing fails verify, on its digest.
fails_once_changed() {
    local changed=$keys/changed.exe byte
    cp "$1" "$changed"
    byte=$(od -An -tu1 -j1100 -N1 "$changed")
    printf '%b' "\\x$(printf %02x $(((byte + 1) % 256)))" | dd of="$changed" bs=1 seek=1100 conv=notrunc status=none
    verify "$changed" -CAfile "$2"
    if [ $verify_code -ne 0 ] && [ -n "$current" ] && [ -n "$calculated" ] && [ "$current" != "$calculated" ]; then
        return 0
    fi
    show_verify "a non-zero exit code and a digest that differs from the signature's"
    return 1
}

# A local RFC 3161 time-stamping service, answered by openssl ts with the
# throw-away certificate in $keys; sets tsa_url once it listens.
start_time_stamping() {
    cat >"$keys/tsa.cnf" <<EOF
[ tsa ]
default_tsa = throw_away
[ throw_away ]
serial = $keys/tsa-serial
signer_cert = $keys/tsa-cert.pem
signer_key = $keys/tsa-key.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
EOF
    python3 -B - "$keys/tsa.cnf" >"$keys/tsa.port" 2>"$keys/tsa.log" <<'PYTHON' &
import http.server
import os
import subprocess
import sys
import tempfile


class TimeStamping(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "query"), "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile",
                            os.path.join(work, "query"), "-out", os.path.join(work, "reply")], check=True)
            with open(os.path.join(work, "reply"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamping)
print(server.server_address[1], flush=True)
server.serve_forever()
PYTHON
    tsa_pid=$!
    local waited=0
    while [ ! -s "$keys/tsa.port" ] && [ $waited -lt 50 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    [ -s "$keys/tsa.port" ] || { sed 's/^/  /' "$keys/tsa.log"; return 1; }
    tsa_url=http://127.0.0.1:$(cat "$keys/tsa.port")/
}

# Signed with a time stamp that the throw-away time-stamping service gave.
is_time_stamped() {
    verify "$1" -CAfile "$2" -TSA-CAfile "$3"
    [ $verify_code -eq 0 ] && grep -qx "Timestamp Server Signature verification: ok" <<<"$verify_output" && return 0
    show_verify "exit code 0 and \"Timestamp Server Signature verification: ok\""
    return 1
}

signs_nothing() {
    local program=$1 before=$keys/before.exe
    shift
    cp "$program" "$before"
    if sign "$@" tools/sign.sh "$program" 2>/dev/null; then
        echo "  sign.sh succeeded"
        return 1
    fi
    cmp "$before" "$program"
}

signing_checks() {
    local preset bits rows exe name
    # The version, for a failure that only one version shows.
    osslsigncode --version 2>&1 | head -1 | sed 's/, using:$//'
    keys=$(mktemp -d "${TMPDIR:-/tmp}/halvern-signing-check.XXXXXX")
    tsa_pid=""
    trap '[ -z "$tsa_pid" ] || kill "$tsa_pid"; rm -rf "$keys"' EXIT
    # The throw-away certificates, in a temporary folder only: a code-signing
    # one, its key also encrypted and as a PFX, an unrelated root, and a
    # time-stamping one.
    if ! {
        printf 'throw-away %s\n' "$RANDOM$RANDOM" >"$keys/password" &&
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halvern throw-away test signer" \
            -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
            -keyout "$keys/key.pem" -out "$keys/cert.pem" &&
        openssl pkey -in "$keys/key.pem" -aes256 -passout "file:$keys/password" -out "$keys/key-encrypted.pem" &&
        openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -passout "file:$keys/password" \
            -out "$keys/signer.pfx" &&
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halvern unrelated root" \
            -keyout "$keys/other-key.pem" -out "$keys/other-root.pem" &&
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halvern throw-away time stamps" \
            -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,timeStamping" \
            -keyout "$keys/tsa-key.pem" -out "$keys/tsa-cert.pem"
    } >"$keys/openssl.log" 2>&1; then
        cat "$keys/openssl.log"
        check "throw-away certificates made" false
        return
    fi
    check "a local time-stamping service" start_time_stamping || tsa_url=http://127.0.0.1:9/
    rm -rf "$signed_dir"
    for target in win32:32:i686:pfx win64:64:x86_64:pem; do
        IFS=: read -r preset bits machine how <<<"$target"
        objdump=$machine-w64-mingw32-objdump
        rows=""
        check "build/$preset/programs.json lists the $bits-bit Windows programs" \
            lists_programs "build/$preset/programs.json" "$bits" || continue
        mkdir -p "$signed_dir/$preset"
        while IFS=$'\t' read -r _ _ exe; do
            cp "$exe" "$signed_dir/$preset/"
        done <<<"$rows"
        if [ "$how" = pfx ]; then
            check "tools/sign.sh signs the $preset programs with a PFX and a password file" \
                sign HALVERN_SIGN_PFX="$keys/signer.pfx" HALVERN_SIGN_PASSWORD_FILE="$keys/password" \
                tools/sign.sh "$signed_dir/$preset"
        else
            check "tools/sign.sh signs the $preset programs with a PEM key and certificate, password from the environment, time-stamped" \
                sign HALVERN_SIGN_KEY="$keys/key-encrypted.pem" HALVERN_SIGN_CERT="$keys/cert.pem" \
                HALVERN_SIGN_PASSWORD="$(head -1 "$keys/password")" no_proxy=127.0.0.1 \
                tools/sign.sh --timestamp "$tsa_url" "$signed_dir/$preset"
        fi
        for exe in "$signed_dir/$preset"/*.exe; do
            name=${exe#"$PWD/"}
            check "$name is signed" is_signed "$exe"
            check "$name verifies against the throw-away root" verifies_against "$exe" "$keys/cert.pem"
            check "$name fails verify without that root, for the root alone" \
                fails_without_the_root "$exe" "$keys/other-root.pem"
            if [ "$how" = pem ]; then
                check "$name carries a verified time stamp" is_time_stamped "$exe" "$keys/cert.pem" "$keys/tsa-cert.pem"
            fi
        done
        check "a $preset program changed after signing fails verify" \
            fails_once_changed "$signed_dir/$preset/$(cut -f1 <<<"$rows" | head -1).exe" "$keys/cert.pem"
    done
    exe=("$signed_dir"/win64/*.exe)
    check "tools/sign.sh without a certificate signs nothing" signs_nothing "${exe[0]}"
    check "tools/sign.sh with a wrong password signs nothing" signs_nothing "${exe[0]}" \
        HALVERN_SIGN_PFX="$keys/signer.pfx" HALVERN_SIGN_PASSWORD=wrong
}

if [ "$mode" = signing ]; then
    signing_checks
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
fi

if [ "$mode" = release ]; then
    objdump=x86_64-w64-mingw32-objdump  # reads both PE formats
    release_checks
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
fi

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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
