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
echo "launcher: update, fallbacks and notes as expected"
