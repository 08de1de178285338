#!/usr/bin/env bash
# sign.sh FILE|DIR...: Authenticode-signs the Windows programs, DLLs or installers FILE in
# place with osslsigncode, and in a DIR every .exe and .dll (plugins included), when a key
# is configured, in one of two ways:
# a PKCS#12 file
#   VARNITT_SIGN_PKCS12          the certificate and its key, a PKCS#12 (.p12) file
#   VARNITT_SIGN_PASSWORD_FILE   a file holding its password
# or a hardware key (USB token, smart card, HSM) through its PKCS#11 module; this needs
# the OpenSSL engine of libengine-pkcs11-openssl
#   VARNITT_SIGN_PKCS11_MODULE   the token's PKCS#11 module (.so)
#   VARNITT_SIGN_PKCS11_KEY      the key in the token: a pkcs11: URI, or its id
#   VARNITT_SIGN_PKCS11_CERT     a PEM file: the key's certificate, then the CA certificates
#                                between it and the root, all of which go into the signature
#   VARNITT_SIGN_PIN_FILE        a file holding the token's PIN
# and for both
#   VARNITT_SIGN_TIMESTAMP_URL   optional: an RFC 3161 timestamp server, so that the
#                                signature stays valid after the certificate expires
# sign.sh --enabled: prints "on" when signing is configured, "off" when it is not.
# Half a configuration, or both ways at once, is an error (exit 1), never an unsigned
# release.
set -euo pipefail

die() { echo "sign.sh: $*" >&2; exit 1; }

pkcs12_vars=(VARNITT_SIGN_PKCS12 VARNITT_SIGN_PASSWORD_FILE)
token_vars=(VARNITT_SIGN_PKCS11_MODULE VARNITT_SIGN_PKCS11_KEY VARNITT_SIGN_PKCS11_CERT VARNITT_SIGN_PIN_FILE)
# The names among NAME... that are set.
set_among() {
    local v set=()
    for v; do [ -z "${!v-}" ] || set+=("$v"); done
    echo "${set[*]}"
}
# Sets key_args (osslsigncode's arguments for the key) and returns 1 when nothing is set.
enabled() {
    local pkcs12 token way v
    pkcs12=$(set_among "${pkcs12_vars[@]}")
    token=$(set_among "${token_vars[@]}")
    [ -n "$pkcs12$token" ] || return 1
    [ -z "$pkcs12" ] || [ -z "$token" ] ||
        die "both a .p12 file ($pkcs12) and a token ($token) are configured; keep one"
    if [ -n "$pkcs12" ]; then way=("${pkcs12_vars[@]}"); else way=("${token_vars[@]}"); fi
    for v in "${way[@]}"; do
        [ -n "${!v-}" ] || die "$v is not set, but $pkcs12$token is"
        # Everything but the key names a file.
        [ "$v" = VARNITT_SIGN_PKCS11_KEY ] || [ -f "${!v}" ] || die "no file at ${!v} ($v)"
    done
    if [ -n "$pkcs12" ]; then
        key_args=(-pkcs12 "$VARNITT_SIGN_PKCS12" -readpass "$VARNITT_SIGN_PASSWORD_FILE")
    else
        # A PIN in the URI would show up in ps; osslsigncode reads it from the file instead.
        case $VARNITT_SIGN_PKCS11_KEY in
        *pin-value=*) die "VARNITT_SIGN_PKCS11_KEY holds a PIN; put it in VARNITT_SIGN_PIN_FILE" ;;
        esac
        key_args=(-pkcs11module "$VARNITT_SIGN_PKCS11_MODULE" -key "$VARNITT_SIGN_PKCS11_KEY"
            -certs "$VARNITT_SIGN_PKCS11_CERT" -readpass "$VARNITT_SIGN_PIN_FILE")
    fi
    command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian package osslsigncode)"
}

if [ "${1-}" = --enabled ] && [ $# -eq 1 ]; then
    if enabled; then echo on; else echo off; fi
    exit 0
fi
if [ $# -eq 0 ] || [ "$1" = --enabled ]; then
    echo "usage: $0 FILE|DIR... | --enabled" >&2
    exit 2
fi
files=()
for f; do
    if [ -d "$f" ]; then
        # Sorted, so that a failure or a log reads the same in every build.
        while IFS= read -r -d '' pe; do files+=("$pe"); done < <(
            find "$f" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | LC_ALL=C sort -z)
    elif [ -f "$f" ]; then
        files+=("$f")
    else
        echo "$0: no file $f" >&2
        exit 2
    fi
done
enabled || die "signing is not configured (VARNITT_SIGN_PKCS12 or VARNITT_SIGN_PKCS11_MODULE and the rest)"

timestamp=()
[ -z "${VARNITT_SIGN_TIMESTAMP_URL-}" ] || timestamp=(-ts "$VARNITT_SIGN_TIMESTAMP_URL")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
signed=$tmp/signed
for f in "${files[@]}"; do
    rm -f "$signed"
    osslsigncode sign "${key_args[@]}" -h sha256 -n Varnitt "${timestamp[@]}" -in "$f" -out "$signed" >&2 ||
        die "signing $f failed"
    # Keeps FILE's mode; makensis reads its output file back under the same name.
    cat "$signed" >"$f"
done
