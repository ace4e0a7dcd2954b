#!/bin/bash
# Cross-builds the tool for 64-bit Windows on this Linux machine and packs it:
#   scripts/windows/build.sh [BUILD_DIR] [extra cmake arguments, e.g. -DZQ_PLAIN_ZLIB=ON]
# gives BUILD_DIR/zqExrCropRegion.exe (default BUILD_DIR: build-windows/ in the source tree) and
# BUILD_DIR/zqExrCropRegion-<version>-windows-x64.zip. The libraries come from scripts/windows/deps.sh, which builds
# them once into a cache outside the source tree. Prints the time each stage takes.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-windows}"
shift || true
host=x86_64-w64-mingw32
started=$(date +%s)
stage() { echo "windows build: $1 took $(( $(date +%s) - $2 )) s"; }

t=$(date +%s)
prefix=$("$root/scripts/windows/deps.sh" | tail -1)
stage "dependencies ($prefix)" "$t"

t=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows/mingw-toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" -DZQ_BUILD_TESTS=OFF \
  -DZLIB_LIBRARY=/usr/$host/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$host/include "$@" >/dev/null
cmake --build "$build" -j"${ZQ_JOBS:-2}" --target zqExrCropRegion
stage "tool" "$t"

# With the libdeflate bridge, the library's compress and compress2 must be the bridge's, not zlib's (uncompress stays
# zlib's own), and zlib's member that defines them must not be linked at all.
exe="$build/zqExrCropRegion.exe"
if grep -q 'ZQ_PLAIN_ZLIB:BOOL=OFF' "$build/CMakeCache.txt"; then
  bound=$(awk '/^ \.text/ && NF >= 4 { file = $NF } /^ +0x[0-9a-f]+ +(compress|compress2|uncompress)$/ { print $2, file }' \
    "$build/zqExrCropRegion.map" | sort -u)
  echo "$bound" | sed 's/^/windows build: zlib call /'
  if [ "$(echo "$bound" | grep -c '^compress2\? .*zqDeflateBridge')" != 2 ] || grep -q 'libz\.a(compress\.o)' "$build/zqExrCropRegion.map"; then
    echo "windows build: the libdeflate bridge does not serve the library's zlib calls" >&2
    exit 1
  fi
fi
echo "windows build: $(stat -c %s "$exe") bytes; imports: $($host-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' | sort | tr '\n' ' ')"

# The package: the executable, a README for Windows users, the licence texts, and what relinking with another Qt needs.
t=$(date +%s)
version=$(sed -n 's/^project(zqExrCropRegion VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name=zqExrCropRegion-$version-windows-x64
stagingDir="$build/package/$name"
rm -rf "$build/package" "$build/$name.zip"
mkdir -p "$stagingDir/licenses" "$stagingDir/relink"
cp "$exe" "$stagingDir/"
sed 's/$/\r/' "$root/scripts/windows/README-Windows.txt" >"$stagingDir/README.txt"
cp "$prefix"/licenses/* "$stagingDir/licenses/"
sed 's/$/\r/' "$root/packaging/copyright" >"$stagingDir/licenses/zqExrCropRegion.txt"
# Qt Core is linked statically under the LGPL 3: the tool's own object code and the link line let anyone relink it
# with a changed Qt Core (see README.txt).
cp "$build"/libzqdriver.a "$build"/libzqconversion.a "$build"/libzqframe.a "$build"/libzqshared.a "$stagingDir/relink/"
find "$build/CMakeFiles" \( -name 'main.cpp.obj' -o -name 'zqDeflateBridge.cpp.obj' \) -exec cp {} "$stagingDir/relink/" \;
(cd "$build" && ninja -t commands zqExrCropRegion | tail -1) >"$stagingDir/relink/link-command.txt"
(cd "$build/package" && zip -qr9 "../$name.zip" "$name")
stage "package $build/$name.zip ($(stat -c %s "$build/$name.zip") bytes)" "$t"
echo "windows build: all took $(( $(date +%s) - started )) s"
