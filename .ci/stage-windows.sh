#!/usr/bin/env bash
# Windows stage: cross-builds both release archives with mingw-w64 (win32 and win64), unpacks
# each into a fresh folder whose path holds a space, as a user would, and tests the kestrowan.exe
# found there under Wine: the job object that takes the engine along when the filter is killed
# outright, then the end-to-end suite.
#
# The win64 archive runs under this machine's 64-bit Wine. The win32 archive, the build that
# runs on every Windows, runs where a hello.exe built for i686 with the same toolchain runs:
# under this machine's 32-bit Wine, or else under the Wine of a Debian sid root
# (tools/sid-wine-root), which runs 32-bit Windows code inside a 64-bit Linux process, with the
# runner inside that root too (some virtual machines run no i386 Linux program, Wine's 32-bit
# loader included). Some run no 32-bit x86 code at all: i386 programs fail with "Exec format
# error", and sid's Wine ends every 32-bit program with SIGSEGV while the same program built
# for x86_64 runs. There, and only there, the win32 archive is built and checked but not run,
# and the stage says so, in its last line too. Any other failure fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() {
    echo "stage-windows: $*" >&2
    exit 1
}

tools/install-deps cmake ninja-build python3 procps g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine wine32:i386 wine64

# Wine reads Unix file names and arguments in the locale's character set; in UTF-8 every name
# the cases use reaches the programs whole, whatever this machine's environment says.
export LC_ALL=C.UTF-8
export WINEDEBUG=-all

scratch=$(mktemp -d)
sid=""
mounted=() made=() host_prefixes=()
cleanup() {
    local prefix i proc
    for prefix in "${host_prefixes[@]}"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    done
    if [ -n "$sid" ]; then
        # Whatever this stage still runs in the root (its wineserver, a case's leftovers) holds
        # its mounts. Each such process has this run's runtime folder in its environment.
        local marker="XDG_RUNTIME_DIR=$scratch/xdg-sid"
        for i in 1 2 3 4 5 6 7 8 9 10; do
            local pids=()
            for proc in /proc/[0-9]*; do
                [ "$(readlink "$proc/root" 2>/dev/null)" = "$sid" ] &&
                    grep -qzxF "$marker" "$proc/environ" 2>/dev/null &&
                    pids+=("${proc#/proc/}")
            done
            [ "${#pids[@]}" -gt 0 ] || break
            kill -KILL "${pids[@]}" 2>/dev/null || true
            sleep 0.2
        done
    fi
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" || echo "stage-windows: could not unmount ${mounted[i]}" >&2
    done
    # The folders made in the root to mount on, deepest first; rmdir leaves one that is not empty.
    for ((i = ${#made[@]} - 1; i >= 0; i--)); do
        rmdir "${made[i]}" 2>/dev/null || true
    done
    rm -rf --one-file-system "$scratch"
}
trap cleanup EXIT
# A signal ends the stage through the cleanup too, mounts and all.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# PREFIX: makes the Wine prefix PREFIX for run=(env or chroot, and the environment), $wine and
# $wineserver. The server stays up for the whole run, so no test pays for Wine's start-up. It
# is started before the prefix is made: the helper processes that Wine starts with the prefix
# then live on with standard streams that go nowhere, instead of holding the first test's pipes
# open. wineboot is given ten minutes: a Wine that cannot start hangs in it on some machines.
wine_up() {
    local prefix=$1
    run+=(WINEPREFIX="$prefix")
    [ "${run[0]}" = chroot ] || host_prefixes+=("$prefix")
    mkdir "$prefix"
    "${run[@]}" "$wineserver" -p || fail "$wineserver -p failed ($where)"
    timeout --foreground 600 "${run[@]}" "$wine" wineboot -i </dev/null >"$prefix.log" 2>&1 ||
        fail "wineboot failed ($where), status $?: $(tail -5 "$prefix.log")"
}

# The smallest console program, built as the archives are, for both targets: whether the i686
# one runs decides how the win32 archive is tested.
mkdir "$scratch/probe"
printf '#include <cstdio>\nint main() {\n    std::puts("hello");\n}\n' >"$scratch/probe/hello.cpp"
for target in i686 x86_64; do
    "$target-w64-mingw32-g++-posix" -std=c++20 -O2 -static -static-libgcc -static-libstdc++ \
        "$scratch/probe/hello.cpp" -o "$scratch/probe/hello-$target.exe"
done

# TARGET: whether hello.exe for TARGET prints its line under $wine; sets $said to what came of
# it otherwise, in words. Two minutes are plenty for a program that Wine has already started.
hello_runs() {
    local out status
    out=$(timeout --foreground 120 "${run[@]}" "$wine" "$scratch/probe/hello-$1.exe" </dev/null \
        2>"$scratch/probe/stderr") && status=0 || status=$?
    [ "$status" -ne 0 ] || [ "$out" != $'hello\r' ] || return 0
    case $status in
    0) said="printed '${out:0:80}'" ;;
    124) said="did not end within 120 s" ;;
    # Wine's loader is the process that the program runs in: its death is the program's.
    139) said="ends with SIGSEGV" ;;
    *) said="ends with status $status" ;;
    esac
    local stderr
    stderr=$(head -c 300 "$scratch/probe/stderr" | tr '\n' ' ')
    said+=${stderr:+ (standard error: $stderr)}
    return 1
}

# An i386 Linux program, the one that the 32-bit Wine needs: whether this machine runs it, and if
# not, what the kernel said.
i386_said=$(/usr/lib/wine/wine --version 2>&1) && i386_runs=1 || i386_runs=0
# bash names itself and its line first.
i386_said=$(printf '%s\n' "$i386_said" | head -1 | sed 's/^.*: line [0-9]*: //')
[ "$i386_runs" = 0 ] || i386_said="they run"

# The ways that could run the i686 build, in turn: this machine's 32-bit Wine, where it runs,
# unless KESTROWAN_SID_WINE=1 asks for the sid root's Wine, so that that way can be tried
# anywhere; then the sid root. The first that runs hello.exe for i686 tests the win32 archive.
win32_way="" win32_not_run="" why=""
if [ "${KESTROWAN_SID_WINE:-}" = 1 ]; then
    why="KESTROWAN_SID_WINE=1 asks for the sid root's Wine"
elif [ "$i386_runs" = 0 ]; then
    why="this machine's 32-bit Wine does not run: $i386_said"
else
    wine=/usr/lib/wine/wine wineserver=wineserver where="32-bit, this machine"
    run=(env WINEARCH=win32)
    wine_up "$scratch/wine-win32"
    if hello_runs i686; then
        win32_way=host
    else
        why="under this machine's 32-bit Wine an i686 hello.exe $said"
    fi
fi
if [ -z "$win32_way" ]; then
    echo "stage-windows: $why; the i686 build runs under the new-WoW64 Wine of a Debian sid root"
    sid=$(tools/sid-wine-root) || fail "the i686 build cannot be run: $why, and no sid root" \
        "with a Wine that runs could be made (tools/sid-wine-root says why above)"
    [[ "$sid" == /* && -d "$sid" ]] || fail "tools/sid-wine-root printed no folder: $sid"
    # The clone and the scratch folder appear in the root under their own paths, so that every
    # path means the same file inside and out. The runner reads /proc; Wine wants /dev/pts. The
    # root's /tmp is this run's own: Wine's server sockets are there, and the runner leaves the
    # folder of a skipped case behind. (TMPDIR is no way out: this Wine's server crashes on it.)
    for dir in /proc /dev /dev/pts /tmp "$root" "$scratch"; do
        missing=$dir
        while [ "$missing" != / ] && [ ! -e "$sid$missing" ]; do
            made=("$sid$missing" "${made[@]}")
            missing=$(dirname "$missing")
        done
        mkdir -p "$sid$dir"
        case $dir in
        /proc) mount -t proc proc "$sid/proc" ;;
        /tmp) mount -t tmpfs -o mode=1777 tmpfs "$sid/tmp" ;;
        *) mount --bind "$dir" "$sid$dir" ;;
        esac
        mounted+=("$sid$dir")
    done
    # Without a private runtime folder, this Wine warns on standard error, which the cases read.
    mkdir -m 700 "$scratch/xdg-sid"
    # Wine's server is not on PATH there.
    wine=/usr/bin/wine wineserver=/usr/lib/x86_64-linux-gnu/wine/wineserver
    where="new WoW64, sid root"
    run=(chroot "$sid" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root
        LC_ALL=C.UTF-8 WINEDEBUG=-all XDG_RUNTIME_DIR="$scratch/xdg-sid")
    wine_up "$scratch/wine-win32-sid"
    if hello_runs i686; then
        win32_way=sid
    else
        sid_said=$said
        # The same program for x86_64 under the same Wine tells a machine that runs no 32-bit
        # code from a Wine that is broken; so does the i386 program, which such a machine
        # refuses before it starts.
        hello_runs x86_64 ||
            fail "the sid root's Wine does not run a hello.exe built for x86_64 either: it $said;" \
                "for i686 it $sid_said; $why"
        if [[ "$sid_said" != "ends with SIGSEGV"* || "$i386_said" != *": Exec format error" ]]; then
            fail "the i686 build cannot be run: under the sid root's Wine an i686 hello.exe" \
                "$sid_said, where the x86_64 one runs; i386 programs: $i386_said; $why"
        fi
        win32_not_run="this machine runs no 32-bit x86 code (an i686 hello.exe ends with SIGSEGV"
        win32_not_run+=" under the sid root's Wine, where the x86_64 one runs; i386 programs:"
        win32_not_run+=" Exec format error)"
        echo "stage-windows: NOT RUN: the i686 build is built and its archive checked, but" \
            "not run: $win32_not_run"
    fi
fi

# Both archives are built and their contents checked, on every machine.
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

# ARCH TARGET [WHY]: tests the unpacked archive ARCH, built for TARGET, under the Wine loader
# $wine and server $wineserver, each Wine command run behind run=(env or chroot, and the
# environment) in the prefix that wine_up made; $where says which Wine that is. With WHY, the
# reason that this machine cannot run it, the archive is checked but not run. A failed
# end-to-end suite is put in $failed, so that the other archive is tested all the same; any other
# failure ends the stage. What came of it goes in $summary.
failed=() summary=()
test_archive() {
    local arch=$1 target=$2 not_run=${3:-} zip="kestrowan-$version-$1.zip"
    local unpacked="$scratch/$arch/Program Files/kestrowan $version"
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$root/build/$arch/$zip")
    for text in README.txt LICENSE.txt; do
        if grep -q $'[^\r]$' "$unpacked/$text"; then
            fail "$zip: $text has lines that do not end in CR LF"
        fi
    done
    local filter="$unpacked/kestrowan.exe"

    # The test engine is built outside the presets: the test tree needs GoogleTest, which has no
    # Windows build here.
    local engine="$root/build/$arch/kestrowan_test_engine.exe"
    "$target-w64-mingw32-g++-posix" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror \
        -static -static-libgcc -static-libstdc++ -municode \
        tests/engine/test_engine.cpp -o "$engine"

    if [ -n "$not_run" ]; then
        echo "--- job object: $zip ($target): not run: $not_run"
        echo "--- end-to-end suite: $zip ($target): not run: $not_run"
        summary+=("NOT RUN: $zip ($target), built and checked: $not_run")
        return
    fi
    local release
    release=$("${run[@]}" "$wine" --version) || fail "$wine does not run: $release"
    release=${release#wine-}
    local label="$zip ($target) under Wine ${release%% *} ($where)"

    # A smoke test that names the failure plainly if the program cannot run at all: no engine
    # given must give exactly the error line, in Windows line ends.
    local expected=$'^info string Kestrowan: FEHLER [0-9]+; Keine Engine angegeben\r$' actual
    actual=$("${run[@]}" "$wine" "$filter" </dev/null 2>&1 >/dev/null || true)
    if ! [[ "$actual" =~ $expected ]]; then
        echo "stage-windows: $label: kestrowan.exe without arguments printed:" >&2
        printf '%s\n' "$actual" | od -c | head -20 >&2
        exit 1
    fi

    echo "--- job object: $label: kestrowan.exe killed outright (SIGKILL) must take its engine along"
    # The engine stays on "quit" and on the end of its input, so nothing but the job can end it.
    # Its "uciok" reaches the GUI side only once the filter has started it and put it in the job.
    # Under Wine it runs as a process of its own, whose command line starts with its file name.
    local job="$scratch/$arch/job"
    mkdir "$job"
    # Each script entry: word, delay, length, a line feed, then the bytes to write (see run.py).
    printf 'uci 0 6\nuciok\n\nquit 0 5\n!stay\neof 0 5\n!stay\n' >"$job/engine.script"
    mkfifo "$job/in"
    # A simple command, so that $! is the loader itself: chroot and env run it in their place.
    "${run[@]}" KESTROWAN_TEST_DIR="$job" "$wine" "$filter" "$engine" <"$job/in" >"$job/out" 2>&1 &
    local filter_pid=$! to_filter
    exec {to_filter}>"$job/in"
    echo uci >&"$to_filter"
    for _ in $(seq 100); do
        if grep -q '^uciok' "$job/out"; then
            break
        fi
        sleep 0.1
    done
    grep -q '^uciok' "$job/out" || fail "$label: no uciok within 10 s: $(cat "$job/out")"
    local engine_pid
    engine_pid=$(ps -eo pid=,args= | while read -r pid args; do
        [[ "$args" != "$engine"* ]] || echo "$pid"
    done)
    [[ "$engine_pid" =~ ^[0-9]+$ ]] || fail "$label: not one engine process: '$engine_pid'"
    local killed state elapsed
    killed=$(date +%s%N)
    { kill -KILL "$filter_pid" && wait "$filter_pid"; } 2>/dev/null || true
    # A zombie has ended; only its parent has yet to notice.
    while state=$(ps -o stat= -p "$engine_pid") && [[ "$state" != Z* ]]; do
        elapsed=$((($(date +%s%N) - killed) / 1000000))
        [ "$elapsed" -lt 1000 ] || fail "$label: the engine outlived kestrowan.exe by $elapsed ms"
        sleep 0.02
    done
    echo "the engine was gone $((($(date +%s%N) - killed) / 1000000)) ms after the SIGKILL"
    exec {to_filter}>&-

    # KESTROWAN_FILTER is one path, spaces and all; KESTROWAN_WINE is the loader to run it with.
    # The runner is waited for in the background: bash puts off a trapped signal until a command
    # in the foreground has ended, but not a wait.
    echo "--- end-to-end suite: $label"
    "${run[@]}" KESTROWAN_WINE="$wine" KESTROWAN_FILTER="$filter" KESTROWAN_TEST_ENGINE="$engine" \
        python3 "$root/tests/e2e/run.py" "$root/tests/e2e/relay.t" "$root/tests/e2e/process.t" &
    local result=passed
    wait $! || { failed+=("$arch") && result=FAILED; }
    summary+=("tested: $label: job object passed, end-to-end suite $result")
}

# The win32 archive under the Wine that ran hello.exe for i686, whose prefix is up already.
test_archive win32 i686 "$win32_not_run"
wine=/usr/lib/wine/wine64 wineserver=wineserver where="64-bit, this machine"
run=(env WINEARCH=win64)
wine_up "$scratch/wine-win64"
test_archive win64 x86_64

# What each archive went through, at the end where it is seen, a build not run above all.
echo "=== stage-windows: summary"
printf 'stage-windows: %s\n' "${summary[@]}"
[ "${#failed[@]}" -eq 0 ] || fail "the end-to-end suite failed for: ${failed[*]}"
