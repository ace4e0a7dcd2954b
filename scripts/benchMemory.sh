#!/usr/bin/env bash
# Benchmark of the memory budget (--memory): the HD and UHD crop frames of scripts/bench.sh at the default budget and
# at 64M in alternating rounds, and a generated 16384 x 8192 frame of 16 FLOAT channels (8 GiB of samples, ZIP,
# content in 30 % of it) at the default budget and at 256M: wall time, peak RSS, the frame's result line, whether the
# output is the one of the default budget, and a pixel proof of the large frame's output. Markdown to stdout.
#
#   scripts/benchMemory.sh      (scripts/bench.sh runs it last; MEMORY=0 there leaves it out)
#
# Settings from the environment: MEMORY_ROUNDS (alternating rounds of the HD and UHD frames, default 5), HUGE_ROUNDS
# (runs of the large frame per budget, default 1), HUGE=0 to leave out the large frame (it needs 16 GiB free in /tmp
# and a few minutes), KEEP=1 to keep the temp folder.

# The budget's option, and its size in MiB.
budgetOption() { [ "$1" = default ] || echo "--memory=$1"; }
budgetMiB() { case "$1" in default) echo 1024 ;; *G) echo $((${1%G} * 1024)) ;; *M) echo "${1%M}" ;; esac; }

# The line a frame ended with (done, or the reason), from what a run printed.
resultLine() { grep -v '^All Done' "$1" | tail -n1 | sed 's/^ *//'; }

# Whether two writes of a frame hold the same bytes; they may differ only in the stamped dates (of the same length).
sameBytes() {
  cmp -s "$1" "$2" && { echo identical; return; }
  [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] || { echo "differ (size)"; return; }
  # Byte offsets (from 1) that differ, against the stamped date attributes' names: a value lies within 64 bytes of it.
  local outside
  outside=$(cmp -l "$1" "$2" | head -n 1000 | awk -v dates="$(grep -obUa 'ZQ/dateWritten' "$1" | cut -d: -f1 || true)" '
    BEGIN { n = split(dates, at) }
    { inside = 0; for (i = 1; i <= n; ++i) if ($1 - 1 >= at[i] && $1 - 1 < at[i] + 64) inside = 1; if (!inside) ++bad }
    NR == 1000 { bad = 1 } END { print bad + 0 }' || true)
  [ "$outside" = 0 ] && echo "identical but for the stamped dates" || echo "differ"
}

# The output of a budget's run against the default budget's; dumps only for frames that fit in memory.
againstDefault() {
  local dir="$1" budget="$2" withDump="$3" out="$1/$2/shot_crop.0001.exr" reference="$1/default/shot_crop.0001.exr"
  if [ "$budget" = default ]; then echo "-"; return; fi
  if cmp -s "$out" "$dir/$budget/shot.0001.exr"; then echo "a copy of the input"; return; fi
  local bytes; bytes="$(sameBytes "$reference" "$out")"
  [ "$withDump" = 1 ] || { echo "$bytes"; return; }
  diff -q <(stableDump "$reference") <(stableDump "$out") >/dev/null && echo "$bytes; same dump" || echo "$bytes; dump differs"
}

# A table row for one budget of a frame from its runs: result, median wall s, time against the default budget's,
# the highest peak RSS and whether it stays within the budget plus 64 MiB (at 64M: below 128 MiB).
budgetRow() {
  local name="$1" dir="$2" budget="$3" withDump="$4" time rss limit within
  time=$(column "$dir/$budget.times" 1 | median)
  rss=$(mib "$(column "$dir/$budget.times" 2 | sort -g | tail -n1)")
  limit=$(($(budgetMiB "$budget") + 64)) within=no
  [ "$rss" -le "$limit" ] && { [ "$budget" != 64M ] || [ "$rss" -lt 128 ]; } && within=yes
  echo -n "| $name | $budget | $(resultLine "$dir/$budget.out") | $time | $(ratio "$time" "$(column "$dir/default.times" 1 | median)")"
  echo -n " | $rss | $within | $(againstDefault "$dir" "$budget" "$withDump") |"
}

# Runs the tool with NoOverwrite on one frame per budget (a folder each, the input linked into it), in rounds that
# alternate which budget goes first; each budget's times go to DIR/BUDGET.times, its last console text to DIR/BUDGET.out.
budgetRounds() {
  local dir="$1" rounds="$2" budget r
  shift 2
  for budget in "$@"; do mkdir -p "$dir/$budget" && ln -f "$dir/shot.0001.exr" "$dir/$budget/"; done
  for ((r = 0; r < rounds; r++)); do
    local -a order=("$@")
    ((r % 2)) && order=($(printf '%s\n' "$@" | tac))
    for budget in "${order[@]}"; do
      timed "$dir/$budget.times" "$tool" "$dir/$budget/shot." .exr 1 1 1 0 true true $(budgetOption "$budget")
      cp "$work/last.out" "$dir/$budget.out"
    done
  done
}

memorySection() {
  local rounds="${MEMORY_ROUNDS:-5}" hugeRounds="${HUGE_ROUNDS:-1}" rows="" hugeRows="" note="" loadBefore entry
  local size variant width height dir budget
  loadBefore="$(loadAverage)"
  for entry in "HD 1920 1080" "UHD 3840 2160"; do
    read -r size width height <<<"$entry"
    dir="$work/memory-$size" && mkdir -p "$dir"
    log "memory budget, $size crop frame: $rounds rounds at the default budget and at 64M"
    "$make" "$dir/shot.0001.exr" "$(benchRecipe crop "$width" "$height")"
    budgetRounds "$dir" "$rounds" default 64M
    for budget in default 64M; do rows+="$(budgetRow "$size crop" "$dir" "$budget" 1)"$'\n'; done
    rm -rf "$dir"
  done

  dir="$work/memory-16K"
  if [ "${HUGE:-1}" = 0 ]; then
    note="The 16384 × 8192 frame was left out (HUGE=0)."
  elif [ "$(df --output=avail -B1G "$work" | tail -n1)" -lt 16 ]; then
    note="The 16384 × 8192 frame was left out: less than 16 GiB free in $work."
  else
    mkdir -p "$dir"
    log "memory budget, 16384 x 8192 frame of 16 FLOAT channels: generating"
    timed "$dir/make.times" "$make" "$dir/shot.0001.exr" "$(benchRecipe float16 16384 8192)"
    log "memory budget, 16384 x 8192 frame: $hugeRounds runs at the default budget and at 256M"
    budgetRounds "$dir" "$hugeRounds" default 256M
    for budget in default 256M; do
      local out="$dir/$budget/shot_crop.0001.exr" proven="not rewritten (a copy of the input)"
      if ! cmp -s "$out" "$dir/shot.0001.exr"; then
        log "memory budget, 16384 x 8192 frame: pixel proof of the output at $budget"
        timed "$dir/proof-$budget.times" "$proof" "$dir/shot.0001.exr" "$out" || true
        proven="$(head -n1 "$work/last.out") in $(column "$dir/proof-$budget.times" 1) s,"
        proven+=" $(mib "$(column "$dir/proof-$budget.times" 2)") MiB"
      fi
      hugeRows+="$(budgetRow "16K float16" "$dir" "$budget" 0) $proven |"$'\n'
      [ "$budget" = default ] || rm -rf "$dir/$budget"
    done
    note="The 16384 × 8192 frame: generated in $(column "$dir/make.times" 1) s (peak RSS"
    note+=" $(mib "$(column "$dir/make.times" 2)") MiB), $(stat -c %s "$dir/shot.0001.exr") bytes on disk;"
    note+=" its output compared by bytes only (a dump would hold the whole frame)."
    rm -rf "$dir"
  fi

  cat <<EOF
Memory budget: the tool (commit $(git -C "$root" rev-parse --short HEAD)) with NoOverwrite on one frame per run, at the default budget (1G) and at a small one; machine: $(machine); load average before $loadBefore, after $(loadAverage).
Medians of $rounds alternating rounds (the 16K frame: $hugeRounds run per budget); wall seconds; time against the default budget's; highest peak RSS in MiB (GNU time, the tool and its conversion process); within: RSS at most the budget + 64 MiB (at 64M: below 128 MiB). Targets: at 64M at most 1.3 × the default budget's time, and the same output but for the stamped dates.

| Frame | Budget | Result | Wall s | / default | Peak RSS | Within | Output against the default budget's |
|---|---|---|---|---|---|---|---|
${rows%$'\n'}
EOF
  [ -z "$hugeRows" ] || printf '\n| Frame | Budget | Result | Wall s | / default | Peak RSS | Within | %s | Pixel proof |\n%s\n%s' \
    "Output against the default budget's" '|---|---|---|---|---|---|---|---|---|' "$hugeRows"
  printf '\n%s\n' "$note"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  source "$(dirname "$0")/benchHelpers.sh" time:/usr/bin/time
  memorySection
fi
