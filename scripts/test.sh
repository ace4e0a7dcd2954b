#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite on the normal build (the library's zlib
# calls served by libdeflate); the unit tests, the cases and the shared samples again on a build with plain zlib,
# which must give the same pixels and attributes (the same references); and once more under AddressSanitizer and
# UndefinedBehaviorSanitizer. The kill test and the farm tests (Slurm cluster, install and package) run once. Last,
# the Windows executable is cross-built and the cases run against it under Wine (scripts/windows/test.sh). Each stage
# prints its time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
jobs="$(nproc)"
started=$(date +%s)
stageStarted=$started
stageDone() {
  echo "Stage '$1' took $(($(date +%s) - stageStarted)) s."
  stageStarted=$(date +%s)
}

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")
stageDone "build and all tests"

"$root/scripts/build.sh" "$root/build-plain" -DZQ_PLAIN_ZLIB=ON
(cd "$root/build-plain" && ctest --output-on-failure -j"$jobs" -LE farm -E 'kill\.|robustness\.fuzz')
stageDone "plain zlib"

"$root/scripts/build.sh" "$root/build-asan" -DZQ_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELEASE=-O1
# A worker killed by SIGSEGV from outside must die of it, as in the normal build.
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:handle_segv=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cd "$root/build-asan" && ctest --output-on-failure -j"$jobs" -LE farm -E 'kill\.'
)
stageDone "sanitizers"

# The Windows build, with the normal build's frame generator, dump and pixel proof.
"$root/scripts/windows/test.sh" "$root/build-windows" "$root/build"
stageDone "Windows under Wine"
echo "All tests passed in $(($(date +%s) - started)) s."
