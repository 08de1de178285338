#!/usr/bin/env bash
# sign.sh FILE: Authenticode-signs the Windows program or installer FILE in place
# with osslsigncode, when a certificate is configured:
#   VARNITT_SIGN_PKCS12          the certificate and its key, a PKCS#12 (.p12) file
#   VARNITT_SIGN_PASSWORD_FILE   a file holding its password
#   VARNITT_SIGN_TIMESTAMP_URL   optional: an RFC 3161 timestamp server, so that the
#                                signature stays valid after the certificate expires
# sign.sh --enabled: prints "on" when signing is configured, "off" when it is not.
# Half a configuration is an error (exit 1), never an unsigned release.
set -euo pipefail

die() { echo "sign.sh: $*" >&2; exit 1; }

enabled() {
    local p12=${VARNITT_SIGN_PKCS12-} pass=${VARNITT_SIGN_PASSWORD_FILE-}
    [ -n "$p12$pass" ] || return 1
    [ -n "$p12" ] || die "VARNITT_SIGN_PASSWORD_FILE is set but VARNITT_SIGN_PKCS12 is not"
    [ -n "$pass" ] || die "VARNITT_SIGN_PKCS12 is set but VARNITT_SIGN_PASSWORD_FILE is not"
    [ -f "$p12" ] || die "no certificate file at $p12 (VARNITT_SIGN_PKCS12)"
    [ -f "$pass" ] || die "no password file at $pass (VARNITT_SIGN_PASSWORD_FILE)"
    command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian package osslsigncode)"
}

if [ "${1-}" = --enabled ] && [ $# -eq 1 ]; then
    if enabled; then echo on; else echo off; fi
    exit 0
fi
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 FILE | --enabled" >&2
    exit 2
fi
enabled || die "signing is not configured (VARNITT_SIGN_PKCS12, VARNITT_SIGN_PASSWORD_FILE)"

timestamp=()
[ -z "${VARNITT_SIGN_TIMESTAMP_URL-}" ] || timestamp=(-ts "$VARNITT_SIGN_TIMESTAMP_URL")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
signed=$tmp/signed
osslsigncode sign -pkcs12 "$VARNITT_SIGN_PKCS12" -readpass "$VARNITT_SIGN_PASSWORD_FILE" \
    -h sha256 -n Varnitt "${timestamp[@]}" -in "$1" -out "$signed" >&2 ||
    die "signing $1 failed"
# Keeps FILE's mode; makensis reads its output file back under the same name.
cat "$signed" >"$1"
