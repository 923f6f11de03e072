#!/usr/bin/env bash
# Reproducibility stage: the whole release (tools/release: the amd64, arm64 and armhf Debian
# packages, the win32 and win64 archives) made twice from this commit, and every file compared
# byte for byte. The two builds differ in all that must not matter: the folder each is built in
# (names of different lengths, the second on tmpfs where /dev/shm is one, so another file
# system's order of names and sizes of folders), the time zone, the umask, and the clock, the
# second run's being 1000 days ahead. A file that differs is named, and fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "stage-reproducible: $*" >&2
    exit 1
}

tools/install-deps faketime

work=$(mktemp -d)
other=""
trap 'rm -rf "$work" ${other:+"$other"}' EXIT
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ -w /dev/shm ]; then
    other=$(mktemp -d /dev/shm/kestrowan-second-release-build.XXXXXX)
else
    other="$work/second-release-build"
    mkdir "$other"
fi
mkdir "$work/a"

echo "--- first build: in $work/a ($(stat -f -c %T "$work/a")), TZ=UTC0, umask 022"
(umask 022 && TMPDIR="$work/a" TZ=UTC0 tools/release "$work/first")
echo "--- second build: in $other ($(stat -f -c %T "$other")), TZ=JST-9, umask 027, 1000 days on"
(umask 027 && TMPDIR="$other" TZ=JST-9 faketime -f +1000d tools/release "$work/second")

first=$(cd "$work/first" && ls)
second=$(cd "$work/second" && ls)
[ "$first" = "$second" ] || fail "the two builds made different files: [$first] and [$second]"
differ=()
for file in $first; do
    if ! cmp "$work/first/$file" "$work/second/$file"; then
        differ+=("$file")
    fi
done
[ "${#differ[@]}" -eq 0 ] ||
    fail "two builds of one commit differ in: ${differ[*]} (diffoscope shows how)"
echo "stage-reproducible: $(wc -l <"$work/first/SHA256SUMS") files the same in both builds"
