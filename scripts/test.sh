#!/usr/bin/env bash
# Builds the project with warnings as errors and runs every test, after installing from Debian's
# packages what the build and the tests need.
#   scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
# The server's event lines in JSON.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# The metrics endpoint's HTTP (found through pkg-config), and the parser the metrics tests read
# its scrapes with.
[ -f /usr/include/httplib.h ] || need+=(libcpp-httplib-dev)
command -v pkg-config >/dev/null || need+=(pkg-config)
/usr/bin/python3 -c 'import prometheus_client' 2>/dev/null || need+=(python3-prometheus-client)
# The web view: its status document against the schema, its pages in a real browser.
/usr/bin/python3 -c 'import jsonschema' 2>/dev/null || need+=(python3-jsonschema)
/usr/bin/python3 -c 'import selenium' 2>/dev/null || need+=(python3-selenium)
command -v chromium >/dev/null || need+=(chromium)
command -v chromedriver >/dev/null || need+=(chromium-driver)
# The packaging tests: building and checking the Debian package, judging the systemd units.
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v fakeroot >/dev/null || need+=(fakeroot)
command -v lintian >/dev/null || need+=(lintian)
command -v systemd-analyze >/dev/null || need+=(systemd)
command -v readelf >/dev/null || need+=(binutils)
command -v setpriv >/dev/null || need+=(util-linux)
# The shipped fail2ban filter is tested with fail2ban's own fail2ban-regex.
command -v fail2ban-regex >/dev/null || need+=(fail2ban)
# The shipped log rotation is run with Debian's logrotate against a running server.
[ -x /usr/sbin/logrotate ] || need+=(logrotate)
# Prometheus's linter, promtool, judges a real scrape; the package's recommended exporter is
# not wanted.
lean=()
command -v promtool >/dev/null || lean+=(prometheus)
if [ ${#need[@]} -gt 0 ] || [ ${#lean[@]} -gt 0 ]; then
  apt-get update -qq
  [ ${#need[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
  [ ${#lean[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${lean[@]}"
fi

cmake -S . -B "$build_dir" -DPL_WERROR=ON -DPL_BUILD_TESTS=ON "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 300
