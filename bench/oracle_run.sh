#!/usr/bin/env bash
# The cycle's safety monitor over many set-ups: SEEDS seeds (each its own
# machine mode and switches) of CYCLES cycles each, one process per seed.
#   bench/oracle_run.sh [SEEDS=1000] [CYCLES=1000] [FIRST_SEED=1000]
# Prints one line per failing seed (replay: STATION_ORACLE_SEED=N), the
# cycles run per machine mode, and the total; exits 1 when any seed found
# clamping without a verdict.
set -uo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-1000} cycles=${2:-1000} first=${3:-1000}
bin=${ORACLE_BIN:-build/tests/test_cycle}
[ -x "$bin" ] || { echo "oracle_run: build first ($bin is missing)" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen STATION_ORACLE_CYCLES=$cycles
failed=0 triggered=0 start=$(date +%s)
declare -a perMode=(0 0 0 0 0)
for ((s = first; s < first + seeds; ++s)); do
  if ! out=$(STATION_ORACLE_SEED=$s "$bin" --gtest_filter='Oracle/Seeded.NoClampingWithoutAVerdict/0' 2>&1); then
    failed=$((failed + 1))
    echo "seed $s: $(grep -m1 'clamping allowed' <<<"$out" || echo 'failed without a monitor line')"
  fi
  # The cycles this seed really ran (a failing one stops at its violation).
  ran=$(grep -m1 -o '^  [0-9]* cycles' <<<"$out" | tr -dc 0-9)
  ran=${ran:-0}
  if mode=$(grep -m1 -o '^mode [0-4]' <<<"$out"); then
    perMode[${mode#mode }]=$((perMode[${mode#mode }] + ran))
  fi
  grep -q -m1 ' triggered 1 ' <<<"$out" && triggered=$((triggered + ran))
done
total=0
for n in "${perMode[@]}"; do total=$((total + n)); done
echo "oracle: cycles run per machine mode 0..4: ${perMode[*]}; with machine-triggered cameras: $triggered"
echo "oracle: $total cycles over $seeds seeds, $failed failing seeds, $(( $(date +%s) - start )) s"
[ "$failed" -eq 0 ]
