#!/bin/sh
# Builds the release preset with the benchmarks and runs every one of them, offscreen; prints
# one table (figure, measured, goal, met) with the machine it ran on and writes it into
# docs/benchmarks.md. Installs nothing (scripts/setup-deps.sh does that).
#
#   scripts/bench.sh           the full run (about three quarters of an hour; 2 GiB free in
#                              the temporary folder for the generated files)
#   scripts/bench.sh --quick   shorter runs and smaller files (a few minutes)
set -eu
cd "$(dirname "$0")/.."

quick=""
case "${1:-}" in
  "") ;;
  --quick) quick="--quick" ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

benches="bench_line_count bench_check bench_wakeup bench_reaction bench_receive bench_drain
  bench_flood bench_pty_write bench_pacing bench_memory bench_logbox"

cmake --preset release >/dev/null
# shellcheck disable=SC2086
cmake --build --preset release --target $benches >&2

export QT_QPA_PLATFORM=offscreen
bin=build/release/bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

machine() {
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
  echo "- CPU: ${cpu:-unknown}, $(nproc) cores"
  echo "- Kernel: $(uname -sr)"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- Load average at start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
  echo "- Run: ${quick:-full}"
}
machine >"$out/machine"

for name in $benches; do
  case $name in
    bench_logbox) exe=$bin/logbox/bench_logbox; args=$([ -n "$quick" ] && echo 1001000 || true) ;;
    bench_check) exe=$bin/cli/bench_check; args=$quick ;;
    *) exe=$bin/programmer/$name; args=$quick ;;
  esac
  echo "=== $name $args" >&2
  status=0
  # shellcheck disable=SC2086
  "$exe" $args >"$out/$name.txt" 2>"$out/$name.err" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "# ended with exit status $status; figures may be missing" >>"$out/$name.txt"
  fi
  cat "$out/$name.txt" >&2
done

# Rows are read from the right: value, unit, goal, met; the figure is the rest. Lines that
# start with "#" are notes. bench_logbox writes bare numbers as goals, all of them upper
# limits, and measures QPlainTextEdit against the log box's goals for comparison only.
table() {
  echo "| Figure | Measured | Unit | Goal | Met |"
  echo "|---|---:|---|---|---|"
  for name in $benches; do
    awk '
      /^#/ || /^figure / || NF < 5 { next }
      {
        figure = $1
        for (i = 2; i <= NF - 4; i++) figure = figure " " $i
        goal = $(NF - 1)
        if (goal ~ /^[0-9.]+$/) goal = "<=" goal
        sub(/^<=/, "≤ ", goal); sub(/^>=/, "≥ ", goal)
        met = $NF
        if (figure ~ /^QPlainTextEdit/ && met != "-") met = met " (comparison only)"
        printf "| %s | %s | %s | %s | %s |\n", figure, $(NF - 3), $(NF - 2), goal, met
      }' "$out/$name.txt"
  done
}
notes() {
  for name in $benches; do
    sed -n "s/^# \(.*\)/- $name: \1/p" "$out/$name.txt"
  done
}

{
  cat "$out/machine"
  echo
  table
  if [ -n "$(notes)" ]; then
    echo
    echo "Notes from the run:"
    echo
    notes
  fi
} >"$out/result.md"

echo
cat "$out/result.md"

# The results replace what stands between the markers in docs/benchmarks.md.
doc=docs/benchmarks.md
begin='<!-- bench-results:begin -->'
end='<!-- bench-results:end -->'
if [ -f "$doc" ] && grep -qF "$begin" "$doc" && grep -qF "$end" "$doc"; then
  awk -v begin="$begin" -v end="$end" -v result="$out/result.md" '
    $0 == begin { print; while ((getline line < result) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }' "$doc" >"$out/doc.md"
  cp "$out/doc.md" "$doc"
else
  { echo; echo "$begin"; cat "$out/result.md"; echo "$end"; } >>"$doc"
fi
echo
echo "Written to $doc"
