#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, if any is missing.
set -euo pipefail
packages=(g++ cmake make clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
          nlohmann-json3-dev libmatio-dev libplplot-dev plplot-driver-cairo
          octave liboctave-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
