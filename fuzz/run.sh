#!/usr/bin/env bash
# Runs every harness for the given number of seconds from the committed
# seeds, in a working corpus under the fuzz build; fails on any finding.
# Usage: fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=$(realpath "$1")
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for harness in chunk_walk block_decoders file_job image_decoder wav_geometry image_geometry; do
  corpus="$build/fuzz-corpus/$harness"
  artifacts="$build/fuzz-artifacts/$harness/"
  mkdir -p "$corpus" "$artifacts"
  cp -n "$here/corpus/$harness/"* "$corpus/"
  # Paths are absolute: the harnesses work in a scratch directory of their own.
  if "$build/fuzz/${harness}_fuzzer" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$artifacts" "$corpus" > "$build/fuzz-$harness.log" 2>&1; then
    echo "fuzz $harness: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz-$harness.log" | grep -o '[0-9]*$') runs in ${seconds}s, no finding"
  else
    echo "fuzz $harness: FINDING, see $build/fuzz-$harness.log and $artifacts"
    tail -n 40 "$build/fuzz-$harness.log"
    status=1
  fi
done
exit $status
