#!/usr/bin/env bash
# How close the /all scan comes to the machine's own sequential read of a file
# (`cat FILE > /dev/null`), and how it compares with what users would run instead (ffmpeg's
# remux with its mpeg2_metadata filter). Every file is read from the page cache: one
# untimed pass warms it, then every command runs once per round, interleaved, and the
# figures are medians over the rounds.
#
#   bench/compare_with_cat.sh [ROUNDS]          (default 5 rounds)
#
# Environment:
#   TESSARWICK_BIN        the binary (default build/release/tessarwick, built if missing)
#   TESSARWICK_BENCH_DIR  where the files live (default ${TMPDIR:-/tmp}/tessarwick-bench);
#                         they are kept and reused by the next run: 6.9 GB kept, 8.9 GB
#                         at most while ffmpeg's output exists. rm -r the folder to free it.
#
# Files: a real MPEG-2 program stream of about 2 GB (a 20 s DVD clip made by ffmpeg, GOP 12,
# looped with -stream_loop and -c copy: a few thousand sequence headers), 2 GiB of 00 bytes,
# 2 GiB of random bytes, 512 MiB of B3 bytes, a 1 GB file that starts like the stream (sparse
# after its first MiB; a run without /all reads only its first 8 KiB) and an 8 KiB file.
#
# Fairness:
# - tessarwick lowers its own priority by 10 steps, so cat and ffmpeg run 10 steps nicer
#   too (set on the timing subshell, outside the timed part). On an idle machine this
#   changes nothing; on a busy one it keeps every command on the same footing.
# - The patch-all runs alternate /ar=3 and /ar=2 within each round, so every run really
#   patches every header (each writes the same windows back). Both are timed; the figure
#   uses the /ar=3 runs, and the /ar=2 median is printed beside it as a check.
# - After a command that wrote (a patch run, ffmpeg), its dirty pages are flushed (and
#   ffmpeg's output is deleted) outside the timed part, so no command pays for the writeback
#   of an earlier one. ffmpeg writes to the same disk as its input.
# - The short runs (8 KiB cat and a run without /all) last about a millisecond each, so each
#   is timed as a loop of SHORT_RUNS runs and divided.
# - On recent kernels the page cache may hold a file in large folios (the stream, which
#   ffmpeg writes in large writes) or in 4 KiB pages (the files that head writes in small
#   ones); cat reads the former much faster, and so does the scan. Compare each tool run with
#   cat of the same file, as the ratios do.
# - Peak resident memory is measured in the warm-up pass (GNU time's %M, or getrusage
#   through python3), so the timed runs carry no wrapper.
set -euo pipefail
export LC_ALL=C

rounds=${1:-5}
short_runs=200
repo=$(cd "$(dirname "$0")/.." && pwd)
tool=${TESSARWICK_BIN:-$repo/build/release/tessarwick}
work=${TESSARWICK_BENCH_DIR:-${TMPDIR:-/tmp}/tessarwick-bench}

stream_target=2000000000 # about 2 GB
gib=$((1 << 30))
mib=$((1 << 20))

die() {
    echo "compare_with_cat: $*" >&2
    exit 1
}

command -v ffmpeg > /dev/null || die "ffmpeg is needed (apt-get install ffmpeg)"
if [ ! -x "$tool" ]; then
    [ -z "${TESSARWICK_BIN:-}" ] || die "no binary at $tool"
    echo "Building the release binary ..."
    (cd "$repo" && cmake --preset release > /dev/null && cmake --build --preset release --target tessarwick) ||
        die "cannot build $tool"
fi

# Peak resident memory of one run: GNU time, or getrusage of the child through python3.
if [ ! -x /usr/bin/time ] && [ "$(id -u)" = 0 ] && command -v apt-get > /dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time > /dev/null 2>&1 || true
fi
memory_file=$(mktemp)
peak_kib() { # runs "$@" once, answers its peak resident memory in KiB
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f %M -o "$memory_file" "$@" > /dev/null || die "failed: $*"
        tail -n 1 "$memory_file"
    else
        python3 -c 'import resource, subprocess, sys
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(status)' "$@" || die "failed: $*"
    fi
}

# --- Files ----------------------------------------------------------------------------------
mkdir -p "$work"
clip=$work/clip.mpg
stream=$work/stream.mpg
zeros=$work/zeros.bin
random=$work/random.bin
b3=$work/b3.bin
head_1g=$work/head_1g.mpg
small=$work/small_8k.bin
remux=$work/remux.mpg

size_of() { if [ -f "$1" ]; then stat -c %s "$1"; else echo 0; fi; }
has_size() { [ "$(size_of "$1")" = "$2" ]; }

stream_ok() { [ -f "$stream.done" ] && [ "$(size_of "$stream")" -ge $((stream_target * 9 / 10)) ]; }

# Disk: everything not there yet, plus ffmpeg's output during the rounds.
needed=$((stream_target + mib * 100)) # ffmpeg's output
stream_ok || needed=$((needed + stream_target + 20 * mib))
has_size "$zeros" $((2 * gib)) || needed=$((needed + 2 * gib))
has_size "$random" $((2 * gib)) || needed=$((needed + 2 * gib))
has_size "$b3" $((512 * mib)) || needed=$((needed + 512 * mib))
available=$(df --output=avail -B1 "$work" | tail -n 1 | tr -d ' ')
if [ "$available" -lt $((needed + gib)) ]; then
    die "$work needs $((needed / mib)) MiB more (plus 1 GiB to spare) but its disk has $((available / mib)) MiB free"
fi

if [ ! -f "$clip.done" ]; then
    echo "Encoding a 20 s 720x576 25 fps MPEG-2 clip (GOP 12, 4:3) with MP2 audio ..."
    ffmpeg -v error -nostdin -y \
        -f lavfi -i testsrc2=size=720x576:rate=25:duration=20 \
        -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
        -c:v mpeg2video -b:v 8M -maxrate 9M -bufsize 1835k -g 12 -bf 2 -aspect 4:3 -pix_fmt yuv420p \
        -c:a mp2 -b:a 192k -f dvd "$clip"
    touch "$clip.done"
fi
if ! stream_ok; then
    rm -f "$stream.done"
    loops=$(((stream_target + $(size_of "$clip") - 1) / $(size_of "$clip") - 1))
    echo "Looping the clip $((loops + 1)) times into a program stream of about 2 GB ..."
    ffmpeg -v error -nostdin -y -stream_loop "$loops" -i "$clip" -map 0:v -map 0:a -c copy -f dvd "$stream"
    touch "$stream.done"
fi
if ! has_size "$zeros" $((2 * gib)); then
    echo "Writing 2 GiB of 00 bytes ..."
    head -c $((2 * gib)) /dev/zero > "$zeros.part" && mv "$zeros.part" "$zeros"
fi
if ! has_size "$random" $((2 * gib)); then
    echo "Writing 2 GiB of random bytes ..."
    head -c $((2 * gib)) /dev/urandom > "$random.part" && mv "$random.part" "$random"
fi
if ! has_size "$b3" $((512 * mib)); then
    echo "Writing 512 MiB of B3 bytes ..."
    head -c $((512 * mib)) /dev/zero | tr '\0' '\263' > "$b3.part" && mv "$b3.part" "$b3"
fi
if ! has_size "$head_1g" 1000000000; then
    head -c "$mib" "$clip" > "$head_1g"
    truncate -s 1000000000 "$head_1g"
fi
has_size "$small" 8192 || head -c 8192 "$clip" > "$small"
rm -f "$remux"

# --- Commands -------------------------------------------------------------------------------
own_nice=$(nice)
times_file=$(mktemp)
trap 'rm -f "$memory_file" "$times_file"' EXIT
# Sets children_cpu to the CPU time (user + system) of the finished children of this shell,
# in microseconds, from the builtin `times` (its second line: "XmY.ZZZs XmY.ZZZs"). It starts
# no process (a command substitution would be a child of its own).
children_cpu_us() {
    times > "$times_file"
    local lines line total=0 field
    mapfile -t lines < "$times_file"
    line=${lines[1]}
    for field in $line; do
        [[ $field =~ ^([0-9]+)m([0-9]+)\.([0-9]+)s$ ]] || die "cannot read the output of times: $line"
        total=$((total + (BASH_REMATCH[1] * 60 + 10#${BASH_REMATCH[2]}) * 1000000 + 10#${BASH_REMATCH[3]} * 1000))
    done
    children_cpu=$total
}
# Average wall time and CPU time in microseconds ("WALL CPU") of COUNT runs of "$@", at
# NICENESS steps above our own.
measure() {
    local count=$1 niceness=$2
    shift 2
    (
        [ "$niceness" -eq 0 ] || renice -n $((own_nice + niceness)) -p "$BASHPID" > /dev/null
        children_cpu_us
        cpu_before=$children_cpu
        start=${EPOCHREALTIME/./}
        for ((i = 0; i < count; i++)); do "$@" > /dev/null || exit 1; done
        end=${EPOCHREALTIME/./}
        children_cpu_us
        echo "$(((end - start) / count)) $(((children_cpu - cpu_before) / count))"
    ) || die "failed: $*"
}

remux_stream() {
    ffmpeg -v error -nostdin -y -i "$stream" -map 0:v -map 0:a -c copy \
        -bsf:v mpeg2_metadata=display_aspect_ratio=16/9 -f dvd "$remux"
}
flush_stream() { sync "$stream"; }
drop_remux() {
    rm -f "$remux"
    sync
}

declare -A samples # name -> wall microseconds of each round
declare -A cpu     # name -> CPU microseconds of each round
declare -A peak    # name -> peak resident KiB
names=(cat_stream all_report all_patch_ar3 all_patch_ar2 ffmpeg_remux
    cat_zeros all_zeros cat_random all_random cat_b3 all_b3 cat_8k no_all_1g)

# One round: every command once, interleaved. $1 = "time" or "warm" (untimed, with memory).
round() {
    local mode=$1
    run() { # run NAME NICENESS COUNT command...
        local name=$1 niceness=$2 count=$3
        shift 3
        if [ "$mode" = time ]; then
            local wall_and_cpu
            wall_and_cpu=$(measure "$count" "$niceness" "$@")
            samples[$name]+="${wall_and_cpu% *} "
            cpu[$name]+="${wall_and_cpu#* } "
        elif [ "$niceness" -eq 0 ]; then
            peak[$name]=$(peak_kib "$@")
        else
            measure 1 "$niceness" "$@" > /dev/null
        fi
    }
    run cat_stream 10 1 cat "$stream"
    run all_report 0 1 "$tool" "/f=$stream" /all
    run all_patch_ar3 0 1 "$tool" "/f=$stream" /all /ar=3
    flush_stream
    run all_patch_ar2 0 1 "$tool" "/f=$stream" /all /ar=2
    flush_stream
    run ffmpeg_remux 10 1 remux_stream
    drop_remux
    run cat_zeros 10 1 cat "$zeros"
    run all_zeros 0 1 "$tool" "/f=$zeros" /all
    run cat_random 10 1 cat "$random"
    run all_random 0 1 "$tool" "/f=$random" /all
    run cat_b3 10 1 cat "$b3"
    run all_b3 0 1 "$tool" "/f=$b3" /all
    if [ "$mode" = time ]; then
        run cat_8k 10 "$short_runs" cat "$small"
        run no_all_1g 0 "$short_runs" "$tool" "/f=$head_1g"
    else
        run cat_8k 10 1 cat "$small"
        run no_all_1g 0 1 "$tool" "/f=$head_1g"
    fi
}

# shellcheck source=/dev/null
echo "Machine: $(nproc) cores, $(grep -m 1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Binary: $tool"
echo "Folder: $work ($(du -sh "$work" | cut -f1) used)"
echo "Stream: $(size_of "$stream") bytes"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "Warm-up pass (fills the page cache, measures peak memory) ..."
round warm
# The stream's headers, as the tool reports them (the /ar=3 then /ar=2 pair leaves it at 4:3).
"$tool" "/f=$stream" /all /log > /dev/null
header_line=$(grep -a '^# Sequenceheader found' "$stream-Tessarwick.log" | tr -d '\r')
rm -f "$stream-Tessarwick.log"
echo "Stream report: $header_line"

for ((r = 1; r <= rounds; r++)); do
    echo "Round $r of $rounds ..."
    round time
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- Figures --------------------------------------------------------------------------------
median() { # median of the numbers in $1
    tr ' ' '\n' <<< "$1" | grep . | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
declare -A med med_cpu
for name in "${names[@]}"; do
    med[$name]=$(median "${samples[$name]}")
    med_cpu[$name]=$(median "${cpu[$name]}")
done
bytes_of() {
    case $1 in
        cat_stream | all_report | all_patch_ar3 | all_patch_ar2 | ffmpeg_remux) size_of "$stream" ;;
        cat_zeros | all_zeros) size_of "$zeros" ;;
        cat_random | all_random) size_of "$random" ;;
        cat_b3 | all_b3) size_of "$b3" ;;
        *) echo 0 ;; # a run of 8 KiB: its rate says nothing
    esac
}

echo
echo "Medians of $rounds rounds (short runs: mean of $short_runs runs per round); CPU = user + system:"
printf '  %-14s %12s %12s %10s %10s\n' name seconds "CPU seconds" MB/s "peak MiB"
for name in "${names[@]}"; do
    awk -v n="$name" -v us="${med[$name]}" -v cpu="${med_cpu[$name]}" -v b="$(bytes_of "$name")" \
        -v kib="${peak[$name]:-}" 'BEGIN {
        mem = (kib == "") ? "-" : sprintf("%.2f", kib / 1024)
        rate = (b == 0) ? "-" : sprintf("%.0f", b / us)
        printf "  %-14s %12.6f %12.6f %10s %10s\n", n, us / 1e6, cpu / 1e6, rate, mem }'
done
echo

ratio() { awk -v a="${med[$1]}" -v b="${med[$2]}" 'BEGIN { printf "%.2f", a / b }'; }
cpu_ratio() { awk -v a="${med_cpu[$1]}" -v b="${med_cpu[$2]}" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
all_over_cat=$(ratio all_report cat_stream)
patch_over_all=$(ratio all_patch_ar3 all_report)
patch2_over_all=$(ratio all_patch_ar2 all_report)
zeros_over_cat=$(ratio all_zeros cat_zeros)
random_over_cat=$(ratio all_random cat_random)
b3_over_cat=$(ratio all_b3 cat_b3)
ffmpeg_over_patch=$(ratio ffmpeg_remux all_patch_ar3)
short_over_cat=$(ratio no_all_1g cat_8k)
peak_max=0
for name in all_report all_patch_ar3 all_patch_ar2 all_zeros all_random all_b3 no_all_1g; do
    if [ "${peak[$name]}" -gt "$peak_max" ]; then peak_max=${peak[$name]}; fi
done
peak_mib=$(awk -v k="$peak_max" 'BEGIN { printf "%.2f", k / 1024 }')

# Wall-clock ratios are the figures; the CPU-time ratio beside each is steadier on a busy machine.
echo "all_report / cat              = $all_over_cat   (target <= 1.3; CPU time $(cpu_ratio all_report cat_stream))"
echo "all_patch / all_report        = $patch_over_all   (target <= 1.15; CPU time $(cpu_ratio all_patch_ar3 all_report); the /ar=2 runs: $patch2_over_all)"
echo "zeros / cat                   = $zeros_over_cat   (target <= 1.5; CPU time $(cpu_ratio all_zeros cat_zeros))"
echo "random / cat                  = $random_over_cat   (target <= 1.5; CPU time $(cpu_ratio all_random cat_random))"
echo "b3 / cat                      = $b3_over_cat   (target <= 2.0; CPU time $(cpu_ratio all_b3 cat_b3))"
echo "ffmpeg_remux / all_patch      = $ffmpeg_over_patch   (target >= 25; CPU time $(cpu_ratio ffmpeg_remux all_patch_ar3))"
echo "no_all_1g / cat_8k            = $short_over_cat   (target <= 2; CPU time $(cpu_ratio no_all_1g cat_8k))"
echo "peak_rss_mib                  = $peak_mib   (target <= 4)"
echo "all: all/cat=$all_over_cat patch/all=$patch_over_all zeros/cat=$zeros_over_cat" \
    "random/cat=$random_over_cat b3/cat=$b3_over_cat ffmpeg/patch=$ffmpeg_over_patch" \
    "no_all_1g/cat_8k=$short_over_cat peak_rss_mib=$peak_mib"
