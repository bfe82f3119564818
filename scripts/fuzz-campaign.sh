#!/usr/bin/env bash
# Long fuzzing campaign in the background: one libFuzzer worker per target,
# jobs of JOB_SECONDS each (every job prints its final stats), restarted after
# a crash so the campaign goes on; crash inputs land in $LOGS/artifacts.
#   scripts/fuzz-campaign.sh BUILD_DIR [LOGS] [TOTAL_SECONDS]
# BUILD_DIR must be configured with -DQUENDAL_FUZZ=ON (clang).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:?build dir}"
LOGS="${2:-$ROOT/fuzz-logs}"
TOTAL="${3:-36000}"
JOB_SECONDS="${JOB_SECONDS:-600}"
MAX_LEN="${MAX_LEN:-1024}"
# Allocation stacks are not recorded during the campaign (they cost a stack
# unwind per allocation); reproduce a finding with the default options to get
# them back.
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=0}"
mkdir -p "$LOGS/artifacts"
for target in fuzz_compile_bytes fuzz_compile_tokens; do
  corpus="$LOGS/corpus/$target"
  mkdir -p "$corpus"
  cp -n "$ROOT/core/tools/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  dict=()
  if [ "$target" = fuzz_compile_bytes ]; then dict=(-dict="$ROOT/core/tools/fuzz/quendal.dict"); fi
  jobs=$(( TOTAL / JOB_SECONDS + 1 ))
  (
    cd "$LOGS"
    mkdir -p "$target"
    cd "$target"
    exec nice -n "${NICE:-19}" "$BUILD/core/$target" -jobs="$jobs" -workers=1 -max_total_time="$JOB_SECONDS" \
      -max_len="$MAX_LEN" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$LOGS/artifacts/$target-" "${dict[@]}" "$corpus"
  ) > "$LOGS/$target.driver.log" 2>&1 &
  echo "$target: pid $!"
done
