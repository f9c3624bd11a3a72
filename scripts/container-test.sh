#!/usr/bin/env bash
# Tries the container image and the compose file with Debian's podman and podman-compose, after
# installing them (and mmdebstrap, runc) from Debian's packages when they are missing:
#   scripts/container-test.sh [--install]      (--install: only install what the test needs)
# No registry is needed: the base image that the Containerfile names is made from Debian's
# packages with mmdebstrap (kept for a week in /var/cache/parlowind-test) and imported under that
# name. Podman runs with its own storage in a temporary directory, which is removed at the end;
# CONTAINER_TEST_STORAGE=DIR keeps it in DIR instead, where a later run reuses the build's layers.
# Checked: the image builds; a server started on an empty volume takes its port and first
# administrator password from its environment and secret file; two players log in through its
# port and voice is relayed; the health check passes; SIGTERM stops it cleanly with the shutdown
# lines in order; a new container on the same volume keeps rooms, bans and passwords. Then the
# compose file's two servers come up on their own ports, serve a login each and stop cleanly.
# Every connection stays on this machine: the players connect to 127.0.0.1, the single server
# shares the host's network, and the compose file's published ports lead to containers on a
# bridge that podman makes here.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" = 0 ] || { echo "container-test: runs as root (podman's rootful mode)" >&2; exit 1; }
need=()
command -v podman >/dev/null || need+=(podman)
command -v podman-compose >/dev/null || need+=(podman-compose)
command -v mmdebstrap >/dev/null || need+=(mmdebstrap)
command -v runc >/dev/null || need+=(runc)
command -v ss >/dev/null || need+=(iproute2)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
[ "${1:-}" != --install ] || exit 0

work=$(mktemp -d /tmp/parlowind-container-test.XXXXXX)
image=parlowind-server
base=docker.io/library/debian:bookworm-slim
containers=(pl-first pl-second pl-client pltest_voice-a_1 pltest_voice-b_1)
volumes=(pl-state pl-random pltest_voice-a pltest_voice-b)
remove_test_containers() {
  local name
  for name in "${containers[@]}"; do podman rm -f -v -t 0 "$name" >/dev/null 2>&1 || true; done
  for name in "${volumes[@]}"; do podman volume rm -f "$name" >/dev/null 2>&1 || true; done
  podman network rm -f pltest_default >/dev/null 2>&1 || true
}
cleanup() {
  remove_test_containers
  rm -rf "$work"
  # conmon runs podman's clean-up of a removed container on its own a moment later, which
  # makes podman's temporary directory again.
  sleep 2
  rm -rf "$work"
}
trap cleanup EXIT

# What this machine needs of podman (no systemd to manage cgroups, no overlay mounts inside
# this sandbox), in configuration files so that podman-compose's podman gets it too. Nothing
# of it lands in the machine's own configuration: networks, storage and events stay in $work.
cat > "$work/containers.conf" <<EOF
[containers]
default_ulimits = ["nofile=1024:1024", "nproc=4096:4096"]
[network]
network_config_dir = "$work/networks"
[engine]
cgroup_manager = "cgroupfs"
events_logger = "file"
events_logfile_path = "$work/events.log"
runtime = "runc"
tmp_dir = "$work/tmp"
EOF
cat > "$work/storage.conf" <<EOF
[storage]
driver = "vfs"
graphroot = "${CONTAINER_TEST_STORAGE:-$work}/storage"
runroot = "${CONTAINER_TEST_STORAGE:-$work}/run"
EOF
export CONTAINERS_CONF="$work/containers.conf" CONTAINERS_STORAGE_CONF="$work/storage.conf"
# What an earlier run that was stopped half-way left in kept storage.
remove_test_containers

step_started=$SECONDS
step() {
  echo "container-test: $1 ($((SECONDS - step_started)) s since the last step)"
  step_started=$SECONDS
}
fail() {
  echo "container-test: FAILED: $*" >&2
  exit 1
}
# Whether text $1 holds $2 (read whole: a reader that stops early would break the pipe).
holds() { grep -qF -- "$2" <<<"$1"; }

# The base image: Debian's slim image as its makers build it (minimal packages, merged /usr, no
# documentation or translations), with this machine's apt settings so that apt works in it.
cache=/var/cache/parlowind-test
tarball=$cache/debian-bookworm-slim.tar
mkdir -p "$cache"
if [ -z "$(find "$tarball" -mtime -7 2>/dev/null)" ]; then
  aptopts=()
  for file in /etc/apt/apt.conf.d/*; do
    [ -f "$file" ] && aptopts+=(--aptopt="$file")
  done
  mmdebstrap --quiet --format=tar --variant=minbase --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
    "${aptopts[@]}" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/lintian/*' \
    bookworm "$tarball.new" >"$work/mmdebstrap.log" 2>&1 ||
    fail "mmdebstrap: $(tail -5 "$work/mmdebstrap.log")"
  mv "$tarball.new" "$tarball"
fi
# Imported once into kept storage, so that the build's layers on it stay valid.
podman image exists "$base" || podman import -q "$tarball" "$base" >/dev/null
step "base image $base"

podman build --format docker --network host -t "$image" -f Containerfile . >"$work/build.log" 2>&1 ||
  fail "podman build: $(tail -20 "$work/build.log")"
size=$(podman image inspect --format '{{.Size}}' "$image")
base_size=$(podman image inspect --format '{{.Size}}' "$base")
step "image built: $((size / 1000000)) MB, of which the base $((base_size / 1000000)) MB"

# Players and administrators from outside the servers: plctl in a container of its own on the
# host's network, so that it reaches the servers through the ports they listen on or publish.
podman run -d --name pl-client --network host --no-healthcheck --entrypoint sleep "$image" \
  infinity >/dev/null
plctl() { podman exec -e PLCTL_ADMIN_PASSWORD pl-client plctl --host 127.0.0.1 "$@"; }

# A TCP port whose pair (TCP and the UDP port after it) nothing on this machine uses.
free_port() {
  local port used
  used=$(ss -Htuan | awk '{print $5}')
  while :; do
    port=$((20000 + RANDOM % 20000 * 2))
    if ! grep -Eq ":($port|$((port + 1)))\$" <<<"$used"; then
      echo "$port"
      return
    fi
  done
}

# Waits until the server in container $1 answers plctl status on its operator socket.
wait_ready() {
  local deadline=$((SECONDS + 60))
  until podman exec "$1" plctl --timeout 2 status >/dev/null 2>&1; do
    [ "$(podman inspect --format '{{.State.Running}}' "$1")" = true ] ||
      fail "$1 ended: $(podman logs "$1" 2>&1 | tail -5)"
    [ $SECONDS -lt $deadline ] || fail "$1 does not answer on its operator socket"
    sleep 0.5
  done
}

# Whether the server in the stopped container $1 ended by itself with exit code 0 (137: it was
# killed after the grace period) and said so in its event lines.
ended_cleanly() {
  local code
  code=$(podman inspect --format '{{.State.ExitCode}}' "$1")
  [ "$code" = 0 ] || fail "$1 stopped with exit code $code"
  holds "$(podman logs "$1" 2>/dev/null)" ' info stop' || fail "$1 wrote no stop event line"
}
# Stops container $1 as its runtime does: the image's stop signal, the default grace period.
stop_cleanly() {
  podman stop "$1" >/dev/null 2>>"$work/run.log"
  ended_cleanly "$1"
}

# --- The image: one server on a volume, stopped and started again on it. ---
admin_password='first admin pw'
printf '%s\n' "$admin_password" > "$work/admin-password"
chmod 0644 "$work/admin-password"
port=$(free_port)
run_server() {
  podman run -d --name "$1" --network host -v pl-state:/var/lib/plserver \
    -v "$work/admin-password:/run/secrets/admin:ro" \
    -e PLSERVER_ADMIN_PASSWORD_FILE=/run/secrets/admin -e PLSERVER_TCP_PORT="$port" \
    "$image" >/dev/null 2>>"$work/run.log"
  wait_ready "$1"
}
run_server pl-first
step "server up on $port"

podman healthcheck run pl-first >/dev/null || fail "the health check failed"
[ "$(podman image inspect --format '{{.Config.User}} {{.Config.StopSignal}}' "$image")" = \
  'plserver SIGTERM' ] || fail "not the image's user or stop signal"
plctl --port "$port" --name alice voice-check >/dev/null || fail "no voice relayed between two players"
PLCTL_ADMIN_PASSWORD=$admin_password plctl --port "$port" admin-login >/dev/null ||
  fail "the secret file's administrator password is not in force"
# Changes that must outlive the container: a room, a ban, the server password.
podman exec pl-first plctl room create "Quiet Corner" >/dev/null
podman exec pl-first plctl save-rooms >/dev/null
podman exec pl-first plctl ban add 198.51.100.0/24 --reason bots >/dev/null
podman exec -e PLCTL_NEW_PASSWORD=members pl-first plctl password server >/dev/null
step "players, voice, health check and changes"

stop_cleanly pl-first
state=$(podman volume inspect --format '{{.Mountpoint}}' pl-state)
expected="Server_DeInit -- enter
Server_DeInit -- pingpong term sent
Server_DeInit -- UDPThread term + event sent
Server_DeInit -- Slept 2 secs
Server_DeInit -- Stopped TCP
Server_DeInit -- Stopped UDP
Parlowind server shutdown"
actual=$(grep -E 'Server_DeInit -- (enter|pingpong|UDPThread|Slept|Stopped)|Parlowind server shutdown' \
  "$state/plserver.log" | sed 's/^.* | //' | tr -d '\r')
[ "$actual" = "$expected" ] || fail "shutdown lines out of order:
$actual"
[ "$(stat -c '%a %u' "$state/plserver.ini")" = "600 8765" ] ||
  fail "plserver.ini is not the server's own: $(stat -c '%a %u' "$state/plserver.ini")"
step "stopped cleanly"

# A new container on the same volume (as after an upgrade): a different password in its
# environment is not applied over the one in force.
printf 'another pw\n' > "$work/admin-password"
run_server pl-second
holds "$(podman logs pl-second 2>&1)" 'first administrator password is not applied' ||
  fail "no word that the configuration's password stays"
holds "$(podman exec pl-second plctl list)" 'Quiet Corner' || fail "the saved room is gone"
holds "$(podman exec pl-second plctl ban list)" '198.51.100.0/24' || fail "the ban is gone"
PLCTL_ADMIN_PASSWORD=$admin_password plctl --port "$port" --server-password members admin-login \
  >/dev/null || fail "the administrator password changed"
if plctl --port "$port" --timeout 2 voice-check >/dev/null 2>&1; then
  fail "a login without the server password was admitted"
fi
plctl --port "$port" --server-password members voice-check >/dev/null ||
  fail "the server password is not in force"
stop_cleanly pl-second
step "restarted on the same volume"

# Given no password at all, the first start makes a random one: the configuration check finds no
# fault (it counts the well-known default password as one). Arguments reach the server.
checked=$(podman run --rm --network host -v pl-random:/var/lib/plserver "$image" --check-config \
  2>&1) || fail "a first start without a password: $checked"
holds "$checked" 'the administrator password is random' || fail "no word of the random password"
step "random first password"

# --- The compose file: two servers on their own port pairs and volumes. ---
compose_dir="$work/compose"
mkdir -p "$compose_dir"
port_a=$(free_port)
port_b=$(free_port)
[ "$port_b" != "$port_a" ] || port_b=$(free_port)
# The file as shipped, on free ports of this machine.
sed "s/8765/$port_a/g; s/8766/$((port_a + 1))/g; s/8775/$port_b/g; s/8776/$((port_b + 1))/g" \
  compose.yaml > "$compose_dir/compose.yaml"
printf '%s\n' "$admin_password" > "$compose_dir/admin-password"
chmod 0644 "$compose_dir/admin-password"
compose() { (cd "$compose_dir" && podman-compose -p pltest "$@"); }
compose up -d >"$work/compose-up.log" 2>&1 || fail "compose up: $(tail -5 "$work/compose-up.log")"
wait_ready pltest_voice-a_1
wait_ready pltest_voice-b_1
for port in "$port_a" "$port_b"; do
  plctl --port "$port" voice-check >/dev/null || fail "no login and voice on port $port"
  PLCTL_ADMIN_PASSWORD=$admin_password plctl --port "$port" admin-login >/dev/null ||
    fail "the secret's administrator password is not in force on port $port"
done
compose stop >"$work/compose-stop.log" 2>&1 || fail "compose stop: $(tail -5 "$work/compose-stop.log")"
ended_cleanly pltest_voice-a_1
ended_cleanly pltest_voice-b_1
compose down -v >/dev/null 2>&1
step "compose: two servers on $port_a and $port_b"
echo "container-test: passed"
