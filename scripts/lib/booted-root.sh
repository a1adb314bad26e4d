# The machinery of the stages that check the packages on a minimal Debian 12
# root booted with systemd as PID 1 under systemd-nspawn (boot-root.sh,
# upgrade-root.sh): the root, made once per machine and kept as a tarball;
# a fresh copy of it for each run; booting, powering off and killing the
# container; commands run inside it; the helpers of the checks; and the run
# of a table of named checks, each printing PASS or FAIL. Sourced, after the
# caller has set `stage` (its name in messages) and `check_table` (rows
# "name | what it checks"; each name a function check_<name>, dashes as
# underscores).

say() { printf '%s: %s\n' "$stage" "$*"; }
fail() { echo "$stage: $*" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/debian-root.sh"

# Prints the table of checks, for --list.
list_checks() {
  local row
  for row in "${check_table[@]}"; do
    printf '%-16s %s\n' "$(sed -E 's/ *\|.*//' <<<"$row")" "$(sed -E 's/^[^|]*\| *//' <<<"$row")"
  done
}

# Runs the calling script again under sudo where it is not root, or fails
# saying why no container can boot here. Takes the script's arguments.
require_booting() {
  if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
      exec sudo --preserve-env=BOOT_MIRROR bash "$0" "$@"
    fi
    fail "systemd-nspawn boots a container only as root, and this is uid $(id -u) without" \
         "sudo: the $stage checks cannot run here"
  fi
  command -v systemd-nspawn >/dev/null ||
    fail "systemd-nspawn is missing (Debian's systemd-container): the $stage checks cannot run"
  # Root of a user namespace (a rootless container) or a container that
  # refuses namespaces cannot boot one: say so now, not after the root is made.
  if [[ $(awk '{ print $1, $2, $3 }' /proc/self/uid_map) != "0 0 4294967295" ]]; then
    fail "this is root of a user namespace (uid map: $(awk '{ print $1, $2, $3 }' /proc/self/uid_map | paste -sd,))" \
         "without the machine's privileges: systemd-nspawn cannot boot the root here"
  fi
  unshare --mount --uts --ipc --net --pid --fork true 2>/dev/null ||
    fail "new namespaces are refused here (a container without privilege?): systemd-nspawn" \
         "cannot boot the root"
}

# What the root holds beyond minbase: systemd as init, the bus systemctl
# talks over, and everything the packages depend on (adduser for the
# system user; the C and C++ runtimes come with minbase).
root_packages=systemd,systemd-sysv,dbus,adduser

# Makes WORK_DIR/root-STAGE a fresh copy of the root, making the root first
# when this machine has none (WORK_DIR/bookworm-systemd.tar, which the
# stages share). Sets work, rootfs and tarball.
make_root() {  # work dir
  mkdir -p "$1"
  work=$(cd "$1" && pwd)
  rootfs=$work/root-$stage
  tarball=$work/bookworm-systemd.tar
  if [[ ! -f $tarball || $(cat "$tarball.packages" 2>/dev/null) != "$root_packages" ]]; then
    local mirror started staging
    mirror=$(bookworm_mirror "${BOOT_MIRROR:-}")
    command -v debootstrap >/dev/null || fail "debootstrap is missing: it makes the root"
    say "making a Debian 12 root with $root_packages (debootstrap --variant=minbase bookworm $mirror)"
    started=$SECONDS
    staging=$work/staging
    new_staging "$staging"
    debootstrap --variant=minbase --include="$root_packages" bookworm "$staging" "$mirror" \
      >"$work/debootstrap.log" 2>&1 ||
      fail "debootstrap failed (is Debian's archive at $mirror reachable? set BOOT_MIRROR);" \
           "see $work/debootstrap.log"
    # A journal kept on disk, so that a failure can show what the units said
    # in a boot that has ended; each copy gets a machine ID of its own.
    mkdir -p "$staging/var/log/journal"
    : >"$staging/etc/machine-id"
    keep_root "$staging" "$tarball" "$started"
    echo "$root_packages" >"$tarball.packages"
  fi
  rm -rf --one-file-system "$rootfs"
  mkdir -p "$rootfs"
  tar -C "$rootfs" --numeric-owner -xf "$tarball"
  systemd-id128 new >"$rootfs/etc/machine-id"
  defaults=$rootfs/etc/camera/properties.d   # written from outside: the same files
  apt_log=$work/apt-$stage.log
  : >"$apt_log"
}

# Copies the .deb files of PACKAGE_DIR into the root at INSIDE_DIR, where
# apt inside finds them by path (deb), and says when they were built.
add_packages() {  # package dir, directory inside
  local packages
  packages=$(cd "$1" && pwd)
  compgen -G "$packages/*.deb" >/dev/null || fail "no .deb in $packages: run scripts/package.sh first"
  mkdir -p "$rootfs$2"
  cp "$packages"/*.deb "$rootfs$2/"
  local package
  for package in libpropstore1 libpropstore-common isputils-tools; do
    deb "$package" "$2" >/dev/null || fail "the packages of $packages are missing $package"
  done
  say "packages of $packages, built $(stat -c %y "$rootfs$(deb isputils-tools "$2")" | cut -d. -f1)"
}

# The file inside the container of PACKAGE among those added at DIR
# (default /srv/isputils).
deb() {  # package, [directory inside]
  local dir=${2:-/srv/isputils} file
  file=$(cd "$rootfs$dir" && ls -1 "${1}"_*.deb 2>/dev/null | head -n 1)
  [[ -n $file ]] || { echo "no ${1}_*.deb in $dir" >&2; return 1; }
  echo "$dir/$file"
}

# --- the container -----------------------------------------------------------

nspawn=        # systemd-nspawn's PID while the container runs
leader=        # the container's PID 1, as this machine numbers it
boots=0

# Runs a command in the container, as root, with a clean environment.
inside() {
  timeout --kill-after=5 "${inside_timeout:-120}" \
    nsenter --target "$leader" --mount --uts --ipc --net --pid --root --wd -- \
    /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM=dumb "$@"
}

# Polls a command every 0.2 s until it succeeds, for at most SECONDS.
poll() {  # seconds, command...
  local deadline=$((${EPOCHREALTIME/./} + $1 * 1000000))
  shift
  until "$@"; do
    ((${EPOCHREALTIME/./} < deadline)) || return 1
    sleep 0.2
  done
}

running() { [[ -n $nspawn ]] && [[ -e /proc/$nspawn ]] && [[ $(cut -d' ' -f3 "/proc/$nspawn/stat") != Z ]]; }
gone() { ! running; }

# nspawn's child that is PID 1 of its own namespace and runs systemd.
find_leader() {
  local child
  for child in $(cat "/proc/$nspawn"/task/*/children 2>/dev/null); do
    if [[ $(awk '/^NSpid:/ { print $NF }' "/proc/$child/status" 2>/dev/null) == 1 &&
          $(cat "/proc/$child/comm" 2>/dev/null) == systemd ]]; then
      leader=$child
      return 0
    fi
  done
  return 1
}

why=          # what the failing step of a check saw
problems=()   # what a check saw wrong without stopping at it
nope() { why=$*; return 1; }
saw() { problems+=("$*"); }

start_container() {
  boots=$((boots + 1))
  local console=$work/console-$stage.$boots state=
  systemd-nspawn -b --register=no --keep-unit --private-network -D "$rootfs" \
    </dev/null >"$console" 2>&1 &
  nspawn=$!
  leader=
  if ! poll 30 find_leader; then
    running || { wait "$nspawn" || true; nspawn=; nope "systemd-nspawn could not boot the root (no privilege to make" \
                              "namespaces here?): $(tail -n 3 "$console" | tr '\n' ' ')"; return 1; }
    nope "no systemd as PID 1 of the container within 30 s"
    return 1
  fi
  # Until systemd listens, systemctl cannot reach it: ask again.
  local deadline=$((SECONDS + 90))
  until state=$(inside_timeout=90 inside systemctl is-system-running --wait 2>/dev/null);
        [[ $state == running || $state == degraded ]]; do
    ((SECONDS < deadline)) || { nope "the container did not come up in 90 s (${state:-no answer})"; return 1; }
    sleep 0.5
  done
}

poweroff_container() {
  inside systemctl poweroff >/dev/null 2>&1 || true
  if ! poll 60 gone; then
    kill_container
    nope "the container did not power off within 60 s"
    return 1
  fi
  wait "$nspawn" || true
  nspawn=
}

# As a power cut is to its processes: SIGKILL for the container's PID 1,
# which ends every process in it at once.
kill_container() {
  [[ -n $nspawn ]] || return 0
  kill -KILL "$leader" 2>/dev/null || true
  poll 30 gone || kill -KILL "$nspawn" 2>/dev/null || true
  wait "$nspawn" 2>/dev/null || true
  nspawn=
}
trap kill_container EXIT

reboot_container() { poweroff_container && start_container; }

# The state of a unit, as "ActiveState/SubState".
unit_state() { inside systemctl show -P ActiveState -P SubState "$1" | paste -sd/; }

# The two units are as a check expects them after a boot or an install:
# camera-properties.service EXPECTED (active or failed), camera-persist.service
# running, and no other unit failed.
units_are() {  # expected state of camera-properties
  local props persist failed want_failed=
  [[ $1 != failed ]] || want_failed=camera-properties.service
  units_as_expected() {
    props=$(unit_state camera-properties.service)
    persist=$(unit_state camera-persist.service)
    failed=$(inside systemctl list-units --state=failed --plain --no-legend | awk '{ print $1 }' | paste -sd' ')
    [[ $props == "$1"/* && $persist == active/running && $failed == "$want_failed" ]]
  }
  poll 10 units_as_expected "$1" && return 0
  local wrong=()
  [[ $props == "$1"/* ]] || wrong+=("camera-properties is $props, expected $1")
  [[ $persist == active/running ]] || wrong+=("camera-persist is $persist, expected active/running")
  [[ $failed == "$want_failed" ]] || wrong+=("failed units: ${failed:-none}, expected ${want_failed:-none}")
  nope "$(printf '%s; ' "${wrong[@]}" | sed 's/; $//')"
}

# What a failed check shows: what the units logged since it started, in
# every boot it made (the journal is on the root's disk, read from outside).
show_journal() {  # since (a time of journalctl's --since)
  echo "    the units' journal since the check began:"
  journalctl -D "$rootfs/var/log/journal" --no-pager -o short-precise --since "$1" -n 60 \
    -u camera-properties.service -u camera-persist.service 2>&1 | sed 's/^/    | /'
}

# --- what the checks use -----------------------------------------------------

saved=/var/lib/camera/persist.properties

apt_in() {  # apt-get arguments...
  echo "--- apt-get $*" >>"$apt_log"
  inside env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends "$@" \
    >>"$apt_log" 2>&1 || nope "apt-get $* failed: $(tail -n 3 "$apt_log" | tr '\n' ' ')"
}

# The mode, owner and group of a file in the container, as "0640 root camera".
mode_of() { inside stat -c '%04a %U %G' "$1" 2>&1; }
expect_mode() {  # path, expected "MODE OWNER GROUP" (a "*" matches anything)
  local got
  got=$(mode_of "$1")
  # shellcheck disable=SC2053 # the expected text is a pattern
  [[ $got == $2 ]] || saw "$1 is $got, expected $2"
}

# The value camprop get prints for a key, the newline included, compared
# byte for byte.
value_is() {  # key, expected value
  local got status
  # The exit status on a line of its own after the output, which the
  # command substitution then keeps whole, its newlines included.
  got=$(inside camprop get -- "$1" 2>/dev/null; printf '\n%s' "$?")
  status=${got##*$'\n'}
  got=${got%$'\n'*}
  if ((status != 0)); then
    nope "$(printf %q "$1") is not set (camprop get exits $status), expected $(printf %q "$2")"
  elif [[ $got != "$2"$'\n' ]]; then
    nope "$(printf %q "$1") is $(printf %q "${got%$'\n'}"), expected $(printf %q "$2")"
  fi
}
expect_value() { value_is "$@" || saw "$why"; }
expect_unset() {  # key
  local got
  if got=$(inside camprop get -- "$1" 2>/dev/null); then saw "$(printf %q "$1") is stored ($(printf %q "$got")), expected not set"; fi
}

set_key() {  # key, value
  local output
  output=$(inside camprop set -- "$1" "$2" 2>&1) ||
    nope "camprop set $(printf %q "$1") $(printf %q "$2") failed: $output"
}

# The saved file holds the line KEY=VALUE (plain keys and values only).
saved_line() { inside grep -qxF -- "$1=$2" "$saved" 2>/dev/null; }
wait_saved() {  # key, value: within 5 s, as the watch promises a second
  poll 5 saved_line "$1" "$2" ||
    nope "within 5 s the saved file did not hold $1=$2; it holds: $(inside cat "$saved" 2>&1 | tail -n 5 | tr '\n' ' ')"
}
# Any line of the saved file names the key (a plain one).
saved_names() { inside grep -qE "^[[:blank:]]*${1//./\\.}[[:blank:]]*=" "$saved" 2>/dev/null; }

# A key set after the others and seen saved: the watch saves whole
# snapshots of the store, so whatever it would save of what was set before
# is in the file too. Its value changes at every use.
barrier_count=0
barrier() {
  barrier_count=$((barrier_count + 1))
  set_key persist.boot-check.barrier "$barrier_count" &&
    wait_saved persist.boot-check.barrier "$barrier_count"
}

# --- the run -----------------------------------------------------------------

# Runs the checks of check_table in order, each from a running container with
# no defaults files, and ends the script: 0 when all passed, 1 naming the
# first that failed (the root kept for a look inside). A failure of `boot`,
# or of a check that sets `fatal`, stops the run.
run_checks() {
  started_all=$SECONDS
  first_failed=
  failed_count=0
  passed_count=0
  local row name status started since
  for row in "${check_table[@]}"; do
    name=$(sed -E 's/ *\|.*//' <<<"$row")
    why=
    problems=()
    fatal=0
    started=$SECONDS
    since=$(date '+%Y-%m-%d %H:%M:%S')
    status=0
    "check_${name//-/_}" || status=$?
    if ((status == 0 && ${#problems[@]} == 0)); then
      printf 'PASS %-16s %3d s\n' "$name" $((SECONDS - started))
      passed_count=$((passed_count + 1))
    else
      ((status == 0)) || [[ -z $why ]] || problems=("$why" "${problems[@]}")
      ((${#problems[@]})) || problems=("(no reason given)")
      printf 'FAIL %-16s %3d s  %s\n' "$name" $((SECONDS - started)) "$(printf '%s; ' "${problems[@]}" | sed 's/; $//')"
      failed_count=$((failed_count + 1))
      first_failed=${first_failed:-$name}
      show_journal "$since"
      if [[ $name == boot ]] || ((fatal)); then
        say "the later checks need what $name does: not run"
        break
      fi
    fi
    # What the next check starts from: a running container, no defaults.
    rm -rf --one-file-system "${defaults:?}"/* "${defaults:?}"/.[!.]* 2>/dev/null || true
    if ! running; then
      why=
      start_container || { say "the container does not boot again: $why"; first_failed=${first_failed:-$name}; break; }
    fi
  done
  if running; then poweroff_container || kill_container; fi
  say "$passed_count passed, $failed_count failed, $boots boots, $((SECONDS - started_all)) s"
  if [[ -n $first_failed ]]; then
    say "first failing check: $first_failed (the root is kept in $rootfs; logs in $work)"
    exit 1
  fi
  rm -rf --one-file-system "$rootfs"
}
