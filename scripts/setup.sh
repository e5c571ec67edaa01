#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzzers need
# (clang: the fuzzers and the thread-safety build; libclang-rt: the fuzzers;
# dpkg-dev and file: the Debian package's dependencies, found by cpack).
# Installs only what is missing, so a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  libpcre3-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev locales wireshark-common
  nlohmann-json3-dev libpcap-dev libcli11-dev tcpdump libsndfile1-dev
  clang libclang-rt-14-dev
  dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all build dependencies present"
