# Checks that scripts/check-packages.sh (amd64) and check-packages-arm64.sh
# make alike on built packages. Sourced; the caller defines step and fail,
# and sets root (the source tree), dir (the packages), version, arch,
# multiarch, work (a scratch directory) and the array packages.

deb() {  # package: its file (an architecture-independent one is _all)
  local file=$dir/${1}_${version}_${arch}.deb
  [[ -f $file ]] || file=$dir/${1}_${version}_all.deb
  echo "$file"
}

listing() {  # deb: its files and links, "-> target" for links; no directories
  dpkg-deb -c "$1" | awk '$6 !~ /\/$/ {
    line = $6; if ($7 == "->") line = line " -> " $8
    sub(/^\.\//, "", line); print line }'
}

# Every package of debian/control holds exactly the files of
# tests/packages/contents.txt, and each debug-symbol package debug files
# only; $1, when given, is a directory to unpack all of them into.
check_contents() {
  local unpack=${1:-} package file debug stray
  step "contents of ${#packages[@]} packages (version $version, $arch)"
  for package in "${packages[@]}"; do
    file=$(deb "$package")
    [[ -f $file ]] || fail "missing $file"
    echo "$(basename "$file"): $(stat -c %s "$file") bytes"
    listing "$file" | sed "s|^|    |"
    listing "$file" | sed "s|/$multiarch/|/{multiarch}/|; s|^|$package |" >>"$work/actual"
    [[ -z $unpack ]] || dpkg -x "$file" "$unpack"
  done
  grep -v '^#' "$root/tests/packages/contents.txt" | LC_ALL=C sort >"$work/expected"
  LC_ALL=C sort -o "$work/actual" "$work/actual"
  diff -u --label expected --label built "$work/expected" "$work/actual" ||
    fail "package contents differ from tests/packages/contents.txt (- missing, + unexpected)"
  for debug in "$dir"/*-dbgsym_"${version}_${arch}".deb; do
    [[ -f $debug ]] || continue
    echo "$(basename "$debug"): $(stat -c %s "$debug") bytes"
    stray=$(listing "$debug" | grep -v -e '^usr/lib/debug/' -e '^usr/share/doc/' || true)
    [[ -z $stray ]] || fail "$(basename "$debug") holds more than debug files: $stray"
    [[ -z $unpack ]] || dpkg -x "$debug" "$unpack"
  done
}

# lintian finds no error; warnings and notes are shown. Expected: the
# stand-ins' package is named after none of its SONAMEs, being one package
# on purpose (a device drops it whole), and no library has a symbols file
# (tests/abi/ pins the exports instead).
check_lintian() {
  step "lintian"
  lintian --fail-on error --display-info --tag-display-limit 0 \
    "$dir/isputils_${version}_${arch}.changes" || fail "lintian reported errors (above)"
}

# The packages unpacked in $1: no ELF file carries a library search path
# (lintian lets "$ORIGIN" pass, so the package build's removal of it is
# checked here), and the pkg-config files name /usr.
check_unpacked_paths() {
  local pc
  step "search paths and pkg-config files"
  bash "$root/scripts/check-runpath.sh" --none "$1" ||
    fail "packaged files carry a library search path (listed above)"
  for pc in "$1/usr/lib/$multiarch"/pkgconfig/*.pc; do
    echo "$(basename "$pc"): $(head -3 "$pc" | paste -sd ' ')"
    [[ $(head -3 "$pc") == $'prefix=/usr\nlibdir=${prefix}/lib/'"$multiarch"$'\nincludedir=${prefix}/include' ]] ||
      fail "$(basename "$pc") does not give prefix=/usr with libdir and includedir under it"
  done
}
