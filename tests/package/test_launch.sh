#!/bin/sh
# The launcher runs an update that can run, and falls back to the packaged
# program (noting why) when the update cannot be executed or fails at once.
# usage: test_launch.sh LAUNCHER
set -eu
LAUNCH=$1
T=$(mktemp -d /tmp/station-launch.XXXXXX)
trap 'rm -rf "$T"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$T/work/program/bin"
cat >"$T/packaged" <<'P'
#!/bin/sh
[ "${1:-}" = --version ] && { echo "station 5.2"; exit 0; }
echo "packaged $*"
P
chmod +x "$T/packaged"
run() { STATION_WORKDIR="$T/work" STATION_PACKAGED="$T/packaged" sh "$LAUNCH" "$@"; }

# No update: the packaged program, nothing noted.
[ "$(run a b)" = "packaged a b" ] || fail "without an update the packaged program must run"
[ -e "$T/work/launch-fallback.txt" ] && fail "a fallback was noted without an update"

# An update that runs: it, with the arguments, and nothing noted.
cat >"$T/work/program/bin/station" <<'U'
#!/bin/sh
[ "${1:-}" = --version ] && { echo "station 9"; exit 0; }
echo "updated $*"
U
chmod +x "$T/work/program/bin/station"
[ "$(run x)" = "updated x" ] || fail "a runnable update must run"
[ -e "$T/work/launch-fallback.txt" ] && fail "a fallback was noted for a runnable update"

# Not executable at all (a wrong architecture, a truncated file): the packaged one, noted.
printf '\177ELF\002\001\001garbage' >"$T/work/program/bin/station"
[ "$(run y 2>/dev/null)" = "packaged y" ] || fail "an update that cannot be executed must fall back"
grep -q "program/bin/station: status" "$T/work/launch-fallback.txt" || fail "the fallback was not noted"

# Executable but failing at once (a missing library: the loader's status 127).
rm "$T/work/launch-fallback.txt"
cat >"$T/work/program/bin/station" <<'U'
#!/bin/sh
echo "error while loading shared libraries: libQt6Core.so.6" >&2
exit 127
U
[ "$(run z 2>/dev/null)" = "packaged z" ] || fail "an update that fails at once must fall back"
grep -q "status 127: error while loading shared libraries" "$T/work/launch-fallback.txt" || fail "the reason was not noted"
# An update older than --version runs as a station when asked: past the bound it is taken as runnable.
rm "$T/work/launch-fallback.txt"
cat >"$T/work/program/bin/station" <<'U'
#!/bin/sh
[ "${1:-}" = --version ] && exec sleep 30
echo "old $*"
U
[ "$(run w)" = "old w" ] || fail "an update that ignores --version must still run"
[ -e "$T/work/launch-fallback.txt" ] && fail "an old update was noted as broken"
rm -f "$T/work/launch-fallback.txt"

# Of two that run, the newer: versions compare as numbers, not as text.
cat >"$T/work/program/bin/station" <<'U'
#!/bin/sh
[ "${1:-}" = --version ] && { echo "station 5.10"; exit 0; }
echo "updated $*"
U
[ "$(run v)" = "updated v" ] || fail "an update newer than the package (5.10 > 5.2) must run"
# An update older than a package installed since: the package, and the update set aside once.
sed -i 's/station 5.10/station 5.1.9/' "$T/work/program/bin/station"
[ "$(run u 2>/dev/null)" = "packaged u" ] || fail "a package newer than the update must run"
[ -e "$T/work/program" ] && fail "the older update was not set aside"
[ -x "$T/work/program.superseded/bin/station" ] || fail "the older update was not kept"
grep -q "the package (5.2) is newer than the update (5.1.9)" "$T/work/launch-fallback.txt" || fail "not noted"
[ "$(run t 2>/dev/null)" = "packaged t" ] || fail "the package must keep running"
[ "$(grep -c newer "$T/work/launch-fallback.txt")" = 1 ] || fail "the setting aside was noted more than once"
echo "launcher: update, fallbacks, versions and notes as expected"
