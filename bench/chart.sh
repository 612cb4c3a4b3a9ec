#!/usr/bin/env bash
# Draws where a silent installation's time goes: the setup's steps in the median run of
# bench/silent.sh, one after another, beside the NSIS peer's whole median run, from the figures
# that benchmark leaves in the build folder (bench/silent/median-figures.txt: both medians, then
# one line a step, "<ms> ms  <what>"). Run after bench/silent.sh; writes docs/silent-time.png, or
# the file named as the first argument. Draws with gnuplot, which it installs (gnuplot-nox).
source "$(dirname "$0")/../tools/env.sh"

figures="$BUILD/bench/silent/median-figures.txt"
out=${1:-$ROOT/docs/silent-time.png}
[ -s "$figures" ] || { echo "No $figures: run bench/silent.sh first" >&2; exit 1; }
if ! command -v gnuplot >/dev/null; then
    echo "Installing: gnuplot-nox"
    apt_update
    apt_install --no-install-recommends gnuplot-nox
fi

read -r setup_ms peer_ms < "$figures"
colours=(4e79a7 f28e2b e15759 76b7b2 59a14f edc948 b07aa1 ff9da7 9c755f bab0ac 17becf bcbd22)
script=$(mktemp)
trap 'rm -f "$script"' EXIT
{
    cat <<EOF
set terminal pngcairo size 1100,700 font "DejaVu Sans,10"
set output "$out"
set title "A silent installation, /S /D= of 77 MB: the setup's steps in its median run beside the NSIS peer's median run (bench/silent.sh)"
set xlabel "ms from the process's start, as a deployment tool sees it"
set yrange [0.4:2.6]
set ytics ("NSIS peer" 1, "setup" 2)
set grid xtics
set key outside below left Left reverse vertical maxrows 12 noautotitle
set style fill solid 0.9 border rgb "white"
EOF
    # Each step a box of its own from where the one before ended; its figure on it where it fits.
    at=0 n=0 plot=""
    while read -r ms _ what; do
        colour=${colours[$((n % ${#colours[@]}))]}
        centre=$(awk -v a="$at" -v m="$ms" 'BEGIN { print a + m / 2 }')
        plot="$plot, '-' using 1:2:3:4 with boxxyerror fc rgb '#$colour' title \"$ms ms  ${what//\"/}\""
        [ "$ms" -ge $((setup_ms / 25)) ] && echo "set label \"$ms\" at $centre,2 center front"
        data[n]="$centre 2 $(awk -v m="$ms" 'BEGIN { print m / 2 }') 0.3"
        at=$((at + ms)) n=$((n + 1))
    done < <(tail -n +2 "$figures")
    echo "set label \"$peer_ms\" at $((peer_ms / 2)),1 center front"
    # The steps end at the process's end, give or take the clock's rounding.
    [ "$at" -gt "$setup_ms" ] || at=$setup_ms
    echo "set label \"$setup_ms ms\" at $at,2 left offset 1,0"
    echo "set xrange [0:$(( (at > peer_ms ? at : peer_ms) * 112 / 100 ))]"
    echo "set label \"$peer_ms ms\" at $peer_ms,1 left offset 1,0"
    echo "plot '-' using 1:2:3:4 with boxxyerror fc rgb '#555555' title \"$peer_ms ms  the NSIS peer's whole run (one process)\"$plot"
    echo "$((peer_ms / 2)) 1 $((peer_ms / 2)) 0.3"
    echo e
    for line in "${data[@]}"; do
        echo "$line"
        echo e
    done
} > "$script"
gnuplot "$script"
echo "Drawn: $out (setup $setup_ms ms, NSIS peer $peer_ms ms, $n steps)"
