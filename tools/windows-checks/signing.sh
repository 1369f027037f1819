#!/bin/bash
# tools/sign.sh on copies of the built programs (DIR/win32, DIR/win64;
# tests/wine/run.sh --signed runs them) with a throw-away certificate:
# osslsigncode verify.
set -uo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"
signed_dir=$1

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

signing_checks
summary
