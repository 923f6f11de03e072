#!/usr/bin/env bash
# Windows stage: cross-builds kestrowan.exe and the scripted test engine with mingw-w64 and runs
# the end-to-end cases against them under Wine.
#
# The filter is a 32-bit Windows program first of all, so the i686 build is always made and is
# the one tested wherever this machine can run 32-bit x86 code. Some virtual machines cannot
# (every i386 program fails with "Exec format error", Wine's 32-bit loader included); there the
# same sources are tested as an x86_64 build under 64-bit Wine, and the stage says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)


installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64)
missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "stage-windows: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's wine wrapper picks the 32-bit loader whenever it is installed, runnable or not, so
# the loaders are named directly.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    target=i686
    preset=win32
    export WINEARCH=win32
    wine=/usr/lib/wine/wine
else
    echo "stage-windows: this machine cannot run 32-bit x86 programs; kestrowan.exe for i686 is"
    echo "stage-windows: built but not run, and the x86_64 build is tested under 64-bit Wine"
    target=x86_64
    preset=win64
    export WINEARCH=win64
    wine=/usr/lib/wine/wine64
fi

cmake --preset win32
cmake --build --preset win32
if [ "$preset" != win32 ]; then
    cmake --preset "$preset"
    cmake --build --preset "$preset"
fi

# The test engine is built outside the presets: the test tree needs GoogleTest, which has no
# Windows build here.
engine="$root/build/$preset/kestrowan_test_engine.exe"
"$target-w64-mingw32-g++-posix" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror \
    -static -static-libgcc -static-libstdc++ \
    tests/engine/test_engine.cpp -o "$engine"
filter="$root/build/$preset/kestrowan.exe"

export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The server stays up for the whole suite, so no test pays for Wine's start-up. It is started
# before the prefix is made: the helper processes that Wine starts with the prefix then live on
# with standard streams that go nowhere, instead of holding the first test's pipes open.
wineserver -p
"$wine" wineboot -i </dev/null >/dev/null 2>&1

# A smoke test that names the failure plainly if the build cannot run at all: no engine given
# must give exactly the error line, in Windows line ends.
expected=$'^info string Kestrowan: FEHLER [0-9]+; Keine Engine angegeben\r$'
actual=$("$wine" "$filter" </dev/null 2>&1 >/dev/null || true)
if ! [[ "$actual" =~ $expected ]]; then
    echo "stage-windows: kestrowan.exe without arguments printed:" >&2
    printf '%s\n' "$actual" | od -c | head -20 >&2
    exit 1
fi

KESTROWAN_WINE="$wine" KESTROWAN_FILTER="$filter" KESTROWAN_TEST_ENGINE="$engine" \
    python3 tests/e2e/run.py tests/e2e/relay.t tests/e2e/process.t
