#!/usr/bin/env bash
# Signs a Windows program in place with an Authenticode SHA-256 signature:
#     tools/sign.sh <certificate.p12> <program.exe> [time-stamp server URL]
# The certificate's password comes from the environment variable VELMARIN_SIGN_PASSWORD, never
# from a command line (where any user could read it).
set -euo pipefail
certificate=$1
program=$2
timestamp=${3:-}

if [ -z "${VELMARIN_SIGN_PASSWORD+set}" ]; then
    echo "sign.sh: VELMARIN_SIGN_PASSWORD is not set: it must hold the password of $certificate" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
printf '%s' "$VELMARIN_SIGN_PASSWORD" > "$work/password"

args=(sign -pkcs12 "$certificate" -readpass "$work/password" -h sha256 -n "岚舟浏览器 3.2 正式版"
      -in "$program" -out "$work/signed.exe")
[ -n "$timestamp" ] && args+=(-ts "$timestamp")
if ! osslsigncode "${args[@]}" > "$work/log" 2>&1; then
    echo "sign.sh: signing $program failed. Is VELMARIN_SIGN_PASSWORD the password of $certificate," >&2
    echo "and is the time-stamp server (if any) reachable? osslsigncode said:" >&2
    cat "$work/log" >&2
    exit 1
fi
mv -f "$work/signed.exe" "$program"
