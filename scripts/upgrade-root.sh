#!/usr/bin/env bash
# The upgrade of a device that runs the previous release: on the booted
# Debian 12 root of the boot stage, the previous release's packages are
# installed by apt from a local repository, its services run and an
# operator's persist. setting is saved; then apt-get dist-upgrade takes
# this release's packages from a second local repository, as a device's
# update would. Each check prints PASS or FAIL with its name; the run exits
# 1 naming the first check that failed.
#
#   scripts/upgrade-root.sh WORK_DIR PACKAGE_DIR PREVIOUS_DIR   boot, install, upgrade, check
#   scripts/upgrade-root.sh --list                              the checks
#
# PACKAGE_DIR holds this release's .deb files (scripts/package.sh),
# PREVIOUS_DIR the previous release's (scripts/previous-release.sh). The
# root is the boot stage's (WORK_DIR/bookworm-systemd.tar, made when
# missing); the container has no network, and apt inside knows only the two
# local repositories. Needs root, as the boot stage does.
set -euo pipefail

check_table=(
  "boot             | the root boots with systemd as PID 1 and reaches running"
  "install-previous | the previous release installed by apt (libraries, tools): both units run"
  "setting          | an operator's persist. setting, saved by the previous release's watch"
  "dist-upgrade     | apt-get dist-upgrade from a repository of this release exits 0"
  "dpkg-clean       | dpkg --audit says nothing; each package of ours is installed at this release"
  "services         | both units run, now from isputils-tools; no unit failed"
  "setting-kept     | the setting is in the store and the saved file; a new one is saved"
  "new-library      | each installed library is this release's file, byte for byte"
  "reboot           | after a boot: both units run, the setting is restored"
)
stage=upgrade
source "$(dirname "$0")/lib/booted-root.sh"
if [[ ${1:-} == --list ]]; then
  list_checks
  exit 0
fi
if [[ $# -ne 3 ]]; then
  echo "usage: $0 WORK_DIR PACKAGE_DIR PREVIOUS_DIR | --list" >&2
  exit 2
fi
require_booting "$@"
make_root "$1"
new_dir=$(cd "$2" && pwd)
add_packages "$3" /srv/previous
add_packages "$2" /srv/isputils
# A device's apt knows its own repositories only: the previous release's
# from the start, this release's once the update comes.
for repository in previous isputils; do
  (cd "$rootfs/srv/$repository" && dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null)
done
mv "$rootfs/etc/apt/sources.list" "$rootfs/etc/apt/sources.list.debian"
echo 'deb [trusted=yes] file:/srv/previous ./' >"$rootfs/etc/apt/sources.list.d/previous.list"

# Versions: the release installed first, and this one.
previous_version=$(dpkg-deb -f "$rootfs$(deb isputils-tools /srv/previous)" Version)
version=$(dpkg-deb -f "$new_dir/$(basename "$(deb isputils-tools)")" Version)
say "from $previous_version to $version"
ours=(libpropstore1 libpropstore-common libplatlog1 libispbuffers1 isputils-tools
      isputils-platform-standins)

# --- the checks --------------------------------------------------------------

check_boot() {
  start_container || return 1
  local init
  init=$(inside cat /proc/1/comm)
  [[ $init == systemd ]] || nope "PID 1 of the container is $init"
}

check_install_previous() {
  apt_in update && apt_in install libpropstore1 libplatlog1 libispbuffers1 isputils-tools || return 1
  # The previous release installed its units without starting them.
  inside systemctl enable --now camera-properties.service camera-persist.service >/dev/null 2>&1
  units_are active
}

check_setting() {
  set_key persist.upgrade.kept before-the-upgrade &&
    wait_saved persist.upgrade.kept before-the-upgrade
}

check_dist_upgrade() {
  echo 'deb [trusted=yes] file:/srv/isputils ./' >"$rootfs/etc/apt/sources.list.d/isputils.list"
  apt_in update && apt_in dist-upgrade || { fatal=1; return 1; }
}

check_dpkg_clean() {
  local audit package installed
  audit=$(inside dpkg --audit 2>&1)
  [[ -z $audit ]] || saw "dpkg --audit: $(tr '\n' ' ' <<<"$audit")"
  for package in "${ours[@]}"; do
    installed=$(inside dpkg-query -W -f '${Version} ${db:Status-Abbrev}' "$package" 2>&1)
    [[ $installed == "$version ii " ]] || saw "$package is '$installed', expected '$version ii '"
  done
}

check_services() {
  local owner
  units_are active || return 1
  owner=$(inside dpkg-query -S /lib/systemd/system/camera-persist.service 2>&1)
  [[ $owner == "isputils-tools: /lib/systemd/system/camera-persist.service" ]] ||
    saw "camera-persist.service belongs to '$owner'"
}

check_setting_kept() {
  value_is persist.upgrade.kept before-the-upgrade || saw "$why"
  saved_line persist.upgrade.kept before-the-upgrade || saw "the saved file lost persist.upgrade.kept"
  set_key persist.upgrade.new after-the-upgrade && wait_saved persist.upgrade.new after-the-upgrade
}

check_new_library() {
  local package file packaged installed extract=$work/upgrade-extract
  for package in libpropstore1 libplatlog1 libispbuffers1; do
    rm -rf "$extract"
    mkdir -p "$extract"
    dpkg-deb -x "$new_dir/$(basename "$(deb "$package")")" "$extract"
    for file in $(cd "$extract" && find . -type f -name 'lib*.so.*' | sed 's|^\.||'); do
      packaged=$(sha256sum <"$extract$file" | cut -d' ' -f1)
      installed=$(inside sha256sum "$file" 2>&1 | cut -d' ' -f1)
      [[ $installed == "$packaged" ]] || saw "$file is not the one of $package $version"
    done
  done
  rm -rf "$extract"
}

check_reboot() {
  reboot_container && units_are active || return 1
  value_is persist.upgrade.kept before-the-upgrade || saw "$why"
  value_is persist.upgrade.new after-the-upgrade || saw "$why"
}

run_checks
