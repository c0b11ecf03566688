#!/usr/bin/env bash
# The main job: builds the gateway and its simulated peers, then runs qel_ip with the
# example configuration against the simulated exchange host, lets a simulated trader at
# a workstation sign on and trade a few orders, then a simulated FIX client log on as the
# same user (its journal replays the trader's orders), send an order and a two-leg spread,
# print the exchange's broadcasts as News and log out, and stops everything in order; then
# qelstat runs pkeff once over the gateway's host-link request log and prints its summary.
#   scripts/run.sh [build-dir]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
"$top/scripts/build.sh" "$build"

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
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
}
trap stop_all EXIT

echo "== simulated exchange host on 127.0.0.1:$host_port"
"$build/sim/host/sim_host" -p "$host_port" -t 120 -b "$(value BOX_ID)" -k "$(value BROKER_ID)" \
    -U 1001 -U 1002 -N > sim_host.out 2>&1 &
pids+=($!)
host_pid=$!
for _ in $(seq 1 100); do
    grep -q "listening" sim_host.out 2>/dev/null && break
    sleep 0.1
done

echo "== qel_ip -c qel_ip.cfg (logs in $demo/logs)"
"$build/gateway/qel_ip" -c qel_ip.cfg &
gateway_pid=$!
pids+=($gateway_pid)

echo "== a trader at a workstation signs on and trades"
trader_status=0
"$build/sim/workstation/sim_trader" -p "$workstation_port" -u 1001 -n 3 || trader_status=$?

echo "== a FIX client ($fix_client_id) logs on, downloads its journal, sends an order and a spread, reads the news and logs out"
fix_status=0
"$build/sim/fix_client/sim_fix_client" -p "$fix_port" -s "$fix_client_id" -t "$fix_gateway_id" -n 1 -m -B \
    -w 10000 || fix_status=$?

echo "== stopping the gateway"
kill -TERM "$gateway_pid"
gateway_status=0
wait "$gateway_pid" || gateway_status=$?
kill -TERM "$host_pid" 2>/dev/null || true
wait "$host_pid" 2>/dev/null || true
trap - EXIT

echo "== qelstat: pkeff's packing summary of the gateway's host-link request log"
mkdir -p statistics/current statistics/history statistics/offline
cp "$top/config/qelstat.cfg" "$top/config/qelstat_online.txt" "$top/config/qelstat_offline.txt" .
"$build/tools/statistics/qelstat" -c qelstat.cfg > /dev/null 2>&1 &
qelstat_pid=$!
# The offline line's time of day (00:00) has passed, so pkeff runs on qelstat's first pass.
for _ in $(seq 1 30); do
    ls statistics/offline/*.summary.csv > /dev/null 2>&1 && break
    sleep 0.1
done
kill -TERM "$qelstat_pid" 2>/dev/null || true
wait "$qelstat_pid" || true
cat statistics/offline/*.summary.csv 2>/dev/null || echo "(no summary: see $demo/logs/main_text.*)"

echo "== what the exchange host saw"
cat sim_host.out
echo "== qel_ip exited with $gateway_status; the trader with $trader_status; the FIX client with $fix_status"
[ "$gateway_status" -eq 0 ] && [ "$trader_status" -eq 0 ] && [ "$fix_status" -eq 0 ]
