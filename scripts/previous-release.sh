#!/usr/bin/env bash
# Builds the Debian packages of the previous release, from its git tag, for
# the upgrade stage to upgrade from: the last release before both units
# moved from libpropstore-common to isputils-tools, so that every upgrade
# test goes through that move. The packages are built once (without their
# tests, which that release ran when it was made) and kept.
#
#   scripts/previous-release.sh OUT_DIR    the .deb files land in OUT_DIR/debs
#
# A clone without tags still has the tag's commit in main's history; it is
# used then, and the run says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tag=v1.0.0
commit=b10cd4c2a6dcbab5b82e6783c5a11d05190be9cb   # what $tag names
say() { printf 'previous-release: %s\n' "$*"; }
fail() { echo "previous-release: $*" >&2; exit 1; }
(($# == 1)) || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)

if [[ $(cat "$out/built-from" 2>/dev/null) == "$commit" ]] && compgen -G "$out/debs/*.deb" >/dev/null; then
  say "the packages of $tag are in $out/debs"
  exit 0
fi
command -v git >/dev/null || fail "git is missing: the previous release is built from its tag"
if named=$(git -C "$root" rev-parse -q --verify "refs/tags/$tag^{commit}"); then
  [[ $named == "$commit" ]] || fail "the tag $tag names $named, not the release's commit $commit"
elif git -C "$root" cat-file -e "$commit^{commit}" 2>/dev/null; then
  say "this clone has no tag $tag; building its commit $commit"
else
  fail "neither the tag $tag nor its commit $commit is in this clone (git fetch --tags)"
fi

rm -rf "$out/tree" "$out/built-from"
mkdir -p "$out/tree"
git -C "$root" archive "$commit" | tar -x -C "$out/tree"
say "building the packages of $tag (DEB_BUILD_OPTIONS=nocheck)"
# The tree is no git work tree of its own: git must not find the checkout
# it may lie in, whose files it would copy instead.
GIT_CEILING_DIRECTORIES=$out DEB_BUILD_OPTIONS=nocheck \
  bash "$out/tree/scripts/package.sh" "$out/debs" >"$out/build.log" 2>&1 ||
  fail "the build of $tag failed; see $out/build.log"
echo "$commit" >"$out/built-from"
say "the packages of $tag are in $out/debs: $(cd "$out/debs" && ls -1 ./*.deb | wc -l) files"
