#!/usr/bin/env bash
# The silent installation against the installer a vendor would pick instead, side by side: the
# setup's `/S /D=` of a real-sized file set (fileset.sh) against an NSIS installer of the same
# files (peer.nsi: solid LZMA, unpacked straight into the same folder). One untimed run of each
# first (the first runs after the build were the slowest, and the setup ran first), then five
# timed runs of each (VELMARIN_SILENT_RUNS, odd), alternating (setup, peer, peer, setup, ...),
# each in a fresh copy of a prefix made once in the build folder, with its Wine server, services
# and desktop already running; the time is the whole process as a deployment tool sees it.
# Prints both medians and their ratio, the setup's time per step from its own log of its median
# run, and what the browser's own runs cost on their own. Then, alternating in the same way, the
# payload program alone (velmarin3zip.exe /T=1 and /T=2 /P=, in fresh prefixes too) with its
# peak memory, and the payload's sizes and blocks. A measurement, not a test. Run after
# tools/test.sh or tools/run.sh.
source "$(dirname "$0")/../tools/env.sh"
source "$(dirname "$0")/fileset.sh"
[ "$I386_ROUTE" = emulated ] && build_trapno_library
enter_i386_emulation "$0" "$@"
ensure_display

work="$BUILD/bench/silent"
template="$work/prefix-template"
prefix="$work/prefix"
folder_windows='C:\Program Files\Velmarin 3'
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
[ -x "$server" ] || server=wineserver

end_run() {
    WINEPREFIX="$prefix" "$server" -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap 'end_run; stop_session' EXIT
echo "load before: $(uptime)"

set_dir="$BUILD/bench/real-sized-files"
make_real_sized_file_set "$set_dir"
setup_build="$BUILD/bench/setup-real"
build_setup_with_file_set "$set_dir" "$setup_build"
mkdir -p "$work"
peer="$work/peer.exe"
nsis_target=""
[ "$WINDOWS_ARCH" = x86_64 ] && nsis_target=-DTARGET=amd64-unicode
makensis -V2 -DSOURCE_DIR="$set_dir" -DOUTFILE="$peer" $nsis_target "$ROOT/bench/peer.nsi"
echo "setup $(($(stat -c %s "$setup_build/VelmarinSetup.exe") / 1024)) KB, peer $(($(stat -c %s "$peer") / 1024)) KB"

rm -rf "$template"
prepare_prefix "$template" "$WINEARCH"
WINEPREFIX="$template" "$server" -w </dev/null >/dev/null 2>&1 || true

# A fresh prefix with its server persistent, Wine's own services started and its desktop up, as
# on a machine that is already running: the time measured is the installer's own. Wine starts
# the desktop (explorer.exe /desktop) for the first program that needs it and closes it a second
# after the last such program ends; an idle Notepad keeps it open, as a logged-in session would.
begin_run() {
    end_run
    cp -a "$template" "$prefix"
    export WINEPREFIX="$prefix"
    "$server" -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    (wine notepad.exe </dev/null >/dev/null 2>&1 &)
    local _
    for _ in $(seq 50); do
        pgrep -f 'explorer.exe /desktop' >/dev/null && pgrep -f 'system32.notepad.exe' >/dev/null && break
        sleep 0.1
    done
    sleep 0.5
}

milliseconds_since() {
    echo $((($(date +%s%N) - $1) / 1000000))
}

# Every file of the set must be in the install folder, byte for byte, or the time means nothing.
check_installed() {
    local installed="$prefix/drive_c/Program Files/Velmarin 3" file
    while IFS= read -r file; do
        cmp -s "$set_dir/$file" "$installed/$file" || { echo "$1: $file is not installed as packed" >&2; exit 1; }
    done < <(cd "$set_dir" && find . -type f)
}

# The installed browser started as the setup starts it, timed from outside.
browser_run() {
    local start browser='C:\Program Files\Velmarin 3\Velmarin.exe'
    start=$(date +%s%N)
    wine "$browser" $1 </dev/null >/dev/null 2>&1 || true
    milliseconds_since "$start"
}

declare -a setup_times peer_times tp3_times tp2_times tp11_times
run_setup() {
    local n=$1 start rc
    begin_run
    start=$(date +%s%N)
    rc=0
    wine "$setup_build/VelmarinSetup.exe" /S '/Log=C:\velmarin-setup.log' "/D=$folder_windows" </dev/null >/dev/null 2>&1 || rc=$?
    local took
    took=$(milliseconds_since "$start")
    [ "$rc" -eq 0 ] || { echo "the setup ended with $rc" >&2; exit 1; }
    check_installed setup
    setup_times+=("$took")
    echo "$start $took" > "$work/setup-$n.time"
    cp "$prefix/drive_c/velmarin-setup.log" "$work/setup-$n.log"
    # The stand-in browser notes each start beside itself: the runs the setup made.
    tr -d '\r' < "$prefix/drive_c/Program Files/Velmarin 3/velmarin-starts.log" > "$work/setup-$n.starts"
    tp3_times+=("$(browser_run "/tp:3 /v:1 /tb:0")")
    tp2_times+=("$(browser_run "/tp:2 /v:1")")
    tp11_times+=("$(browser_run "/tp:11 /v:1")")
    echo "setup run $n: $took ms"
}
run_peer() {
    local n=$1 start rc took
    begin_run
    start=$(date +%s%N)
    rc=0
    wine "$peer" /S </dev/null >/dev/null 2>&1 || rc=$?
    took=$(milliseconds_since "$start")
    [ "$rc" -eq 0 ] || { echo "the peer ended with $rc" >&2; exit 1; }
    check_installed peer
    peer_times+=("$took")
    echo "peer run $n: $took ms"
}

# The payload program alone, as the setup runs it but with `$1` threads, into a new folder.
declare -a unpack1_times unpack2_times unpack1_kb unpack2_kb
run_unpack() {
    local threads=$1 figures took kb
    begin_run
    figures=$(measured_run wine "$setup_build/velmarin3zip.exe" /T="$threads" '/P=C:\unpacked') ||
        { echo "the payload program ended with an error" >&2; exit 1; }
    read -r took kb <<< "$figures"
    local unpacked="$prefix/drive_c/unpacked" file
    while IFS= read -r file; do
        cmp -s "$set_dir/$file" "$unpacked/$file" || { echo "unpack: $file is not as packed" >&2; exit 1; }
    done < "$setup_build/res/payload-files.txt"
    if [ "$threads" = 1 ]; then unpack1_times+=("$took"); unpack1_kb+=("$kb"); else unpack2_times+=("$took"); unpack2_kb+=("$kb"); fi
    echo "unpacking with $threads thread(s): $took ms, peak $kb KB"
}

runs=${VELMARIN_SILENT_RUNS:-5}
run_setup 0; run_peer 0
setup_times=(); peer_times=(); tp3_times=(); tp2_times=(); tp11_times=()
for n in $(seq "$runs"); do
    if [ $((n % 2)) -eq 1 ]; then run_setup "$n"; run_peer "$n"; else run_peer "$n"; run_setup "$n"; fi
done
for n in $(seq "$runs"); do
    if [ $((n % 2)) -eq 1 ]; then run_unpack 1; run_unpack 2; else run_unpack 2; run_unpack 1; fi
done
end_run

median() {
    printf '%s\n' "$@" | sort -n | sed -n "$(((runs + 1) / 2))p"
}
setup_median=$(median "${setup_times[@]}")
peer_median=$(median "${peer_times[@]}")
echo "load after: $(uptime)"
echo "== silent install, median of $runs: setup $setup_median ms, NSIS peer $peer_median ms"
awk -v s="$setup_median" -v p="$peer_median" 'BEGIN { printf "ratio (setup / peer): %.2f\n", s / p }'

# The steps of the median setup run, from its log: each step ends at the first line after the
# previous step's end that starts with its text.
for n in $(seq "$runs"); do
    read -r start took < "$work/setup-$n.time"
    [ "$took" = "$setup_median" ] && break
done
echo "== the setup's steps in its median run ($took ms), from its log"
# What bench/chart.sh draws: both medians, then the steps as printed here.
echo "$setup_median $peer_median" > "$work/median-figures.txt"
stamped=$(grep -a '^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] ' "$work/setup-$n.log" | tr -d '\r' | while IFS= read -r line; do
    echo "$(date -d "${line:0:23}" +%s%3N) ${line:24}"
done)
{
    echo "$((start / 1000000)) (process start)"
    echo "$stamped"
    echo "$(((start / 1000000) + took)) (process end)"
} | awk '
    BEGIN {
        n = split("检测到|安装目录：|安装文件已解压到|已复制|已在系统中注册|已创建快捷方式|已写入安装记录|已设为默认浏览器|安装完成|(process end)", ends, "|")
        split("start to the first log line (Wine loads the setup, the command line, the log)|" \
              "the installed state|" \
              "unpacking the payload|" \
              "the install folder decided and protected, the extraction checked|" \
              "the files moved (or copied) into the install folder|" \
              "the file list for the record, the .url files of the links bar, the registration|" \
              "the shortcuts|" \
              "the record|" \
              "the runs of the browser /tp:3 /v:1 /tb:0 and /tp:2 /v:1|" \
              "the run /tp:11 /v:1 on Windows 7, the notices to the shell, the unpacked files removed|" \
              "the line of the exit code, the exit", labels, "|")
    }
    { time[NR] = $1; text[NR] = substr($0, index($0, " ") + 1); lines = NR }
    END {
        from = 1
        for (step = 0; step <= n; ++step) {
            for (at = from + 1; at <= lines; ++at)
                if (step == 0 ? at == 2 : index(text[at], ends[step]) == 1)
                    break
            if (at > lines)
                continue
            printf "%6d ms  %s\n", time[at] - time[from], labels[step + 1]
            from = at
        }
    }' | tee -a "$work/median-figures.txt"
echo "the setup started the browser as: $(sed 's/^.*Velmarin.exe"* *//' "$work/setup-$n.starts" | paste -sd ',' | sed 's/,/, /g')"
echo "== the browser's own runs on their own (median of $runs, each a new Wine process started from outside)"
echo "/tp:3 /v:1 /tb:0: $(median "${tp3_times[@]}") ms, /tp:2 /v:1: $(median "${tp2_times[@]}") ms, /tp:11 /v:1 (Windows 7 only): $(median "${tp11_times[@]}") ms"

unpack1=$(median "${unpack1_times[@]}")
unpack2=$(median "${unpack2_times[@]}")
echo "== the payload program alone, median of $runs: 1 thread $unpack1 ms, 2 threads $unpack2 ms;" \
    "peak memory 1 thread $(printf '%s\n' "${unpack1_kb[@]}" | sort -n | tail -n 1) KB, 2 threads" \
    "$(printf '%s\n' "${unpack2_kb[@]}" | sort -n | tail -n 1) KB at most"
awk -v one="$unpack1" -v two="$unpack2" -v p="$peer_median" \
    'BEGIN { printf "unpacking / the peer'"'"'s whole run: 1 thread %.2f, 2 threads %.2f\n", one / p, two / p }'
floor=$({ WINEPREFIX="$template" measured_run wine "$setup_build/velmarin3zip.exe" || true; } | cut -d' ' -f2)
echo "the same program ended at once (no /P=): $floor KB, what Wine itself takes"
WINEPREFIX="$template" print_payload_sizes_and_blocks "$setup_build" "$set_dir" "$peer"
