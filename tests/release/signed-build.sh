#!/usr/bin/env bash
# A signed release build end to end: a throwaway certificate, a build that refuses a wrong
# password, a build whose payload installer and setup both carry verifying Authenticode
# signatures, as do the uninstaller, its helper, the package's actions and the package, and the
# signed setup installing under Wine.
#     signed-build.sh <source folder> <build folder> <wine-run.sh> <e2e_tests.exe> [toolchain file]
# The signed setup is built with the toolchain of the tests, so that they can run it.
set -euo pipefail
source_dir=$1
build_dir=$2
wine_run=$3
e2e_tests=$4
toolchain=${5:-}
signed="$build_dir/signed-release"
rm -rf "$signed"
mkdir -p "$signed"

# A certificate made for this test only, with a password.
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Velmarin Test Signing" \
    -keyout "$signed/key.pem" -out "$signed/cert.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$signed/key.pem" -in "$signed/cert.pem" -out "$signed/cert.p12" \
    -passout pass:right-password >/dev/null 2>&1

(cd "$source_dir" && cmake --preset release-signed -B "$signed/build" \
    -DVELMARIN_SIGN_PKCS12="$signed/cert.p12" -DVELMARIN_XZ_DIR="$build_dir/xz-utils" ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null)

if VELMARIN_SIGN_PASSWORD=wrong-password cmake --build "$signed/build" --target VelmarinSetup \
        > "$signed/wrong.log" 2>&1; then
    echo "FAIL: a wrong password built a signed setup"
    exit 1
fi
if ! grep -q "Is VELMARIN_SIGN_PASSWORD the password" "$signed/wrong.log"; then
    echo "FAIL: a wrong password gave no clear message:"
    tail -20 "$signed/wrong.log"
    exit 1
fi
echo "ok: a wrong password fails the build with a clear message"

VELMARIN_SIGN_PASSWORD=right-password cmake --build "$signed/build" --target VelmarinSetup VelmarinSetupMsi -j"$(nproc)" \
    > "$signed/build.log" 2>&1 || { tail -30 "$signed/build.log"; exit 1; }
setup="$signed/build/VelmarinSetup.exe"
wrestool -x --raw --type=BIN --name=228 "$setup" > "$signed/embedded-payload.exe"
# Every program the build makes and ships, each as it was packed: the uninstaller and its helper
# (packed into the payload, the helper as the uninstaller carries it), each user's logon program
# (as the setup carries it), the package's actions and the package.
wrestool -x --raw --type=BIN --name=238 "$signed/build/payload-files/UnInst.exe" > "$signed/embedded-helper.exe"
wrestool -x --raw --type=BIN --name=239 "$setup" > "$signed/embedded-user-parts.exe"
for program in "$signed/embedded-payload.exe" "$setup" "$signed/build/payload-files/UnInst.exe" \
        "$signed/embedded-helper.exe" "$signed/embedded-user-parts.exe" "$signed/build/package-actions/PackageActions.dll" \
        "$signed/build/VelmarinSetup.msi"; do
    if ! osslsigncode verify -CAfile "$signed/cert.pem" -in "$program" > "$signed/verify.log" 2>&1; then
        echo "FAIL: the signature of $(basename "$program") does not verify:"
        cat "$signed/verify.log"
        exit 1
    fi
    grep -q "SHA256" "$signed/verify.log" || { echo "FAIL: $(basename "$program") is not signed with SHA-256"; exit 1; }
    echo "ok: $(basename "$program") carries a verifying SHA-256 signature"
done

# The signed setup installs as the unsigned one does.
VELMARIN_SETUP_EXE="$setup" "$wine_run" "$e2e_tests" --gtest_filter=QuickInstall.UntickedThenClose
