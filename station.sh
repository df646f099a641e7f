#!/usr/bin/env bash
# Entry point for building, testing and running the station.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libqt6sql6-sqlite qt6-multimedia-dev qt6-serialport-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev opencv-doc
  libavformat-dev libavcodec-dev libavdevice-dev libavfilter-dev libswscale-dev libavutil-dev ffmpeg
  libgoogle-glog-dev libgtest-dev
  libaravis-dev libusb-1.0-0-dev aravis-tools iproute2
  libarchive-dev dpkg-dev file adduser init-system-helpers systemd
  libcjson-dev python3 python3-paho-mqtt mosquitto
  libxlsxwriter-dev python3-openpyxl dosfstools ntfs-3g e2fsprogs mount util-linux
  fonts-wqy-microhei imagemagick xvfb xdotool
  libgooglepinyin0-dev libopencc-dev
)

# Only for ./station.sh test --fuzz.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

die() { echo "station.sh: $*" >&2; exit 1; }

cmd_deps() {
  local missing=()
  local wanted=("${PACKAGES[@]}" "$@")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "deps: all ${#wanted[@]} packages present"
    return 0
  fi
  echo "deps: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR BUILD_TYPE [extra cmake args...]
configure_and_build() {
  local dir=$1 type=$2; shift 2
  local targets=()
  if [ "${1:-}" = "--target" ]; then targets=("$@"); shift $#; fi
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$dir" -j2 "${targets[@]}"
}

cmd_build() { configure_and_build build Release; }

# What the demo and run need, before any test or benchmark.
build_station() { configure_and_build build Release --target station station-cycle-xls ioboard-sim station-newdir station-train; }

cmd_fuzz() {
  cmd_deps "${FUZZ_PACKAGES[@]}"
  CXX=clang++ cmake -S "$ROOT" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j2 --target fuzz_report_parser fuzz_netlink
  local corpus
  corpus=$(mktemp -d)
  mkdir "$corpus/io" "$corpus/net"
  # Seeds: a clean input report, an analogue report, and noise around a frame.
  printf '\x08\x5f\x02\x05\x01\xa1\x02\x08\xf5' > "$corpus/io/report"
  printf '\x08\x5f\x03\x10\x27\x00\x00\xb9\xf5' > "$corpus/io/analog"
  printf '\x20\x01\x5f\x5f\xf5\x5f\x02\x00\x00\x00\x00\x61\xf5\x00' > "$corpus/io/noise"
  # Seeds: what the network client sends.
  printf '/back/\r\n\r\n/heart/\r\n\r\n' > "$corpus/net/control"
  printf '/reply/\r\nSessionId:14\r\n\r\n{"result":[{"product_name":"cap"}]}' > "$corpus/net/products"
  printf '/reply/\r\nSessionId:17\r\n\r\n{"result":[{"operator":"li","create_utc":1,"notify_utc":2,"duration":3,"reminder_name":"oil"}]}' > "$corpus/net/reminders"
  # Findings go to build-fuzz/; one worth keeping is copied into tests/net/corpus, which the suite replays.
  cp "$ROOT"/tests/net/corpus/* "$corpus/net/" 2>/dev/null || true
  ./build-fuzz/tests/fuzz_report_parser -max_total_time="${FUZZ_SECONDS:-180}" -print_final_stats=1 \
    -artifact_prefix="$ROOT/build-fuzz/" "$corpus/io"
  ./build-fuzz/tests/fuzz_netlink -max_total_time="${FUZZ_SECONDS:-180}" -print_final_stats=1 \
    -artifact_prefix="$ROOT/build-fuzz/" "$corpus/net"
  rm -rf "$corpus"
}

cmd_test() {
  local mode=${1:-}
  local extra=()
  if [ "$mode" = "--fuzz" ]; then cmd_fuzz; return; fi
  cmd_deps
  case "$mode" in
    "")      configure_and_build build Release; dir=build ;;
    --asan)  configure_and_build build-asan Debug -DSTATION_SANITIZE=address; dir=build-asan
             export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
             export STATION_TEST_SLOWDOWN=2 ;;
    --tsan)  configure_and_build build-tsan Debug -DSTATION_SANITIZE=thread; dir=build-tsan
             # die_after_fork=0: the station starts its network client with QProcess; the checker
             # would kill that child between fork and exec, where none of our code runs.
             export TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$ROOT/tests/tsan.supp"
             # Whole-station tests give a checked build's camera this much longer for new frames.
             export STATION_TEST_SLOWDOWN=5
             export STATION_SOAK_SECONDS=10
             # The touch filter runs on the GUI thread alone; delivering a click
             # makes Qt start pooled threads of its own whose start-up inside the
             # uninstrumented QtCore the checker reports. Nothing of ours to check there.
             extra=(-E '^TouchFilter\.') ;;
    *) die "test: unknown option $mode (use --asan, --tsan or --fuzz)" ;;
  esac
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir "$dir" --output-on-failure -j2 "${extra[@]}"
}

cmd_new_dir() {
  [ $# -eq 1 ] || die "usage: ./station.sh new-dir DIR"
  [ -x build/tools/newdir/station-newdir ] || build_station
  build/tools/newdir/station-newdir "$1"
}

# fresh_dir: prints the path of a new factory working directory under run/.
fresh_dir() {
  local dir="$ROOT/run/$(date +%Y%m%d_%H%M%S)"
  cmd_new_dir "$dir" >&2
  echo "$dir"
}

# run_station DIR: runs the station there in the foreground.
run_station() {
  local dir=$1
  [ -f "$dir/PARAM.db" ] || die "run: $dir is not a station directory (no PARAM.db); make one with ./station.sh new-dir"
  if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
  fi
  # Offscreen nobody can touch a box: questions are answered "no" unless told otherwise.
  if [ "${QT_QPA_PLATFORM:-}" = offscreen ] && [ -z "${STATION_ANSWER:-}" ]; then
    export STATION_ANSWER=no
    echo "run: offscreen, so every question is answered 'no' (set STATION_ANSWER to change)"
  fi
  echo "run: station in $dir (platform ${QT_QPA_PLATFORM:-default}, host actions ${STATION_PLATFORM:-dry run}, IO port ${STATION_IO_PORT:-/dev/ttyS<serial_port>})"
  (cd "$dir" && "$ROOT/build/src/ui/station")
}

cmd_run() {
  [ -x build/src/ui/station ] || build_station
  local dir=${1:-}
  [ -n "$dir" ] || dir=$(fresh_dir)
  run_station "$dir"
}

# make_replay DIR: two replay cameras from the packaged sample photographs;
# each camera shows one scene (DIR/cameraN.png) that the demo's machine
# replaces, with its clean and blemished versions in DIR/scenes.
make_replay() {
  local out=$1 data=/usr/share/doc/opencv-doc/examples/data
  mkdir -p "$out/scenes"
  convert "$data/fruits.jpg" -colorspace Gray -resize 1024x768! "$out/scenes/camera1-clean.png"
  convert "$data/baboon.jpg" -colorspace Gray -resize 1024x768! "$out/scenes/camera2-clean.png"
  # A dark mark on the product (camera 1) and a part left in the mould (camera 2).
  convert "$out/scenes/camera1-clean.png" -fill 'gray(25)' -draw 'rectangle 300,260 330,290' "$out/scenes/camera1-blemish.png"
  convert "$out/scenes/camera2-clean.png" -fill 'gray(235)' -draw 'rectangle 640,420 676,452' "$out/scenes/camera2-blemish.png"
  cp "$out/scenes/camera1-clean.png" "$out/camera1.png"
  cp "$out/scenes/camera2-clean.png" "$out/camera2.png"
}

# train_demo DIR: the demo's settings, regions and templates, once per directory.
train_demo() {
  local dir=$1 train=build/tools/station-train/station-train
  [ -f "$dir/.demo-trained" ] && return 0
  $train --dir "$dir" --param enable_prod_detect=1 --param finished_product_detect=5 --param cavity_detect=10 \
    --param capture_speed=10 --param roi_ng_warn_count=0 --param input_timeout_len=0 --param enable_trigger_safety=0 \
    --param out_invert_1=0 --param out_invert_2=0 --param out_invert_3=0 --param ng_max_num=50 \
    --param ok_record_max_num=20 >/dev/null
  for c in 1 2; do
    for d in 1 2; do
      $train --dir "$dir" --camera $c --detect $d --grid 6 "$dir/replay/scenes/camera$c-clean.png" >/dev/null
    done
  done
  touch "$dir/.demo-trained"
  echo "demo: regions and templates trained for two cameras, product and mould detection"
}

# demo_machine DIR: a moulding machine on the simulator's inputs. It opens the
# mould (input 1), ejects (input 3 pulse), waits for the clamp permission
# (output 1 clear) and closes. Every 7th part carries a mark; every 5th time
# a part stays in the mould after ejection. On an alarm the "operator" waits,
# cleans, and opens the safety door (input 2), which re-detects.
demo_machine() {
  local dir=$1 scenes=$1/replay/scenes n=0
  say() { echo "$1" > "$dir/ioboard.in"; }
  outputs() { awk '/^out/ { w = $3 } END { print (w == "" ? "0x0" : w) }' "$dir/ioboard.log"; }
  scene() { cp "$scenes/camera$1-$2.png" "$dir/replay/.next$1.png" && mv -f "$dir/replay/.next$1.png" "$dir/replay/camera$1.png"; }
  permitted() { local w; w=$(outputs); [ $(( w & 1 )) -eq 0 ] && [ $(( w & 4 )) -eq 0 ]; }
  sleep 4
  while :; do
    n=$((n + 1))
    if [ $((n % 7)) -eq 0 ]; then scene 1 blemish; else scene 1 clean; fi
    scene 2 clean
    sleep 1
    say "set 1 1"; echo "machine: cycle $n, mould open"
    sleep 1
    [ $((n % 5)) -eq 0 ] && scene 2 blemish
    say "set 3 1"; sleep 0.3; say "set 3 0"
    local waited=0
    until permitted || [ $waited -ge 30 ]; do sleep 0.1; waited=$((waited + 1)); done
    if ! permitted; then
      echo "machine: cycle $n held (outputs $(outputs)); the operator cleans the mould and opens the door"
      sleep 5
      scene 1 clean; scene 2 clean
      sleep 1
      say "set 2 1"; sleep 0.5; say "set 2 0"
      waited=0
      until permitted || [ $waited -ge 50 ]; do sleep 0.1; waited=$((waited + 1)); done
    fi
    say "set 1 0"; echo "machine: cycle $n, mould closed (outputs $(outputs))"
    sleep 2
  done
}

cmd_demo() {
  cmd_deps
  build_station
  local dir=${1:-}
  if [ -z "$dir" ]; then dir=$(fresh_dir); elif [ ! -f "$dir/PARAM.db" ]; then cmd_new_dir "$dir"; fi
  dir=$(cd "$dir" && pwd)
  local replay=0
  # Two replay cameras unless real ones were asked for.
  if [ "${DEMO_REAL_CAMERAS:-0}" != 1 ] && [ -z "${STATION_CAMERA:-}" ]; then
    [ -f "$dir/replay/camera1.png" ] || make_replay "$dir/replay"
    export STATION_CAMERA="replay:$dir/replay"
    train_demo "$dir"
    replay=1
  fi
  # The simulated IO board on a pseudo-terminal; its commands come through a FIFO.
  rm -f "$dir/ioboard.in"
  mkfifo "$dir/ioboard.in"
  exec 3<>"$dir/ioboard.in"
  build/tools/ioboard-sim/ioboard-sim --pty <&3 >"$dir/ioboard.log" 2>&1 &
  DEMO_PIDS=$!
  trap 'kill $DEMO_PIDS 2>/dev/null' EXIT
  local device=""
  for _ in $(seq 50); do
    device=$(head -n 1 "$dir/ioboard.log" 2>/dev/null || true)
    [ -n "$device" ] && break
    sleep 0.1
  done
  [ -n "$device" ] || die "demo: the IO board simulator did not start (see $dir/ioboard.log)"
  export STATION_IO_PORT=$device
  if [ "$replay" = 1 ] && [ "${DEMO_MACHINE:-1}" = 1 ]; then
    demo_machine "$dir" > "$dir/machine.log" 2>&1 &
    DEMO_PIDS="$DEMO_PIDS $!"
  fi
  cat <<INFO
demo: IO board simulator on $device; station directory $dir
      the simulated machine:       tail -f $dir/machine.log   (DEMO_MACHINE=0: drive it yourself)
      the station's outputs:       tail -f $dir/ioboard.log   (out <ms> <word>: bit 0 clamp prohibited,
                                   bit 1 ejector prohibited, bit 2 alarm)
      drive an input by hand:      echo 'set 1 1' > $dir/ioboard.in    (mould open; 'set 1 0' closes)
                                   echo 'pulse 2 500' > $dir/ioboard.in (safety door: re-detects an alarm)
      what the cameras see:        cp $dir/replay/scenes/camera1-blemish.png $dir/replay/camera1.png
INFO
  run_station "$dir"
}

cmd_package() {
  cmd_deps lintian
  cmd_build
  rm -rf dist
  (cd build && cpack -B "$ROOT/dist" >/dev/null) || die "package: cpack failed"
  rm -rf dist/_CPack_Packages
  local deb
  deb=$(ls dist/station_*.deb)
  echo "package: $deb"
  # The remaining tags are explained in the README.
  lintian --suppress-tags no-manual-page "$deb" || die "package: lintian found problems"
}

sub=${1:-}
[ $# -gt 0 ] && shift
case "$sub" in
  deps)    cmd_deps ;;
  build)   cmd_build ;;
  test)    cmd_test "$@" ;;
  new-dir) cmd_new_dir "$@" ;;
  run)     cmd_run "$@" ;;
  demo)    cmd_demo "$@" ;;
  package) cmd_package ;;
  *) cat <<USAGE
usage: ./station.sh COMMAND
  deps          install the Debian packages the build, tests and demo need
  build         release build into build/
  test [--asan|--tsan|--fuzz]   deps + build + ctest (sanitizer builds in their own folders;
                --fuzz runs the report-parser fuzzer for FUZZ_SECONDS, default 60)
  new-dir DIR   make a complete factory working directory in DIR
  run [DIR]     run the station in DIR (a fresh factory directory under run/ by default)
  demo          deps + build + the station against simulated hardware
  package       deps + build + the Debian package into dist/ (lintian's verdict printed)
USAGE
     [ -z "$sub" ] || exit 2 ;;
esac
