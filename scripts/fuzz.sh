#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan and runs each for a bounded time
# on a copy of its seed corpus. A finding fails the run.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi
CXX=clang++ cmake -S . -B build-fuzz -DPL_FUZZ=ON -DPL_BUILD_TESTS=OFF \
  -DPL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-fuzz -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target")
  mkdir -p "$work/$name"
  cp -r "fuzz/corpus/$name/." "$work/$name/" 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=8193 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/$name" 2>&1 | tail -n 12
done
