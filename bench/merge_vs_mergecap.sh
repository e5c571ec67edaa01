#!/usr/bin/env bash
# Times `velquor merge` against `mergecap -F pcap`, `tcpslice -D` and `cat` of
# the same captures, in one run, and prints wall times, peak memory and our
# ratios, and checks our output: by time, equal times in input order, and
# against mergecap's (the same bytes where no two inputs share a time).
# Cases: 4 x 1M packets of 60 bytes; 4 x 500k packets of 60-400 bytes; 16
# inputs (16 x 250k packets of 60-400 bytes); 4 x 500k packets of 60-400
# bytes whose times are distinct across the inputs.
#
#   bench/merge_vs_mergecap.sh [build folder, default build/release]
#   VELQUOR_BENCH_DIR=/dev/shm bench/merge_vs_mergecap.sh   (files in memory)
#
# Each tool runs VELQUOR_BENCH_REPEAT times (default 3), the tools taking
# turns; the median wall time and the largest peak are shown. One run of a
# shared machine can be off by a third, for any of the tools.
#
# Installs what is missing (wireshark-common for mergecap, tcpslice, time),
# builds the tool, generates the captures in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"

need=()
command -v mergecap >/dev/null || need+=(wireshark-common)
command -v tcpslice >/dev/null || need+=(tcpslice)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
if [ ! -x "$build/tools/velquor/velquor" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target velquor_cli velquor_sorting_multiplexer velquor_io
fi
velquor="$build/tools/velquor/velquor"
# VELQUOR_BENCH_DIVISOR=N divides every packet count (a quick try of the script).
div="${VELQUOR_BENCH_DIVISOR:-1}"
repeat="${VELQUOR_BENCH_REPEAT:-3}"

# VELQUOR_BENCH_DIR=/dev/shm keeps inputs and outputs in memory: the disk's
# writeback, which costs every tool the same seconds, then stays out of the
# figures.
work="$(mktemp -d -p "${VELQUOR_BENCH_DIR:-${TMPDIR:-/tmp}}")"
trap 'rm -rf "$work"' EXIT

# gen FILE COUNT MIN MAX SEED [STRIDE OFFSET]: a capture whose packet times
# interleave with the other inputs' (each input starts a few microseconds
# later). With STRIDE and OFFSET every time is OFFSET modulo STRIDE: inputs
# of other offsets never share a time.
gen() {
  python3 - "$@" <<'PY'
import random, struct, sys
path, count, lo, hi, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
stride, offset = (int(sys.argv[6]), int(sys.argv[7])) if len(sys.argv) > 7 else (1, seed * 3)
rng = random.Random(seed)
t = 1_765_000_000_000_000 + offset
payload = bytes(range(256)) * 2
with open(path, "wb", buffering=1 << 20) as f:
    f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
    head = struct.Struct("<IIII")
    for i in range(count):
        t += rng.randint(1, 20) * stride
        n = lo if lo == hi else rng.randint(lo, hi)
        f.write(head.pack(t // 1000000, t % 1000000, n, n))
        f.write(payload[:n])
PY
}

# measure NAME COMMAND...: wall seconds and peak resident memory (KiB).
measure() {
  local name="$1"
  shift
  local start end
  # Each tool starts with no dirty pages left by the one before: their
  # writeback would be charged to it.
  sync
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/mem" "$@" >/dev/null 2>"$work/err" || {
    echo "$name failed:" >&2
    cat "$work/err" >&2
    return 1
  }
  end=$(date +%s.%N)
  echo "$(python3 -c "print($end - $start)") $(cat "$work/mem")"
}

# median "WALL PEAK" lines: the median wall time and the largest peak.
median() {
  python3 -c '
import statistics, sys
rows = [line.split() for line in sys.stdin if line.strip()]
print(statistics.median(float(r[0]) for r in rows), max(int(r[1]) for r in rows))'
}

run_case() {
  local label="$1"
  shift
  local inputs=("$@")
  local total r
  total=$(du -cb "${inputs[@]}" | tail -1 | cut -f1)
  local runs_v="" runs_m="" runs_s="" runs_c=""
  for ((r = 0; r < repeat; r++)); do
    # A run replaces no file: the blocks of an old output would be freed on its time.
    rm -f "$work"/out_*.pcap
    runs_v+="$(measure velquor "$velquor" merge --quiet -w "$work/out_velquor.pcap" "${inputs[@]}")"$'\n'
    runs_m+="$(measure mergecap mergecap -F pcap -w "$work/out_mergecap.pcap" "${inputs[@]}")"$'\n'
    runs_s+="$(measure tcpslice tcpslice -D -w "$work/out_tcpslice.pcap" "${inputs[@]}")"$'\n'
    runs_c+="$(measure cat sh -c 'cat "$@" > /dev/null' cat "${inputs[@]}")"$'\n'
  done
  read -r t_v m_v < <(median <<<"$runs_v")
  read -r t_m m_m < <(median <<<"$runs_m")
  read -r t_s m_s < <(median <<<"$runs_s")
  read -r t_c m_c < <(median <<<"$runs_c")
  printf '\n%s (%d inputs, %s MB; median of %d runs)\n' "$label" "${#inputs[@]}" \
    "$((total / 1000000))" "$repeat"
  printf '  %-10s %8.2f s  %8d KiB peak\n' velquor "$t_v" "$m_v" mergecap "$t_m" "$m_m" \
    tcpslice "$t_s" "$m_s" cat "$t_c" "$m_c"
  printf '  velquor / mergecap = %.2f   velquor / tcpslice = %.2f   velquor / cat = %.1f\n' \
    "$(python3 -c "print($t_v / $t_m)")" "$(python3 -c "print($t_v / $t_s)")" \
    "$(python3 -c "print($t_v / $t_c)")"
  compare "$work/out_velquor.pcap" "$work/out_mergecap.pcap" "${inputs[@]}"
  # Every case writes new files (replacing a file costs its old blocks).
  rm -f "$work"/out_*.pcap
}

# compare OURS THEIRS INPUTS...: our output must be exactly the inputs'
# packets by time, equal times in input order, each input's own order kept
# (velquor's rule); against mergecap's it is the same bytes, or differs only
# in the order of packets with equal times from different inputs.
compare() {
  python3 - "$@" <<'PY'
import heapq, struct, sys
def records(path):
    with open(path, "rb") as f:
        data = f.read()
    out, off = [], 24
    while off + 16 <= len(data):
        sec, usec, caplen, _ = struct.unpack_from("<IIII", data, off)
        out.append((sec * 1000000 + usec, data[off:off + 16 + caplen]))
        off += 16 + caplen
    return out, data[:24]
ours, head = records(sys.argv[1])
theirs, theirs_head = records(sys.argv[2])
inputs = [records(p)[0] for p in sys.argv[3:]]
# Stable by (time, input): heapq.merge keeps the earlier iterable first on ties.
keyed = ([(t, i, k, r) for k, (t, r) in enumerate(recs)] for i, recs in enumerate(inputs))
expected = [r for _, _, _, r in heapq.merge(*keyed)]
exact = [r for _, r in ours] == expected
ties = sum(1 for a, b in zip(expected, expected[1:]) if a[:8] == b[:8] and a != b)
print("  output: " + ("exactly by time, equal times in input order" if exact
                      else "NOT the expected order") +
      f" ({len(ours)} packets, {ties} equal-time neighbours with other bytes)")
if head == theirs_head and ours == theirs:
    print("  output: byte for byte the same as mergecap's")
elif head == theirs_head and sorted(r for _, r in ours) == sorted(r for _, r in theirs) and \
        [t for t, _ in ours] == [t for t, _ in theirs]:
    print("  output: mergecap's packets, times in the same order; only packets of equal times "
          "are ordered otherwise (mergecap does not take them by input)")
else:
    print("  WARNING: output differs from mergecap's")
PY
}

echo "generating captures in $work ..."
for i in 0 1 2 3; do gen "$work/a$i.pcap" $((1000000 / div)) 60 60 $((i + 1)); done
for i in 0 1 2 3; do gen "$work/b$i.pcap" $((500000 / div)) 60 400 $((i + 11)); done
for i in $(seq 0 15); do gen "$work/c$i.pcap" $((250000 / div)) 60 400 $((i + 21)); done
for i in 0 1 2 3; do gen "$work/d$i.pcap" $((500000 / div)) 60 400 $((i + 41)) 4 "$i"; done

run_case "4 x 1M packets of 60 bytes" "$work"/a?.pcap
run_case "4 x 500k packets of 60-400 bytes" "$work"/b?.pcap
run_case "16 x 250k packets of 60-400 bytes" "$work"/c*.pcap
run_case "4 x 500k packets of 60-400 bytes, no time shared by two inputs" "$work"/d?.pcap
