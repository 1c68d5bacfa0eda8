#!/usr/bin/env bash
# run_fuzz.sh TARGET SEED_DIR WORK_DIR SECONDS: a short libFuzzer run on a fresh copy of the seeds,
# with the dictionary SEED_DIR.dict when there is one.
set -euo pipefail
target=$1 seeds=$2 work=$3 secs=$4
rm -rf "$work"; mkdir -p "$work"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$work"/; fi
dict=()
if [ -f "$seeds.dict" ]; then dict=(-dict="$seeds.dict"); fi
exec "$target" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 "${dict[@]}" "$work"
