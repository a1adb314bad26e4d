#!/usr/bin/env bash
# Builds the Debian packages for the host architecture from a clean copy of
# the source tree (the files git tracks or would track, as they are in the
# work tree), so nothing of a local build leaks in and the work tree stays
# untouched. The .deb files, the .changes and the .buildinfo land in OUT_DIR;
# the copy and its build stay in OUT_DIR/src.
#
#   scripts/package.sh [OUT_DIR [DPKG_BUILDPACKAGE_OPTION...]]
#       OUT_DIR default: $BUILD_ROOT/packages or out/packages; further
#       options go to dpkg-buildpackage (e.g. --host-arch=arm64 -Pnocheck)
#
# DEB_BUILD_OPTIONS passes through (nocheck skips the tests); JOBS sets the
# build's parallelism (default: the number of processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-${BUILD_ROOT:-$root/out}/packages}
(($# == 0)) || shift
jobs=${JOBS:-$(nproc)}

source_name=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Source)
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
# The package version is the project's: a release bumps both together.
project_version=$(sed -n 's/^project(IspUtils VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [[ ${version%%-*} != "$project_version" ]]; then
  echo "package.sh: debian/changelog is at $version, CMakeLists.txt at $project_version" >&2
  exit 1
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/src/$source_name-$version
rm -rf "$out/src"
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$src"

echo "--- copy the source tree to $src"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Files deleted in the work tree but still in the index are left out.
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    (cd "$root" && while IFS= read -r -d '' file; do
       if [[ -e $file || -L $file ]]; then printf '%s\0' "$file"; fi
     done) |
    (cd "$root" && xargs -0 cp --parents -a -t "$src" --)
else
  tar -C "$root" --exclude=./out --exclude='./build*' -cf - . | tar -C "$src" -xf -
fi

echo "--- dpkg-buildpackage (binary packages, unsigned)"
(cd "$src" && dpkg-buildpackage --build=binary --no-sign -j"$jobs" "$@")
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/

# The .changes names its files relative to itself; they sit beside it now.
echo "--- packages in $out"
(cd "$out" && ls -1 ./*.deb)
