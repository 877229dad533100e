#!/usr/bin/env bash
# Turns the current commit into the files to publish: builds the 32-bit release from a clean build directory,
# checks it, signs it if asked (Authenticode, SHA-256) and writes dist/VireskaCorreo-<version>.exe and
# dist/SHA256SUMS. dist/ is replaced only once everything has worked.
#
#   tools/release.sh [--sign CERT.pfx [--password-file FILE] [--timestamp URL] [--ca-file FILE]] [--url URL]
#
# --password-file names a file whose first line is the certificate's password (never give it on the command
# line); --timestamp adds an RFC 3161 time stamp from that authority; --ca-file is the CA bundle the signature
# is verified against (default: the system's).
. "$(dirname "$(readlink -f "$0")")/common.sh"

# What the signature says of the program: the manifest's Spanish description (an Authenticode description is
# an ASCII string, so it must have no accents) and the provider's page.
DESCRIPTION="Cuentas de correo de Vireska"
URL="https://www.vireska.es/"

usage() {
    echo "usage: tools/release.sh [--sign CERT.pfx [--password-file FILE] [--timestamp URL] [--ca-file FILE]] [--url URL]" >&2
    exit 2
}
fail() {
    echo "release: $*" >&2
    exit 1
}
from_caller() {
    case $1 in
    /*) echo "$1" ;;
    *) echo "$caller/$1" ;;
    esac
}

cert="" password_file="" timestamp="" ca_file=/etc/ssl/certs/ca-certificates.crt
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
    --sign) cert=$(from_caller "$2") ;;
    --password-file) password_file=$(from_caller "$2") ;;
    --timestamp) timestamp=$2 ;;
    --ca-file) ca_file=$(from_caller "$2") ;;
    --url) URL=$2 ;;
    *) usage ;;
    esac
    shift 2
done
[ -n "$cert" ] || [ -z "$password_file$timestamp" ] || fail "--password-file and --timestamp go with --sign"

# The signing key and its password are kept outside the checkout, where no commit can take them.
checkout=$(pwd -P)
for secret in "$cert" "$password_file"; do
    [ -n "$secret" ] || continue
    case "$(readlink -f -- "$secret" || echo "$secret")/" in
    "$checkout"/*) fail "$secret lies inside the checkout $checkout: keep the certificate and its password" \
                        "outside the checkout, where no commit can take them, and name them from there" ;;
    esac
done

ensure_packages "${BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

# A release is made of a commit, and of nothing else.
if [ -n "$(git status --porcelain)" ]; then
    git status --short >&2
    # A certificate file is never to be committed, even one that git was told to take.
    if git status --porcelain | grep -qiE '\.(pfx|p12)"?$'; then
        fail "a certificate file lies in the checkout (above): move it outside the checkout, never commit it"
    fi
    fail "the work tree has uncommitted changes (above): commit or stash them, then run this again"
fi

build=build/release
mkdir -p build
scratch=$(mktemp -d build/release-scratch.XXXXXX)
stage=$(mktemp -d dist.partial.XXXXXX)
chmod 755 "$stage"
trap 'rm -rf "$scratch" "$stage"' EXIT

# The certificate is checked before anything is built: it opens with the password, holds a private key and
# is meant for code signing.
signer=""
if [ -n "$cert" ]; then
    [ -f "$cert" ] || fail "no certificate at $cert"
    if [ -n "$password_file" ]; then
        [ -f "$password_file" ] || fail "no password file at $password_file"
        passin=(-passin "file:$password_file")
    else
        passin=(-passin pass:)
    fi
    openssl pkcs12 -in "$cert" "${passin[@]}" -nokeys -clcerts -out "$scratch/cert.pem" 2>"$scratch/openssl.log" ||
        fail "cannot open $cert: wrong password, or not a PKCS#12 (.pfx) file ($(head -n 1 "$scratch/openssl.log"))"
    keys=$(openssl pkcs12 -in "$cert" "${passin[@]}" -nocerts -nodes 2>/dev/null | grep -c "PRIVATE KEY" || true)
    [ "$keys" -gt 0 ] || fail "$cert holds no private key: export the certificate together with its key"
    openssl x509 -in "$scratch/cert.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
        fail "$cert is not a code-signing certificate (its extended key usage lacks Code Signing)"
    signer=$(openssl x509 -in "$scratch/cert.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
fi

echo "== building the 32-bit release of commit $(git rev-parse --short HEAD) in $build"
rm -rf "$build"
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" --target VireskaCorreo >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
mapfile -t pe_args <"$build/pe_check_args.txt"
/usr/bin/python3 tests/pe/check_pe.py "${pe_args[@]}" "$build/VireskaCorreo.exe" ||
    fail "the static check refuses the build"

name=VireskaCorreo-$version.exe
if [ -n "$cert" ]; then
    sign=(sign -pkcs12 "$cert" -h sha256 -n "$DESCRIPTION" -i "$URL" -in "$build/VireskaCorreo.exe" -out "$stage/$name")
    [ -z "$password_file" ] || sign+=(-readpass "$password_file")
    [ -z "$timestamp" ] || sign+=(-ts "$timestamp")
    osslsigncode "${sign[@]}" >"$scratch/sign.log" 2>&1 || fail "signing failed: $(tail -n 3 "$scratch/sign.log")"
    osslsigncode verify -in "$stage/$name" -CAfile "$ca_file" >"$scratch/verify.log" 2>&1 ||
        fail "the signed file does not verify against $ca_file: $(grep -i -m 3 "fail\|error" "$scratch/verify.log")"
    /usr/bin/python3 tests/pe/check_pe.py "${pe_args[@]}" "$stage/$name" || fail "the static check refuses the signed file"
    if [ -n "$timestamp" ]; then stamp="time-stamped by $timestamp"; else stamp="not time-stamped"; fi
    status="signed by $signer (Authenticode, SHA-256, $stamp)"
else
    cp "$build/VireskaCorreo.exe" "$stage/$name"
    status="NOT SIGNED: Windows will warn of an unknown publisher; sign it with --sign CERT.pfx"
fi
(cd "$stage" && sha256sum "$name" >SHA256SUMS)

rm -rf dist.previous
[ ! -e dist ] || mv dist dist.previous
mv "$stage" dist
rm -rf dist.previous

echo "== release $version in dist/:"
for file in "$name" SHA256SUMS; do
    printf '  %-28s %6d bytes  SHA-256 %s\n' "$file" "$(stat -c %s "dist/$file")" "$(sha256sum "dist/$file" | cut -d' ' -f1)"
done
echo "  $name: $status"
