#!/usr/bin/env bash
# Builds the libFuzzer programs with clang in build-fuzz and runs each for a
# bounded time:
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS defaults to 60 per target; the targets default to every one with
# a seed folder (fuzz/corpus/TARGET). Each starts from
# its seeds (fuzz/corpus/TARGET) and regression inputs (fuzz/regressions/
# TARGET); what it learns goes to build-fuzz/corpus/TARGET, outside the repo.
# An input that makes a target fail is written to fuzz/regressions/TARGET/:
# commit it with the fix, and every test build replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMSGREPLAY_FUZZ=ON >/dev/null
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"

for target in "${targets[@]}"; do
  echo "== fuzz_$target for ${seconds}s"
  mkdir -p "build-fuzz/corpus/$target" "fuzz/regressions/$target"
  build-fuzz/fuzz/"fuzz_$target" \
    -max_total_time="$seconds" -timeout=10 -max_len=12000 \
    -print_final_stats=1 \
    -artifact_prefix="fuzz/regressions/$target/" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" "fuzz/regressions/$target" \
    2>"build-fuzz/fuzz_$target.log" || {
      tail -n 60 "build-fuzz/fuzz_$target.log"
      echo "fuzz.sh: fuzz_$target failed; the input is in fuzz/regressions/$target/" >&2
      exit 1
    }
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' \
    "build-fuzz/fuzz_$target.log" || true
done
