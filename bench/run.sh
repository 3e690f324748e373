#!/usr/bin/env bash
# The replay benchmark: builds in Release in build-bench/, then measures in
# one run on this machine what a replay costs next to the least that any
# replay onto a file-backed queue must do, and prints each figure with its
# ratio and target. Takes some minutes; not part of the tests.
#
#   bench/run.sh                  everything
#   BENCH_REPEAT=9 bench/run.sh   more runs of each timed figure (median kept)
#   BENCH_SCALE=10 bench/run.sh   record counts divided by 10, for a quick try
#
# Work files (about 2.5 GB at full scale) go to a folder under build-bench/,
# on the disk the repository is on, and are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
repeat=${BENCH_REPEAT:-5}
scale=${BENCH_SCALE:-1}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target msgreplay localqm make_buffer_file \
  replay_floor measure put_clock readers_bench >/dev/null
bin=$top/build-bench
tools=$bin/bench

work=$(mktemp -d "$bin/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir r
export LOCALQM_ROOT=$work/qmgrs

n_main=$((200000 / scale))
n_persistent=$((2000 / scale))
n_depth=$((1000000 / scale))
n_small=1000
slice=$((n_depth / 10))
size=512

note() { printf '%s\n' "$*" >&2; }
fail() {
  note "run.sh: $*"
  exit 1
}

# --- the machine -------------------------------------------------------------
echo "== Machine"
echo "cpu:    $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
echo "memory: $(free -g | awk '/^Mem:/ {print $2 " GiB total, " $7 " GiB available"}')"
disk=$(df --output=source "$work" | tail -1)
dev=$(basename "$disk")
echo "disk:   $disk ($(df --output=fstype "$work" | tail -1)," \
  "rotational=$(cat "/sys/block/$dev/queue/rotational" 2>/dev/null || echo ?))," \
  "$(df -h --output=avail "$work" | tail -1 | tr -d ' ') free"
# How much other work competed for the processors (load, and the share of
# the last minute in which some task waited for one).
contention() {
  local pressure
  pressure=$(sed -n 's/^some avg10=[^ ]* avg60=\([^ ]*\).*/\1/p' /proc/pressure/cpu 2>/dev/null)
  echo "load $(cut -d' ' -f1-3 /proc/loadavg), cpu pressure ${pressure:-?}% over 60 s"
}
echo "kernel: $(uname -r)"
echo "before: $(contention)"

# --- inputs --------------------------------------------------------------------
note "generating buffer files"
"$tools/make_buffer_file" main.buf "$n_main" "$size" 0
"$tools/make_buffer_file" persistent.buf "$n_persistent" "$size" 1
"$tools/make_buffer_file" depth.buf "$n_depth" "$size" 0
"$tools/make_buffer_file" small.buf "$n_small" "$size" 0

"$bin/localqm" create BENCH.QM >/dev/null
for q in MAIN PERSISTENT DEPTH SMALL; do
  "$bin/localqm" define BENCH.QM $q.IN --max-depth $((n_depth + n_main)) >/dev/null
done
settings() {  # settings QUEUE BUFFER_FILE
  printf 'MessageBufferFile=%s\nInQueue=%s\nOutQueue=REPLIES\nQueueMgr=BENCH.QM\n' \
    "$2" "$1" >"$1.ini"
}
settings MAIN.IN main.buf
settings PERSISTENT.IN persistent.buf
settings DEPTH.IN depth.buf
settings SMALL.IN small.buf

# Each figure is "seconds max_rss_kib status user system" from measure. The page cache
# holds every input (just written); dirty pages are written out before each
# timed run so that no earlier write competes with it.
timed() {  # timed RESULT COMMAND...: stdout of COMMAND is the caller's
  sync
  "$tools/measure" "$@"
  local status
  status=$(cut -d' ' -f3 "$1")
  [[ $status == 0 ]] || fail "$* ended with status $status"
}
depth_of() { "$bin/localqm" list BENCH.QM | awk -v q="$1" '$1 == q {print $2}'; }
expect_depth() {
  local depth
  depth=$(depth_of "$1")
  [[ $depth == "$2" ]] || fail "queue $1 holds $depth messages, expected $2"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
cpu() { cat r/"$1".* | awk '{print $4 + $5}' | median; }  # user + system
spread() { cut -d' ' -f1 r/"$1".* | sort -g | awk 'NR == 1 {a = $1} {b = $1} END {printf "%.3f-%.3f", a, b}'; }

# --- non-persistent replay, its floor and cat ------------------------------------
note "timing $n_main records, $repeat runs each"
for ((i = 1; i <= repeat; i++)); do
  "$bin/localqm" clear BENCH.QM MAIN.IN >/dev/null
  timed r/main.$i "$bin/msgreplay" MAIN.IN.ini >main.out
  expect_depth MAIN.IN "$n_main"
  rm -f floor.queue
  timed r/floor.$i "$tools/replay_floor" main.buf floor.queue
  rm -f locked.queue
  timed r/locked.$i "$tools/replay_floor" main.buf locked.queue --lock
  timed r/cat.$i cat main.buf >/dev/null
done
cmp -s main.buf floor.queue || fail "the floor program's copy differs"
t_main=$(cat r/main.* | cut -d' ' -f1 | median)
t_floor=$(cat r/floor.* | cut -d' ' -f1 | median)
t_locked=$(cat r/locked.* | cut -d' ' -f1 | median)
t_cat=$(cat r/cat.* | cut -d' ' -f1 | median)
"$bin/localqm" clear BENCH.QM MAIN.IN >/dev/null
rm -f floor.queue locked.queue main.out

# --- persistent puts and the flush floor -------------------------------------------
# A flush waits on the disk, which other work on the machine shares, so
# these short runs are made three times as often.
p_repeat=$((3 * repeat))
note "timing $n_persistent persistent records, $p_repeat runs each"
for ((i = 1; i <= p_repeat; i++)); do
  "$bin/localqm" clear BENCH.QM PERSISTENT.IN >/dev/null
  timed r/persistent.$i "$bin/msgreplay" PERSISTENT.IN.ini >persistent.out
  expect_depth PERSISTENT.IN "$n_persistent"
  rm -f fsync.queue fdatasync.queue
  timed r/fsync.$i "$tools/replay_floor" persistent.buf fsync.queue --fsync
  timed r/fdatasync.$i "$tools/replay_floor" persistent.buf fdatasync.queue --fdatasync
done
t_persistent=$(cat r/persistent.* | cut -d' ' -f1 | median)
t_fsync=$(cat r/fsync.* | cut -d' ' -f1 | median)
t_fdatasync=$(cat r/fdatasync.* | cut -d' ' -f1 | median)
rm -f fsync.queue fdatasync.queue persistent.out

# --- depth and memory: runs of n_depth records, and of n_small -------------------
# The put counts come from the tool's own output, timed as it arrives. Each
# run starts on an emptied queue.
d_repeat=$(((repeat + 1) / 2))
note "timing $n_depth records onto one queue, $d_repeat runs"
# slices FILE: the put_clock output turned into one line for each slice of
# puts: "wall 0 0 user system", the format measure writes.
slices() {
  awk '$1 != "end" {print $2 - w, 0, 0, $3 - u, $4 - s; w = $2; u = $3; s = $4}' "$1"
}
for ((i = 1; i <= d_repeat; i++)); do
  "$bin/localqm" clear BENCH.QM DEPTH.IN >/dev/null
  sync
  "$tools/put_clock" $(seq "$slice" "$slice" "$n_depth") -- \
    "$bin/msgreplay" DEPTH.IN.ini >depth.clock.$i
  expect_depth DEPTH.IN "$n_depth"
  "$bin/localqm" clear BENCH.QM SMALL.IN >/dev/null
  sync
  "$tools/put_clock" "$n_small" -- "$bin/msgreplay" SMALL.IN.ini >small.clock.$i
  expect_depth SMALL.IN "$n_small"
  for run in depth small; do
    awk '$1 == "end" {print $2, $5, $6, $3, $4}' $run.clock.$i >r/$run.$i
    [[ $(cut -d' ' -f3 r/$run.$i) == 0 ]] || fail "the $run run failed"
  done
  slices depth.clock.$i | head -1 >r/first.$i
  slices depth.clock.$i | tail -1 >r/last.$i
done
field() { cut -d' ' -f"$2" r/"$1".* | median; }  # field NAME N: its median
t_depth=$(field depth 1)
t_first=$(field first 1)
t_last=$(field last 1)
c_depth=$(cpu depth)
c_first=$(cpu first)
c_last=$(cpu last)
rss_depth=$(field depth 2)
rss_small=$(field small 2)
"$bin/localqm" clear BENCH.QM DEPTH.IN >/dev/null
rm -f depth.buf main.buf

# --- microbenchmarks -------------------------------------------------------------
note "microbenchmarks"
micro=$("$tools/readers_bench" --benchmark_min_time=0.5 2>&1 |
  grep -E '^(BM_|Benchmark|-)' || true)

# --- report -------------------------------------------------------------------
echo "after:  $(contention)"
echo
echo "== Figures (median of $repeat runs, $p_repeat for persistent, $d_repeat for depth; record data $size bytes, record $((size + 432)) bytes)"
row() {  # row NAME SECONDS RECORDS [CPU_SECONDS [SPREAD]]
  awk -v n="$1" -v t="$2" -v r="$3" -v c="${4:-}" -v s="${5:-}" 'BEGIN {
    printf "%-44s %7.3f s %8.0f rec/s %8.2f us/rec", n, t, r / t, t / r * 1e6
    if (c != "") printf "  cpu %6.3f s", c
    if (s != "") printf "  runs %s s", s
    printf "\n"
  }'
}
row "msgreplay, $n_main records, non-persistent" "$t_main" "$n_main" "$(cpu main)" "$(spread main)"
row "floor program (read, one write a record)" "$t_floor" "$n_main" "$(cpu floor)" "$(spread floor)"
row "floor, each write under flock, size asked" "$t_locked" "$n_main" "$(cpu locked)" "$(spread locked)"
row "cat to /dev/null" "$t_cat" "$n_main" "$(cpu cat)" "$(spread cat)"
row "msgreplay, $n_persistent records, persistent" "$t_persistent" "$n_persistent" "$(cpu persistent)" "$(spread persistent)"
row "floor: one write and one fsync a record" "$t_fsync" "$n_persistent" "$(cpu fsync)" "$(spread fsync)"
row "floor: one write and one fdatasync a record" "$t_fdatasync" "$n_persistent" "$(cpu fdatasync)" "$(spread fdatasync)"
row "msgreplay, $n_depth records onto one queue" "$t_depth" "$n_depth" "$c_depth" "$(spread depth)"
row "  its first $slice puts" "$t_first" "$slice" "$c_first" "$(spread first)"
row "  its last $slice puts" "$t_last" "$slice" "$c_last" "$(spread last)"
printf '%-44s %7s KiB  runs %s KiB\n' "peak memory, msgreplay, $n_small records" "$rss_small" \
  "$(cut -d' ' -f2 r/small.* | sort -n | sed -n '1p;$p' | paste -sd-)"
printf '%-44s %7s KiB  runs %s KiB\n' "peak memory, msgreplay, $n_depth records" "$rss_depth" \
  "$(cut -d' ' -f2 r/depth.* | sort -n | sed -n '1p;$p' | paste -sd-)"
echo "processor seconds of each $slice puts in turn, each run of $n_depth:"
for ((i = 1; i <= d_repeat; i++)); do
  slices depth.clock.$i | awk '{printf " %.2f", $4 + $5} END {print ""}'
done

echo
echo "== Ratios (of times: the median of the ratios of runs made in turn)"
# Runs of two programs made one after the other meet the same conditions on
# the machine; each time ratio is the median of such pairs.
paired() {  # paired A B [cpu]: median over the runs of A's seconds / B's
  local i
  for i in r/"$1".*; do
    i=${i##*.}
    paste -d' ' r/"$1".$i r/"$2".$i |
      awk -v cpu="${3:-}" '{print cpu == "" ? $1 / $6 : ($4 + $5) / ($9 + $10)}'
  done | median
}
ratio() {  # ratio NAME VALUE [OP TARGET], OP "<=" or ">="
  awk -v n="$1" -v r="$2" -v op="${3:-}" -v t="${4:-}" 'BEGIN {
    met = (op == "<=") ? r <= t : r >= t
    if (op == "") printf "%-44s %7.3f\n", n, r
    else printf "%-44s %7.3f   target %s %s   %s\n", n, r, op, t, met ? "met" : "MISSED"
  }'
}
ratio "msgreplay / floor program" "$(paired main floor)" "<=" 2.0
ratio "locked floor / floor program" "$(paired locked floor)"
ratio "msgreplay / locked floor" "$(paired main locked)"
ratio "msgreplay / cat" "$(paired main cat)"
ratio "persistent put rate / fsync floor rate" "$(paired fsync persistent)" ">=" 0.8
ratio "persistent put rate / fdatasync floor rate" "$(paired fdatasync persistent)"
ratio "last $slice puts / first $slice puts" "$(paired last first)" "<=" 1.2
ratio "  the same in processor time" "$(paired last first cpu)"
ratio "peak memory $n_depth / $n_small records" \
  "$(awk -v a="$rss_depth" -v b="$rss_small" 'BEGIN {print a / b}')" "<=" 1.05

echo
echo "== Microbenchmarks (standard output to /dev/null)"
echo "$micro"
