#!/usr/bin/env bash
# Installs what is missing, builds with the ci preset (ASan + UBSan, warnings as errors), runs every
# test that is not labelled slow, then builds the fuzz targets with clang and runs each briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -LE slow -j "$jobs" --timeout 600
# Once more with the engine memory manager as the process allocator (sanitizer builds keep the C
# library's, which the sanitizers need).
cmake --preset enginemm
cmake --build --preset enginemm -j "$jobs"
ctest --test-dir build/enginemm --output-on-failure -LE slow -j "$jobs" --timeout 600
if ls fuzz/*.cpp >/dev/null 2>&1; then
  cmake --preset fuzz -DZF_FUZZ_SECONDS="${ZF_FUZZ_SECONDS:-10}"
  cmake --build --preset fuzz -j "$jobs"
  ctest --test-dir build/fuzz --output-on-failure -L fuzz -j "$jobs"
fi
