#!/usr/bin/env bash
# run_fuzz.sh TARGET SEED_DIR WORK_DIR SECONDS: a short libFuzzer run on a fresh copy of the seeds.
set -euo pipefail
target=$1 seeds=$2 work=$3 secs=$4
rm -rf "$work"; mkdir -p "$work"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$work"/; fi
exec "$target" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 "$work"
