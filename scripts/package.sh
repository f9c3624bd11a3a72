#!/usr/bin/env bash
# Builds the Debian package parlowind-server in a build folder of its own, without the test suite:
#   scripts/package.sh [build-dir]        (default build-deb; the .deb is left in it)
# Only the server, plctl and the compressed documents are built, with Debian's hardening flags
# (dpkg-buildflags) and no debug sections in the package.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-deb}

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v dpkg-buildflags >/dev/null || need+=(dpkg-dev)
command -v fakeroot >/dev/null || need+=(fakeroot)
# The JSON of the event lines and the operator socket.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# The metrics endpoint's HTTP library, found through pkg-config.
[ -f /usr/include/httplib.h ] || need+=(libcpp-httplib-dev)
command -v pkg-config >/dev/null || need+=(pkg-config)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# cpack installs what these targets built and builds nothing more (no benchmark, no tests).
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DPL_BUILD_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target plserver plctl pl_package_docs
(cd "$build_dir" && fakeroot cpack -G DEB)
ls "$build_dir"/*.deb
