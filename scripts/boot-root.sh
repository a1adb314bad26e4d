#!/usr/bin/env bash
# The packages on a live system: a minimal Debian 12 root with systemd as
# PID 1, booted under systemd-nspawn, where the packages are installed with
# apt and the checks of the table below run as an administrator would, across
# real poweroffs and boots and one hard kill. Each check prints PASS or FAIL
# with its name; the run exits 1 naming the first check that failed.
#
#   scripts/boot-root.sh WORK_DIR PACKAGE_DIR   boot, install, check
#   scripts/boot-root.sh --list                 the checks
#
# PACKAGE_DIR holds the .deb files of scripts/package.sh. The root (debootstrap
# --variant=minbase bookworm, with systemd, systemd-sysv, dbus and adduser) is
# made once per machine and kept as WORK_DIR/bookworm-systemd.tar; each run
# boots a new copy of it in WORK_DIR/root (kept after a failure, for a look
# inside, with the console and apt logs beside it). The container has no
# network (--private-network): every dependency of the packages is already
# in the root. Needs root (sudo otherwise) and systemd-nspawn; making the
# root needs Debian's archive (BOOT_MIRROR names it, as FRESH_MIRROR does
# for scripts/fresh-root.sh). Where systemd-nspawn cannot boot (not root,
# root of a user namespace, namespaces refused, or a boot that does not come
# up) the run fails saying why: nothing here is skipped.
set -euo pipefail

# The checks, in the order they run: each is a function check_<name> (dashes
# as underscores). They share one container and build on each other's
# packages, but each brings its own keys, defaults files and boots; the
# runner removes every defaults file after each check.
check_table=(
  "boot            | the root boots with systemd as PID 1 and reaches running"
  "install-split   | libpropstore1 and libpropstore-common, later isputils-tools: both units run"
  "reinstall       | isputils-tools reinstalled: both units still run"
  "remove          | isputils-tools removed: both units stopped"
  "install-all     | all packages purged, then every .deb installed at once: both units run"
  "store-at-boot   | after a boot: the store 0660 root:camera in /run/camera 3770 root:camera; records 0640"
  "root-umask-set  | root with umask 022 sets a key where no store exists: the group can write the new store"
  "state-modes     | /var/lib/camera 0750 camera-properties:camera; the saved file and .bad 0640"
  "saved-wins      | a saved setting beats its default after camprop load, a restart and a boot"
  "default-follows | a default nobody set is not saved, nor a key set to its default; an edited default applies"
  "forget          | persist forget drops the key from the saved file at once; its default returns at boot"
  "stop-locked     | the store's lock held by another process: camera-persist stops on SIGTERM, not killed"
  "exact-values    | values with blanks, a tab, a newline, backslashes, a key with '=': back after a boot"
  "hard-kill       | the container killed right after a save: the value returns, the saved file is sound"
  "bad-defaults    | a bad file: the others applied, it not at all, saved settings restored, unit failed, warning"
  "sysctl-rules    | a *.conf directory, a /dev/null link, ';' comments, '-' lines, a byte-order mark"
)
if [[ ${1:-} == --list ]]; then
  for row in "${check_table[@]}"; do
    printf '%-16s %s\n' "$(sed -E 's/ *\|.*//' <<<"$row")" "$(sed -E 's/^[^|]*\| *//' <<<"$row")"
  done
  exit 0
fi
if [[ $# -ne 2 ]]; then
  echo "usage: $0 WORK_DIR PACKAGE_DIR | --list" >&2
  exit 2
fi

say() { printf 'boot: %s\n' "$*"; }
fail() { echo "boot: $*" >&2; exit 1; }
source "$(dirname "$0")/lib/debian-root.sh"

if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo --preserve-env=BOOT_MIRROR bash "$0" "$@"
  fi
  fail "systemd-nspawn boots a container only as root, and this is uid $(id -u) without" \
       "sudo: the boot checks cannot run here"
fi
command -v systemd-nspawn >/dev/null ||
  fail "systemd-nspawn is missing (Debian's systemd-container): the boot checks cannot run"
# Root of a user namespace (a rootless container) or a container that
# refuses namespaces cannot boot one: say so now, not after the root is made.
if [[ $(awk '{ print $1, $2, $3 }' /proc/self/uid_map) != "0 0 4294967295" ]]; then
  fail "this is root of a user namespace (uid map: $(awk '{ print $1, $2, $3 }' /proc/self/uid_map | paste -sd,))" \
       "without the machine's privileges: systemd-nspawn cannot boot the root here"
fi
unshare --mount --uts --ipc --net --pid --fork true 2>/dev/null ||
  fail "new namespaces are refused here (a container without privilege?): systemd-nspawn" \
       "cannot boot the root"
mkdir -p "$1"
work=$(cd "$1" && pwd)
packages=$(cd "$2" && pwd)
rootfs=$work/root
tarball=$work/bookworm-systemd.tar
# What the root holds beyond minbase: systemd as init, the bus systemctl
# talks over, and everything the packages depend on (adduser for the
# system user; the C and C++ runtimes come with minbase).
root_packages=systemd,systemd-sysv,dbus,adduser

# --- the root, once per machine --------------------------------------------

if [[ ! -f $tarball || $(cat "$tarball.packages" 2>/dev/null) != "$root_packages" ]]; then
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
# The packages, where apt inside finds them by path.
debs=/srv/isputils
mkdir -p "$rootfs$debs"
compgen -G "$packages/*.deb" >/dev/null || fail "no .deb in $packages: run scripts/package.sh first"
cp "$packages"/*.deb "$rootfs$debs/"
deb() {  # package: its file inside the container
  local file
  file=$(cd "$rootfs$debs" && ls -1 "${1}"_*.deb 2>/dev/null | head -n 1)
  [[ -n $file ]] || { echo "no ${1}_*.deb in $packages" >&2; return 1; }
  echo "$debs/$file"
}
for package in libpropstore1 libpropstore-common isputils-tools; do
  deb "$package" >/dev/null || fail "the packages are missing: run scripts/package.sh first"
done
say "packages of $packages, built $(stat -c %y "$packages/$(basename "$(deb isputils-tools)")" | cut -d. -f1)"

# --- the container -----------------------------------------------------------

nspawn=        # systemd-nspawn's PID while the container runs
leader=        # the container's PID 1, as this machine numbers it
boots=0
apt_log=$work/apt.log
: >"$apt_log"

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
  local console=$work/console.$boots state=
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
defaults=$rootfs/etc/camera/properties.d   # written from outside: the same files

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

# --- the checks --------------------------------------------------------------

check_boot() {
  start_container || return 1
  local init
  init=$(inside cat /proc/1/comm)
  [[ $init == systemd ]] || nope "PID 1 of the container is $init"
}

check_install_split() {
  apt_in install "$(deb libpropstore1)" "$(deb libpropstore-common)" &&
    apt_in install "$(deb isputils-tools)" &&
    units_are active
}

# Each from both units running, whatever the install left.
start_units() {
  inside systemctl start camera-properties.service camera-persist.service >/dev/null 2>&1 &&
    units_are active || nope "before it, the units do not run: $why"
}

check_reinstall() {
  start_units && apt_in install --reinstall "$(deb isputils-tools)" && units_are active
}

check_remove() {
  start_units && apt_in remove isputils-tools || return 1
  local props persist
  both_stopped() {
    props=$(unit_state camera-properties.service)
    persist=$(unit_state camera-persist.service)
    [[ $props != active/* && $props != activating/* && $persist != active/* && $persist != activating/* ]]
  }
  poll 10 both_stopped || nope "after the removal camera-properties is $props, camera-persist is $persist"
}

check_install_all() {
  local all known
  known=$(inside dpkg-query -W -f '${Package}\n' libpropstore1 libpropstore-common isputils-tools 2>/dev/null)
  if [[ -n $known ]]; then
    # shellcheck disable=SC2086 # package names
    apt_in purge $known || { fatal=1; return 1; }
  fi
  all=$(cd "$rootfs$debs" && ls -1 ./*.deb | sed "s|^\./|$debs/|")
  # shellcheck disable=SC2086 # one path a line, none with a blank
  apt_in install $all || { fatal=1; return 1; }
  units_are active
}

check_store_at_boot() {
  reboot_container && units_are active || return 1
  expect_mode /run/camera "3770 root camera"
  expect_mode /run/camera/property_storage "0660 root camera"
  # Rewritten by the boot's load, never writable by the group.
  expect_mode /run/camera/persist_defaults "0640 camera-properties camera"
  expect_mode /run/camera/persist_forgotten "0640 camera-properties camera"
}

check_root_umask_set() {
  local output mode
  output=$(inside sh -c 'umask 022 && rm -f /run/camera/property_storage &&
                         camprop set vendor.boot-check.x 1' 2>&1) ||
    nope "camprop set failed: $output" || return 1
  mode=$(mode_of /run/camera/property_storage)
  # The boot-time file again, for what follows.
  inside systemd-tmpfiles --create >/dev/null 2>&1 || true
  (( 8#${mode%% *} & 8#020 )) && [[ ${mode##* } == camera ]] ||
    nope "the store root made is $mode: its group cannot write it"
}

check_state_modes() {
  barrier || return 1   # the saved file exists
  expect_mode /var/lib/camera "0750 camera-properties camera"
  expect_mode "$saved" "0640 * *"
  # A damaged line: the restore keeps the file as .bad.
  inside systemctl stop camera-persist.service
  inside sh -c "echo 'not a setting' >>$saved"
  inside systemctl restart camera-properties.service || saw "camera-properties failed to restart"
  if inside test -e "$saved.bad"; then
    expect_mode "$saved.bad" "0640 * *"
  else
    saw "no $saved.bad after restoring a file with a damaged line"
  fi
  inside sh -c "rm -f $saved.bad; if [ -f $saved ]; then sed -i '/^not a setting\$/d' $saved; fi"
  inside systemctl start camera-persist.service
  units_are active
}

check_saved_wins() {
  printf 'persist.x=2\n' >"$defaults/50-check.conf"
  inside camprop load >/dev/null 2>&1 && value_is persist.x 2 || return 1
  set_key persist.x 3 && wait_saved persist.x 3 || return 1
  inside camprop load >/dev/null 2>&1 || saw "camprop load failed"
  value_is persist.x 3 || saw "after camprop load: $why"
  # Each way on its own: set again whatever the last one did.
  set_key persist.x 3 && wait_saved persist.x 3 || return 1
  inside systemctl restart camera-properties.service || saw "camera-properties failed to restart"
  value_is persist.x 3 || saw "after a restart of camera-properties: $why"
  set_key persist.x 3 && wait_saved persist.x 3 || return 1
  reboot_container && units_are active || return 1
  value_is persist.x 3 || saw "after a boot: $why"
}

check_default_follows() {
  printf 'persist.d=1\n' >"$defaults/51-follow.conf"
  reboot_container && units_are active && barrier || return 1
  ! saved_names persist.d || saw "after a boot the default nobody set is saved: $(inside grep persist.d "$saved")"
  set_key persist.d 1 && barrier || return 1
  ! saved_names persist.d || saw "set to its default's value, the key is saved"
  printf 'persist.d=7\n' >"$defaults/51-follow.conf"
  reboot_container && units_are active || return 1
  value_is persist.d 7 || saw "the edited default did not apply: $why"
}

check_forget() {
  local output
  printf 'persist.f=4\n' >"$defaults/52-forget.conf"
  inside camprop load >/dev/null 2>&1 || return 1
  set_key persist.f 9 && wait_saved persist.f 9 || return 1
  output=$(inside camprop persist forget persist.f 2>&1) ||
    nope "camprop persist forget persist.f failed (exit $?): $(head -n 1 <<<"$output")" || return 1
  ! saved_names persist.f || nope "right after forget the saved file still names persist.f" || return 1
  barrier || return 1
  ! saved_names persist.f || saw "the watch saved persist.f again after forget"
  reboot_container && units_are active || return 1
  value_is persist.f 4 || saw "after a boot: $why"
}

check_stop_locked() {
  local result
  start_units || return 1
  inside systemd-run --unit=boot-check-lock flock -x /run/camera/property_storage sleep 300 \
    >/dev/null 2>&1 || nope "cannot start a holder of the store's lock" || return 1
  lock_held() { ! inside flock -n /run/camera/property_storage true; }
  poll 10 lock_held || nope "the store's lock was not taken" || return 1
  # A change of the file's attributes wakes the watch, which then waits for
  # the lock (the kernel names the wait); the stop's SIGTERM must end it.
  inside chmod 0660 /run/camera/property_storage
  watch_waits() {
    inside cat "/proc/$(inside systemctl show -P MainPID camera-persist.service)/wchan" |
      grep -q lock
  }
  poll 10 watch_waits || nope "the watch did not wait for the store's lock" || return 1
  inside systemctl stop camera-persist.service
  result=$(inside systemctl show -P Result camera-persist.service)
  inside systemctl stop boot-check-lock.service
  [[ $result == success ]] || nope "camera-persist stopped with result $result, expected success"
  inside systemctl start camera-persist.service
  units_are active
}

# Values each line of the saved file must carry: blanks at the ends, control
# bytes, backslashes (escapes and all), and a key that holds '='.
exact_keys=(persist.lvl persist.tab persist.nl persist.trail persist.bs persist.a=b)
exact_values=(" 5" $'a\tb' $'a\nb' 'x ' 'a\b\x41\' x)
check_exact_values() {
  local i
  set_key persist.lvl 3 && wait_saved persist.lvl 3 || return 1
  for i in "${!exact_keys[@]}"; do set_key "${exact_keys[$i]}" "${exact_values[$i]}" || return 1; done
  barrier || return 1
  reboot_container && units_are active || return 1
  for i in "${!exact_keys[@]}"; do expect_value "${exact_keys[$i]}" "${exact_values[$i]}"; done
}

check_hard_kill() {
  local output
  inside rm -f "$saved.bad"
  set_key persist.k v1 && wait_saved persist.k v1 || return 1
  kill_container
  start_container && units_are active || return 1
  expect_value persist.k v1
  ! inside test -e "$saved.bad" || saw "$saved.bad appeared"
  output=$(inside camprop persist restore 2>&1) || saw "camprop persist restore exits $?"
  [[ -z $output ]] || saw "camprop persist restore reports: $output"
}

check_bad_defaults() {
  local journal
  printf 'vendor.good=1\n' >"$defaults/10-good.conf"
  printf 'vendor.half=1\nthis line has no equals sign\n' >"$defaults/20-bad.conf"
  set_key persist.badcase 5 && wait_saved persist.badcase 5 || return 1
  reboot_container || return 1
  expect_value vendor.good 1
  expect_unset vendor.half
  expect_value persist.badcase 5
  units_are failed || saw "$why"
  inside systemctl --failed --plain --no-legend | grep -q '^camera-properties\.service' ||
    saw "systemctl --failed does not list camera-properties.service"
  journal=$(inside journalctl -b -p warning -u camera-properties.service --no-pager -o cat)
  grep -qE '20-bad\.conf[^0-9]*2([^0-9]|$)' <<<"$journal" ||
    saw "no line of priority warning or above names 20-bad.conf and line 2${journal:+ (they are: $(tr '\n' ' ' <<<"$journal"))}"
}

check_sysctl_rules() {
  mkdir "$defaults/sub.conf"
  printf 'vendor.insub=1\n' >"$defaults/sub.conf/inner.conf"
  ln -s /dev/null "$defaults/masked.conf"
  printf '; a comment, as in sysctl.d\n;vendor.semi=1\nvendor.semi.after=1\n' >"$defaults/30-semi.conf"
  printf -- '-vendor.bad\nvendor.dash=1\n' >"$defaults/35-dash.conf"
  printf '\xef\xbb\xbfvendor.bom=1\n' >"$defaults/40-bom.conf"
  printf 'vendor.beside=1\n' >"$defaults/60-beside.conf"
  reboot_container || return 1
  units_are active || saw "$why"
  expect_value vendor.beside 1
  expect_unset vendor.insub
  expect_value vendor.semi.after 1
  expect_unset ';vendor.semi'
  expect_value vendor.dash 1
  expect_value vendor.bom 1
  expect_unset $'\xef\xbb\xbfvendor.bom'
}

# --- the run -----------------------------------------------------------------

started_all=$SECONDS
first_failed=
failed_count=0
passed_count=0
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
