#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then runs them again in an AddressSanitizer and
# UndefinedBehaviorSanitizer build (the long kill test and the farm tests, Slurm and install, only in the first pass).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
jobs="$(nproc)"

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

"$root/scripts/build.sh" "$root/build-asan" -DZQ_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELEASE=-O1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j"$jobs" -E 'killDuringRewrite' -LE farm)
