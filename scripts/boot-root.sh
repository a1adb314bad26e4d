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
  "operating-guide | docs/operating.md's commands as it shows them: a default, a setting saved and forgotten, a user let in"
)
stage=boot
source "$(dirname "$0")/lib/booted-root.sh"
if [[ ${1:-} == --list ]]; then
  list_checks
  exit 0
fi
if [[ $# -ne 2 ]]; then
  echo "usage: $0 WORK_DIR PACKAGE_DIR | --list" >&2
  exit 2
fi
require_booting "$@"
make_root "$1"
add_packages "$2" /srv/isputils

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
  local all known debs=/srv/isputils   # where add_packages put them
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

# The commands that docs/operating.md shows an operator, each written here as
# the guide writes it: its command check finds every line of the guide's
# blocks in this file, so the guide cannot show one that this does not run.
check_operating_guide() {
  local output
  inside sh -c "echo 'vendor.camera.hdr = on' | tee /etc/camera/properties.d/50-hdr.conf" >/dev/null ||
    nope "cannot write a file of defaults" || return 1
  output=$(inside camprop load 2>&1) || saw "camprop load exits $?: $output"
  expect_value vendor.camera.hdr on
  output=$(inside camprop set persist.qvx.camera.log_level 3 2>&1) ||
    nope "camprop set persist.qvx.camera.log_level 3 failed: $output" || return 1
  wait_saved persist.qvx.camera.log_level 3 || return 1
  output=$(inside cat /var/lib/camera/persist.properties 2>&1)
  grep -qxF persist.qvx.camera.log_level=3 <<<"$output" ||
    saw "cat of the saved file shows no persist.qvx.camera.log_level=3: $(tr '\n' ' ' <<<"$output")"
  output=$(inside camprop persist forget persist.qvx.camera.log_level 2>&1) ||
    saw "camprop persist forget exits $?: $output"
  ! saved_names persist.qvx.camera.log_level || saw "after forget the saved file still names the key"
  # A camera process's user, let in through the group.
  inside useradd --system --user-group --no-create-home camerad &&
    inside usermod -aG camera camerad || nope "cannot add the user camerad to the group camera" || return 1
  output=$(inside setpriv --reuid camerad --regid camerad --init-groups camprop get vendor.camera.hdr 2>&1)
  [[ $output == on ]] || saw "camerad, in the group camera, reads vendor.camera.hdr as '$output', expected on"
}

run_checks
