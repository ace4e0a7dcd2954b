#!/usr/bin/env bash
# Robustness: every file found under the given paths runs through the tool as a one-frame sequence, in place and with
# NoOverwrite, under a 4 GiB address-space limit and a 60 s timeout. Each run must end normally with a result line;
# no temporary file may stay; with NoOverwrite the input keeps its bytes; a frame that was written holds exactly its
# input's pixels (pixelProof).
#   robustness.sh TOOL PROOF PATH...        (exit 77 when no path exists)
set -uo pipefail
tool="$1" proof="$2"; shift 2
paths=(); for path in "$@"; do [ -e "$path" ] && paths+=("$path"); done
[ ${#paths[@]} -gt 0 ] || { echo "skipped: none of $* exists"; exit 77; }
work="$(mktemp -d /tmp/zqrobust.XXXXXX)"; trap 'rm -rf "$work"' EXIT
# AddressSanitizer reserves terabytes of address space for its shadow: its build runs without the address limit.
limit=(prlimit --as=4294967296 --); ldd "$tool" | grep libasan >/dev/null && limit=()
runs=0 failures=0
while IFS= read -r input; do
  for noOverwrite in false true; do
    runs=$((runs + 1)) problems=""
    rm -rf "$work/run" && mkdir "$work/run" && cp "$input" "$work/run/f.0001.exr"
    output="$("${limit[@]}" timeout 60 "$tool" "$work/run/f." .exr 1 1 1 0 false $noOverwrite 2>&1)"
    code=$?
    [ $code -eq 0 ] || problems+=" exit $code;"
    printf '%s\n' "$output" | tail -n2 | head -n1 | grep '^    ' >/dev/null || problems+=" no result line;"
    ls -A "$work/run" | grep -q 'zqtmp$' && problems+=" temporary file left;"
    written="$work/run/f.0001.exr"
    if [ $noOverwrite = true ]; then
      cmp -s "$input" "$written" || problems+=" input changed;"
      written="$work/run/f_crop.0001.exr"
    fi
    if [ -f "$written" ] && ! cmp -s "$input" "$written"; then
      result="$("$proof" "$input" "$written" 2>&1)" || problems+=" ${written##*/}: $result;"
    fi
    if [ -n "$problems" ]; then
      failures=$((failures + 1)); echo "FAILED ${input#$PWD/} (NoOverwrite $noOverwrite):$problems"
      printf '%s\n' "$output" | sed 's/^/  | /'
    fi
  done
done < <(find "${paths[@]}" -type f ! -name '*.md' ! -name '*.rst' | LC_ALL=C sort)
echo "$runs runs, $failures failed"
[ $failures -eq 0 ]
