#!/usr/bin/env bash
# Runs one end-to-end case folder and compares what it shows with the folder's reference, expected.txt.
#
#   runCase.sh CASE_DIR TOOL MAKEFRAME DUMP PROOF [SAMPLES_DIR]
#
# The folder's file "case" is read line by line, in order:
#   frame NAME RECIPE...       make the input frame NAME with the frame generator
#   frames A-B NAME RECIPE...  make frames A to B; a run of '#' in NAME is the zero-padded frame number
#   sample NAME PATH           copy PATH from the case folder, else from the shared samples (the case is skipped
#                              when they are absent)
#   setup COMMAND              a shell command run in the case directory ($DIR) before the next run
#   skipif COMMAND             skip the case when COMMAND succeeds (e.g. limits a sanitizer build cannot run under)
#   prefix COMMAND             run the next run under COMMAND (e.g. prlimit)
#   during FILE COMMAND        once the next run's conversion has a file open whose path starts with FILE (e.g.
#                              ".shot.0002.exr." for a temporary file), stop it, run COMMAND ($WORKER is the
#                              converting process, $RUN the run's own), and let it go on
#   args ARGUMENTS             run the tool with ARGUMENTS; may be given several times
#   check COMMAND              after the runs, show what COMMAND prints ($ZQ_DUMP, $ZQ_PROOF and $ZQ_ORIGINALS at hand)
#   dump FILES [FIELD...]      after the runs, show the dump of FILES (a pattern in the case directory), only the lines
#                              of the FIELDs when given: a part line (name, type, view, compression, lineOrder,
#                              dataWindow, displayWindow, tiles, sampleCounts), "channels" or "attributes" (their lists
#                              without the count line), or an attribute's name; a part of a multi-part file that
#                              shows a line is headed "part N"
#   show SECTIONS              what the reference holds of: console files (default: both)
#   posix-only REASON          the case needs what only POSIX systems have: skipped with REASON when ZQ_WINDOWS=1
#                              (TOOL is the Windows build, run under Wine)
#   windows-only REASON        the case is for the Windows build: skipped with REASON unless ZQ_WINDOWS=1
# The reference shows each run (its banner as <banner> when it is the one of --help), then "files": every file and
# empty directory left, its mode and whether it is unchanged, written or a copy of an input (the mode-644 files that
# are unchanged or written named on one line each, after the others), then "proof ok:" with the written frames that
# hold every sample of their input and are byte for byte the library's own write of their headers and samples
# (pixelProof; those of mode 644 are not named as written again; a frame that fails
# gets a line of its own), then the dumps and checks in their order. Input frames get a fixed old modification time.
# A case that wrote a frame must show the same again with --verify added to every run. ZQ_UPDATE_REFS=1 rewrites
# the reference instead of comparing. Masked: the case directory as $DIR, the host name as <host> (with ZQ_WINDOWS=1
# in any letter case: Windows gives it in capitals), process ids in temporary file names as <pid>, stamped dates as
# <date> (maskDates.sed), the seconds of a summary line as <s>. A run may keep scratch files beside the case directory
# as $DIR.NAME; they go with it. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
caseDir="$(cd "$1" && pwd)"
export ZQ_TOOL="$2" ZQ_MAKEFRAME="$3" ZQ_DUMP="$4" ZQ_PROOF="$5"
samples="${6:-$caseDir/../../../../shared/exr-samples}"
host="$(hostname)"; host="${host%%.*}"
maskDates="$(dirname "$0")/maskDates.sed"
banner="$("$ZQ_TOOL" --help 2>/dev/null | head -n 3)"
# Windows keeps file times in steps of 100 ns. Under Wine the exception that a signal raises in the worker depends on
# where the signal meets it, so its code shows as <code>.
hostFlags=g timeFormat=%y codeMask='s/^$//'
[ "${ZQ_WINDOWS:-0}" = 1 ] && hostFlags=gI timeFormat=%.7Y codeMask='s/by exception 0x[0-9A-F]\{8\} ([a-z ]*)/by exception <code>/'
umask 022

mask() {
  sed -e "s|$DIR|\$DIR|g" -e "s|\b$host\b|<host>|$hostFlags" -e 's/NoHostNameSet_[0-9]*/<host>/g' -f "$maskDates" \
    -e 's/\.<host>\.[0-9]\+\.\([a-z0-9]*\.zqtmp\)/.<host>.<pid>.\1/g' \
    -e 's/\.<pid>\.[a-z0-9]\{6,\}\.zqtmp/.<pid>.<random>.zqtmp/g' \
    -e 's/^\(Summary: .*\) in [0-9.]* s$/\1 in <s> s/' -e "$codeMask"
}

# Gives the new input files that match a pattern (every file, for "*") the fixed old time and keeps a copy of each.
keepOriginals() {
  local name
  while IFS= read -r name; do
    [ -e "$ZQ_ORIGINALS/$name" ] && continue
    touch -h -d @1262304000.123456789 "$DIR/$name" && (cd "$DIR" && cp -p --parents "$name" "$ZQ_ORIGINALS/")
  done < <(cd "$DIR" && find . -path "./$1" -type f -printf '%P\n')
}

# Runs the tool once as the next args line asks; prints the masked console text and the exit code.
runTool() {
  local -a arguments prefix=()
  eval "arguments=($1)"
  [ -z "$2" ] || arguments+=("$2")
  [ -n "$prefixLine" ] && eval "prefix=($prefixLine)"
  echo "\$ zqExrCropRegion $1"
  if [ -z "$duringFile" ]; then
    (cd "$DIR" && "${prefix[@]}" "$ZQ_TOOL" "${arguments[@]}") >"$DIR.out" 2>&1
    showRun $?
    return
  fi
  # The tool runs at a lower priority, so that on a busy machine this watch still sees the file while it is open.
  (cd "$DIR" && exec nice -n 10 "${prefix[@]}" "$ZQ_TOOL" "${arguments[@]}") >"$DIR.out" 2>&1 &
  local pid=$! tries=0 WORKER=""
  while [ -z "$WORKER" ] && [ $tries -lt 6000 ] && kill -0 "$pid" 2>/dev/null; do
    # Under Wine the worker is no child of the run's process: it is found by its hidden argument.
    for candidate in "$pid" $(pgrep -P "$pid") $([ "${ZQ_WINDOWS:-0}" = 1 ] && pgrep -r R,S,D -f -- --zq-conversion-worker); do
      ls -l "/proc/$candidate/fd" 2>/dev/null | grep -qF -- "-> $DIR/$duringFile" && WORKER="$candidate"
    done
    [ -n "$WORKER" ] || { sleep 0.01; tries=$((tries + 1)); }
  done
  if [ -n "$WORKER" ]; then
    kill -STOP "$WORKER"; (cd "$DIR" && WORKER="$WORKER" RUN="$pid" eval "$duringCommand"); kill -CONT "$WORKER" 2>/dev/null
  else
    echo "during: $duringFile was never opened"
  fi
  { wait "$pid"; } 2>/dev/null
  showRun $?
}

# Prints what a run printed, its opening banner as <banner>, then its exit code on a line of its own.
showRun() {
  if [ -n "$banner" ] && [ "$(head -n 3 "$DIR.out")" = "$banner" ]; then echo "<banner>"; tail -n +4 "$DIR.out"
  else cat "$DIR.out"; fi
  [ -s "$DIR.out" ] && [ "$(tail -c1 "$DIR.out")" != "" ] && echo "[no line feed at the end]"
  echo "exit $1"
}

# Prints the dump of the files matching a pattern, only the lines of the fields named after it (all without fields).
dumpFields() {
  local pattern="$1" name; shift
  (cd "$DIR" && compgen -G "$pattern" >/dev/null) || echo "dump $pattern: no such file"
  while IFS= read -r name; do
    echo "dump $name"
    if [ $# -eq 0 ]; then "$ZQ_DUMP" "$DIR/$name" 2>&1; continue; fi
    "$ZQ_DUMP" "$DIR/$name" 2>&1 | awk -v fields=" $* " '
      function named(key) { return index(fields, " " key " ") > 0 }
      function show(line) { if (part != "") print part; part = ""; print line }
      /^parts / { parts = $2; next }
      /^part / { part = parts > 1 ? $0 : ""; next }
      /^ *error/ { show($0); next }
      /^  [^ ]/ { list = $1; if (named($1) && list != "channels" && list != "attributes") show($0); next }
      /^    / { if (named(list) || (list == "attributes" && named($1))) show($0) }'
  done < <(cd "$DIR" && compgen -G "$pattern" | LC_ALL=C sort)
}

# Prints one whole run of the case, in the empty directory $DIR; extraArgument is added to every run of the tool.
runCase() {
  local extraArgument="$1" directive rest words show="console files" prefixLine="" duringFile="" duringCommand="" checks=""
  mkdir -p "$ZQ_ORIGINALS"
  local console="$DIR.console"; : >"$console"
  while read -r directive rest || [ -n "$directive" ]; do
    case "$directive" in
    "" | "#"*) ;;
    frame) set -- $rest; mkdir -p "$(dirname "$DIR/$1")"; "$ZQ_MAKEFRAME" "$DIR/$1" "${@:2}" && keepOriginals "$1" ;;
    frames) set -- $rest; mkdir -p "$(dirname "$DIR/$2")"
      "$ZQ_MAKEFRAME" -n "$1" "$DIR/$2" "${@:3}" && keepOriginals "$(echo "$2" | tr -s '#' '*')" ;;
    sample) set -- $rest
      local from="$caseDir/$2"; [ -f "$from" ] || from="$samples/$2"
      [ -f "$from" ] || { echo "no shared samples at $samples" >&2; return 77; }
      cp "$from" "$DIR/$1" && chmod 0644 "$DIR/$1" && keepOriginals "$1" ;;
    setup) (cd "$DIR" && eval "$rest") && keepOriginals "*" ;;
    skipif) (cd "$DIR" && eval "$rest") >/dev/null 2>&1 && return 77 ;;
    prefix) prefixLine="$rest" ;;
    during) duringFile="${rest%% *}" duringCommand="${rest#* }" ;;
    args) runTool "$rest" "$extraArgument" >>"$console" 2>/dev/null; prefixLine="" duringFile="" ;;
    check) checks+="$rest"$'\n' ;;
    dump) checks+="dumpFields $rest"$'\n' ;;
    show) show="$rest" ;;
    posix-only | windows-only) ;;
    *) echo "unknown directive: $directive" ;;
    esac
  done <"$caseDir/case"

  [[ " $show " == *" console "* ]] && cat "$console"
  local name state source proof proven="" proofs="" lines="" rewrote=0; local -A groups=()
  [[ " $show " == *" files "* ]] && echo "files"
  while IFS= read -r name; do
    [ -d "$DIR/$name" ] && { [ -n "$(ls -A "$DIR/$name")" ] || lines+="  $name/ dir"$'\n'; continue; }
    state=written source=""
    if [ -f "$ZQ_ORIGINALS/$name" ] && cmp -s "$ZQ_ORIGINALS/$name" "$DIR/$name"; then state=unchanged source="$name"
    else
      while IFS= read -r source; do
        cmp -s "$ZQ_ORIGINALS/$source" "$DIR/$name" && { state="copy of $source"; break; }
      done < <(cd "$ZQ_ORIGINALS" && find . -type f -printf '%P\n' | LC_ALL=C sort)
    fi
    if [ "$state" != written ]; then
      if [ "$(stat -c "$timeFormat" "$DIR/$name")" != "$(stat -c "$timeFormat" "$ZQ_ORIGINALS/$source")" ]; then state+=", new time"
      elif [ "$state" != unchanged ]; then state+=", time kept"; fi
    fi
    state="$(stat -c %a "$DIR/$name") $state"
    if [ "${state#* }" = written ] && [[ "${name,,}" == *.exr ]]; then
      rewrote=1 source="$ZQ_ORIGINALS/$name"; [ -f "$source" ] || source="$ZQ_ORIGINALS/${name/_crop./.}"
      proof="$([ -f "$source" ] && "$ZQ_PROOF" "$source" "$DIR/$name" 2>&1)"
      [ "$proof" = ok ] && proven+=" $name" && [ "$state" = "644 written" ] && continue
      [ -z "$proof" ] || [ "$proof" = ok ] || proofs+="proof $name: $proof"$'\n'
    fi
    case "$state" in "644 unchanged" | "644 written") groups[$state]+=" $name" ;; *) lines+="  $name $state"$'\n' ;; esac
  done < <(cd "$DIR" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
  if [[ " $show " == *" files "* ]]; then
    printf '%s' "$lines"
    for state in "644 written" "644 unchanged"; do [ -z "${groups[$state]:-}" ] || echo "  $state:${groups[$state]}"; done
  fi
  printf '%s' "$proofs"
  [ -z "$proven" ] || echo "proof ok:$proven"
  while IFS= read -r rest; do
    if [[ "$rest" == "dumpFields "* ]]; then read -ra words <<<"${rest#dumpFields }"; dumpFields "${words[@]}"
    elif [ -n "$rest" ]; then echo "\$ $rest"; (cd "$DIR" && eval "$rest") 2>&1; fi
  done <<<"$checks"
  [ $rewrote -eq 0 ] || return 3
}

# One whole run in a new directory, masked; returns 3 when it wrote a frame, 77 when the case cannot run here.
runOnce() {
  DIR="$(mktemp -d "${TMPDIR:-/tmp}/zqcase.XXXXXX")"
  export DIR ZQ_ORIGINALS="$DIR.orig"
  runCase "$1" | mask
  local status=${PIPESTATUS[0]}
  chmod -R u+rwX "$DIR" 2>/dev/null; rm -rf "$DIR" "$DIR".*
  return $status
}

# Compares a run with the reference, printing a unified diff when they differ.
compare() {
  diff -u --label expected.txt --label "$1" "$caseDir/expected.txt" <(printf '%s\n' "$2") && return 0
  echo "FAILED: $(basename "$caseDir") ($1)"; return 1
}

if [ "${ZQ_WINDOWS:-0}" = 1 ] && reason="$(sed -n 's/^posix-only //p' "$caseDir/case" | head -n1)" &&
  [ -n "$reason" ]; then
  echo "skipped: $(basename "$caseDir") needs POSIX: $reason"; exit 77
fi
if [ "${ZQ_WINDOWS:-0}" != 1 ] && reason="$(sed -n 's/^windows-only //p' "$caseDir/case" | head -n1)" &&
  [ -n "$reason" ]; then
  echo "skipped: $(basename "$caseDir") is for Windows: $reason"; exit 77
fi
actual="$(runOnce "")"; status=$?
[ $status -eq 77 ] && { echo "skipped: no shared samples beside this checkout, or a skipif line"; exit 77; }
if [ "${ZQ_UPDATE_REFS:-0}" = 1 ]; then printf '%s\n' "$actual" >"$caseDir/expected.txt"; exit 0; fi
compare "this run" "$actual" || exit 1
# A case that rewrote a frame shows the same again when every written file is read back and compared first.
if [ $status -eq 3 ]; then compare "the same run with --verify" "$(runOnce --verify)" || exit 1; fi
echo "passed: $(basename "$caseDir")"
