#!/usr/bin/env bash
# A one-node Slurm cluster in a temporary folder crops a 30-frame sequence (step 2, one frame missing, one truncated)
# in chunks of 7 through scripts/slurm/submit.sh; the result must equal one run of the tool over a copy of it.
#   tests/slurm/slurmCluster_test.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: slurmCluster_test.sh BUILD_DIR}" && pwd)"
export ZQ_EXR_CROP_REGION="$build/zqExrCropRegion"
type -P slurmctld slurmd munged jq >/dev/null || "$root/scripts/install-deps.sh"

# Frames 1, 3, ..., 59, 64 x 36: single-part with several layers up to 29, multi-part from 31.
makeSequence() { # DIR
  "$build/tools/zqMakeFrame" -n 1-29 "$1/shot.####.exr" size=64x36 'channels=R,G,B,A,diffuse.{R,G,B},Z:f' \
    rect=12,6,50,30:noise
  "$build/tools/zqMakeFrame" -n 31-59 "$1/shot.####.exr" size=64x36 name=rgba channels=R,G,B,A rect=12,6,50,30:noise \
    "|" size=64x36 name=depth channels=Z:f rect=20,10,40,20:noise
  for ((f = 2; f <= 59; f += 2)); do rm -f "$(printf '%s/shot.%04d.exr' "$1" "$f")"; done
}
# One text dump per file: parts, windows, channels with a hash of their pixels, every attribute.
dumpFile() { "$build/tools/zqExrDump" "$1" 2>&1 | sed "s#$work/[a-z]*/#DIR/#g" || true; } # FILE
maskDump() { sed -f "$root/tests/maskDates.sed"; }
dumpFolder() { # DIR ORIGINALS: per file its name, whether it differs from the original, and its dump
  local name
  for name in $(ls -A "$1"); do
    cmp -s "$1/$name" "$2/$name" && echo "== $name unchanged" || echo "== $name changed"
    dumpFile "$1/$name" | maskDump
  done
}
# The frame headings and result lines of tool logs, with the sequence folder replaced.
resultLines() { grep -hE '^Frame |^    [^ ]' "$@" | sed "s#$work/[a-z]*/#DIR/#g"; }

work="$(mktemp -d /tmp/zqslurm.XXXXXX)"
chmod 755 "$work" # munged refuses a socket directory that others cannot search
export SLURM_CONF="$work/slurm.conf"
daemons=()
# True while a slurmstepd of this cluster runs (it ends a moment after its job).
stepdRuns() {
  local environ name
  for environ in /proc/[0-9]*/environ; do
    read -r name <"${environ%environ}comm" 2>/dev/null && [ "$name" = slurmstepd ] &&
      grep -qsz "^SLURM_CONF=$SLURM_CONF\$" "$environ" && return 0
  done
  return 1
}
stop() {
  local code=$? pid i
  timeout 5 scancel --quiet --user=root 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do stepdRuns || break; sleep 0.1; done
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do kill "${daemons[i]}" 2>/dev/null || true; done
  for pid in "${daemons[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$code" -ne 0 ]; then
    for log in "$work"/*.log "$work"/reports/*.out; do [ -f "$log" ] && { echo "==== $log"; cat "$log"; }; done
  fi
  rm -rf "$work"
  exit "$code"
}
trap stop EXIT

freePort() { local p; while :; do p=$((20000 + RANDOM % 30000)); (: <>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || break; done; echo "$p"; }
node="$(hostname -s)"
mkdir -p "$work/state" "$work/spool" "$work/reports"
head -c 1024 /dev/urandom >"$work/munge.key" && chmod 600 "$work/munge.key"
cat >"$SLURM_CONF" <<EOF
ClusterName=zqtest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$(freePort)
SlurmdPort=$(freePort)
SlurmUser=root
AuthInfo=socket=$work/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerParameters=batch_sched_delay=0
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
started=$(date +%s%N)
munged -F --key-file="$work/munge.key" --socket="$work/munge.socket" --pid-file="$work/munged.pid" \
  --seed-file="$work/munge.seed" 2>"$work/munged.log" & daemons+=($!) # -F: the log goes to stderr
for ((i = 0; i < 100; i++)); do [ -S "$work/munge.socket" ] && break; sleep 0.05; done
slurmctld -D >/dev/null 2>&1 & daemons+=($!)
slurmd -D -N "$node" >/dev/null 2>&1 & daemons+=($!)
for ((i = 0; i < 200; i++)); do [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break; sleep 0.05; done
[ "$(sinfo -h -o %T)" = idle ] || { echo "FAIL: the node did not come up"; exit 1; }
echo "cluster up in $((($(date +%s%N) - started) / 1000000)) ms"

mkdir "$work/original" && makeSequence "$work/original"
rm "$work/original/shot.0025.exr"
truncate -s 3000 "$work/original/shot.0041.exr"
cp -a "$work/original" "$work/cluster" && cp -a "$work/original" "$work/single"
arguments=(shot. .exr 1 59 2 0 false false false false sceneA 4711)

# The array ends with 1 through --strict, as one run does: frame 41 is damaged and 25 missing.
singleCode=0 code=0
"$ZQ_EXR_CROP_REGION" --strict "--report=$work/single.jsonl" "$work/single/${arguments[0]}" "${arguments[@]:1}" \
  >"$work/single.out" || singleCode=$?
"$root/scripts/slurm/submit.sh" "$work/cluster/${arguments[0]}" "${arguments[@]:1}" --chunk=7 \
  --report-dir="$work/reports" --wait || code=$?

failures=0
expectEqual() { # WHAT GOT EXPECTED
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got '$2', expected '$3'"; failures=$((failures + 1)); fi
}
expectSameText() { # WHAT EXPECTED_FILE GOT_FILE
  if diff -u "$2" "$3" >"$work/diff"; then echo "ok: $1"; else
    echo "FAIL: $1"; head -n 60 "$work/diff"; failures=$((failures + 1))
  fi
}
expectEqual "exit code of one run and of the array" "$singleCode $code" "1 1"
expectEqual "one task per 7 frames of step 2" "$(cd "$work/reports" && ls -v slurm-*.out | sed 's/.*_//' | xargs)" \
  "1.out 15.out 29.out 43.out 57.out"
dumpFolder "$work/single" "$work/original" >"$work/single.dump"
dumpFolder "$work/cluster" "$work/original" >"$work/cluster.dump"
expectSameText "every file as one run leaves it" "$work/single.dump" "$work/cluster.dump"
expectEqual "frames rewritten" "$(grep -c ' changed$' "$work/cluster.dump")" 28
resultLines "$work/single.out" >"$work/single.lines"
resultLines $(ls -v "$work"/reports/slurm-*.out) >"$work/cluster.lines"
expectSameText "result line of every frame, once and in order" "$work/single.lines" "$work/cluster.lines"
frames='select(.summary != true) | "\(.frame) \(.action) \(.code) \(.outputDataWindow) \(.outputParts)"'
jq -r "$frames" "$work/single.jsonl" >"$work/single.report"
cat "$work"/reports/report.*.jsonl | jq -r "$frames" | sort -n >"$work/cluster.report"
expectSameText "merged task reports against the single run's" "$work/single.report" "$work/cluster.report"
expectEqual "every frame once in the reports" "$(cut -d' ' -f1 "$work/cluster.report" | xargs)" "$(seq 1 2 59 | xargs)"
expectEqual "one report per task" "$(cd "$work/reports" && ls -v report.*.jsonl | xargs)" \
  "report.1.jsonl report.15.jsonl report.29.jsonl report.43.jsonl report.57.jsonl"
[ "$failures" = 0 ]
