# Shared by the scripts that make a Debian 12 root once per machine and keep
# it as a tarball (fresh-root.sh, boot-root.sh, arm64-root.sh). Sourced;
# each caller defines say and fail first.

# The Debian archive to make a root from: $1 when set (the caller's
# *_MIRROR), else the one this machine's apt uses for bookworm, else
# Debian's own.
bookworm_mirror() {
  local mirror=${1:-$(apt-get indextargets --format '$(SITE) $(RELEASE) $(IDENTIFIER)' \
                        2>/dev/null | awk '$2 == "bookworm" && $3 == "Packages" { print $1; exit }')}
  echo "${mirror:-http://deb.debian.org/debian}"
}

# A fresh, empty staging directory $1 for a root to be made in.
new_staging() {
  rm -rf --one-file-system "$1"
  mkdir -p "$1"
}

# Keeps the root made in staging directory $1 as tarball $2 (written under
# another name first, so an interrupted run leaves no half tarball), without
# the packages it downloaded, removes the staging directory and says how
# long it took since $3 (a $SECONDS value).
keep_root() {
  rm -f "$1"/var/cache/apt/archives/*.deb
  tar -C "$1" --numeric-owner -cf "$2.part" .
  mv "$2.part" "$2"
  rm -rf --one-file-system "$1"
  say "root made in $((SECONDS - $3)) s, kept as $2"
}
