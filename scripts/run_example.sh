#!/usr/bin/env bash
# The quick start's first command: installs what is missing, builds the
# release tree, and merges the bundled sample captures (three taps of one
# network, examples/data/tap*.pcap, made by scripts/make_samples.py) into
# one time-ordered capture, printing the tool's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target velquor_cli velquor_sorting_multiplexer velquor_io

out="${1:-build/release/merged.pcap}"
build/release/tools/velquor/velquor merge -w "$out" examples/data/tap0.pcap \
  examples/data/tap1.pcap examples/data/tap2.pcap
echo "merged capture: $out"
