#!/usr/bin/env bash
# Benchmark: the tool against the floor (decode of every channel plus ZIPS encode of the kept box, no search, no
# metadata) and against oiiotool's autotrim, on generated HD and UHD sequences. Prints a Markdown table.
#
#   scripts/bench.sh            (as root on Debian the first time: installs GNU time when it is missing)
#
# Settings from the environment: ROUNDS (HD rounds, default 5), ROUNDS_UHD (default 3), SEQUENCE_ROUNDS
# (default 3), UHD=0 to leave out UHD, KEEP=1 to keep the temp folder. Progress goes to stderr, the table to stdout.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${ROUNDS:-5}"
roundsUhd="${ROUNDS_UHD:-3}"
sequenceRounds="${SEQUENCE_ROUNDS:-3}"
withUhd="${UHD:-1}"
sequenceFrames=8

if [ ! -x /usr/bin/time ]; then
  echo "Installing GNU time" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
"$root/scripts/build.sh" >&2
tool="$root/build/zqExrCropRegion"
floor="$root/build/bench/floor"
search="$root/build/bench/cropSearch"
make="$root/build/tools/zqMakeFrame"
source "$root/scripts/frameRecipes.sh"
oiiotool="$(command -v oiiotool || true)"

work="$(mktemp -d /tmp/zqbench.XXXXXX)"
if [ "${KEEP:-0}" != 1 ]; then trap 'rm -rf "$work"' EXIT; fi
log() { echo "[bench] $*" >&2; }

# Runs a command, appends "seconds peakKiB cpuSeconds" to the file named first; the command's output goes to
# $work/last.out. CPU seconds (user + system) are less disturbed than wall time when other work shares the machine.
timed() {
  local into="$1"; shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -o "$work/rss" -f '%M %U %S' "$@" >"$work/last.out" 2>&1
  end=$(date +%s%N)
  tail -n1 "$work/rss" | awk -v a="$start" -v b="$end" '{ printf "%.4f %s %.2f\n", (b - a) / 1e9, $1, $2 + $3 }' >>"$into"
}
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$2" '{ print $c }' "$1"; }
maximum() { sort -g | tail -n1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

# Crop boxes printed by the tool, one "x0 y0 x1 y1" line per frame; the frames' data windows start at 0,0.
cropBoxes() { sed -n 's/.*min\[ *\([0-9]*\), *\([0-9]*\)\]  max\[ *\([0-9]*\), *\([0-9]*\)\].*/\1 \2 \3 \4/p' "$1"; }

# Floor arguments for the frames of a folder (IN x0 y0 x1 y1 ...), from the boxes the tool printed.
floorArguments() {
  local dir="$1" boxes="$2" i=1
  while read -r x0 y0 x1 y1; do
    printf '%s %s %s %s %s ' "$dir/$(printf 'shot.%04d.exr' "$i")" "$x0" "$y0" "$x1" "$y1"
    i=$((i + 1))
  done <"$boxes"
}

log "load before measuring: $(uptime)"
loadBefore="$(cut -d' ' -f1-3 /proc/loadavg)"

# Frames: one per variant and size, the all-empty HD frame, and the HD sequence.
declare -a cases=()
for variant in crop full farz multipart empty; do cases+=("HD $variant 1920 1080"); done
if [ "$withUhd" = 1 ]; then
  for variant in crop full farz multipart; do cases+=("UHD $variant 3840 2160"); done
fi
log "generating frames in $work"
for entry in "${cases[@]}"; do
  read -r size variant width height <<<"$entry"
  mkdir -p "$work/$size-$variant/floor" "$work/$size-$variant/oiio"
  "$make" -n 1-1 "$work/$size-$variant/shot.####.exr" "$(benchRecipe "$variant" "$width" "$height")" &
  if [ "$(jobs -r | wc -l)" -ge 2 ]; then wait -n; fi
done
mkdir -p "$work/sequence/floor"
"$make" -n 1-"$sequenceFrames" "$work/sequence/shot.####.exr" "$(benchRecipe crop 1920 1080)" &
wait

rows=""
for entry in "${cases[@]}"; do
  read -r size variant width height <<<"$entry"
  dir="$work/$size-$variant"
  n="$rounds"; [ "$size" = UHD ] && n="$roundsUhd"
  log "$size $variant: $n rounds"
  "$tool" "$dir/shot." .exr 1 1 1 0 true true >"$dir/tool.out"
  cropBoxes "$dir/tool.out" >"$dir/boxes"
  read -r -a floorArgs <<<"$(floorArguments "$dir" "$dir/boxes")"
  for ((r = 0; r < n; r++)); do
    timed "$dir/tool.times" "$tool" "$dir/shot." .exr 1 1 1 0 true true
    timed "$dir/floor.times" "$floor" "$dir/floor" "${floorArgs[@]}"
    if [ -n "$oiiotool" ]; then
      timed "$dir/oiio.times" "$oiiotool" "$dir/shot.0001.exr" --autotrim --compression zips -o "$dir/oiio/shot.0001.exr"
    fi
  done
  toolTime=$(column "$dir/tool.times" 1 | median)
  floorTime=$(column "$dir/floor.times" 1 | median)
  toolRss=$(column "$dir/tool.times" 2 | maximum)
  cpuRatio=$(ratio "$(column "$dir/tool.times" 3 | median)" "$(column "$dir/floor.times" 3 | median)")
  searchTime=$("$search" "$dir/shot.0001.exr" 21 | awk '{ print $2 }')
  decoded=$((width * height * (13 * 2 + 7 * 4)))
  limitKiB=$(awk -v d="$decoded" 'BEGIN { printf "%.0f", (1.15 * d + 48 * 1048576) / 1024 }')
  share=$(awk -v s="$searchTime" -v t="$toolTime" 'BEGIN { printf "%.1f %%", 100 * s / t }')
  oiioCells="| – | – | –"
  if [ -n "$oiiotool" ]; then
    oiioTime=$(column "$dir/oiio.times" 1 | median)
    oiioRss=$(column "$dir/oiio.times" 2 | maximum)
    oiioCells="| $oiioTime | $(ratio "$toolTime" "$oiioTime") | $(mib "$oiioRss")"
  fi
  rows+="| $size $variant | $toolTime | $floorTime | $(ratio "$toolTime" "$floorTime") | $cpuRatio | $(printf '%.4f' "$searchTime") | $share"
  rows+=" | $(mib "$toolRss") | $(mib $((decoded / 1024))) | $(mib "$limitKiB") $oiioCells |"$'\n'
done

# The sequence: the tool over all frames in one run, the floor over them in one process, and one floor run per frame.
dir="$work/sequence"
log "HD sequence of $sequenceFrames frames: $sequenceRounds rounds"
"$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true >"$dir/tool.out"
cropBoxes "$dir/tool.out" >"$dir/boxes"
read -r -a floorArgs <<<"$(floorArguments "$dir" "$dir/boxes")"
for ((r = 0; r < sequenceRounds; r++)); do
  timed "$dir/tool.times" "$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true
  timed "$dir/floor.times" "$floor" "$dir/floor" "${floorArgs[@]}"
  timed "$dir/single.times" bash -c 'floor="$1" out="$2"; shift 2
    while [ $# -ge 5 ]; do "$floor" "$out" "$1" "$2" "$3" "$4" "$5"; shift 5; done' - "$floor" "$dir/floor" "${floorArgs[@]}"
done
seqTool=$(column "$dir/tool.times" 1 | median)
seqFloor=$(column "$dir/floor.times" 1 | median)
seqToolCpu=$(column "$dir/tool.times" 3 | median)
seqFloorCpu=$(column "$dir/floor.times" 3 | median)
seqSingle=$(column "$dir/single.times" 1 | median)
seqSingleCpu=$(column "$dir/single.times" 3 | median)
loadAfter="$(cut -d' ' -f1-3 /proc/loadavg)"

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)"
exr="$(dpkg-query -W -f='${Version}' libopenexr-dev 2>/dev/null || echo '?')"
cat <<EOF
Machine: $(nproc) cores, $cpu; OpenEXR $exr; $(date '+%Y-%m-%d %H:%M'); load average before $loadBefore, after $loadAfter.
Medians of alternating rounds (HD $rounds, UHD $roundsUhd), one frame per run, seconds of wall time; CPU = user + system.
Crop search: median of findCropWindow alone on the frame in memory, as a share of the tool's time.
Peak RSS in MiB; limit = 1.15 × decoded pixel bytes + 48 MiB.

| Frame | Tool s | Floor s | Tool / floor | CPU tool / floor | Search s | Search share | Tool RSS | Decoded | RSS limit | oiiotool s | Tool / oiiotool | oiiotool RSS |
|---|---|---|---|---|---|---|---|---|---|---|---|---|
${rows%$'\n'}

| HD sequence, $sequenceFrames frames | Seconds | Tool / this | CPU s | CPU tool / this |
|---|---|---|---|---|
| Tool, one run | $seqTool | 1.00 | $seqToolCpu | 1.00 |
| Floor, one process | $seqFloor | $(ratio "$seqTool" "$seqFloor") | $seqFloorCpu | $(ratio "$seqToolCpu" "$seqFloorCpu") |
| Floor, one process per frame | $seqSingle | $(ratio "$seqTool" "$seqSingle") | $seqSingleCpu | $(ratio "$seqToolCpu" "$seqSingleCpu") |
EOF
