#!/usr/bin/env bash
# Soak test, not part of CI: the real varnolt on the bundled pictures under a virtual display,
# fed random keys, wheel notches, drags and right-button holds through xdotool for a set time,
# its resident size sampled from /proc every few seconds into a log. Fails when varnolt dies
# before the end, when it does not close cleanly on SIGTERM, or when its resident size after the
# warm-up grows more than 10% beyond the largest seen during it (a leak per frame or per input).
# Usage: scripts/soak.sh SECONDS [VARNOLT]   (VARNOLT defaults to build/release/shell/varnolt)
# The log is written to soak-<date>.log in the current folder, or to $VARNOLT_SOAK_LOG.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
duration=${1:?usage: soak.sh SECONDS [VARNOLT]}
varnolt=$(realpath "${2:-$root/build/release/shell/varnolt}")
log=$(realpath -m "${VARNOLT_SOAK_LOG:-soak-$(date -u +%Y%m%dT%H%M%S).log}")
sample_every=5
# The warm-up: a fifth of the run, at most two minutes. Caches, the GL driver's pools and the
# allocator's arenas settle in it; growth after it is what counts.
warmup=$(( duration / 5 < 120 ? duration / 5 : 120 ))
allowed_percent=10

if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$BASH_SOURCE" "$duration" "$varnolt"
fi
[[ -x "$varnolt" ]] || { echo "soak: no varnolt at $varnolt" >&2; exit 2; }

work=$(mktemp -d)
pid=""
cleanup() {
  # Releases whatever a cut-short input left held, then ends varnolt if it is still running.
  xdotool keyup Up Down Left Right Home End Insert Delete 2>/dev/null || true
  xdotool mouseup 1 2>/dev/null || true
  xdotool mouseup 3 2>/dev/null || true
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$root"/samples/picture*.jpg "$work"/
cd "$work"

fail() { echo "soak: FAIL: $*" | tee -a "$log" >&2; exit 1; }

"$varnolt" 2>"$work/stderr.txt" &
pid=$!
window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --classname MyClass 2>/dev/null | head -1 || true)
  [[ -n "$window" ]] && break
  sleep 0.1
done
[[ -n "$window" ]] || fail "no varnolt window appeared"
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "# varnolt $varnolt pid $pid, ${duration} s, warm-up ${warmup} s, window ${WIDTH}x${HEIGHT}" \
  >"$log"
echo "# seconds rss_kib" >>"$log"

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0; }

keys=(Up Down Left Right Home End Insert Delete)
# One random input: a held key, a burst of wheel notches, a left-button drag or a right-button
# hold, each at a random place in the window.
random_input() {
  local x=$((RANDOM % WIDTH)) y=$((RANDOM % HEIGHT)) hold
  hold=$(printf '0.%02d' $((RANDOM % 40 + 5)))
  xdotool mousemove --window "$window" "$x" "$y"
  case $((RANDOM % 4)) in
    0)
      local key=${keys[$((RANDOM % ${#keys[@]}))]}
      xdotool keydown "$key"; sleep "$hold"; xdotool keyup "$key" ;;
    1) xdotool click --repeat $((RANDOM % 5 + 1)) --delay 30 $((RANDOM % 2 + 4)) ;;
    2)
      xdotool mousedown 1
      for _ in 1 2 3 4 5; do
        xdotool mousemove_relative -- $((RANDOM % 41 - 20)) $((RANDOM % 41 - 20))
        sleep 0.02
      done
      xdotool mouseup 1 ;;
    3) xdotool mousedown 3; sleep "$hold"; xdotool mouseup 3 ;;
  esac
}

start=$(date +%s)
next_sample=$start
warm_peak=0
late_peak=0
samples=0
inputs=0
while (( $(date +%s) - start < duration )); do
  kill -0 "$pid" 2>/dev/null || {
    wait "$pid" && status=0 || status=$?
    fail "varnolt ended after $(( $(date +%s) - start )) s with status $status"
  }
  now=$(date +%s)
  if (( now >= next_sample )); then
    rss=$(rss_kib)
    elapsed=$((now - start))
    echo "$elapsed $rss" >>"$log"
    samples=$((samples + 1))
    if (( elapsed <= warmup )); then
      (( rss > warm_peak )) && warm_peak=$rss
    else
      (( rss > late_peak )) && late_peak=$rss
    fi
    next_sample=$((now + sample_every))
  fi
  random_input
  inputs=$((inputs + 1))
done

kill -0 "$pid" 2>/dev/null || fail "varnolt ended at the last moment"
kill -TERM "$pid"
wait "$pid" && status=0 || status=$?
pid=""
(( status == 0 )) || fail "varnolt exited with status $status on SIGTERM"
(( warm_peak > 0 && late_peak > 0 )) || fail "too few samples to judge ($samples)"
limit=$(( warm_peak + warm_peak * allowed_percent / 100 ))
summary="$inputs inputs, $samples samples; warm-up peak ${warm_peak} KiB, later peak ${late_peak} KiB, limit ${limit} KiB"
echo "# $summary" >>"$log"
(( late_peak <= limit )) || fail "resident size grew after the warm-up: $summary"
echo "soak: PASS: ${duration} s, $summary; log $log"
