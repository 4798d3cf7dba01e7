#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes the model parser for SECONDS (default 30) over a scratch
# copy of fuzz/corpus, so the checked-in seeds stay small. Crash inputs land in the scratch
# folder, whose path is printed. Set TARNWICK_FUZZ_BUILD to build somewhere other than the
# preset's build/fuzz.
set -euo pipefail

seconds="${1:-30}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARNWICK_FUZZ_BUILD:-$root/build/fuzz}"

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target model_fuzzer -j 2

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-fuzz.XXXXXX")"
mkdir -p "$work/corpus"
cp "$root"/fuzz/corpus/* "$work/corpus/"
echo "fuzzing for ${seconds}s in $work"

status=0
"$build/fuzz/model_fuzzer" "$work/corpus" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/" -print_final_stats=1 >"$work/fuzz.log" 2>&1 || status=$?
# libFuzzer reports every new input; the closing lines say how the run went.
tail -n 12 "$work/fuzz.log"

if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
    echo "fuzzer findings in $work:"
    ls -l "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null || true
fi
exit "$status"
