#!/usr/bin/env bash
# Turns the current commit into the files to publish: builds the 32-bit release from a clean build directory,
# checks it, signs it if asked (Authenticode, SHA-256), with the key on a token or HSM through PKCS#11 or from a
# PKCS#12 file, time-stamps the signature, and writes dist/VireskaCorreo-<version>.exe and dist/SHA256SUMS.
# dist/ is replaced only once everything has worked.
#
#   tools/release.sh [--pkcs11-module LIBRARY --key PKCS11_URI --cert CERT [--chain FILE] [--pin-file FILE]
#                     | --sign CERT.pfx [--password-file FILE]]
#                    [--timestamp URL ... | --no-timestamp] [--ca-file FILE] [--url URL]
#
# --key names the private key on the token (RFC 7512, pkcs11:token=...;object=...); --cert is a PEM file (the
# certificate first, then its chain) or the pkcs11: URI of the certificate on the token; --chain adds the
# intermediate certificates (PEM) to either. The PIN is the first line of --pin-file, or is asked for when
# standard input is a terminal; the first line of --password-file is the .pfx's password.
# A signature needs --timestamp (RFC 3161 authorities, tried in turn) or, said in so many words, --no-timestamp.
# --ca-file is the CA bundle the signature and its time stamp are verified against (default: the system's).
. "$(dirname "$(readlink -f "$0")")/common.sh"

# What the signature says of the program: the manifest's Spanish description (an Authenticode description is
# an ASCII string, so it must have no accents) and the provider's page.
DESCRIPTION="Cuentas de correo de Vireska"
URL="https://www.vireska.es/"

usage() {
    echo "usage: tools/release.sh [--pkcs11-module LIBRARY --key PKCS11_URI --cert CERT [--chain FILE]" \
         "[--pin-file FILE]" \
         "| --sign CERT.pfx [--password-file FILE]] [--timestamp URL ... | --no-timestamp] [--ca-file FILE]" \
         "[--url URL]" >&2
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

pfx="" password_file="" module="" key="" cert="" chain="" pin_file="" timestamps=() no_timestamp=""
system_bundle=/etc/ssl/certs/ca-certificates.crt
ca_file=$system_bundle
while [ $# -gt 0 ]; do
    if [ "$1" = --no-timestamp ]; then
        no_timestamp=1
        shift
        continue
    fi
    [ $# -ge 2 ] || usage
    case $1 in
    --sign) pfx=$(from_caller "$2") ;;
    --password-file) password_file=$(from_caller "$2") ;;
    --pkcs11-module) module=$(from_caller "$2") ;;
    --key) key=$2 ;;
    --cert) case $2 in pkcs11:*) cert=$2 ;; *) cert=$(from_caller "$2") ;; esac ;;
    --chain) chain=$(from_caller "$2") ;;
    --pin-file) pin_file=$(from_caller "$2") ;;
    --timestamp) timestamps+=("$2") ;;
    --ca-file) ca_file=$(from_caller "$2") ;;
    --url) URL=$2 ;;
    *) usage ;;
    esac
    shift 2
done
[ -z "$pfx" ] || [ -z "$module$key$cert$chain$pin_file" ] ||
    fail "--sign signs with a .pfx file, --pkcs11-module with a token: give one or the other"
[ -n "$pfx" ] || [ -z "$password_file" ] || fail "--password-file goes with --sign"
[ -n "$module" ] || [ -z "$key$cert$chain$pin_file" ] ||
    fail "--key, --cert, --chain and --pin-file go with --pkcs11-module"
[ -z "$module" ] || { [ -n "$key" ] && [ -n "$cert" ]; } ||
    fail "--pkcs11-module needs --key (the private key's pkcs11: URI) and --cert (a PEM file or a pkcs11: URI)"
case $key in
"" | pkcs11:*) ;;
*) fail "--key must be a PKCS#11 URI such as pkcs11:token=Vireska;object=codesign, not $key" ;;
esac
case $key in
*pin-value=* | *pin-source=*) fail "--key must not carry the PIN: give it in --pin-file, or type it when asked" ;;
esac
signing=$pfx$module
if [ -z "$signing" ]; then
    [ ${#timestamps[@]} -eq 0 ] && [ -z "$no_timestamp" ] || fail "--timestamp and --no-timestamp go with signing"
elif [ ${#timestamps[@]} -gt 0 ] && [ -n "$no_timestamp" ]; then
    fail "--timestamp and --no-timestamp contradict each other: give one"
elif [ ${#timestamps[@]} -eq 0 ] && [ -z "$no_timestamp" ]; then
    fail "a signature needs a time stamp, or it stops verifying when the certificate expires: give --timestamp URL" \
         "(the RFC 3161 authority your certificate authority publishes; more than one are tried in turn), or" \
         "--no-timestamp to sign without one"
fi

# The signing key, its password and its PIN are kept outside the checkout, where no commit can take them.
checkout=$(pwd -P)
for secret in "$pfx" "$password_file" "$pin_file"; do
    [ -n "$secret" ] || continue
    case "$(readlink -f -- "$secret" || echo "$secret")/" in
    "$checkout"/*) fail "$secret lies inside the checkout $checkout: keep the certificate, its password and the" \
                        "PIN outside the checkout, where no commit can take them, and name them from there" ;;
    esac
done

ensure_packages "${BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

# A release is made of a commit, and of nothing else; git must be able to say which, and that nothing else is here
# (git refuses a checkout owned by another user, for one).
# (Names as they are, not quoted: git writes "firma-a\303\261o.pfx" for firma-año.pfx otherwise.)
git=(git -c core.quotePath=false)
changes=$("${git[@]}" status --porcelain 2>&1) || fail "git cannot read the work tree $checkout: $changes"
if [ -n "$changes" ]; then
    "${git[@]}" status --short >&2
    # A certificate file is never to be committed, even one that git was told to take.
    if grep -qiE '\.(pfx|p12)"?$' <<<"$changes"; then
        fail "a certificate file lies in the checkout (above): move it outside the checkout, never commit it"
    fi
    fail "the work tree has uncommitted changes (above): commit or stash them, then run this again"
fi
# Nor one already committed: its key is in every clone.
committed=$("${git[@]}" ls-files -z -- ':(icase)*.pfx' ':(icase)*.p12' | tr '\0' ' ')
[ -z "$committed" ] || fail "a certificate file is committed: ${committed% }. Remove it (git rm --cached), from the" \
                            "history too, and have the certificate revoked: its key is in every clone"
commit=$(git rev-parse HEAD)
# The PE time stamp: the commit's time, unless SOURCE_DATE_EPOCH says otherwise; the build record names it.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] ||
    fail "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970 (the PE time stamp), not $SOURCE_DATE_EPOCH"
# The bytes are the commit's and the toolchain's alone: the build gets no variable of this environment but the
# search path, the home directory (git's and CMake's settings) and the temporary directory, so that no CFLAGS,
# CXXFLAGS, CPPFLAGS, LDFLAGS, CC, CMAKE_..., CPATH or LIBRARY_PATH left in a shell reaches the file. Those of
# them that are set are named.
build_env=(env -i PATH="$PATH" HOME="${HOME:-/}" TMPDIR="${TMPDIR:-/tmp}" SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH"
           LC_ALL=C.UTF-8)
flag_variables="(C|CXX|CPP|LD|RC|ASM|OBJC|OBJCXX)FLAGS|CC|CXX|RC|ASM|CMAKE_.*|CPATH|C_INCLUDE_PATH|CPLUS_INCLUDE_PATH"
flag_variables+="|LIBRARY_PATH|COMPILER_PATH|GCC_EXEC_PREFIX|DEPENDENCIES_OUTPUT|SUNPRO_DEPENDENCIES|LDEMULATION|GNUTARGET"
left_out=$(compgen -e | grep -xE "$flag_variables" | paste -sd ' ' | sed 's/ /, /g' || true)

build=build/release
mkdir -p build
scratch=$(mktemp -d build/release-scratch.XXXXXX)
stage=$(mktemp -d dist.partial.XXXXXX)
# The PIN and the .pfx's password, once read, the token's OpenSSL configuration and a .pfx made over from a legacy
# one live in a private directory outside the checkout.
private=$(mktemp -d)
chmod 755 "$stage"  # dist/ is for a web server or an upload job to read
trap 'rm -rf "$scratch" "$stage" "$private"' EXIT

# The date a certificate (PEM, the first of the file) ends, as openssl gives it.
end_date() {
    openssl x509 -in "$1" -noout -enddate | cut -d= -f2
}
# A certificate (PEM, the first of the file) fit to sign with today: meant for code signing, and valid now.
check_certificate() {
    local pem=$1 name=$2 start
    openssl x509 -in "$pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
        fail "$name is not a code-signing certificate (its extended key usage lacks Code Signing)"
    openssl x509 -in "$pem" -noout -checkend 0 >/dev/null ||
        fail "$name expired on $(end_date "$pem")"
    start=$(openssl x509 -in "$pem" -noout -startdate | cut -d= -f2)
    [ "$(date -d "$start" +%s)" -le "$(date +%s)" ] || fail "$name is not valid before $start"
}
# A secret's file: the first line of FILE, without a Windows line end, written once into the private directory
# (OUT), without a line end, for every tool to read alike. FILE may be a pipe (--pin-file <(pass show ...)).
read_secret() {
    local line=""
    [ -r "$1" ] && [ ! -d "$1" ] || fail "no $3 file at $1"
    IFS= read -r line <"$1" || true
    line=${line%$'\r'}
    [ -n "$line" ] || fail "the $3 is empty (the first line of $1)"
    (umask 077 && printf '%s' "$line" >"$2")
}
# Where a chain of certificates (PEM) ends: "SUBJECT|ISSUER" of the last certificate that the others lead to from
# the signer (the first that issued none of the others), following each one's issuer among them.
chain_end() {
    local dir=$scratch/chain-end names=() current="" step i j found pair count
    rm -rf "$dir" && mkdir "$dir"
    count=$(awk -v dir="$dir" '/-----BEGIN CERTIFICATE-----/ {n++} n {print > (dir "/" n ".pem")} END {print n + 0}' "$1")
    [ "$count" -gt 0 ] || return 0
    for ((i = 1; i <= count; i++)); do
        mapfile -t pair < <(openssl x509 -in "$dir/$i.pem" -noout -subject -issuer -nameopt RFC2253 | cut -d= -f2-)
        names+=("${pair[0]}|${pair[1]}")
    done
    for i in "${!names[@]}"; do
        found=""
        for j in "${!names[@]}"; do
            [ "$i" -eq "$j" ] || [ "${names[j]#*|}" != "${names[i]%%|*}" ] || { found=1; break; }
        done
        [ -n "$found" ] || { current=$i; break; }
    done
    current=${current:-0}
    for ((step = 0; step < ${#names[@]}; step++)); do
        [ "${names[current]%%|*}" != "${names[current]#*|}" ] || break  # a root, which issued itself
        found=""
        for i in "${!names[@]}"; do
            [ "$i" -eq "$current" ] || [ "${names[i]%%|*}" != "${names[current]#*|}" ] || { found=$i; break; }
        done
        [ -n "$found" ] || break
        current=$found
    done
    echo "${names[current]}"
}
# The lines of osslsigncode's verification that say what failed, or its last.
verify_said() {
    grep -i -m 3 "fail\|error" "$scratch/verify.log" || tail -n 1 "$scratch/verify.log"
}
# Where a chain (PEM) ends, in words: at a root that issued itself, or at a certificate whose issuer is not there.
chain_end_words() {
    local end
    end=$(chain_end "$1")
    if [ -z "$end" ]; then
        echo "at a root it does not name"
    elif [ "${end%%|*}" = "${end#*|}" ]; then
        echo "at the root \"${end%%|*}\", which is not among the roots there"
    else
        echo "at \"${end%%|*}\", issued by \"${end#*|}\", which is not a root there"
    fi
}
# One attribute of a pkcs11: URI's path, percent-decoded (uri_attribute object "pkcs11:token=A;object=b%20c").
uri_attribute() {
    local part parts
    IFS=';' read -ra parts <<<"${2#pkcs11:}"
    for part in "${parts[@]%%\?*}"; do
        if [ "${part%%=*}" = "$1" ]; then
            part=${part#*=}
            printf '%b' "${part//%/\\x}"
            return
        fi
    done
}

# The signing key and certificate are checked before anything is built, each failure with its own message.
sign=()
if [ -n "$pfx" ]; then
    # A .pfx: it opens with the password, holds a private key and a certificate fit to sign with.
    [ -r "$pfx" ] && [ ! -d "$pfx" ] || fail "no certificate at $pfx"
    # The password as both tools then read it, once.
    passin=(-passin pass:) passout=(-passout pass:) readpass=()
    if [ -n "$password_file" ]; then
        read_secret "$password_file" "$private/password" password
        passin=(-passin "file:$private/password") passout=(-passout "file:$private/password")
        readpass=(-readpass "$private/password")
    fi
    legacy=()
    if ! openssl pkcs12 -in "$pfx" "${passin[@]}" -nokeys -clcerts -out "$scratch/cert.pem" 2>"$scratch/openssl.log"; then
        # Older versions of Windows export with RC2-40 (and newer ones when asked for the old format), a cipher
        # OpenSSL 3 keeps in its legacy provider.
        grep -q "unsupported" "$scratch/openssl.log" &&
            openssl pkcs12 -legacy -in "$pfx" "${passin[@]}" -nokeys -clcerts -out "$scratch/cert.pem" 2>/dev/null ||
            fail "cannot open $pfx: wrong password, or not a PKCS#12 (.pfx) file ($(head -n 1 "$scratch/openssl.log"))"
        legacy=(-legacy)
        echo "== $pfx uses a legacy cipher (RC2-40, as older Windows exports): opened with OpenSSL's legacy" \
             "provider, and signed from a copy made over with AES in a private directory"
    fi
    keys=$(openssl pkcs12 "${legacy[@]}" -in "$pfx" "${passin[@]}" -nocerts -nodes 2>/dev/null | grep -c "PRIVATE KEY" ||
           true)
    [ "$keys" -gt 0 ] || fail "$pfx holds no private key: export the certificate together with its key"
    check_certificate "$scratch/cert.pem" "$pfx"
    # The certificates the signature will carry, the signer's first, for the verification's messages.
    openssl pkcs12 "${legacy[@]}" -in "$pfx" "${passin[@]}" -nokeys -cacerts 2>/dev/null | cat "$scratch/cert.pem" - \
        >"$scratch/certs.pem"
    signing_pfx=$pfx
    if [ ${#legacy[@]} -gt 0 ]; then
        signing_pfx=$private/signing.pfx
        # (openssl reads the key and the certificates from -in one after the other: a file, not a pipe.)
        (umask 077 && openssl pkcs12 -legacy -in "$pfx" "${passin[@]}" -nodes -out "$private/signing.pem" 2>/dev/null &&
         openssl pkcs12 -export -in "$private/signing.pem" -out "$signing_pfx" "${passout[@]}") 2>"$scratch/openssl.log" ||
            fail "cannot make over $pfx with a current cipher: $(head -n 1 "$scratch/openssl.log")"
        rm -f "$private/signing.pem"
    fi
    sign=(-pkcs12 "$signing_pfx" "${readpass[@]}")
elif [ -n "$module" ]; then
    # A token: its library loads and shows the token the key names.
    [ -f "$module" ] || fail "no PKCS#11 library at $module: give the token's or HSM's library (OpenSC's is" \
                             "/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so)"
    slots=0
    pkcs11-tool --module "$module" --list-token-slots >"$scratch/slots.log" 2>&1 || slots=$?
    mapfile -t tokens < <(sed -n 's/^ *token label *: //p' "$scratch/slots.log")
    token=$(uri_attribute token "$key")
    # OpenSC's library, and most vendors', reach the token through the PC/SC daemon: without it, no slot shows.
    if grep -q "^No slots" "$scratch/slots.log" || { [ "$slots" -eq 0 ] && [ ${#tokens[@]} -eq 0 ]; }; then
        fail "no token through $module: is the token plugged in, and is pcscd running (systemctl status pcscd)?" \
             "The libraries of most tokens reach them through it"
    fi
    [ "$slots" -eq 0 ] ||
        fail "the PKCS#11 library $module does not load: $(grep -v '^Aborting' "$scratch/slots.log" | tail -n 1)"
    if [ -n "$token" ]; then
        printf '%s\n' "${tokens[@]}" | grep -qxF -- "$token" ||
            fail "no token \"$token\" through $module (it shows: ${tokens[*]})"
    elif [ ${#tokens[@]} -gt 1 ]; then
        fail "$module shows more than one token (${tokens[*]}): name the key's in --key (pkcs11:token=...;...)"
    fi
    # The certificate, from its file or read from the token, is fit to sign with.
    if [[ $cert == pkcs11:* ]]; then
        read_cert=(pkcs11-tool --module "$module" --read-object --type cert)
        label=$(uri_attribute token "$cert")
        [ -z "$label" ] || read_cert+=(--token-label "$label")
        label=$(uri_attribute object "$cert")
        [ -z "$label" ] || read_cert+=(--label "$label")
        id=$(uri_attribute id "$cert" | od -An -tx1 | tr -d ' \n')
        [ -z "$id" ] || read_cert+=(--id "$id")
        "${read_cert[@]}" 2>"$scratch/read-cert.log" | openssl x509 -inform DER -out "$scratch/cert.pem" 2>/dev/null ||
            fail "no certificate $cert on the token: $(grep -v '^Aborting' "$scratch/read-cert.log" | tail -n 1)"
        cp "$scratch/cert.pem" "$scratch/certs.pem"
    else
        [ -r "$cert" ] && [ ! -d "$cert" ] || fail "no certificate at $cert"
        openssl x509 -in "$cert" -out "$scratch/cert.pem" 2>/dev/null || fail "$cert is not a PEM certificate"
        cp "$cert" "$scratch/certs.pem"
    fi
    check_certificate "$scratch/cert.pem" "$cert"
    # The intermediate authorities, embedded in the signature after the certificate, so that a machine offline
    # (which cannot fetch them) verifies it.
    if [ -n "$chain" ]; then
        [ -r "$chain" ] && [ ! -d "$chain" ] || fail "no chain file at $chain"
        grep -q -- "-----BEGIN CERTIFICATE-----" "$chain" && openssl x509 -in "$chain" -noout 2>/dev/null ||
            fail "$chain holds no PEM certificate: give the intermediate certificates, as PEM"
        cat "$chain" >>"$scratch/certs.pem"
    fi
    # The PIN: the first line of its file, or typed without echo; kept in a private file that only the tools
    # read (never an argument, an environment variable or a URI).
    if [ -n "$pin_file" ]; then
        read_secret "$pin_file" "$private/pin" PIN
    elif [ -t 0 ]; then
        IFS= read -rsp "PIN of the token: " pin || true
        echo >&2
        [ -n "${pin%$'\r'}" ] || fail "the PIN is empty"
        read_secret <(printf '%s\n' "$pin") "$private/pin" PIN
        unset pin
    else
        fail "no PIN: give --pin-file FILE (its first line is the PIN), or run this from a terminal to be asked"
    fi
    # One login, which a wrong PIN fails (it is not tried again: a token locks after a few wrong PINs): the key
    # the URI names signs a random challenge, through the same OpenSSL engine that signs the release; the
    # certificate's public key must verify that signature, or it is not this key's certificate.
    printf 'openssl_conf = init\n[init]\nengines = engines\n[engines]\npkcs11 = pkcs11\n[pkcs11]\n%s\n%s\n' \
           "engine_id = pkcs11" "MODULE_PATH = $module" >"$private/openssl.cnf"
    head -c 64 /dev/urandom >"$scratch/challenge"
    # (In a subshell that waits for it, so that a crash of the engine, which follows a key not found, is logged.)
    if ! (OPENSSL_CONF=$private/openssl.cnf openssl dgst -sha256 -engine pkcs11 -keyform engine -sign "$key" \
          -passin "file:$private/pin" -out "$scratch/challenge.sig" "$scratch/challenge"; exit $?) >"$scratch/key.log" 2>&1
    then
        if grep -q "PIN incorrect" "$scratch/key.log"; then
            fail "wrong PIN for the token${token:+ \"$token\"}: it was refused, and is not tried again (a token" \
                 "locks after a few wrong PINs)"
        elif grep -qi "PIN locked" "$scratch/key.log"; then
            fail "the token's PIN is locked: unlock it with the token's own tool"
        elif grep -q "not found" "$scratch/key.log"; then
            fail "no private key $key on the token"
        fi
        fail "the key $key cannot sign: $(grep -i -m 1 "error" "$scratch/key.log")"
    fi
    openssl x509 -in "$scratch/cert.pem" -noout -pubkey >"$scratch/public.pem"
    openssl dgst -sha256 -verify "$scratch/public.pem" -signature "$scratch/challenge.sig" "$scratch/challenge" \
        >/dev/null 2>&1 || fail "the certificate $cert is not that of the key $key: its public key is another's"
    sign=(-pkcs11module "$module" -key "$key" -certs "$scratch/certs.pem" -readpass "$private/pin")
fi

# Each time-stamp authority is asked for a stamp now; those that answer are tried in turn when signing.
# The certificates each one's answer carries are kept, to say where its chain ends should its stamp not verify.
authorities=() silent=()
if [ -n "$signing" ] && [ ${#timestamps[@]} -gt 0 ]; then
    head -c 64 /dev/urandom >"$scratch/probe"
    openssl ts -query -data "$scratch/probe" -sha256 -cert -out "$scratch/probe.tsq" 2>/dev/null
    for authority in "${timestamps[@]}"; do
        answer=$scratch/tsa-${#authorities[@]}
        rm -f "$answer.tsr"
        if ! curl -sS --fail --max-time 30 -H "Content-Type: application/timestamp-query" \
                  --data-binary "@$scratch/probe.tsq" -o "$answer.tsr" "$authority" 2>"$scratch/curl.log"; then
            silent+=("$authority ($(sed 's/^curl: ([0-9]*) //' "$scratch/curl.log" | head -n 1))")
        elif ! openssl ts -reply -in "$answer.tsr" -text 2>/dev/null | grep -q "Status: Granted"; then
            silent+=("$authority (its answer grants no time stamp)")
        else
            { openssl ts -reply -in "$answer.tsr" -token_out -out "$answer.token" &&
              openssl pkcs7 -inform DER -in "$answer.token" -print_certs -out "$answer.pem"; } >/dev/null 2>&1 ||
                : >"$answer.pem"
            authorities+=("$authority")
        fi
    done
    silence=$(printf '%s; ' "${silent[@]}")
    [ ${#authorities[@]} -gt 0 ] || fail "no time-stamp authority answers: ${silence%; }"
    for authority in "${silent[@]}"; do
        echo "== the time-stamp authority $authority does not answer; the others are used"
    done
fi

echo "== building the 32-bit release of commit ${commit:0:12} in $build"
[ -z "$left_out" ] || echo "== the build takes only PATH, HOME and TMPDIR from this environment; left out: $left_out"
rm -rf "$build"
logged build/release.log "${build_env[@]}" cmake --preset win32 -B "$build"
logged build/release.log "${build_env[@]}" cmake --build "$build" --target VireskaCorreo
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
mapfile -t pe_args <"$build/pe_check_args.txt"
/usr/bin/python3 tests/pe/check_pe.py "${pe_args[@]}" "$build/VireskaCorreo.exe" ||
    fail "the static check refuses the build"

name=VireskaCorreo-$version.exe
if [ -n "$signing" ]; then
    sign+=(-h sha256 -n "$DESCRIPTION" -i "$URL" -in "$build/VireskaCorreo.exe" -out "$stage/$name")
    stamped_by="" stamp_certs="" signed="" failures=() index=0
    for authority in "${authorities[@]:-}"; do
        rm -f "$stage/$name"
        if osslsigncode sign "${sign[@]}" ${authority:+-ts "$authority"} >"$scratch/sign.log" 2>&1; then
            signed=1 stamped_by=$authority stamp_certs=$scratch/tsa-$index.pem
            break
        fi
        index=$((index + 1))
        # (What osslsigncode said beyond its own "Failed", or that it said no more: the message must come.)
        said=$(grep -vx -e '' -e 'Failed' -e 'Engine .*' -e 'Connecting to .*' "$scratch/sign.log" | head -n 1 || true)
        failures+=("${authority:+$authority: }${said:-osslsigncode failed without saying why}")
        [ -z "$authority" ] || echo "== signing with a time stamp of $authority failed: ${failures[-1]#*: }"
    done
    failures=$(printf '%s; ' "${failures[@]}")
    [ -n "$signed" ] || fail "signing failed: ${failures%; }"
    # The signature and its time stamp are read from what osslsigncode says of each: its exit code is 0 even when
    # the time stamp does not verify.
    verified=0
    osslsigncode verify -in "$stage/$name" -CAfile "$ca_file" -TSA-CAfile "$ca_file" >"$scratch/verify.log" 2>&1 ||
        verified=$?
    # For want of a root: Debian's bundle holds the roots Mozilla trusts for web sites, and no code-signing root of
    # its own (Sectigo's Public Code Signing Root R46, GlobalSign's Code Signing Root R45, Microsoft's Identity
    # Verification Root 2020 are not there), nor the roots of several time-stamp authorities.
    no_root="unable to get (local )?issuer certificate|self.signed certificate in certificate chain"
    if ! grep -q "^Signature verification: ok" "$scratch/verify.log"; then
        if grep -qE "$no_root" "$scratch/verify.log"; then
            bundle=""
            [ "$ca_file" != "$system_bundle" ] ||
                bundle=": the system's bundle holds only the roots trusted for web sites, not the code-signing roots of"
            fail "the signed file does not verify against $ca_file: its certificate chain ends" \
                 "$(chain_end_words "$scratch/certs.pem"). Give that root with --ca-file FILE (your certificate" \
                 "authority publishes it)${bundle:+$bundle several authorities}"
        fi
        fail "the signed file does not verify against $ca_file: $(verify_said)"
    fi
    if [ -n "$stamped_by" ] && ! grep -q "^Timestamp Server Signature verification: ok" "$scratch/verify.log"; then
        if grep -qE "$no_root" "$scratch/verify.log"; then
            fail "the time stamp of the signed file does not verify against $ca_file: the certificate chain of the" \
                 "time-stamp authority $stamped_by ends $(chain_end_words "$stamp_certs"). Give that root in" \
                 "--ca-file too (cat the PEM files of both roots into one)"
        fi
        fail "the time stamp of the signed file does not verify against $ca_file: $(verify_said)"
    fi
    [ "$verified" -eq 0 ] || fail "the signed file does not verify against $ca_file: osslsigncode verify exits" \
                                  "$verified: $(tail -n 1 "$scratch/verify.log")"
    # Who signed and who time-stamped, as the signature names them.
    signer=$(sed -n "/^Signer's certificate:/,/^\$/{/Signer #0:/{n;s/^\s*Subject: //p;q}}" "$scratch/verify.log")
    if [ -n "$stamped_by" ]; then
        # (osslsigncode 2.6 and later name the authority's certificate; 2.5, Debian 12's own, only the time.)
        stamper=$(sed -n '/^Timestamp verified using:/,/^Timestamp Server/{/Signer #0:/{n;s/^\s*Subject: //p;q}}' \
                  "$scratch/verify.log")
        stamped_at=$(sed -n -e 's/^\s*Timestamp time: //p' -e 's/^The signature is timestamped: //p' \
                     "$scratch/verify.log" | head -n 1)
        stamp="time-stamped by ${stamper:-the authority} ($stamped_by) at $stamped_at"
    else
        stamp="NOT time-stamped: the signature stops verifying on $(end_date "$scratch/cert.pem"),"
        stamp+=" when the certificate expires"
    fi
    /usr/bin/python3 tests/pe/check_pe.py "${pe_args[@]}" "$stage/$name" || fail "the static check refuses the signed file"
    status="signed by $signer (Authenticode, SHA-256), $stamp"
else
    cp "$build/VireskaCorreo.exe" "$stage/$name"
    status="NOT SIGNED: Windows will warn of an unknown publisher; sign it (--pkcs11-module with the token, or --sign)"
fi
# What the bytes came from: the commit, the time stamp, the system and the versions of the packages that shape
# them (the compiler, binutils, the mingw-w64 headers and runtime, CMake and Ninja, each found through a file the
# build used). The same commit built with the same versions gives the same bytes.
compiler=i686-w64-mingw32-g++
toolchain_files=("$(command -v "$compiler")" "$("$compiler" -print-prog-name=cc1plus)" "$("$compiler" -print-libgcc-file-name)"
                 "$("$compiler" -print-prog-name=ld)" "$(command -v i686-w64-mingw32-windres)"
                 "$("$compiler" -print-file-name=libkernel32.a)" /usr/i686-w64-mingw32/include/windows.h
                 "$(command -v cmake)" "$(command -v ninja)")
{
    echo "# What $name was built from by tools/release.sh: the same commit built with these package versions"
    echo "# gives the same bytes (unsigned-sha256 is the file's before it was signed)."
    echo "commit $commit"
    echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH"
    echo "debian $(cat /etc/debian_version) ($(. /etc/os-release && echo "${VERSION_CODENAME:-unknown}")) $(dpkg --print-architecture)"
    for file in "${toolchain_files[@]}"; do
        dpkg -S "$(readlink -f "$file")" 2>/dev/null | grep -v '^diversion' | head -n 1 | cut -d: -f1 ||
            fail "no Debian package holds $file, which the build used"
    done | LC_ALL=C sort -u | while read -r package; do
        echo "package $package $(dpkg-query -W -f='${Version}' "$package")"
    done
    echo "unsigned-sha256 $(sha256sum "$build/VireskaCorreo.exe" | cut -d' ' -f1)"
} >"$stage/BUILDINFO"
(cd "$stage" && sha256sum "$name" BUILDINFO >SHA256SUMS && chmod 644 "$name" BUILDINFO SHA256SUMS)

rm -rf dist.previous
[ ! -e dist ] || mv dist dist.previous
mv "$stage" dist
rm -rf dist.previous

echo "== release $version in dist/:"
for file in "$name" BUILDINFO SHA256SUMS; do
    printf '  %-28s %6d bytes  SHA-256 %s\n' "$file" "$(stat -c %s "dist/$file")" "$(sha256sum "dist/$file" | cut -d' ' -f1)"
done
echo "  $name: $status"
