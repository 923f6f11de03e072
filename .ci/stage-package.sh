#!/usr/bin/env bash
# Packaging stage: a hardened release build, the Debian package from cpack, lintian and groff
# over it, then the packaged program unpacked (and, on CI's throwaway machine, installed with
# dpkg) and run once in front of the system's Stockfish.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps cmake ninja-build g++ dpkg-dev lintian groff man-db file stockfish

fail() {
    echo "stage-package: $*" >&2
    exit 1
}

# The dates in the package (changelog, manual page) are the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

build=build/package
cmake --preset package --fresh
cmake --build --preset package
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no package version in $build/CPackConfig.cmake"
deb="$build/kestrowan_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
(cd "$build" && cpack)
[ -f "$deb" ] || fail "cpack did not make $deb"

echo "--- package"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
dpkg-deb --field "$deb" Depends | grep -q 'libc6' || fail "Depends was not computed"

echo "--- lintian"
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb"

echo "--- manual page"
check_clean() {
    local what=$1
    shift
    local errors
    errors=$("$@" 2>&1 >/dev/null) || fail "$what failed: $errors"
    [ -z "$errors" ] || fail "$what warns: $errors"
}
check_clean "groff" groff -ww -z -man "$build/man/kestrowan.1"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
for path in usr/bin/kestrowan usr/share/man/man1/kestrowan.1.gz \
    usr/share/doc/kestrowan/copyright usr/share/doc/kestrowan/changelog.gz; do
    [ -f "$scratch/root/$path" ] || fail "$path is not in the package"
done
file "$scratch/root/usr/bin/kestrowan" | grep -q ', stripped' || fail "the program is not stripped"
check_clean "man -l" env MANWIDTH=80 man -l "$scratch/root/usr/share/man/man1/kestrowan.1.gz"
MANWIDTH=80 man -l "$scratch/root/usr/share/man/man1/kestrowan.1.gz" |
    grep -q "kestrowan $version" || fail "the manual page does not carry version $version"

program="$scratch/root/usr/bin/kestrowan"
if [ "${CI:-}" = "true" ]; then
    # CI's machine is thrown away after the run: install the package for real, as a user would.
    dpkg -i "$deb"
    trap 'dpkg -r kestrowan >/dev/null || true; rm -rf "$scratch"' EXIT
    program=/usr/bin/kestrowan
    [ "$(man -w kestrowan)" = /usr/share/man/man1/kestrowan.1.gz ] || fail "man does not find the page"
fi

echo "--- $program in front of Stockfish"
# Like a GUI, wait for each answer before the next command: after "quit" the filter passes
# nothing on, so a quit sent at once would swallow the handshake.
coproc FILTER { exec timeout 60 "$program" /usr/games/stockfish 2>"$scratch/err"; }
filter_pid=$FILTER_PID
# Own copies of the pipe ends: bash forgets the coprocess's when it ends.
exec {to_filter}>&"${FILTER[1]}" {from_filter}<&"${FILTER[0]}"
eval "exec ${FILTER[1]}>&- ${FILTER[0]}<&-"
await() {
    local line
    while IFS= read -r -t 60 line <&"$from_filter"; do
        printf '%s\n' "$line" >>"$scratch/out"
        [ "$line" != "$1" ] || return 0
    done
    cat "$scratch/out"
    fail "no \"$1\" within 60 s"
}
echo uci >&"$to_filter"
await uciok
echo isready >&"$to_filter"
await readyok
echo quit >&"$to_filter"
exec {to_filter}>&-
cat <&"$from_filter" >>"$scratch/out"
status=0
wait "$filter_pid" || status=$?
cat "$scratch/out"
[ "$status" -eq 0 ] || fail "exit status $status"
[ ! -s "$scratch/err" ] || fail "standard error: $(cat "$scratch/err")"
for line in \
    "option name TimeCurrmove@Kestrowan type spin default 1500 min 0 max 5000" \
    "option name TimeInfo@Kestrowan type spin default 300 min 0 max 5000" \
    "option name TimeQuit@Kestrowan type spin default 1000 min 200 max 1800" \
    "option name RemoveNonUci@Kestrowan type check default true" \
    "option name RemoveStop@Kestrowan type check default true" \
    "uciok" "readyok"; do
    grep -qxF "$line" "$scratch/out" || fail "missing: $line"
done
grep -q '^id name Stockfish' "$scratch/out" || fail "Stockfish did not answer"
echo "stage-package: kestrowan $version packaged, checked and run"
