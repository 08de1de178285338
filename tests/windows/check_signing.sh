#!/usr/bin/env bash
# check_signing.sh DEPLOYDIR VERSION
# Signs a copy of the deployed folder's varnitt.exe and an installer made from it
# (packaging/windows/sign.sh, make-installer.sh) with a throw-away CA and code-signing
# certificate, and verifies with osslsigncode against that CA: varnitt.exe, setup.exe,
# and the uninstaller that setup.exe writes when it installs under Wine. A byte changed
# after signing, or another CA, must fail verification. Everything lives in a temporary
# folder; nothing secret is kept. It runs in an empty network namespace, inside the
# Wine environment of tests/windows/wine-run.sh.
# Exit: 0 pass, 1 fail, 77 skipped (no network namespace available).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1-}" != --inside ]; then
    if [ $# -ne 2 ] || [ ! -f "$1/varnitt.exe" ]; then
        echo "usage: $0 DEPLOYDIR VERSION" >&2
        exit 1
    fi
    exec "$here/../netns/in-empty-netns.sh" "$here/wine-run.sh" --shell \
        bash "$here/check_signing.sh" --inside "$(readlink -f "$1")" "$2"
fi
deployed=$2
version=$3
packaging=$here/../../packaging/windows
started=$(date +%s)
failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d -t varnitt-signing.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset VARNITT_SIGN_PKCS12 VARNITT_SIGN_PASSWORD_FILE VARNITT_SIGN_TIMESTAMP_URL

# verify WHAT FILE CA: osslsigncode's verdict, with its last lines when it refuses.
verify() {
    osslsigncode verify -CAfile "$3" -in "$2" >"$work/verify.log" 2>&1
}
expect_valid() {
    if verify "$@"; then
        pass "$1 verifies against the test CA ($(grep -m1 -i 'Signature verification' "$work/verify.log"))"
    else
        fail "$1 verifies against the test CA"
        sed 's/^/    | /' "$work/verify.log" | tail -n 15
    fi
}
# expect_invalid WHAT FILE CA [REASON]: refused, and for REASON (a pattern of its output).
expect_invalid() {
    if verify "$@"; then
        fail "$1 fails verification"
    elif [ -n "${4-}" ] && ! grep -q -i -e "$4" "$work/verify.log"; then
        fail "$1 fails verification, for another reason than /$4/"
        sed 's/^/    | /' "$work/verify.log" | tail -n 15
    else
        pass "$1 fails verification ($(grep -m1 -i -e "${4:-failed}" "$work/verify.log" | tr -s ' '))"
    fi
}

# --- a CA and a code-signing certificate, made for this run only ---
make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" -days 2 \
        -subj "/CN=Varnitt $1" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2>>"$work/openssl.log"
}
if ! make_ca test-ca || ! make_ca other-ca ||
    ! openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
        -subj "/CN=Varnitt test signer" 2>>"$work/openssl.log" ||
    ! openssl x509 -req -in "$work/signer.csr" -CA "$work/test-ca.pem" -CAkey "$work/test-ca.key" \
        -CAcreateserial -days 2 -out "$work/signer.pem" -extfile <(printf '%s\n' \
            basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning) \
        2>>"$work/openssl.log" ||
    ! openssl rand -base64 24 >"$work/password" ||
    ! openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile "$work/test-ca.pem" \
        -out "$work/signer.p12" -passout "file:$work/password" 2>>"$work/openssl.log"; then
    fail "making the test certificates"
    cat "$work/openssl.log"
    exit 1
fi

# --- sign.sh refuses half a configuration and does nothing without one ---
name=$(basename "$deployed")
cp -a "$deployed" "$work/$name"
exe=$work/$name/varnitt.exe
# A release build hands over a program signed with its own certificate.
if osslsigncode extract-signature -in "$exe" -out "$work/release.sig" >/dev/null 2>&1; then
    osslsigncode remove-signature -in "$deployed/varnitt.exe" -out "$exe.unsigned" >/dev/null &&
        mv "$exe.unsigned" "$exe" || fail "removing the release signature from the copy of varnitt.exe"
fi
cp "$exe" "$work/unsigned.exe"
state=$("$packaging/sign.sh" --enabled)
if [ $? -eq 0 ] && [ "$state" = off ] && ! "$packaging/sign.sh" "$exe" 2>/dev/null && cmp -s "$exe" "$work/unsigned.exe"; then
    pass "without the variables signing is off and sign.sh changes nothing"
else
    fail "without the variables signing is off and sign.sh changes nothing (--enabled said: $state)"
fi
for half in VARNITT_SIGN_PKCS12="$work/signer.p12" VARNITT_SIGN_PASSWORD_FILE="$work/password"; do
    if env "$half" "$packaging/sign.sh" --enabled >/dev/null 2>&1 ||
        env "$half" "$packaging/make-installer.sh" "$work/$name" "$version" "$packaging/varnitt.ico" \
            "$work/half.exe" >/dev/null 2>&1; then
        fail "only ${half%%=*} set: sign.sh and make-installer.sh refuse"
    else
        pass "only ${half%%=*} set: sign.sh and make-installer.sh refuse"
    fi
done

# --- sign as a release would: the program first, then the installer and its uninstaller ---
export VARNITT_SIGN_PKCS12=$work/signer.p12 VARNITT_SIGN_PASSWORD_FILE=$work/password
setup=$work/varnitt-$version-signed-setup.exe
if ! "$packaging/sign.sh" "$exe" >"$work/sign.log" 2>&1 ||
    ! "$packaging/make-installer.sh" "$work/$name" "$version" "$packaging/varnitt.ico" "$setup" \
        >>"$work/sign.log" 2>&1; then
    fail "signing varnitt.exe and building the signed installer"
    sed 's/^/    | /' "$work/sign.log" | tail -n 20
    exit 1
fi
unset VARNITT_SIGN_PKCS12 VARNITT_SIGN_PASSWORD_FILE
expect_valid varnitt.exe "$exe" "$work/test-ca.pem"
expect_valid setup.exe "$setup" "$work/test-ca.pem"
expect_invalid "setup.exe against another CA" "$setup" "$work/other-ca.pem"

# One byte of the program changed after signing, halfway in (far from the signature at its end).
cp "$exe" "$work/tampered.exe"
size=$(stat -c %s "$work/tampered.exe")
byte=$(od -An -tu1 -j $((size / 2)) -N1 "$work/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$work/tampered.exe" bs=1 seek=$((size / 2)) conv=notrunc status=none
if cmp -s "$exe" "$work/tampered.exe"; then
    fail "changing one byte of varnitt.exe"
else
    expect_invalid "varnitt.exe with one byte changed after signing" "$work/tampered.exe" "$work/test-ca.pem" \
        'calculated message digest.*mismatch'
fi

# --- the uninstaller, as the installer writes it on Windows ---
timeout 300 wine "$setup" /S </dev/null >"$work/install.log" 2>&1
code=$?
timeout 120 wineserver -w
instdir="$WINEPREFIX/drive_c/Program Files/Varnitt"
if [ "$code" = 0 ] && [ -f "$instdir/uninstall.exe" ]; then
    expect_valid "uninstall.exe written by the signed installer" "$instdir/uninstall.exe" "$work/test-ca.pem"
    expect_valid "varnitt.exe installed by the signed installer" "$instdir/varnitt.exe" "$work/test-ca.pem"
else
    fail "the signed installer installs under Wine (exit code $code)"
fi

echo "took $(($(date +%s) - started)) s"
if [ "$failures" = 0 ]; then
    echo "PASS: signing checks"
    exit 0
fi
echo "FAIL: $failures signing check(s) failed"
exit 1
