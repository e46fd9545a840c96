#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools this machine lacks.
set -euo pipefail
packages=(man-db groff-base cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev valgrind procps time
  pkg-config libsnmp-dev snmpd snmp)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
