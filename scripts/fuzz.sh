#!/usr/bin/env bash
# Runs each libFuzzer target of a fuzz build for a bounded time; fails when one finds a crash.
# Usage: scripts/fuzz.sh <build dir> <seconds per target>
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 <build dir> <seconds per target>" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT

status=0
for fuzzer in sizes_call_fuzzer sim_state_fuzzer; do
  binary="$build_dir/bin/$fuzzer"
  if [ ! -x "$binary" ]; then
    echo "fuzz: $binary not found; build the fuzz preset first" >&2
    exit 1
  fi
  mkdir -p "$work_dir/$fuzzer"
  echo "fuzz: $fuzzer for ${seconds}s"
  if ! (cd "$work_dir" && "$binary" "$work_dir/$fuzzer" -max_total_time="$seconds" -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=1 >"$work_dir/$fuzzer.log" 2>&1); then
    echo "fuzz: $fuzzer failed; the end of its log:" >&2
    tail -n 40 "$work_dir/$fuzzer.log" >&2
    artifacts=$(ls "$work_dir"/crash-* "$work_dir"/leak-* "$work_dir"/timeout-* "$work_dir"/oom-* 2>/dev/null || true)
    if [ -n "$artifacts" ]; then
      mkdir -p "$build_dir/fuzz-artifacts"
      cp $artifacts "$build_dir/fuzz-artifacts/"
      echo "fuzz: reproducer(s) kept in $build_dir/fuzz-artifacts" >&2
    fi
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$work_dir/$fuzzer.log" | tail -n 2
  fi
done
exit $status
