#!/bin/bash
# Builds the Windows executable and runs the end-to-end cases against it under Wine, with the same references as the
# Linux build: the frame generator, the dump and the pixel proof are the Linux build's; the Windows tool's console
# lines end with CR LF and are compared without the CR. Cases marked posix-only are skipped with their reason.
#   scripts/windows/test.sh [WINDOWS_BUILD_DIR] [LINUX_BUILD_DIR]
# Defaults: build-windows/ and build/ in the source tree (the Linux build is made when its tools are missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-windows}"
native="${2:-$root/build}"
started=$(date +%s)
stage() { echo "windows test: $1 took $(( $(date +%s) - $2 )) s"; }

"$root/scripts/windows/build.sh" "$build"
tools=("$native/tools/zqMakeFrame" "$native/tools/zqExrDump" "$native/tests/pixelProof")
for tool in "${tools[@]}"; do
  [ -x "$tool" ] || { "$root/scripts/build.sh" "$native"; break; }
done

# One Wine prefix, made once; one wineserver kept warm for the whole run (each start of the tool then costs about
# 0.1 s instead of seconds), ended when the run ends.
t=$(date +%s)
export WINEPREFIX="${ZQ_WINEPREFIX:-${ZQ_WINDOWS_CACHE:-/var/cache/zqExrCropRegion}/wineprefix}" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# (A server that already runs for this prefix is used as it is, and left running.)
if wineserver -p 2>/dev/null; then
  trap 'wineserver -k 2>/dev/null || true' EXIT
fi
stage "Wine prefix and server" "$t"

# The tool as the cases call it: the Windows executable under Wine, its lines without the CR, its exit code.
runner="$build/zqExrCropRegion-wine"
cat >"$runner" <<EOF
#!/bin/bash
out=\$(mktemp)
wine "$build/zqExrCropRegion.exe" "\$@" >"\$out" 2>&1
code=\$?
tr -d '\r' <"\$out"
rm -f "\$out"
exit \$code
EOF
chmod +x "$runner"

t=$(date +%s)
passed=0 skipped=0 failed=()
for caseDir in "$root"/tests/cases/*/; do
  [ -f "$caseDir/case" ] || continue
  name=$(basename "$caseDir")
  set +e
  output=$(ZQ_WINDOWS=1 bash "$root/tests/runCase.sh" "$caseDir" "$runner" "${tools[@]}" 2>&1)
  status=$?
  set -e
  case $status in
  0) passed=$((passed + 1)); echo "$output" | tail -n1 ;;
  77) skipped=$((skipped + 1)); echo "$output" | tail -n1 ;;
  *) failed+=("$name"); echo "$output" ;;
  esac
done
stage "cases under Wine" "$t"
echo "windows test: ${passed} passed, ${skipped} skipped, ${#failed[@]} failed${failed:+: ${failed[*]}}"
echo "windows test: all took $(( $(date +%s) - started )) s"
[ ${#failed[@]} -eq 0 ]
