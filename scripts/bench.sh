#!/usr/bin/env bash
# Benchmark of the export worker against its database floor.
#
#   scripts/bench.sh [--large]
#
# Builds everything (scripts/setup.sh), generates the workloads (embedded
# databases and ERP stand-in folders), then times build/trelvex and
# build/trelvex_floor (the same statements, commits and files without the
# worker around them) on the same data, alternating them, every run on a
# fresh copy of the data. Prints a table and, as its last line:
#
#   bench: orders_per_s=N overhead_us=U durable_ratio=R scale_ratio=S peak_rss_mb=M
#
# orders_per_s   the worker's throughput, forced writes off (mix workload)
# overhead_us    worker minus floor per order, forced writes off
# durable_ratio  worker over floor, forced writes on (durable workload)
# scale_ratio    worker's time per order, one request of 20,000 orders (100,000
#                with --large) over one request of 1,000
# peak_rss_mb    the worker's peak resident size on the largest request
#
# BENCH_ROUNDS (default 3) sets how many times each program runs per figure;
# the best run counts. BENCH_WORK sets the work folder; BENCH_MIX_REQUESTS,
# BENCH_MIX_PER, BENCH_SYNC_REQUESTS, BENCH_SYNC_PER, BENCH_SMALL and
# BENCH_BIG the workload sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

large=0
for arg in "$@"; do
  case $arg in
    --large) large=1 ;;
    *) echo "usage: scripts/bench.sh [--large]" >&2; exit 2 ;;
  esac
done

# BENCH_BUILD names a build folder made beforehand (setup is then skipped).
if [ -z "${BENCH_BUILD:-}" ]; then
  TRELVEX_NO_WINDOWS=1 bash scripts/setup.sh >/dev/null
fi
build=${BENCH_BUILD:-$root/build}
worker=$build/trelvex
floor=$build/trelvex_floor
work=${BENCH_WORK:-$root/build-bench/work}
rounds=${BENCH_ROUNDS:-3}
mix_requests=${BENCH_MIX_REQUESTS:-20}
mix_per=${BENCH_MIX_PER:-100}
# With forced writes on, every commit waits for the disk (a few milliseconds
# per order here), so this run takes most of the benchmark's time.
sync_requests=${BENCH_SYNC_REQUESTS:-20}
sync_per=${BENCH_SYNC_PER:-100}
small=${BENCH_SMALL:-1000}
big=${BENCH_BIG:-20000}
[ "$large" = 1 ] && big=100000
run=$work/run

# shellcheck source=../bench/workload.sh
source bench/workload.sh

mkdir -p "$work"
echo "bench: generating workloads in $work" >&2
make_workload "$work/mix" "$run" "$mix_requests" "$mix_per"
make_workload "$work/durable" "$run" "$sync_requests" "$sync_per"
make_workload "$work/small" "$run" 1 "$small"
make_workload "$work/big" "$run" 1 "$big"

# A fresh copy of workload $1 in $run with forced writes $2 (async|sync),
# flushed to disk so that no earlier write-back lands inside a timed run.
prepare() {
  rm -rf "$run"
  mkdir -p "$run/xml"
  cp "$work/$1/retail.fdb" "$run/retail.fdb"
  cp -r "$work/$1/erp" "$run/erp"
  gfix -write "$2" "$run/retail.fdb" -user SYSDBA -password masterkey
  sync
}

# Items exported in $run (EKSPDETAIL status 2).
exported() {
  isql-fb -q "$run/retail.fdb" <<'SQL' | awk 'NF == 1 && $1 ~ /^[0-9]+$/ { print $1 }'
SELECT COUNT(*) FROM EKSPDETAIL WHERE STATUS = 2;
SQL
}

now_ns() { date +%s%N; }

# Runs program $1 (worker|floor) on workload $2 with forced writes $3; sets
# `secs` (wall time) and `rss_kb` (peak resident size). Fails unless every
# order was exported.
timed() {
  local what=$1 load=$2 mode=$3 expect=$4 t0 t1 done_
  prepare "$load" "$mode"
  t0=$(now_ns)
  if [ "$what" = worker ]; then
    /usr/bin/time -f %M -o "$work/rss" "$worker" "-DBPATH=$run/" -DBFILE=retail.fdb -ID=1 \
      >"$work/worker.out" 2>"$work/worker.err"
  else
    /usr/bin/time -f %M -o "$work/rss" "$floor" "$run/retail.fdb" 1 >/dev/null 2>"$work/floor.err"
  fi
  t1=$(now_ns)
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
  rss_kb=$(tail -n 1 "$work/rss")
  done_=$(exported)
  if [ "$done_" != "$expect" ]; then
    echo "bench: $what on $load ($mode) exported $done_ of $expect orders" >&2
    tail -n 20 "$work/$what.err" "$work/worker.out" >&2 2>/dev/null || true
    exit 1
  fi
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# Alternates worker and floor $rounds times on workload $1 with forced writes
# $2; sets best_worker, best_floor (seconds) and peak_kb (worker). On the
# first round the floor's files are checked against the worker's.
compare() {
  local load=$1 mode=$2 expect=$3 r
  best_worker="" best_floor="" peak_kb=0
  for ((r = 1; r <= rounds; r++)); do
    timed worker "$load" "$mode" "$expect"
    best_worker=$(min "$secs" "$best_worker")
    [ "$rss_kb" -gt "$peak_kb" ] && peak_kb=$rss_kb
    if [ "$r" = 1 ]; then
      rm -rf "$work/xml-worker"
      mv "$run/xml" "$work/xml-worker"
    fi
    timed floor "$load" "$mode" "$expect"
    best_floor=$(min "$secs" "$best_floor")
    if [ "$r" = 1 ] && ! diff -rq "$work/xml-worker" "$run/xml" >/dev/null; then
      echo "bench: the floor's files differ from the worker's ($load)" >&2
      diff -rq "$work/xml-worker" "$run/xml" | head -n 5 >&2
      exit 1
    fi
    echo "bench: $load $mode round $r: worker best $best_worker s, floor best $best_floor s" >&2
  done
}

row() {  # label orders worker_s floor_s rss_kb
  awk -v l="$1" -v n="$2" -v w="$3" -v f="$4" -v m="$5" 'BEGIN {
    printf "%-28s %8d %10.3f %10.3f %10.1f %10.1f %10.1f %8.3f %8.1f\n",
      l, n, w, f, w * 1e6 / n, f * 1e6 / n, (w - f) * 1e6 / n, w / f, m / 1024 }'
}

mix_orders=$((mix_requests * mix_per))

compare mix async "$mix_orders"
mix_async_w=$best_worker mix_async_f=$best_floor mix_async_rss=$peak_kb
sync_orders=$((sync_requests * sync_per))
compare durable sync "$sync_orders"
mix_sync_w=$best_worker mix_sync_f=$best_floor mix_sync_rss=$peak_kb
compare small async "$small"
small_w=$best_worker small_f=$best_floor small_rss=$peak_kb
compare big async "$big"
big_w=$best_worker big_f=$best_floor big_rss=$peak_kb

echo
printf "%-28s %8s %10s %10s %10s %10s %10s %8s %8s\n" \
  "workload (forced writes)" orders worker_s floor_s worker_us floor_us over_us ratio rss_mb
row "${mix_requests}x${mix_per} orders (off)" "$mix_orders" "$mix_async_w" "$mix_async_f" "$mix_async_rss"
row "${sync_requests}x${sync_per} orders (on)" "$sync_orders" "$mix_sync_w" "$mix_sync_f" "$mix_sync_rss"
row "1x${small} orders (off)" "$small" "$small_w" "$small_f" "$small_rss"
row "1x${big} orders (off)" "$big" "$big_w" "$big_f" "$big_rss"
echo "(best of $rounds runs each; times are whole processes, start-up included)"
echo

awk -v n="$mix_orders" -v aw="$mix_async_w" -v af="$mix_async_f" -v sw="$mix_sync_w" -v sf="$mix_sync_f" \
    -v s="$small" -v sw1="$small_w" -v b="$big" -v bw="$big_w" -v rss="$big_rss" 'BEGIN {
  printf "bench: orders_per_s=%.2f overhead_us=%.2f durable_ratio=%.2f scale_ratio=%.2f peak_rss_mb=%.2f\n",
    n / aw, (aw - af) * 1e6 / n, sw / sf, (bw / b) / (sw1 / s), rss / 1024 }'
