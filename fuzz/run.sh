#!/usr/bin/env bash
# Runs the libFuzzer targets for a stretch of processor time each, niced, and prints each one's
# executions and findings. Not part of CI.
#
#   fuzz/run.sh MINUTES [TARGET...]     targets: tga picture jpeg gif pixbuf ico emf wmf (default all)
#
#   FUZZ_JOBS=2      targets run at a time
#   FUZZ_TIMEOUT=20  seconds one input may take before it counts as a hang (the metafile targets
#                    draw twice, each draw killed after 5 s). libFuzzer measures it in wall time,
#                    so runs that will be paused need it longer than the pause.
#
# Builds the `fuzz` preset first. Each target's growing corpus lives in build/fuzz/corpus/<name>,
# seeded (read-only) from the same files its replay test reads; inputs that crash, leak or time out
# land in build/fuzz/findings/<name>/, to be fixed and then kept in fuzz/crashes/<name>/. The budget
# is processor time (the target's own and its waited-for children's), so a run that shares the
# machine, or is paused with SIGSTOP while something is measured, still gets its full stretch.
# The metafile targets draw in a child process: an allocation over the limit there is reported
# (an oom- file) and ends only the child, and the run goes on.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:?usage: fuzz/run.sh MINUTES [TARGET...]}
shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(tga picture jpeg gif pixbuf ico emf wmf)
corpus=$here/../shared/corpus
jobs=${FUZZ_JOBS:-2}
timeout=${FUZZ_TIMEOUT:-20}
# The font and display libraries keep caches for the life of the process; only our code may leak.
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0

bash "$here/scripts/setup.sh" fuzz
(cd "$here" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz >/dev/null)

seeds_of() {
  case "$1" in
    tga) echo "$here/fuzz/seeds/tga" ;;
    picture) echo "$corpus" ;;
    jpeg) echo "$corpus/jpg" ;;
    gif) echo "$corpus/gif" ;;
    pixbuf) echo "$corpus/bmp" ;;
    ico) echo "$corpus/ico" ;;
    emf) echo "$corpus/emf" ;;
    wmf) echo "$corpus/wmf" ;;
    *) echo "fuzz/run.sh: unknown target '$1'" >&2; return 1 ;;
  esac
}

# Processor seconds used by a process and its waited-for children, from /proc/<pid>/stat.
cpu_seconds() {
  local fields
  fields=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null) || { echo -1; return; }
  read -r -a f <<<"$fields"
  # After the command name: utime, stime, cutime, cstime are fields 12 to 15 (from 0).
  echo $(((f[11] + f[12] + f[13] + f[14]) / $(getconf CLK_TCK)))
}

run_one() {
  local name=$1 work=$here/build/fuzz
  local log=$work/logs/$name.log seeds
  seeds=$(seeds_of "$name")
  mkdir -p "$work/corpus/$name" "$work/findings/$name" "$work/logs"
  # A crash, leak or time-out ends the run early, with the input written to findings/.
  nice -n 19 "$work/fuzz/fuzz_$name" -max_len=65536 -rss_limit_mb=2048 -timeout="$timeout" \
    -print_final_stats=1 \
    -artifact_prefix="$work/findings/$name/" \
    "$work/corpus/$name" "$seeds" "$here/fuzz/crashes/$name" >"$log" 2>&1 &
  local pid=$! used=0 now
  while kill -0 "$pid" 2>/dev/null; do
    sleep 10
    now=$(cpu_seconds "$pid")
    ((now < 0)) || used=$now
    if ((used >= minutes * 60)); then
      kill -INT "$pid" 2>/dev/null || true
      break
    fi
  done
  wait "$pid" || true
  local execs findings
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' ||
    grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  findings=$(find "$work/findings/$name" -type f | wc -l)
  printf '%-8s %s of %s min of processor time, %s executions, %s findings (%s)\n' \
    "$name" "$((used / 60))" "$minutes" "$execs" "$findings" "$work/findings/$name"
}

for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  for ((j = i; j < i + jobs && j < ${#targets[@]}; ++j)); do
    run_one "${targets[j]}" &
  done
  wait
done
