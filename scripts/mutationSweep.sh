#!/usr/bin/env bash
# Mutation sweep (not part of CI): bit-flipped copies of the shared samples and of generated frames, each run through
# the tool as a one-frame sequence with NoOverwrite under a 4 GiB address-space limit and a 60 s timeout.
#
#   scripts/mutationSweep.sh [BUILD_DIR] [FRAMES] [WORK_DIR]
#
# Frame i is source i mod N mutated by zzuf with seed i and a ratio from a fixed list, so every run is reproducible.
# Prints the number of frames, crashes (exit >= 128 or a signal), hangs (timeout), frames whose input bytes changed,
# temporary files left behind, other exit codes, and how the frames ended. Inputs of failures are kept in
# WORK_DIR/kept/ with the tool's output beside them.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
frames="${2:-2000}"
work="${3:-$(mktemp -d /tmp/zqsweep.XXXXXX)}"
tool="$build/zqExrCropRegion"
makeFrame="$build/tools/zqMakeFrame"
source "$root/scripts/frameRecipes.sh"
samples="$root/../shared/exr-samples"
ratios=(0.00005 0.0002 0.001 0.004)

command -v zzuf >/dev/null || { echo "zzuf is missing (apt-get install zzuf)" >&2; exit 2; }
[ -x "$tool" ] && [ -x "$makeFrame" ] || { echo "build first: $tool and $makeFrame are needed" >&2; exit 2; }

mkdir -p "$work/sources" "$work/kept"
sources=()
if [ -d "$samples" ]; then
  while IFS= read -r file; do sources+=("$file"); done < <(find "$samples" -type f ! -name README.md | LC_ALL=C sort)
fi
for variant in crop full farz multipart; do
  "$makeFrame" -n 1-1 "$work/sources/gen_$variant.####.exr" "$(benchRecipe "$variant" 96 54)" ||
    { echo "zqMakeFrame failed" >&2; exit 2; }
done
while IFS= read -r file; do sources+=("$file"); done < <(find "$work/sources" -type f -name 'gen_*' | LC_ALL=C sort)
[ ${#sources[@]} -gt 0 ] || { echo "no source frames" >&2; exit 2; }
echo "Sources: ${#sources[@]} frames; mutating $frames frames in $work"

crashes=0 hangs=0 changed=0 leftovers=0 otherExit=0
declare -A endings
keep() { # keep the mutated input and what the tool printed
  local name="$1" why="$2"
  cp "$frame/f.0001.exr.orig" "$work/kept/$name"
  printf '%s\nsource %s seed %s ratio %s\n' "$why" "$source" "$i" "$ratio" > "$work/kept/$name.txt"
  cat "$frame/out.txt" >> "$work/kept/$name.txt"
}
for ((i = 0; i < frames; ++i)); do
  source="${sources[i % ${#sources[@]}]}"
  ratio="${ratios[i % ${#ratios[@]}]}"
  frame="$work/frame"
  rm -rf "$frame" && mkdir -p "$frame/run"
  zzuf -s "$i" -r "$ratio" < "$source" > "$frame/run/f.0001.exr"
  cp "$frame/run/f.0001.exr" "$frame/f.0001.exr.orig"
  prlimit --as=4294967296 -- timeout 60 "$tool" "$frame/run/f." .exr 1 1 1 0 0 1 > "$frame/out.txt" 2>&1
  code=$?
  if [ $code -eq 124 ]; then
    hangs=$((hangs + 1)); keep "hang_$i" "timeout"
  elif [ $code -ge 128 ]; then
    crashes=$((crashes + 1)); keep "crash_$i" "exit $code"
  elif [ $code -ne 0 ] && [ $code -ne 255 ]; then
    otherExit=$((otherExit + 1)); keep "exit_$i" "exit $code"
  fi
  if ! cmp -s "$frame/run/f.0001.exr" "$frame/f.0001.exr.orig"; then
    changed=$((changed + 1)); keep "changed_$i" "input bytes changed"
  fi
  if ls -A "$frame/run" | grep -q '\.zqtmp$'; then
    leftovers=$((leftovers + 1)); keep "leftover_$i" "temporary file left"
  fi
  # the result line without its detail text, e.g. ": Data Error!" or "done"
  ending="$(grep -A1000 '^Frame 0001: $' "$frame/out.txt" | grep -B1 '^All Done$' | head -1 |
    sed -E 's/^ +//; s/^(: [^!]*!|[^.]*\.).*/\1/')"
  ending="${ending:-<no result line>}"
  endings["$ending"]=$(( ${endings["$ending"]:-0} + 1 ))
done
rm -rf "$work/frame"

echo "frames:              $frames"
echo "crashes:             $crashes"
echo "hangs:               $hangs"
echo "input bytes changed: $changed"
echo "temporary files:     $leftovers"
echo "other exit codes:    $otherExit"
echo "endings:"
for ending in "${!endings[@]}"; do printf '  %6d  %s\n' "${endings[$ending]}" "$ending"; done | sort -rn
echo "kept inputs:         $work/kept"
[ $((crashes + hangs + changed + leftovers + otherExit)) -eq 0 ]
