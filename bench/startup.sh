#!/usr/bin/env bash
# The window's start-up time (the real program on the offscreen platform,
# from its start until its window is shown and it has ended again) with a
# damaged 250 KB ini file of 20,000 sections (the one of the tests: CR LF
# line ends, lines without "=", headers without "]", invalid UTF-8, a cut-off
# last line; the program's own section in its middle) in each of the files
# read at start-up, and in all three at once, against the same start with
# small files holding the same sections. Each start runs in turn with the
# reference start, REPS times; the medians count. Target: at most 1.5 times
# the reference (a damaged file adds at most half).
# Usage: bench/startup.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-15}
. "$here/side_by_side.sh"

[ -x "$build/wavrell" ] && [ -x "$build/bench/bench_settings_store" ] || "$root/scripts/build" Release "$build" >/dev/null
build=$(cd "$build" && pwd)
prog="$build/wavrell"
gen="$build/bench/bench_settings_store"
work=$(mktemp -d "$build/startup-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/music"
: >"$work/music/first.wav"
: >"$work/music/second.wav"
recent=("[RecentFiles]" "nToUse=9" "1=$work/music/first.wav" "2=$work/music/second.wav")
user=('[Software\OstrelData\Wavrell]' "AutoCheckForNewVersion=dword:0" "LastNewVersionCheckDate=dword:40000")
machine=('[Software\OstrelData\WebMenu]' "MenuDate=sz:20020523"
         '[Software\OstrelData\WebMenu\items]' "Shop=sz:https://shop.ostreldata.com/")

# setup NAME DAMAGED...: private folders for one kind of start; the files
# named in DAMAGED (recent, user, machine) are the damaged ones.
setup() {
    local name=$1
    shift
    local dir="$work/$name"
    mkdir -p "$dir/home" "$dir/config/OstrelData/Wavrell/0.2" "$dir/data" "$dir/cache" "$dir/etc-xdg" "$dir/runtime"
    chmod 700 "$dir/runtime"
    write() {  # FILE KIND LINES...: damaged when KIND is among the damaged ones
        local file=$1 kind=$2
        shift 2
        if printf '%s\n' "${damaged[@]}" | grep -qx "$kind"; then
            "$gen" --write-damaged "$file" "${@}"
        else
            printf '%s\r\n' "$@" >"$file"
        fi
    }
    local damaged=("$@" "")
    write "$dir/config/OstrelData/Wavrell/0.2/wavrell.ini" recent "${recent[@]}"
    write "$dir/config/wavrell-registry.ini" user "${user[@]}"
    write "$dir/etc-xdg/wavrell-registry.ini" machine "${machine[@]}"
}
start_command() {
    local dir="$work/$1"
    echo "env HOME='$dir/home' XDG_CONFIG_HOME='$dir/config' XDG_DATA_HOME='$dir/data' XDG_CACHE_HOME='$dir/cache'" \
         "XDG_CONFIG_DIRS='$dir/etc-xdg' XDG_RUNTIME_DIR='$dir/runtime' QT_QPA_PLATFORM=offscreen" \
         "WAVRELL_TEST_DUMP_MENUS='$dir/menus.txt' '$prog'"
}

setup reference
setup recent recent
setup user user
setup machine machine
setup all recent user machine

echo "window start-up, $reps starts each against the reference (medians)"
fail=0
for kind in recent user machine all; do
    time_pair "$reps" "$(start_command "$kind")" "$(start_command reference)"
    grep -q 'Shop' "$work/$kind/menus.txt" || { echo "MISS: the $kind start did not read the web item"; fail=1; }
    grep -q 'first.wav' "$work/$kind/menus.txt" || { echo "MISS: the $kind start did not read the recent files"; fail=1; }
    printf '  damaged %-8s %s s against %s s: ratio %s (median of pairwise ratios %s); ' \
        "$kind:" "$TA" "$TB" "$RATIO" "$PRATIO"
    verdict "$RATIO" 1.5
    awk -v r="$RATIO" 'BEGIN {exit !(r <= 1.5)}' || fail=1
done
exit $fail
