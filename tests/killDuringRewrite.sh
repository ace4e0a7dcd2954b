#!/usr/bin/env bash
# A frame rewritten in place is killed (SIGKILL to the whole run) at moments spread over its conversion: after
# every kill the frame is the original file or a complete rewrite with the same pixels, and a last run converts it.
# At the same moments the run alone is sent SIGTERM, as a farm cancels a task: it must exit with 143 (or 0 when it
# was done), leaving no temporary file and no process of its own behind.
#   killDuringRewrite.sh TOOL MAKEFRAME PROOF [KILLS]
set -uo pipefail
tool="$1" makeFrame="$2" proof="$3" kills="${4:-30}"
work="$(mktemp -d /tmp/zqkill.XXXXXX)"; trap 'rm -rf "$work"' EXIT
"$makeFrame" "$work/original.exr" size=1920x1080 compression=zip 'channels=R,G,B,A,diffuse.{R,G,B},Z:f,N.{X,Y,Z}:f' \
  rect=200,100,1700,900:noise || exit 1
run() { mkdir -p "$work/run" && cp "$work/original.exr" "$work/run/shot.0001.exr"
  setsid "$tool" "$work/run/shot." .exr 1 1 1 0 true false >"$work/out" 2>&1 & pid=$!; }
start=$(date +%s%N); run; wait $pid; took=$(( ($(date +%s%N) - start) / 1000000 ))
failures=0
for ((i = 1; i <= kills; ++i)); do
  for signal in KILL TERM; do
    rm -rf "$work/run"; run
    sleep "$(awk -v t="$took" -v i="$i" -v n="$kills" 'BEGIN { printf "%.3f", t * i / n / 1000 }')"
    if [ $signal = KILL ]; then kill -KILL -- "-$pid" 2>/dev/null; wait $pid 2>/dev/null
    else
      kill -TERM "$pid" 2>/dev/null; wait $pid; code=$?
      left="$(ls -A "$work/run" | grep -v '^shot.0001.exr$'; pgrep -s "$pid")"
      [ -z "$left" ] && { [ $code -eq 143 ] || [ $code -eq 0 ]; } ||
        { echo "SIGTERM $i of $kills: exit $code, left: $left"; failures=$((failures + 1)); }
    fi
    if ! cmp -s "$work/original.exr" "$work/run/shot.0001.exr"; then
      result="$("$proof" "$work/original.exr" "$work/run/shot.0001.exr" 2>&1)" ||
        { echo "SIG$signal $i of $kills: $result"; failures=$((failures + 1)); }
    fi
  done
done
rm -rf "$work/run"; run; wait $pid; code=$?
result="$("$proof" "$work/original.exr" "$work/run/shot.0001.exr" 2>&1)"
[ $code -eq 0 ] && [ "$result" = ok ] || { echo "the last run: exit $code, $result"; cat "$work/out"; failures=$((failures + 1)); }
echo "$kills kills and $kills SIGTERMs over ${took} ms, $failures failures"
[ $failures -eq 0 ]
