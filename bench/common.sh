# Shell helpers of the benchmark scripts, sourced by them (not run). A script
# sets `benchName` (the prefix of its messages) and `work` (its scratch folder)
# before it calls them.

# Stops with a message unless every command is on the PATH.
requireCommands() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "$benchName: $tool is missing (make deps installs it)" >&2
      exit 1
    }
  done
}

# Stops with a message unless every program of the build is there.
requireBuilt() {
  local tool
  for tool in "$@"; do
    [ -x "$tool" ] || {
      echo "$benchName: $tool not built" >&2
      exit 1
    }
  done
}

# The common start of the benches on the plan footage: the build folder
# (argument, default ../build beside the script), its zemivtc and
# plan_footage ($zemivtc, $footage), a scratch folder removed on exit
# ($work), and ffmpeg. Sets `build` and `benchName` (the first argument).
startFootageBench() {
  benchName=$1
  build=$(cd "${2:-$here/../build}" && pwd)
  zemivtc=$build/zemivtc
  footage=$build/plan_footage
  work=$(mktemp -d "${TMPDIR:-/tmp}/zemivtc-$benchName.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  requireCommands ffmpeg
  requireBuilt "$zemivtc" "$footage"
}

# The machine and its load, for the figures' headers.
cpuName() { grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'; }
loadAverage() { cut -d' ' -f1-3 /proc/loadavg; }

# A plan of n field positions made by repeating a pattern: pattern, n, file.
plan() {
  awk -v p="$1" -v n="$2" 'BEGIN { s = ""; while (length(s) < n) s = s p; printf "%s", substr(s, 1, n) }' >"$3"
}

# Wall-clock seconds of one run of a command line; its errors are shown, and
# the script stops, when it fails.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  bash -c "$1" >/dev/null 2>"$work/err" || {
    cat "$work/err" >&2
    exit 1
  }
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

# The median of the numbers on standard input, one a line or separated by spaces.
median() {
  tr ' ' '\n' | awk 'NF' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
fmt() { printf '%.3f' "$1"; }

# Times every run once per repetition, in turn, `repeats` times, so that a
# change in the machine's load falls on all of them alike. Each argument is
# "name|command[|...]"; each run adds the line "repetition,name,output
# frames (outFrames[name]),wall,user,system seconds" to `csv`, after a header.
timeRotations() {
  local rep r runName cmd wall user sys TIMEFORMAT='%3R %3U %3S'
  echo "repetition,run,output_frames,wall_s,user_s,sys_s" >"$csv"
  for rep in $(seq "$repeats"); do
    for r in "$@"; do
      IFS='|' read -r runName cmd _ <<<"$r"
      { time eval "$cmd" >/dev/null 2>"$work/err"; } 2>"$work/time" || {
        cat "$work/err" >&2
        exit 1
      }
      read -r wall user sys <"$work/time"
      echo "$rep,$runName,${outFrames[$runName]},$wall,$user,$sys" >>"$csv"
    done
  done
}

# The median wall seconds of a run in `csv`, or with "cpu" its user + system
# seconds: run name, then "wall" (the default) or "cpu".
csvMedian() {
  awk -F, -v n="$1" -v what="${2:-wall}" 'NR > 1 && $2 == n { print what == "cpu" ? $5 + $6 : $4 }' "$csv" | median
}
