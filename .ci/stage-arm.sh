#!/usr/bin/env bash
# ARM Linux stage: cross-builds the arm64 and armhf presets with Debian's cross compilers, makes
# each Debian package and checks it with lintian, then tests the packaged program under
# qemu-user: the unit tests (GoogleTest built from Debian's sources for the target) and the
# end-to-end cases of relay.t, process.t and peers.t.
#
# Only the filter is emulated. Its execve goes to the host kernel, so the scripted engine,
# Stockfish and the other peers are native programs, and no binfmt_misc registration is needed:
# qemu is named as the loader. The static qemu (qemu-user-static) is used because the no-pidfd
# shim, built for the target, is preloaded through LD_PRELOAD: a dynamically linked qemu would
# have the host's loader try to preload it into qemu itself.
#
# armhf is the one 32-bit build of the shared code that every machine of ours can run (some
# cannot run 32-bit x86 programs at all), so it is tested as fully as arm64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() {
    echo "stage-arm: $*" >&2
    exit 1
}

tools/install-deps cmake ninja-build g++ python3 libgtest-dev dpkg-dev lintian qemu-user-static \
    g++-aarch64-linux-gnu libc6-dev-arm64-cross g++-arm-linux-gnueabihf libc6-dev-armhf-cross \
    stockfish polyglot toga2 glaurung gnuchess

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
engine="$scratch/kestrowan_test_engine"
g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -pthread tests/engine/test_engine.cpp \
    -o "$engine"

results=()
# PRESET TRIPLE QEMU: builds, packages and tests one target.
test_target() {
    local preset=$1 triple=$2 qemu=$3 started=$SECONDS
    local build="build/$preset"
    echo "--- $preset: build and package"
    # The preset's build with the tests added, for the target's shim and unit tests. Nothing of
    # the tests is installed, so the package is the preset's own.
    cmake --preset "$preset" --fresh -DKESTROWAN_TESTS=ON >/dev/null
    cmake --build --preset "$preset"
    local version deb
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    deb="$build/kestrowan_${version}_$preset.deb"
    rm -f "$deb"
    (cd "$build" && cpack >/dev/null)
    [ -f "$deb" ] || fail "cpack did not make $deb"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$preset" ] || fail "$deb is not for $preset"

    # The dependency is stated, not computed (cmake/packaging.cmake): the program may need no
    # library but libc (no libatomic, no C++ runtime), and no newer libc than it names.
    local libraries needed depends
    libraries=$("$triple-readelf" -d "$build/kestrowan" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
        grep -vE '^(libc\.so\.6|ld-linux.*\.so\.[0-9])$' || true)
    [ -z "$libraries" ] || fail "the $preset program needs more than libc: $libraries"
    needed=$("$triple-objdump" -T "$build/kestrowan" | grep -o 'GLIBC_[0-9.]*' | cut -c7- |
        sort -uV | tail -1)
    depends=$(dpkg-deb -f "$deb" Depends)
    [ "$depends" = "libc6 (>= $needed)" ] ||
        fail "$deb depends on $depends, but its program needs GLIBC_$needed"
    dpkg-deb --field "$deb"

    echo "--- $preset: lintian"
    lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb"
    echo "lintian: no tags"

    dpkg-deb -x "$deb" "$scratch/$preset"
    local filter="$scratch/$preset/usr/bin/kestrowan"
    local loader="$qemu -L /usr/$triple"
    echo "--- $preset: unit tests under $qemu"
    $loader "$build/tests/unit/kestrowan_unit_tests" --gtest_brief=1
    echo "--- $preset: end-to-end cases, the packaged program under $qemu, native engines"
    KESTROWAN_LOADER="$loader" KESTROWAN_FILTER="$filter" KESTROWAN_TEST_ENGINE="$engine" \
        KESTROWAN_NO_PIDFD="$root/$build/tests/libkestrowan_no_pidfd.so" \
        python3 tests/e2e/run.py tests/e2e/relay.t tests/e2e/process.t tests/e2e/peers.t |
        tee "$scratch/$preset.log"
    results+=("$preset: $(tail -1 "$scratch/$preset.log") in $((SECONDS - started)) s")
}

test_target arm64 aarch64-linux-gnu qemu-aarch64-static
test_target armhf arm-linux-gnueabihf qemu-arm-static
echo "--- stage-arm: packaged, lintian-clean and tested under qemu-user"
printf '%s\n' "${results[@]}"
