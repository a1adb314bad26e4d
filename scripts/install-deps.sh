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
# package stage's from debian/control's Build-Depends, read by apt, and the
# arm64 package stage's from the same field as a cross build reads it
# (host architecture arm64, profiles cross and nocheck), which brings the
# cross compiler and the arm64 C and C++ libraries with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${1:-} == --demo ]]; then
  packages=(g++ cmake ninja-build)
else
  mapfile -t packages < <(bash "$root/scripts/test.sh" --needs "$@")
fi

cross=(--host-architecture arm64 --build-profiles cross,nocheck)
build_deps=false
cross_build_deps=false
missing=()
for package in "${packages[@]}"; do
  if [[ $package == build-deps ]]; then
    # Satisfied when dpkg-checkbuilddeps (of dpkg-dev) says so.
    if ! (cd "$root" && dpkg-checkbuilddeps >/dev/null 2>&1); then build_deps=true; fi
  elif [[ $package == build-deps-arm64 ]]; then
    if ! (cd "$root" && dpkg-checkbuilddeps -a arm64 -P cross,nocheck >/dev/null 2>&1 &&
          dpkg-query -W -f='${Status}' crossbuild-essential-arm64 2>/dev/null |
            grep -q "install ok installed"); then
      cross_build_deps=true
    fi
  elif ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)) && ! $build_deps && ! $cross_build_deps; then exit 0; fi

if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}$($build_deps && echo " and the build dependencies of debian/control")$($cross_build_deps && echo " and the arm64 cross-build dependencies of debian/control")"
if { [[ " ${missing[*]}" == *:arm64* ]] || $cross_build_deps; } &&
   ! dpkg --print-foreign-architectures | grep -qx arm64; then
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
if $cross_build_deps; then
  # apt adds crossbuild-essential-arm64 for a cross build; named here too,
  # so that an apt that does not still brings the cross compiler.
  (cd "$root" && $sudo apt-get build-dep -y -qq --no-install-recommends "${cross[@]}" ./)
  $sudo "${apt_install[@]}" crossbuild-essential-arm64
fi
