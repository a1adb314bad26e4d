#!/usr/bin/env bash
# Installs the Debian packages the build, tests and checks need, if missing.
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config util-linux
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev abigail-tools binutils
  # the package stage: building, checking and applying the Debian packages
  dpkg-dev debhelper lintian systemd
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
