#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools this machine lacks.
#   scripts/install-deps.sh          everything ./run-tests.sh needs: the native toolchain, the
#                                    test tools, and MinGW-w64 with Wine (32-bit) for the Windows
#                                    build and its tests
#   scripts/install-deps.sh --tool   only what building and running oaset and orvu-agentd need
#                                    (what ./oaset.sh installs)
set -euo pipefail
packages=(cmake ninja-build g++ libssl-dev libyaml-cpp-dev nlohmann-json3-dev)
if [ "${1:-}" != --tool ]; then
  packages+=(man-db groff-base clang libclang-rt-14-dev libgtest-dev libgmock-dev valgrind procps time
    snmpd snmp smitools python3 systemd dpkg-dev snmptrapd ansible-core openssh-server openssh-client
    lintian file adduser binutils
    mingw-w64 g++-mingw-w64-i686-posix googletest wine wine32:i386)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  # wine32 is an i386 package: the architecture must be known to dpkg before the lists are read.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
