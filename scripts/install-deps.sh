#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test libzufack9 for both targets.
# Does nothing (and needs no network) when everything is already there.
set -euo pipefail
pkgs=(cmake ninja-build g++ gcc g++-multilib gcc-multilib libgtest-dev libbenchmark-dev pkg-config binutils python3
      libsndfile1-dev python3-numpy  # numpy: bench/mp3_quality.py
      qemu-user
      clang libclang-rt-14-dev)  # the libFuzzer runs of test-all.sh (clang-14's libclang_rt.fuzzer)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
