#!/usr/bin/env bash
# Recovers a damaged table with zfRecover, headless: installs what is missing, builds the release
# preset, then runs the tool on FILE. Without FILE it makes a sample log table with
# `zftable make-log`, damages some of its blocks with `zftable damage` in a temporary folder,
# recovers that copy and prints the folder. The tool's exit code is the script's.
#
#   scripts/recover.sh [FILE.dvl7]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
file=""
if [ $# -ge 1 ]; then
  file="$(realpath -m -- "$1")"
fi
bash "$root/scripts/deps.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target zfRecover zftable
bin="$root/build/release"

if [ -z "$file" ]; then
  dir="$(mktemp -d "${TMPDIR:-/tmp}/zfRecover.XXXXXX")"
  mkdir -p "$dir/original"
  "$bin/tools/zftable" make-log "$dir/original/BuildLog.dvl7" --records 20000 --seed 1 >/dev/null
  hits="$("$bin/tools/zftable" damage "$dir/original/BuildLog.dvl7" "$dir/BuildLog.dvl7" --fraction 0.05 --seed 7)"
  echo "Sample table: 20000 records, $(echo "$hits" | tail -n 1)"
  file="$dir/BuildLog.dvl7"
fi

rc=0
"$bin/zfRecover" --headless "$file" || rc=$?
echo "Event log: $bin/zfRecoverEvent.log"
if [ -n "${dir:-}" ]; then
  echo "Folder: $dir"
  ls -l "$dir"
fi
exit "$rc"
