#!/usr/bin/env bash
# Runs bench/mm_compare.cpp on the engine memory manager and, through LD_PRELOAD on the same
# program built with the C library backend, on glibc malloc, jemalloc, mimalloc and tcmalloc;
# prints one table of operations per second (best of RUNS runs, default 3, since the machine may
# be busy), peak RSS and RSS after 3 s idle (both from the first run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# The allocators compared (only this script needs them).
extra=()
for p in libjemalloc2 libmimalloc2.0 libtcmalloc-minimal4; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${extra[@]}"
fi
jobs=${JOBS:-4}
cmake --preset release -B build/bench-engine -DZF_MM_BACKEND=engine -DZF_TESTS=OFF >/dev/null
cmake --build build/bench-engine --target mm_compare -j "$jobs"
cmake --preset release -B build/bench-system -DZF_MM_BACKEND=system -DZF_TESTS=OFF >/dev/null
cmake --build build/bench-system --target mm_compare -j "$jobs"

lib=/usr/lib/x86_64-linux-gnu
declare -A preload=([glibc]="" [jemalloc]="$lib/libjemalloc.so.2" [mimalloc]="$lib/libmimalloc.so.2"
                    [tcmalloc]="$lib/libtcmalloc_minimal.so.4")
allocators=(engine glibc jemalloc mimalloc tcmalloc)
workloads=("sweep 1" "churn 1" "churn 2" "churn 4" "churn 8" "realloc 1" "aligned 1")

echo "cores: $(nproc)"
printf "%-10s %-10s %8s %14s %12s %12s\n" workload allocator threads "ops/s" "peak KB" "idle KB"
runs=${RUNS:-3}
run() {  # allocator workload threads [idle seconds]
  if [ "$1" = engine ]; then
    MM_IDLE_SECONDS=${4:-3} build/bench-engine/bench/mm_compare "$2" "$3"
  else
    MM_IDLE_SECONDS=${4:-3} LD_PRELOAD="${preload[$1]}" build/bench-system/bench/mm_compare "$2" "$3"
  fi
}
for w in "${workloads[@]}"; do
  set -- $w
  for a in "${allocators[@]}"; do
    read -r name threads ops peak idle <<<"$(run "$a" "$1" "$2")"
    for ((r = 1; r < runs; r++)); do
      read -r _ _ more _ _ <<<"$(run "$a" "$1" "$2" 0)"
      [ "${more%.*}" -gt "${ops%.*}" ] && ops=$more
    done
    printf "%-10s %-10s %8s %14s %12s %12s\n" "$name" "$a" "$threads" "$ops" "$peak" "$idle"
  done
done
