#!/usr/bin/env bash
# check_signing.sh DEPLOYDIR VERSION
# Signs a copy of the deployed folder's varnitt.exe and an installer made from it
# (packaging/windows/sign.sh, make-installer.sh) with a throw-away CA and code-signing
# certificate, and verifies with osslsigncode against that CA: varnitt.exe, setup.exe,
# and the uninstaller that setup.exe writes when it installs under Wine. A byte changed
# after signing, or another CA, must fail verification. Then every .exe and .dll of the
# folder, and again setup.exe and its uninstaller, signed with a key made in a SoftHSM
# token and timestamped by a timestamp server that the check runs on 127.0.0.1.
# Everything lives in a temporary folder; nothing secret is kept. It runs in an empty
# network namespace, inside the Wine environment of tests/windows/wine-run.sh.
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
tsa=
trap '[ -z "$tsa" ] || { kill "$tsa" 2>/dev/null; wait "$tsa"; }; rm -rf "$work"' EXIT
unset VARNITT_SIGN_PKCS12 VARNITT_SIGN_PASSWORD_FILE VARNITT_SIGN_TIMESTAMP_URL VARNITT_SIGN_PKCS11_MODULE \
    VARNITT_SIGN_PKCS11_KEY VARNITT_SIGN_PKCS11_CERT VARNITT_SIGN_PIN_FILE http_proxy HTTP_PROXY all_proxy ALL_PROXY
export SOFTHSM2_CONF=$work/softhsm2.conf
module=/usr/lib/softhsm/libsofthsm2.so
key="pkcs11:token=varnitt-test;object=signer;type=private"
pin=$(openssl rand -hex 4)

# verify WHAT FILE CA: osslsigncode's verdict, with its last lines when it refuses.
verify() {
    osslsigncode verify -CAfile "$3" -TSA-CAfile "$3" -in "$2" >"$work/verify.log" 2>&1
}
# expect_valid WHAT FILE CA [PATTERN...]: verifies, and its output has every PATTERN.
expect_valid() {
    local p missing=
    verify "$@" || missing=" verification"
    for p in "${@:4}"; do grep -q -e "$p" "$work/verify.log" || missing="$missing /$p/"; done
    if [ -z "$missing" ]; then
        pass "$1 verifies against the test CA ($(grep -m1 -i 'Signature verification' "$work/verify.log"))"
    else
        fail "$1 verifies against the test CA (missing:$missing)"
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
request() {
    openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "/CN=Varnitt $1" \
        2>>"$work/openssl.log"
}
# issue NAME CA EXTENSION...: NAME.csr signed by CA into NAME.pem.
issue() {
    openssl x509 -req -in "$work/$1.csr" -CA "$work/$2.pem" -CAkey "$work/$2.key" -CAcreateserial -days 2 \
        -out "$work/$1.pem" -extfile <(printf '%s\n' "${@:3}") 2>>"$work/openssl.log"
}
leaf=("basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature")
if ! make_ca test-ca || ! make_ca other-ca ||
    ! request signer || ! issue signer test-ca "${leaf[@]}" extendedKeyUsage=codeSigning ||
    ! openssl rand -base64 24 >"$work/password" ||
    ! openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile "$work/test-ca.pem" \
        -out "$work/signer.p12" -passout "file:$work/password" 2>>"$work/openssl.log" ||
    ! request tsa || ! issue tsa test-ca "${leaf[@]}" extendedKeyUsage=critical,timeStamping ||
    # The token's certificate comes from a CA below the root, which only the signature carries.
    ! request sub-ca || ! issue sub-ca test-ca basicConstraints=critical,CA:TRUE keyUsage=critical,keyCertSign ||
    ! mkdir "$work/tokens" || ! echo "directories.tokendir = $work/tokens" >"$SOFTHSM2_CONF" ||
    ! softhsm2-util --init-token --free --label varnitt-test --so-pin "$pin$pin" --pin "$pin" \
        >>"$work/openssl.log" 2>&1 ||
    ! pkcs11-tool --module "$module" --token-label varnitt-test --login --pin "$pin" --keypairgen \
        --key-type rsa:2048 --id 01 --label signer --usage-sign >>"$work/openssl.log" 2>&1 ||
    ! PKCS11_MODULE_PATH=$module openssl req -new -engine pkcs11 -keyform engine -key "$key;pin-value=$pin" \
        -subj "/CN=Varnitt token signer" -out "$work/token.csr" >>"$work/openssl.log" 2>&1 ||
    ! issue token sub-ca "${leaf[@]}" extendedKeyUsage=codeSigning ||
    ! cat "$work/token.pem" "$work/sub-ca.pem" >"$work/token-chain.pem" || ! echo "$pin" >"$work/pin"; then
    fail "making the test certificates"
    cat "$work/openssl.log"
    exit 1
fi
if pkcs11-tool --module "$module" --token-label varnitt-test --login --pin "$pin" --list-objects --type privkey \
    2>&1 | grep -q 'never extractable, local'; then
    pass "the token's signing key was made in it and cannot leave it"
else
    fail "the token's signing key was made in it and cannot leave it"
fi

# --- a timestamp server (RFC 3161) on the namespace's own loopback ---
if ip -o link show | grep -q -v ': lo:'; then
    fail "an empty network namespace for the timestamp server"
    exit 1
fi
ip -o link show lo | grep -q '[<,]UP[,>]' || ip link set lo up
printf '%s\n' "[ tsa ]" "default_tsa = test_tsa" "[ test_tsa ]" "serial = $work/tsa.serial" \
    "signer_cert = $work/tsa.pem" "signer_key = $work/tsa.key" "certs = $work/test-ca.pem" \
    "signer_digest = sha256" "default_policy = 1.2.3.4.1" "digests = sha256, sha384, sha512" \
    "ess_cert_id_alg = sha256" >"$work/tsa.cnf"
cat >"$work/tsa.py" <<'EOF'
import http.server, os, subprocess, sys
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
with open(sys.argv[2] + ".new", "w") as port:
    port.write(str(server.server_port))
os.rename(sys.argv[2] + ".new", sys.argv[2])
server.serve_forever()
EOF
/usr/bin/python3 "$work/tsa.py" "$work/tsa.cnf" "$work/tsa.port" 2>"$work/tsa.log" &
tsa=$!
tries=0
until [ -s "$work/tsa.port" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ] || ! kill -0 "$tsa" 2>/dev/null; then
        fail "the timestamp server starts"
        cat "$work/tsa.log"
        exit 1
    fi
    sleep 0.05
done
timestamp_url=http://127.0.0.1:$(cat "$work/tsa.port")/
stamped=("Timestamp Server Signature verification: ok")

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
pkcs12_vars="VARNITT_SIGN_PKCS12=$work/signer.p12 VARNITT_SIGN_PASSWORD_FILE=$work/password"
token_vars="VARNITT_SIGN_PKCS11_MODULE=$module VARNITT_SIGN_PKCS11_KEY=$key"
token_vars="$token_vars VARNITT_SIGN_PKCS11_CERT=$work/token-chain.pem VARNITT_SIGN_PIN_FILE=$work/pin"
# One assignment a word; the last two: the token without its PIN, and both ways at once.
# Each is refused for what it is: sign.sh says what is missing or doubled, and
# make-installer.sh stops at that, before it writes anything. A refusal for another
# reason (a file, a tool or the deployed folder missing) proves nothing here.
refusal='^sign\.sh: (VARNITT_SIGN_[A-Z0-9_]+ is not set, but [A-Z0-9_ ]+ is|both a \.p12 file \(.*\) and a token \(.*\) are configured; keep one)$'
for half in VARNITT_SIGN_PKCS12="$work/signer.p12" VARNITT_SIGN_PASSWORD_FILE="$work/password" \
    "${token_vars% *}" "$pkcs12_vars $token_vars"; do
    # shellcheck disable=SC2001
    names=$(sed 's/=[^ ]*//g' <<<"$half")
    rm -f "$work/half.exe"
    # shellcheck disable=SC2086
    env $half "$packaging/sign.sh" --enabled >/dev/null 2>"$work/half-sign.log"
    sign_rc=$?
    # shellcheck disable=SC2086
    env $half "$packaging/make-installer.sh" "$work/$name" "$version" "$packaging/varnitt.ico" \
        "$work/half.exe" >/dev/null 2>"$work/half-installer.log"
    installer_rc=$?
    reason=$(cat "$work/half-sign.log")
    if [ "$sign_rc" -ne 0 ] && [[ $reason =~ $refusal ]] && [ "$installer_rc" -ne 0 ] &&
        grep -qxF -e "$reason" "$work/half-installer.log" &&
        [ "$(tail -n 1 "$work/half-installer.log")" = "make-installer.sh: signing is configured wrongly" ] &&
        [ ! -e "$work/half.exe" ]; then
        pass "only $names set: sign.sh and make-installer.sh refuse (${reason#sign.sh: })"
    else
        fail "only $names set: sign.sh and make-installer.sh refuse, for that (exit codes $sign_rc, $installer_rc)"
        sed 's/^/    | /' "$work/half-sign.log" "$work/half-installer.log" | tail -n 10
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
cp "$work/unsigned.exe" "$work/stamped.exe"
VARNITT_SIGN_TIMESTAMP_URL=$timestamp_url "$packaging/sign.sh" "$work/stamped.exe" >>"$work/sign.log" 2>&1
expect_valid "varnitt.exe signed from the .p12 file with a timestamp" "$work/stamped.exe" "$work/test-ca.pem" \
    "${stamped[@]}"
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

# --- the key in the token: every program and DLL of the folder, timestamped ---
mkdir "$work/token" && cp -a "$deployed" "$work/token/$name"
pe_files() {
    find "$work/token/$name" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | LC_ALL=C sort -z
}
token_setup=$work/varnitt-$version-token-setup.exe
# shellcheck disable=SC2086
if ! env $token_vars VARNITT_SIGN_TIMESTAMP_URL="$timestamp_url" "$packaging/sign.sh" "$work/token/$name" \
    >"$work/sign.log" 2>&1 ||
    ! env $token_vars VARNITT_SIGN_TIMESTAMP_URL="$timestamp_url" "$packaging/make-installer.sh" \
        "$work/token/$name" "$version" "$packaging/varnitt.ico" "$token_setup" >>"$work/sign.log" 2>&1; then
    fail "signing the folder and building the installer with the token's key"
    sed 's/^/    | /' "$work/sign.log" | tail -n 20
    exit 1
fi
by_token=("${stamped[@]}" "Subject: /CN=Varnitt token signer")
while IFS= read -r -d '' f; do
    expect_valid "${f#"$work/token/$name/"} signed in the token" "$f" "$work/test-ca.pem" "${by_token[@]}"
done < <(pe_files)
expect_valid "setup.exe signed in the token" "$token_setup" "$work/test-ca.pem" "${by_token[@]}"
timeout 300 wine "$token_setup" /S </dev/null >>"$work/install.log" 2>&1
code=$?
timeout 120 wineserver -w
if [ "$code" = 0 ] && [ -f "$instdir/uninstall.exe" ]; then
    expect_valid "uninstall.exe written by the installer signed in the token" "$instdir/uninstall.exe" \
        "$work/test-ca.pem" "${by_token[@]}"
else
    fail "the installer signed in the token installs under Wine (exit code $code)"
fi

echo "took $(($(date +%s) - started)) s"
if [ "$failures" = 0 ]; then
    echo "PASS: signing checks"
    exit 0
fi
echo "FAIL: $failures signing check(s) failed"
exit 1
