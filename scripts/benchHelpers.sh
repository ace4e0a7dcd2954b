#!/usr/bin/env bash
# What the benchmark scripts share; source it after `set -euo pipefail`, with the commands the script needs as
# PACKAGE:COMMAND arguments (installed from Debian when missing). Builds the tool in build/, makes the temp folder
# $work (removed at the end unless KEEP=1) and gives the measuring helpers. Progress goes to stderr.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

missing=""
for need in "$@"; do
  command -v "${need#*:}" >/dev/null || missing+=" ${need%%:*}"
done
[ -z "$missing" ] || { echo "Installing:$missing" >&2; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null; }
"$root/scripts/build.sh" "$root/build" >&2
tool="$root/build/zqExrCropRegion" make="$root/build/tools/zqMakeFrame" dump="$root/build/tools/zqExrDump"
proof="$root/build/tests/pixelProof"
source "$root/scripts/frameRecipes.sh"

work="$(mktemp -d /tmp/zqbench.XXXXXX)"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
log() { echo "[bench] $*" >&2; }

# Runs a command and appends "wall peakKiB user system" to the file named first; what it printed is in $work/last.out.
timed() {
  local into="$1" start end
  shift
  start=$(date +%s%N)
  /usr/bin/time -o "$work/time" -f '%M %U %S' "$@" >"$work/last.out" 2>&1
  end=$(date +%s%N)
  tail -n1 "$work/time" | awk -v a="$start" -v b="$end" '{ printf "%.4f %s %s %s\n", (b - a) / 1e9, $1, $2, $3 }' >>"$into"
}
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$2" '{ print $c }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.2f %%", 100 * (a - b) / b }'; }
loadAverage() { cut -d' ' -f1-3 /proc/loadavg; }
machine() {
  echo "$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1);" \
    "OpenEXR $(dpkg-query -W -f='${Version}' libopenexr-dev 2>/dev/null || echo '?');" \
    "transparent huge pages: $(grep -o '\[[a-z]*\]' /sys/kernel/mm/transparent_hugepage/enabled); $(date '+%Y-%m-%d %H:%M')"
}
# A dump without the stamped dates, for comparing two writes of a frame.
stableDump() { "$dump" "$1" | sed -f "$root/tests/maskDates.sed"; }
