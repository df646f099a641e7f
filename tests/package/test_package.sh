#!/bin/sh
# Builds the Debian package from the build tree and installs it into a scratch
# root: an overlay of this machine's root in a private mount namespace, so
# nothing of the host changes. Checks: contents and modes, the service user,
# the factory directory, an upgrade that keeps the plant's data, a purge that
# asks (kept by default, removed when the administrator says so), the unit.
# usage: test_package.sh BUILD_DIR
set -eu
BUILD=$1
[ "$(id -u)" -eq 0 ] || { echo "needs root for the mount namespace; skipped"; exit 77; }
command -v dpkg-deb >/dev/null || { echo "dpkg-deb missing; skipped"; exit 77; }
unshare -m true 2>/dev/null || { echo "no mount namespace here; skipped"; exit 77; }
T=$(mktemp -d /tmp/station-pkg.XXXXXX)
trap 'rm -rf "$T"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$BUILD/CPackConfig.cmake" -B "$T/out" >"$T/cpack.log" 2>&1 || { cat "$T/cpack.log"; fail "cpack"; }
DEB=$(ls "$T"/out/station_*.deb)

# Contents and modes.
dpkg-deb -c "$DEB" >"$T/contents"
for f in ./usr/lib/station/bin/station ./usr/lib/station/bin/station-guard ./usr/lib/station/bin/station-launch ./usr/lib/station/bin/station-update ./usr/lib/station/bin/station-host \
         ./usr/lib/station/bin/station-newdir ./usr/lib/station/bin/ioboard-sim ./usr/lib/station/bin/gige-sim \
         ./usr/lib/station/bin/station-inspect ./usr/lib/station/bin/station-cycle-xls ./lib/systemd/system/station.service ./usr/share/station/messages.tsv \
         ./etc/sudoers.d/station ./usr/share/station/cnt_net/runNetClient.py; do
  grep -q " $f\$" "$T/contents" || grep -q " $f -> " "$T/contents" || fail "$f not in the package"
done
grep ' ./etc/sudoers.d/station$' "$T/contents" | grep -q '^-r--r-----' || fail "sudoers file must be 0440"
grep -q '^var/lib' "$T/contents" && fail "the working directory must not be a packaged path"
dpkg-deb -f "$DEB" Depends | grep -q 'libqt6core6' || fail "Depends lacks the Qt libraries"
dpkg-deb -f "$DEB" Depends | grep -q 'adduser' || fail "Depends lacks adduser"
dpkg-deb -f "$DEB" Depends | grep -q 'python3' || fail "Depends lacks python3 (the network client)"
dpkg-deb -f "$DEB" Depends | grep -q 'libxlsxwriter' || fail "Depends lacks libxlsxwriter (the workbooks)"
dpkg-deb -e "$DEB" "$T/control"
for s in postinst prerm postrm config; do sh -n "$T/control/$s" || fail "$s does not parse"; done
grep -qx '/etc/sudoers.d/station' "$T/control/conffiles" || fail "sudoers is not a conffile"

# The scratch root.
mkdir -p "$T/upper" "$T/work" "$T/root"
cp "$DEB" "$T/station.deb"
cat >"$T/inside.sh" <<'INNER'
set -eu
R=$1 DEB=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
mount -t overlay overlay -o "lowerdir=/,upperdir=$R/../upper,workdir=$R/../work" "$R" ||
  { echo "no overlay mounts here: contents checked, install skipped"; exit 77; }
mount --bind /dev "$R/dev"
mount -t proc proc "$R/proc"
mount -t tmpfs tmpfs "$R/run"   # no systemd running inside: no service is started
inroot() { DEBIAN_FRONTEND=noninteractive chroot "$R" "$@"; }
cp "$DEB" "$R/tmp/station.deb"

inroot dpkg -i --force-depends /tmp/station.deb >/dev/null || fail "first install"
inroot getent passwd station >/dev/null || fail "no service user"
[ -f "$R/var/lib/station/PARAM.db" ] || fail "no factory directory"
[ "$(inroot stat -c %U /var/lib/station/PARAM.db)" = station ] || { ls -la "$R/var/lib/station" | head; fail "factory directory not the station user's"; }
[ "$(stat -c %a "$R/var/lib/station")" = 750 ] || fail "working directory mode"
[ "$(inroot stat -c %U /var/lib/station/cnt_net/runNetClient.py)" = station ] || fail "no network client in the working directory"
inroot /usr/lib/station/bin/station-update before-start --workdir /var/lib/station || fail "the unit's start step fails with nothing to do"
inroot systemd-analyze verify /lib/systemd/system/station.service >"$R/../verify.log" 2>&1 || { cat "$R/../verify.log"; fail "unit does not verify"; }
# Only the operator's exit (10) is not restarted; a SIGTERM's 75 and a crash are.
[ "$(grep '^RestartPreventExitStatus=' "$R/lib/systemd/system/station.service")" = "RestartPreventExitStatus=10" ] ||
  fail "the unit must restart everything but the operator's exit (status 10)"
[ -x "$R/usr/lib/station/bin/station-guard" ] || fail "the guard program is not installed"
inroot /usr/lib/station/bin/station --version | grep -q '^station ' || fail "the packaged station does not answer --version (the launcher's check)"

# Upgrade (the same package again): the plant's data stays.
echo "12 3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 " >"$R/var/lib/station/count.txt"
cp "$R/var/lib/station/PARAM.db" "$R/../param.before"
echo '{"mqtt": {"host": "broker.plant"}}' >"$R/var/lib/station/cnt_net/client.conf"
echo "# old client" >"$R/var/lib/station/cnt_net/runNetClient.py"
inroot dpkg -i --force-depends /tmp/station.deb >/dev/null || fail "upgrade"
[ "$(cat "$R/var/lib/station/count.txt")" = "12 3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 " ] || fail "upgrade changed count.txt"
cmp -s "$R/var/lib/station/PARAM.db" "$R/../param.before" || fail "upgrade changed PARAM.db"
grep -q broker.plant "$R/var/lib/station/cnt_net/client.conf" || fail "upgrade changed the client's settings"
grep -q "old client" "$R/var/lib/station/cnt_net/runNetClient.py" && fail "upgrade kept the old network client"

# Purge with the default answer keeps the data; with "yes" removes it.
inroot dpkg --purge station >/dev/null 2>&1 || fail "purge"
[ -f "$R/var/lib/station/count.txt" ] || fail "a default purge removed the data"
[ -e "$R/usr/lib/station/bin/station" ] && fail "purge left the program"
inroot dpkg -i --force-depends /tmp/station.deb >/dev/null || fail "reinstall"
echo "station station/purge-data boolean true" | inroot debconf-set-selections
inroot dpkg --purge station >/dev/null 2>&1 || fail "second purge"
[ -e "$R/var/lib/station" ] && fail "purge with yes kept the data"
echo "package: installed, upgraded and purged in a scratch root"
INNER
unshare -m --propagation private sh "$T/inside.sh" "$T/root" "$T/station.deb"
