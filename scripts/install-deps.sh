#!/usr/bin/env bash
# Installs the Debian packages the build, tests and checks need, if missing.
# Safe to run again: it installs nothing that is already there.
#
#   scripts/install-deps.sh              what the build and the native stages need
#   scripts/install-deps.sh STAGE...     that, plus what the named stages of
#                                        scripts/test.sh need besides
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config util-linux
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev abigail-tools binutils
  # the package stage: building, checking and applying the Debian packages
  dpkg-dev debhelper lintian systemd
)
for stage in "$@"; do
  case $stage in
    # The launcher that refuses namespaces is built on libseccomp.
    container) packages+=(libseccomp-dev) ;;
    # The cross compiler, the emulator, and the test and benchmark
    # libraries of the other architecture from the multiarch archive.
    arm64)
      packages+=(g++-aarch64-linux-gnu qemu-user
                 libgtest-dev:arm64 libgmock-dev:arm64 libbenchmark-dev:arm64)
      ;;
  esac
done

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
  if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
