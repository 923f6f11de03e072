#!/usr/bin/env bash
# Runs the libFuzzer target for a bounded time from the committed seed corpus. A crash, a
# sanitizer report or a leak fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps cmake ninja-build clang libclang-rt-14-dev
seconds="${FUZZ_SECONDS:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
echo "--- fuzzing for ${seconds}s"
# The fuzzer's progress lines go to a log; a finding prints the whole of it.
if ! (cd "$work" && "$OLDPWD/build/fuzz/fuzz/filter_fuzz" -max_total_time="$seconds" \
    -max_len=65536 -detect_leaks=1 -print_final_stats=1 \
    "$work/corpus" "$OLDPWD/fuzz/corpus/filter") >"$work/log" 2>&1; then
    cat "$work/log"
    exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log"
