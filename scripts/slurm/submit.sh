#!/usr/bin/env bash
# Submits a frame sequence to Slurm as one job array, one chunk of frames per task (crop-sequence.sbatch).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

usage() {
  cat <<'EOF'
usage: submit.sh BaseFileName Extension Start End Step Offset [exrHalfOnly [NoOverwrite [unCrop [AbortIfCropped
                 [metadataSceneName [metadataJobID]]]]]] --chunk=N [--report-dir=DIR] [--wait] [-- SBATCH_OPTION...]

  The positional arguments are the tool's own. Each array task crops N frames of the sequence: the tasks start at
  Start, Start + N*Step, ... and the last one stops at End.
  --chunk=N         frames per task (1 or more)
  --report-dir=DIR  where each task writes report.<first frame>.jsonl and its log slurm-<job>_<task>.out
                    (default: ./zqExrCropRegion-reports)
  --wait            wait until every task has ended; exit with the highest exit code of the tasks
  -- ...            further options for sbatch, e.g. -- --partition=render --cpus-per-task=8
The job runs in the current directory. The tool is $ZQ_EXR_CROP_REGION or zqExrCropRegion from the tasks' PATH.
EOF
}
fail() { echo "submit.sh: $*" >&2; echo "Run submit.sh --help for the usage." >&2; exit 2; }
isInteger() { [[ "$1" =~ ^-?[0-9]+$ ]]; }

chunk="" reportDir="zqExrCropRegion-reports" wait=0 positional=() sbatchOptions=()
while [ $# -gt 0 ]; do
  case "$1" in
    --help | -h) usage; exit 0 ;;
    --chunk=*) chunk="${1#*=}" ;;
    --report-dir=*) reportDir="${1#*=}" ;;
    --wait) wait=1 ;;
    --) shift; sbatchOptions=("$@"); break ;;
    --*) fail "unknown option '$1'" ;;
    *) positional+=("$1") ;;
  esac
  shift
done

[ ${#positional[@]} -ge 6 ] && [ ${#positional[@]} -le 12 ] ||
  fail "expected 6 to 12 positional arguments (BaseFileName Extension Start End Step Offset ...), got ${#positional[@]}"
base="${positional[0]}" extension="${positional[1]}"
start="${positional[2]}" end="${positional[3]}" step="${positional[4]}" offset="${positional[5]}"
shopt -s nocasematch
[[ "$extension" == *.exr || "$extension" == *.cxr ]] || fail "Extension '$extension' is not .exr or .cxr"
shopt -u nocasematch
for i in 2 3 4 5; do
  isInteger "${positional[i]}" || fail "$(echo Start End Step Offset | cut -d' ' -f$((i - 1))) '${positional[i]}' is not a whole number"
done
[ -n "$chunk" ] || fail "--chunk=N is missing"
isInteger "$chunk" && [ "$chunk" -ge 1 ] || fail "--chunk '$chunk' must be a whole number of 1 or more"
[ "$step" -ge 1 ] || fail "Step must be 1 or more"
[ "$start" -ge 0 ] || fail "Start must not be negative: Slurm array task ids start at 0"
[ "$end" -ge "$start" ] || fail "End $end is before Start $start"
[ -n "$reportDir" ] || fail "--report-dir is empty"

# A task's frames start at its task id and step by Step, so N frames span N*Step frame numbers.
span=$((chunk * step))
# Slurm refuses array task ids of MaxArraySize or more; say so before submitting.
maxArraySize="$(scontrol show config 2>/dev/null | sed -n 's/^MaxArraySize *= *\([0-9]*\).*/\1/p')"
if [ -n "$maxArraySize" ] && [ "$end" -ge "$maxArraySize" ]; then
  fail "End $end is not below the cluster's MaxArraySize $maxArraySize (array task ids are frame numbers)"
fi

mkdir -p "$reportDir"
reportDir="$(cd "$reportDir" && pwd)"
job="$(sbatch --parsable --array="$start-$end:$span" --output="$reportDir/slurm-%A_%a.out" "${sbatchOptions[@]}" \
  "$here/crop-sequence.sbatch" "$span" "$end" "$reportDir" "$base" "$extension" "$step" "$offset" \
  "${positional[@]:6}")"
job="${job%%;*}"
echo "Submitted job array $job: tasks $start-$end:$span, $chunk frames each; reports in $reportDir"
[ "$wait" = 1 ] || exit 0

# sbatch --wait polls only every 32 s; scontrol shows one record per task while the records are kept (MinJobAge).
while :; do
  if records="$(scontrol -o show job "$job" 2>&1)"; then
    grep -qE 'JobState=(PENDING|CONFIGURING|RUNNING|COMPLETING|SUSPENDED|REQUEUED|RESIZING|STOPPED)' <<<"$records" ||
      break
  elif grep -q 'Invalid job id' <<<"$records"; then
    echo "submit.sh: no record of job $job is left; see the task logs in $reportDir" >&2
    exit 3
  fi
  sleep 1
done
# ExitCode=CODE:SIGNAL per task; a task ended by a signal counts as 128 + SIGNAL.
highest="$(grep -o 'ExitCode=[0-9]*:[0-9]*' <<<"$records" |
  awk -F'[=:]' '{ c = $3 > 0 ? 128 + $3 : $2; if (c > m) m = c } END { print m + 0 }')"
echo "Job array $job ended; highest task exit code $highest"
exit "$highest"
