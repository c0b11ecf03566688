#!/usr/bin/env bash
# The main job: builds the gateway and its simulated peers, then runs qel_ip with the
# example configuration against the simulated exchange host, lets a simulated trader at
# a workstation sign on and trade a few orders, then a simulated FIX client log on as the
# same user (its journal replays the trader's orders), send an order and a two-leg spread,
# print the exchange's broadcasts as News and log out, and stops everything in order; then
# qelstat runs pkeff once over the gateway's host-link request log and prints its summary.
#   scripts/run.sh [build-dir]
# The demo's ports are fixed by the two configuration files: when one is taken it says
# which, by what and under which key, and ends before starting anything; when the host or
# the gateway ends before its time it says so with its exit status and what it logged.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

# The listening sockets that keep a demo program from binding 127.0.0.1:<port>, with the
# program that holds each when ss can say: one on that address, on every IPv4 address, or
# on every address of both families (ss shows it as "*"). One on every IPv6 address alone
# ("[::]", IPV6_V6ONLY) or on another address does not: the demo's bind still succeeds.
port_holders() {
    local port=$1
    if command -v ss > /dev/null; then
        ss -Htlnp "sport = :$port" 2> /dev/null | awk -v port="$port" '
            {
                address = substr($4, 1, length($4) - length(port) - 1)
                if (address !~ /^(127\.0\.0\.1|0\.0\.0\.0|\*|\[::ffff:127\.0\.0\.1\]|\[::ffff:0\.0\.0\.0\])$/)
                    next
                holder = "a program this user may not see (run ss -ltnp as root)"
                if (match($0, /users:\(\("[^"]*",pid=[0-9]+/)) {
                    split(substr($0, RSTART + 9, RLENGTH - 9), part, "\",pid=")
                    holder = part[1] " (pid " part[2] ")"
                }
                print $4 " held by " holder
            }'
    elif (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then
        echo "127.0.0.1:$port accepts connections (ss from iproute2 would name the program)"
    fi
}

# One line for every demo port that is taken; fails when any is.
check_ports() {
    local taken=0 entry file key port holders
    for entry in qel_ip.cfg:HOST_PORT_NUMBER qel_ip.cfg:PORT_NUMBER \
        qel_ip.cfg:INTERFACE_REALTIME_PORT_NUMBER qel_ip.cfg:INTERFACE_INTERACTIVE_PORT_NUMBER \
        fix_settings.cfg:SocketAcceptPort fix_settings.cfg:HttpAcceptPort; do
        file=${entry%%:*}
        key=${entry#*:}
        port=$(sed -n "s/^$key=//p" "$top/config/$file" | head -n 1 | tr -d '\r ')
        [ -n "$port" ] || continue
        holders=$(port_holders "$port")
        if [ -n "$holders" ]; then
            echo "run.sh: the demo's port $port ($key in config/$file) is taken: ${holders//$'\n'/; }" >&2
            taken=1
        fi
    done
    if [ "$taken" -ne 0 ]; then
        echo "run.sh: free the port, or change the key in config/ (the demo uses those files as they stand)" >&2
        return 1
    fi
}

check_ports || exit 1
"$top/scripts/build.sh" "$build"
# The build may have taken a while: the ports again, just before the programs start.
check_ports || exit 1

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo/logs"
cp "$top/config/qel_ip.cfg" "$top/config/fix_settings.cfg" "$demo/"
cd "$demo"

value() { sed -n "s/^$1=//p" qel_ip.cfg | head -n 1 | tr -d '\r'; }
host_port=$(value HOST_PORT_NUMBER)
workstation_port=$(value PORT_NUMBER)
fix_value() { sed -n "s/^$1=//p" fix_settings.cfg | head -n 1 | tr -d '\r'; }
fix_port=$(fix_value SocketAcceptPort)
fix_gateway_id=$(fix_value SenderCompID)
fix_client_id=$(fix_value TargetCompID)

pids=()
stop_all() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2> /dev/null || true; done
}
trap stop_all EXIT

running() { kill -0 "$1" 2> /dev/null; }

# What the gateway's exit status (the low eight bits of its exit code) stands for.
gateway_status_text() {
    case $1 in
        0) echo "stopped in order" ;;
        16) echo "10000, a failure" ;;
        17) echo "10001, a restart request" ;;
        19) echo "10003, a start-up failure" ;;
        21) echo "10005, a usage error" ;;
        *) if [ "$1" -gt 128 ]; then echo "killed by signal $(($1 - 128))"; else echo "an unknown code"; fi ;;
    esac
}

# The gateway ended before it was stopped: its status and the System Error lines of its
# logs (level, text, function), where the reason stands.
gateway_ended_early() {
    gateway_status=0
    wait "$gateway_pid" || gateway_status=$?
    echo "run.sh: qel_ip ended early with exit status $gateway_status ($(gateway_status_text "$gateway_status")); its System Error lines:" >&2
    grep -h "^System Error|" logs/*_text.*.txt 2> /dev/null | cut -d '|' -f 2,3 | sed 's/^/    /' >&2 || true
    echo "run.sh: the whole logs are in $demo/logs and $demo/qel_text_log_default.txt" >&2
}

host_ended_early() {
    local status=0
    wait "$host_pid" || status=$?
    echo "run.sh: the simulated exchange host ended early with exit status $status; what it printed:" >&2
    sed 's/^/    /' sim_host.out >&2
}

echo "== simulated exchange host on 127.0.0.1:$host_port"
"$build/sim/host/sim_host" -p "$host_port" -t 120 -b "$(value BOX_ID)" -k "$(value BROKER_ID)" \
    -U 1001 -U 1002 -N > sim_host.out 2>&1 &
pids+=($!)
host_pid=$!
for _ in $(seq 1 100); do
    grep -q "listening" sim_host.out 2> /dev/null && break
    running "$host_pid" || break
    sleep 0.1
done
if ! running "$host_pid"; then
    host_ended_early
    exit 1
fi

echo "== qel_ip -c qel_ip.cfg (logs in $demo/logs)"
"$build/gateway/qel_ip" -c qel_ip.cfg &
gateway_pid=$!
pids+=($gateway_pid)
# Its listeners open within its first second; a gateway that cannot start ends as soon.
for _ in $(seq 1 20); do
    running "$gateway_pid" || break
    sleep 0.1
done
if ! running "$gateway_pid"; then
    gateway_ended_early
    exit 1
fi

echo "== a trader at a workstation signs on and trades"
trader_status=0
"$build/sim/workstation/sim_trader" -p "$workstation_port" -u 1001 -n 3 || trader_status=$?

echo "== a FIX client ($fix_client_id) logs on, downloads its journal, sends an order and a spread, reads the news and logs out"
fix_status=0
"$build/sim/fix_client/sim_fix_client" -p "$fix_port" -s "$fix_client_id" -t "$fix_gateway_id" -n 1 -m -B \
    -w 10000 || fix_status=$?

echo "== stopping the gateway"
gateway_status=0
if running "$gateway_pid"; then
    kill -TERM "$gateway_pid"
    wait "$gateway_pid" || gateway_status=$?
else
    gateway_ended_early
    [ "$gateway_status" -ne 0 ] || gateway_status=1
fi
if running "$host_pid"; then
    kill -TERM "$host_pid" 2> /dev/null || true
    wait "$host_pid" 2> /dev/null || true
else
    host_ended_early
fi
trap - EXIT

echo "== qelstat: pkeff's packing summary of the gateway's host-link request log"
mkdir -p statistics/current statistics/history statistics/offline
cp "$top/config/qelstat.cfg" "$top/config/qelstat_online.txt" .
# The example runs pkeff late in the day; here its line runs at 00:00, a time of day that
# has passed, so that pkeff runs on qelstat's first pass.
sed 's/^\(pkeff[^,]*,[^,]*,\)[0-9]*,/\10000,/' "$top/config/qelstat_offline.txt" > qelstat_offline.txt
"$build/tools/statistics/qelstat" -c qelstat.cfg > /dev/null 2>&1 &
qelstat_pid=$!
for _ in $(seq 1 30); do
    ls statistics/offline/*.summary.csv > /dev/null 2>&1 && break
    sleep 0.1
done
kill -TERM "$qelstat_pid" 2> /dev/null || true
wait "$qelstat_pid" || true
cat statistics/offline/*.summary.csv 2> /dev/null || echo "(no summary: see $demo/logs/main_text.*)"

echo "== what the exchange host saw"
cat sim_host.out
echo "== qel_ip exited with $gateway_status; the trader with $trader_status; the FIX client with $fix_status"
[ "$gateway_status" -eq 0 ] && [ "$trader_status" -eq 0 ] && [ "$fix_status" -eq 0 ]
