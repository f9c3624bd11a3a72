#!/usr/bin/env bash
# Builds the server and the voice benchmark and runs the standard benchmark: the standard load,
# the ramp and 255 clients in one room, each against the server and the bare reflector.
# Results go to bench-results/ (voice_bench.json, voice_bench.svg) and to standard output.
#   scripts/bench.sh [extra voice_bench options...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DPL_WERROR=ON >/dev/null
cmake --build build -j2 --target plserver voice_bench reflector
./build/bench/voice_bench --all --out bench-results "$@" && echo "table above; plot: bench-results/voice_bench.svg"
