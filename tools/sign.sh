#!/bin/bash
# Signs Windows programs in place with the release engineer's code-signing
# certificate (Authenticode, SHA-256, with osslsigncode from tools/setup.sh).
# A release step of its own: no build signs anything, and tools/release.sh
# only with --sign.
#
#   tools/sign.sh [--timestamp URL] FOLDER|PROGRAM...
#
# A FOLDER stands for every program (*.exe) in it, e.g. dist/win32. A program
# that is already signed gets the new signature in place of the old one.
#
# The certificate comes from the environment, never from the command line
# (which the process list and the shell history show):
#   HALVERN_SIGN_PFX              a PKCS#12 (.pfx) file with the key and the certificate chain
#   HALVERN_SIGN_KEY              or: a PEM private key
#   HALVERN_SIGN_CERT               and its PEM certificate (chain)
#   HALVERN_SIGN_PASSWORD_FILE    the password of the PFX or of an encrypted key: a file
#                                 holding it (its first line),
#   HALVERN_SIGN_PASSWORD         or the password itself
#   HALVERN_SIGN_TIMESTAMP_URL    an RFC 3161 time-stamping service (optional; --timestamp
#                                 overrides it), so that signatures outlive the certificate
set -euo pipefail

usage() {
    echo "usage: tools/sign.sh [--timestamp URL] FOLDER|PROGRAM... (the certificate: see the top of $0)" >&2
    exit 2
}
fail() {
    echo "sign: $*" >&2
    exit 1
}

timestamp_url=${HALVERN_SIGN_TIMESTAMP_URL:-}
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        --timestamp) [ $# -ge 2 ] || usage; timestamp_url=$2; shift 2 ;;
        --timestamp=*) timestamp_url=${1#*=}; shift ;;
        -h|--help) usage ;;
        -*) usage ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || usage
command -v osslsigncode >/dev/null || fail "osslsigncode is missing: install it with tools/setup.sh (as root)"

programs=()
for target in "${targets[@]}"; do
    if [ -d "$target" ]; then
        found=("$target"/*.exe)
        [ -f "${found[0]}" ] || fail "$target holds no program (*.exe)"
        programs+=("${found[@]}")
    elif [ -f "$target" ]; then
        programs+=("$target")
    else
        fail "$target: no such file or folder"
    fi
done

# osslsigncode reads a password from a file only; one given in the
# environment goes into a private file that is removed on exit.
work=$(mktemp -d "${TMPDIR:-/tmp}/halvern-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
password=()
if [ -n "${HALVERN_SIGN_PASSWORD_FILE:-}" ]; then
    [ -r "$HALVERN_SIGN_PASSWORD_FILE" ] || fail "HALVERN_SIGN_PASSWORD_FILE $HALVERN_SIGN_PASSWORD_FILE is not readable"
    password=(-readpass "$HALVERN_SIGN_PASSWORD_FILE")
elif [ -n "${HALVERN_SIGN_PASSWORD+set}" ]; then
    (umask 077 && printf '%s\n' "$HALVERN_SIGN_PASSWORD" >"$work/password")
    password=(-readpass "$work/password")
fi

if [ -n "${HALVERN_SIGN_PFX:-}" ]; then
    [ -z "${HALVERN_SIGN_KEY:-}${HALVERN_SIGN_CERT:-}" ] || fail "give either HALVERN_SIGN_PFX or HALVERN_SIGN_KEY and HALVERN_SIGN_CERT"
    [ -r "$HALVERN_SIGN_PFX" ] || fail "HALVERN_SIGN_PFX $HALVERN_SIGN_PFX is not readable"
    certificate=(-pkcs12 "$HALVERN_SIGN_PFX")
elif [ -n "${HALVERN_SIGN_KEY:-}" ] && [ -n "${HALVERN_SIGN_CERT:-}" ]; then
    [ -r "$HALVERN_SIGN_KEY" ] || fail "HALVERN_SIGN_KEY $HALVERN_SIGN_KEY is not readable"
    [ -r "$HALVERN_SIGN_CERT" ] || fail "HALVERN_SIGN_CERT $HALVERN_SIGN_CERT is not readable"
    certificate=(-certs "$HALVERN_SIGN_CERT" -key "$HALVERN_SIGN_KEY")
else
    fail "no certificate: set HALVERN_SIGN_PFX, or HALVERN_SIGN_KEY and HALVERN_SIGN_CERT (see $0)"
fi
timestamp=()
[ -z "$timestamp_url" ] || timestamp=(-ts "$timestamp_url")

# Each signed copy replaces its program in one rename, from beside it.
for program in "${programs[@]}"; do
    signed="$(dirname "$program")/.$(basename "$program").signed"
    if ! osslsigncode sign "${certificate[@]}" "${password[@]}" "${timestamp[@]}" -h sha256 \
            -in "$program" -out "$signed" >"$work/log" 2>&1; then
        rm -f "$signed"
        cat "$work/log" >&2
        fail "$program: not signed"
    fi
    chmod --reference="$program" "$signed"
    mv -f "$signed" "$program"
    echo "signed $program"
done
