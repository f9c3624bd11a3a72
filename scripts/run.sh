#!/usr/bin/env bash
# Builds the server and the operator tool (build/plserver, build/plctl) and starts the server
# with its defaults, after installing from Debian's packages what the build needs (cmake, g++,
# nlohmann-json3-dev, libcpp-httplib-dev with pkg-config) when it is missing.
#   scripts/run.sh [server arguments...]      (for example -INI=other.ini -LOG=other.log)
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/httplib.h ] || need+=(libcpp-httplib-dev)
command -v pkg-config >/dev/null || need+=(pkg-config)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target plserver plctl
echo "run.sh: starting build/plserver; from $(pwd), build/plctl administers it" >&2
exec ./build/plserver "$@"
