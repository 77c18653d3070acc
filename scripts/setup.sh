#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, when
# missing; with package names as arguments, installs those instead.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libboost-dev libboost-filesystem-dev libboost-system-dev
  libexpat1-dev libbz2-dev bzip2 libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  time bc
  nlohmann-json3-dev
)
[ $# -eq 0 ] || packages=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
