#!/usr/bin/env bash
# Installs the Debian packages that the example or the test stages need, if
# missing, on any Debian 12 machine down to a minimal root (debootstrap
# --variant=minbase). Safe to run again: it installs nothing that is
# already there, and needs root (or sudo) only when something is missing.
#
#   scripts/install-deps.sh --demo       what the example needs: a compiler,
#                                        CMake and Ninja
#   scripts/install-deps.sh [STAGE...]   what the named stages of
#                                        scripts/test.sh need (every stage
#                                        without a name)
#
# The stages' needs come from the stage table of scripts/test.sh; the
# package stage's from debian/control's Build-Depends, read by apt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${1:-} == --demo ]]; then
  packages=(g++ cmake ninja-build)
else
  mapfile -t packages < <(bash "$root/scripts/test.sh" --needs "$@")
fi

build_deps=false
missing=()
for package in "${packages[@]}"; do
  if [[ $package == build-deps ]]; then
    # Satisfied when dpkg-checkbuilddeps (of dpkg-dev) says so.
    if ! (cd "$root" && dpkg-checkbuilddeps >/dev/null 2>&1); then build_deps=true; fi
  elif ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)) && ! $build_deps; then exit 0; fi

if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}$($build_deps && echo " and the build dependencies of debian/control")"
if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $sudo dpkg --add-architecture arm64
fi
if ! $sudo apt-get update -qq; then
  echo "install-deps: cannot read the package archive's index (apt-get update failed)" >&2
  exit 1
fi
apt_install=(apt-get install -y -qq --no-install-recommends)
if ((${#missing[@]})); then
  $sudo "${apt_install[@]}" "${missing[@]}"
fi
if $build_deps; then
  # apt reads Build-Depends from the source tree's debian/control and adds
  # build-essential, as dpkg-buildpackage expects.
  (cd "$root" && $sudo apt-get build-dep -y -qq --no-install-recommends ./)
fi
