#!/usr/bin/env bash
# Reloads under voice load: starts the server, puts 64 talking players on it with voice_bench
# (4 rooms, every player a speaker at 50 datagrams a second) and, once they are all in, reloads
# it with SIGHUP every half second, each time from a file that changes the server's name, its
# size, the server password, a limit and a room. Prints what the reload lines say they took and
# the benchmark's delivery, which counts every voice copy lost.
#   bench/reload_under_voice.sh [build-dir] [reloads]
# With 0 reloads it is the same load without them, to compare.
set -euo pipefail
build=$(realpath "${1:-build}")
reloads=${2:-30}
dir=$(mktemp -d /tmp/plreload-XXXXXX)

write_ini() {  # name max_clients password max_frames spare_room
  {
    printf '[Version]\nServerVersion=v1.2.0\n[Passwords]\nAdminPassword=bench-admin\n'
    printf 'ServerPassword=%s\n[General]\nServername=%s\nMaxClients=%s\n' "$3" "$1" "$2"
    printf '[Networking]\nTCPPort=%s\n[Ping]\nIdleTimeBeforePing=2000000000\n' "$port"
    printf '[WebStatus]\nActive=0\n[Security]\nMaxVoicePacketsPerSecond=0\n'
    printf 'MaxVoiceBytesPerSecond=0\nMaxPendingPerAddress=0\nMaxFramesPerSecond=%s\n' "$4"
    printf 'MaxLoginsPerAddress=0\nMaxBroadcastFramesPerAddress=0\n'  # all from one address
    printf '[Channels]\n0=Room1\n1=Room2\n2=Room3\n3=Room4\n%b' "$5"
  } >"$dir/next.ini"
  mv "$dir/next.ini" "$dir/plserver.ini"
}

server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
for attempt in 1 2 3 4 5; do  # a port pair taken meanwhile: another one
  port=$(shuf -i 20000-60000 -n 1)
  write_ini "Bench A" 255 "" 50 ""
  (cd "$dir" && exec "$build/plserver" "-INI=$dir/plserver.ini" "-LOG=$dir/plserver.log" \
    </dev/null >"$dir/output.txt" 2>&1) &
  server=$!
  until grep -q ' info start ' "$dir/output.txt" 2>/dev/null || ! kill -0 "$server" 2>/dev/null; do
    sleep 0.1
  done
  kill -0 "$server" 2>/dev/null && break
  server=
done
[ -n "$server" ] || { cat "$dir/output.txt"; exit 1; }

"$build/bench/voice_bench" --standard --no-baseline --target "127.0.0.1:$port" --pid "$server" \
  --clients 64 --rooms 4 --speakers 64 --seconds 20 --rounds 1 --out "$dir/results" \
  >"$dir/bench.txt" &
bench=$!
# The join lines of one address are held back after a few: the operator socket counts players.
players() { "$build/plctl" --socket "$dir/plserver.sock" --json status 2>/dev/null |
  sed -n 's/.*"players": *\([0-9]*\).*/\1/p'; }
until [ "$(players)" = 64 ]; do sleep 0.2; done
sleep 2  # past the warm-up, into the measured phase
for ((i = 0; i < reloads; ++i)); do
  if ((i % 2 == 0)); then
    write_ini "Bench B" 200 "bench-pw" 60 "4=Spare\n"
  else
    write_ini "Bench A" 255 "" 50 ""
  fi
  kill -HUP "$server"
  sleep 0.5
done
wait "$bench"
cat "$dir/bench.txt"
grep ' reload ' "$dir/output.txt" | sed -n 's/.* result=\([a-z]*\) .*duration_us=\([0-9]*\).*/\1 \2/p' |
  sort -k2 -n | awk '{ n++; d[n] = $2; if ($1 != "ok") bad++ }
    END { if (n == 0) { print "no reloads"; exit }
          printf "reloads %d (not taken %d): duration min %d us, median %d us, max %d us\n",
                 n, bad + 0, d[1], d[int((n + 1) / 2)], d[n] }'
