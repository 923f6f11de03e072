#!/usr/bin/env bash
# Windows stage: cross-builds both release archives with mingw-w64 (win32 and win64), unpacks
# the one that this machine can run into a fresh folder whose path holds a space, as a user
# would, and tests the kestrowan.exe found there under Wine: the job object that takes the
# engine along when the filter is killed outright, then the end-to-end suite.
#
# The filter is a 32-bit Windows program first of all, so the i686 build is the one tested
# wherever this machine can run 32-bit x86 code. Some virtual machines cannot (every i386
# program fails with "Exec format error", Wine's 32-bit loader included); there the x86_64
# archive is tested under 64-bit Wine instead, and the stage says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() {
    echo "stage-windows: $*" >&2
    exit 1
}

tools/install-deps cmake ninja-build python3 procps g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine wine32:i386 wine64

# Debian's wine wrapper picks the 32-bit loader whenever it is installed, runnable or not, so
# the loaders are named directly.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    target=i686
    arch=win32
    wine=/usr/lib/wine/wine
else
    echo "stage-windows: this machine cannot run 32-bit x86 programs; the win32 archive is"
    echo "stage-windows: built but not run, and the win64 archive is tested under 64-bit Wine"
    target=x86_64
    arch=win64
    wine=/usr/lib/wine/wine64
fi
export WINEARCH=$arch
# Wine reads Unix file names and arguments in the locale's character set; in UTF-8 every name
# the cases use reaches the programs whole, whatever this machine's environment says.
export LC_ALL=C.UTF-8

# Both archives, whichever one is run here.
for preset in win32 win64; do
    cmake --workflow --preset "$preset"
done
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/win32/CPackConfig.cmake)
[ -n "$version" ] || fail "no package version in build/win32/CPackConfig.cmake"
for preset in win32 win64; do
    zip="build/$preset/kestrowan-$version-$preset.zip"
    [ -f "$zip" ] || fail "cpack did not make $zip"
    contents=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
    [ "$contents" = "LICENSE.txt README.txt kestrowan.exe " ] || fail "$zip holds: $contents"
done

scratch=$(mktemp -d)
unpacked="$scratch/Program Files/kestrowan $version"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$root/build/$arch/kestrowan-$version-$arch.zip")
for text in README.txt LICENSE.txt; do
    if grep -q $'[^\r]$' "$unpacked/$text"; then
        fail "$text has lines that do not end in CR LF"
    fi
done
filter="$unpacked/kestrowan.exe"

# The test engine is built outside the presets: the test tree needs GoogleTest, which has no
# Windows build here.
engine="$root/build/$arch/kestrowan_test_engine.exe"
"$target-w64-mingw32-g++-posix" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror \
    -static -static-libgcc -static-libstdc++ -municode \
    tests/engine/test_engine.cpp -o "$engine"

export WINEDEBUG=-all
export WINEPREFIX="$scratch/wine"
mkdir "$WINEPREFIX"
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The server stays up for the whole stage, so no test pays for Wine's start-up. It is started
# before the prefix is made: the helper processes that Wine starts with the prefix then live on
# with standard streams that go nowhere, instead of holding the first test's pipes open.
wineserver -p
"$wine" wineboot -i </dev/null >/dev/null 2>&1

# A smoke test that names the failure plainly if the program cannot run at all: no engine
# given must give exactly the error line, in Windows line ends.
expected=$'^info string Kestrowan: FEHLER [0-9]+; Keine Engine angegeben\r$'
actual=$("$wine" "$filter" </dev/null 2>&1 >/dev/null || true)
if ! [[ "$actual" =~ $expected ]]; then
    echo "stage-windows: kestrowan.exe without arguments printed:" >&2
    printf '%s\n' "$actual" | od -c | head -20 >&2
    exit 1
fi

echo "--- job object: kestrowan.exe killed outright (SIGKILL) must take its engine along"
# The engine stays on "quit" and on the end of its input, so nothing but the job can end it.
# Its "uciok" reaches the GUI side only once the filter has started it and put it in the job.
# Under Wine it runs as a process of its own, whose command line starts with its file name.
job="$scratch/job"
mkdir "$job"
# Each script entry: word, delay, length, a line feed, then the bytes to write (see run.py).
printf 'uci 0 6\nuciok\n\nquit 0 5\n!stay\neof 0 5\n!stay\n' >"$job/engine.script"
mkfifo "$job/in"
KESTROWAN_TEST_DIR="$job" "$wine" "$filter" "$engine" <"$job/in" >"$job/out" 2>&1 &
filter_pid=$!
exec {to_filter}>"$job/in"
echo uci >&"$to_filter"
for _ in $(seq 100); do
    if grep -q '^uciok' "$job/out"; then
        break
    fi
    sleep 0.1
done
grep -q '^uciok' "$job/out" || fail "no uciok within 10 s: $(cat "$job/out")"
engine_pid=$(ps -eo pid=,args= | while read -r pid args; do
    [[ "$args" != "$engine"* ]] || echo "$pid"
done)
[[ "$engine_pid" =~ ^[0-9]+$ ]] || fail "not one engine process: '$engine_pid'"
killed=$(date +%s%N)
{ kill -KILL "$filter_pid" && wait "$filter_pid"; } 2>/dev/null || true
# A zombie has ended; only its parent has yet to notice.
while state=$(ps -o stat= -p "$engine_pid") && [[ "$state" != Z* ]]; do
    elapsed=$((($(date +%s%N) - killed) / 1000000))
    [ "$elapsed" -lt 1000 ] || fail "the engine outlived kestrowan.exe by $elapsed ms"
    sleep 0.02
done
echo "the engine was gone $((($(date +%s%N) - killed) / 1000000)) ms after the SIGKILL"
exec {to_filter}>&-

# ---- The end-to-end suite, run against the unpacked kestrowan.exe ---------------------------
# KESTROWAN_FILTER is one path, spaces and all; KESTROWAN_WINE is the loader to run it with.
echo "--- end-to-end suite: $filter under $wine"
KESTROWAN_WINE="$wine" KESTROWAN_FILTER="$filter" KESTROWAN_TEST_ENGINE="$engine" \
    python3 tests/e2e/run.py tests/e2e/relay.t tests/e2e/process.t
