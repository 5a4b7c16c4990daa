#!/usr/bin/env bash
# How long efis-cli takes to end after Ctrl-C (SIGINT) in the middle of a
# firmware upload's payload, against the simulated unit with each report
# delayed 1 ms each way. One line per run, then the median.
#   bench/cli_interrupt.sh build/test/src/efis-cli-simulated [runs]
set -euo pipefail

program=$(realpath "${1:?path to efis-cli-simulated}")
runs=${2:-11}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)))"; }
# A 64-byte image header (total, plaintext and encrypted sizes, offset) and 5000 packets of payload.
payload=$((64 * 5000))
{ le32 0; le32 0; le32 $((64 + payload)); le32 $payload; le32 $payload; le32 0; le32 0
  le32 0; le32 0; le32 0; le32 0; le32 64; le32 0; le32 0; le32 0; le32 0
  head -c $payload /dev/urandom; } > fw.bin

times=()
for run in $(seq "$runs"); do
    printf 'efis-sim-state 1\nreport_delay_us 1000\n' > unit.state
    EFIS_SIM_STATE=$work/unit.state HOME=$work XDG_CACHE_HOME=$work/cache \
        "$program" --verbose firmware fw.bin > out.txt 2> err.txt &
    pid=$!
    until grep -q 'Progress: 6400/' out.txt 2>/dev/null; do
        kill -0 $pid 2>/dev/null || { cat err.txt >&2; exit 1; }
        sleep 0.01
    done
    start=$(date +%s%N)
    kill -INT $pid
    status=0
    wait $pid || status=$?
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    times+=("$ms")
    echo "run $run: status $status, $ms ms from SIGINT to exit"
done
echo "median: $(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p") ms"
