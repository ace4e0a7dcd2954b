#!/usr/bin/env bash
# Benchmark: the tool against the plain floor (the library as it comes: a decode of every channel and a ZIPS encode of
# the kept box, no search, no metadata), the refined floor (the same with the tool's two changes: libdeflate for the
# library's zlib calls, huge pages for the planes) and oiiotool's autotrim, on generated HD and UHD frames, single- and
# multi-part, and an 8-frame HD sequence. Also: the tool's output against a plain-zlib build of it (size, pixels and
# attributes by the tool's dump and by oiiotool --diff), the cost of --verify and of the fsync calls, and a dry run of
# the sequence against its real run (time, bytes reported, files touched); last, the memory budget
# (scripts/benchMemory.sh, which also runs alone). Markdown to stdout.
#
#   scripts/bench.sh        (as root on Debian the first time: installs GNU time, strace and openimageio-tools)
#
# Settings from the environment: ROUNDS (HD rounds, default 7), ROUNDS_UHD (default 5), SEQUENCE_ROUNDS (default 5),
# UHD=0 to leave out UHD, MEMORY=0 to leave out the memory budget (its own settings are in benchMemory.sh), KEEP=1 to
# keep the temp folder. Progress goes to stderr.
set -euo pipefail
source "$(dirname "$0")/benchHelpers.sh" time:/usr/bin/time strace:strace openimageio-tools:oiiotool
rounds="${ROUNDS:-7}" roundsUhd="${ROUNDS_UHD:-5}" sequenceRounds="${SEQUENCE_ROUNDS:-5}" withUhd="${UHD:-1}"
sequenceFrames=8
"$root/scripts/build.sh" "$root/build-plain" -DZQ_PLAIN_ZLIB=ON >&2
plainTool="$root/build-plain/zqExrCropRegion"
floor="$root/build/bench/floor" refined="$root/build/bench/floorRefined" search="$root/build/bench/cropSearch"

# Crop boxes printed by the tool, one "x0 y0 x1 y1" line per frame; the frames' data windows start at 0,0.
cropBoxes() { sed -n 's/.*min\[ *\([0-9]*\), *\([0-9]*\)\]  max\[ *\([0-9]*\), *\([0-9]*\)\].*/\1 \2 \3 \4/p' "$1"; }
# Floor arguments for the frames of a folder (IN x0 y0 x1 y1 ...), from the boxes the tool printed.
floorArguments() {
  local i=1
  while read -r x0 y0 x1 y1; do printf '%s %s %s %s %s ' "$1/$(printf 'shot.%04d.exr' "$i")" "$x0" "$y0" "$x1" "$y1"; i=$((i + 1)); done <"$2"
}
log "load before measuring: $(uptime)"
loadBefore="$(loadAverage)"
declare -a cases=()
for variant in crop multipart full farz empty piz dwaa; do cases+=("HD $variant 1920 1080"); done
[ "$withUhd" = 1 ] && cases+=("UHD crop 3840 2160" "UHD multipart 3840 2160")
log "generating frames in $work"
for entry in "${cases[@]}"; do
  read -r size variant width height <<<"$entry"
  mkdir -p "$work/$size-$variant"/{floor,refined,oiio,plain}
  "$make" -n 1-1 "$work/$size-$variant/shot.####.exr" "$(benchRecipe "$variant" "$width" "$height")"
done
mkdir -p "$work/sequence"/{floor,refined}
"$make" -n 1-"$sequenceFrames" "$work/sequence/shot.####.exr" "$(benchRecipe crop 1920 1080)"

rows="" outputRows=""
for entry in "${cases[@]}"; do
  read -r size variant width height <<<"$entry"
  dir="$work/$size-$variant"
  n="$rounds"; [ "$size" = UHD ] && n="$roundsUhd"
  log "$size $variant: $n rounds"
  "$tool" "$dir/shot." .exr 1 1 1 0 true true >"$dir/tool.out"
  cp "$dir/shot.0001.exr" "$dir/plain/" && "$plainTool" "$dir/plain/shot." .exr 1 1 1 0 true true >/dev/null
  cropBoxes "$dir/tool.out" >"$dir/boxes"
  read -r -a floorArgs <<<"$(floorArguments "$dir" "$dir/boxes")"
  for ((r = 0; r < n; r++)); do
    timed "$dir/tool.times" "$tool" "$dir/shot." .exr 1 1 1 0 true true
    timed "$dir/floor.times" "$floor" "$dir/floor" "${floorArgs[@]}"
    timed "$dir/refined.times" "$refined" "$dir/refined" "${floorArgs[@]}"
    timed "$dir/oiio.times" oiiotool "$dir/shot.0001.exr" --autotrim --compression zips -o "$dir/oiio/shot.0001.exr"
    [ "$size $variant" = "HD crop" ] && timed "$dir/verify.times" "$tool" "$dir/shot." .exr 1 1 1 0 true true --verify
  done
  toolTime=$(column "$dir/tool.times" 1 | median)
  floorTime=$(column "$dir/floor.times" 1 | median)
  refinedTime=$(column "$dir/refined.times" 1 | median)
  oiioTime=$(column "$dir/oiio.times" 1 | median)
  searchTime=$("$search" "$dir/shot.0001.exr" 21 | awk '{ print $2 }')
  rows+="| $size $variant | $toolTime | $floorTime | $refinedTime | $oiioTime | $(ratio "$toolTime" "$floorTime")"
  rows+=" | $(ratio "$toolTime" "$refinedTime") | $(ratio "$toolTime" "$oiioTime")"
  rows+=" | $(column "$dir/tool.times" 3 | median) | $(column "$dir/tool.times" 4 | median)"
  rows+=" | $(column "$dir/floor.times" 3 | median) | $(column "$dir/floor.times" 4 | median)"
  rows+=" | $(mib "$(column "$dir/tool.times" 2 | sort -g | tail -n1)") | $(mib "$(column "$dir/floor.times" 2 | sort -g | tail -n1)")"
  rows+=" | $(awk -v s="$searchTime" -v t="$toolTime" 'BEGIN { printf "%.1f %%", 100 * s / t }') |"$'\n'
  # The same frame written by the plain-zlib build: sizes, and the pixels and attributes by two readers.
  out="$dir/shot_crop.0001.exr" plainOut="$dir/plain/shot_crop.0001.exr"
  sameDump=no; diff -q <(stableDump "$out") <(stableDump "$plainOut") >/dev/null && sameDump=yes
  oiioDiff="$(oiiotool "$out" "$plainOut" --diff 2>&1 | grep -c -E '^(PASS|  PASS)' || true)"
  outputRows+="| $size $variant | $(stat -c %s "$plainOut") | $(stat -c %s "$out") | $(percent "$(stat -c %s "$out")" "$(stat -c %s "$plainOut")")"
  outputRows+=" | $sameDump | $([ "$oiioDiff" -gt 0 ] && echo pass || echo FAIL) |"$'\n'
done

# --verify and fsync on the HD crop frame.
dir="$work/HD-crop"
verifyRatio=$(ratio "$(column "$dir/verify.times" 1 | median)" "$(column "$dir/tool.times" 1 | median)")
strace -f -T -e trace=fsync -o "$work/strace" "$tool" "$dir/shot." .exr 1 1 1 0 true true >/dev/null
fsyncSeconds=$(grep -o '<[0-9.]*>' "$work/strace" | tr -d '<>' | awk '{ s += $1 } END { printf "%.4f", s }')
fsyncCalls=$(grep -c 'fsync(' "$work/strace")

# The sequence: the tool over all frames in one run, each floor over them in one process.
dir="$work/sequence"
log "HD sequence of $sequenceFrames frames: $sequenceRounds rounds"
"$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true >"$dir/tool.out"
cropBoxes "$dir/tool.out" >"$dir/boxes"
read -r -a floorArgs <<<"$(floorArguments "$dir" "$dir/boxes")"
for ((r = 0; r < sequenceRounds; r++)); do
  timed "$dir/tool.times" "$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true
  timed "$dir/dry.times" "$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true --dry-run
  timed "$dir/floor.times" "$floor" "$dir/floor" "${floorArgs[@]}"
  timed "$dir/refined.times" "$refined" "$dir/refined" "${floorArgs[@]}"
done
seqTool=$(column "$dir/tool.times" 1 | median)
seqFloor=$(column "$dir/floor.times" 1 | median)
seqRefined=$(column "$dir/refined.times" 1 | median)
seqDry=$(column "$dir/dry.times" 1 | median)
# The dry run against the real run: the sizes each reports, and what the dry run changed in the folder.
rm -f "$dir"/shot_crop.*.exr
snapshot() { find "$dir" -printf '%M %s %T@ %C@ %p\n' | sort; }
snapshot >"$work/before.files"
"$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true --dry-run "--report=$work/dry.jsonl" >/dev/null
snapshot >"$work/after.files"
"$tool" "$dir/shot." .exr 1 "$sequenceFrames" 1 0 true true "--report=$work/real.jsonl" >/dev/null
dryBytes=$(jq -r 'select(.summary) | .bytesOut' "$work/dry.jsonl") realBytes=$(jq -r 'select(.summary) | .bytesOut' "$work/real.jsonl")
sameFrames=no
diff -q <(jq -c '[.frame, .bytesOut]' "$work/dry.jsonl") <(jq -c '[.frame, .bytesOut]' "$work/real.jsonl") >/dev/null && sameFrames=yes
touched=$(diff "$work/before.files" "$work/after.files" | grep -c '^>' || true)
loadAfter="$(loadAverage)"

cat <<EOF
Machine: $(machine); load average before $loadBefore, after $loadAfter.
Medians of alternating rounds (HD $rounds, UHD $roundsUhd) of tool, plain floor, refined floor and oiiotool, one frame per run; wall seconds; user and system CPU seconds; peak RSS in MiB.

| Frame | Tool s | Plain floor s | Refined floor s | oiiotool s | Tool / plain floor | Tool / refined floor | Tool / oiiotool | Tool user | Tool sys | Plain floor user | Plain floor sys | Tool RSS | Plain floor RSS | Search share |
|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|
${rows%$'\n'}

| HD sequence, $sequenceFrames frames, one process each | Seconds | Tool / this |
|---|---|---|
| Tool | $seqTool | 1.00 |
| Plain floor | $seqFloor | $(ratio "$seqTool" "$seqFloor") |
| Refined floor | $seqRefined | $(ratio "$seqTool" "$seqRefined") |

HD sequence with NoOverwrite: --dry-run takes $seqDry s, $(ratio "$seqDry" "$seqTool") × the real run; it reports $dryBytes bytes out, the real run $realBytes (every frame the same: $sameFrames); names, sizes or times it changed in the folder: $touched.

| Output against the plain-zlib build | Plain bytes | Bytes | Size | Same dump (pixels, attributes) | oiiotool --diff |
|---|---|---|---|---|---|
${outputRows%$'\n'}

HD crop frame: --verify costs $verifyRatio × the run; $fsyncCalls fsync calls took $fsyncSeconds s in all ($(awk -v f="$fsyncSeconds" -v t="$(column "$work/HD-crop/tool.times" 1 | median)" 'BEGIN { printf "%.2f %%", 100 * f / t }') of the run).
EOF
[ "${MEMORY:-1}" = 0 ] || { source "$root/scripts/benchMemory.sh"; echo; memorySection; }
