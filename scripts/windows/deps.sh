#!/bin/bash
# Builds the static Windows (x86-64, MinGW-w64) libraries the tool links: libdeflate, Imath, OpenEXR and Qt Core,
# each from Debian's own source package. They go into a cache folder outside the source tree whose name carries the
# Debian versions, so a later run with the same versions builds nothing. Prints the cache folder on its last line.
#   scripts/windows/deps.sh            installs what is missing and builds what the cache lacks
# Environment: ZQ_WINDOWS_CACHE (default /var/cache/zqExrCropRegion), ZQ_JOBS (default 2).
set -euo pipefail

scriptDir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cacheRoot=${ZQ_WINDOWS_CACHE:-/var/cache/zqExrCropRegion}
jobs=${ZQ_JOBS:-2}
host=x86_64-w64-mingw32
mingwRoot=/usr/$host

log() { echo "windows deps: $*" >&2; }
stageStart() { stageName=$1; stageT0=$(date +%s); log "$1 ..."; }
stageEnd() { log "$stageName took $(( $(date +%s) - stageT0 )) s"; }

asRoot() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# --- tools and Debian's source entries ---------------------------------------------------------------------------
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine64 wine cmake ninja-build make zip
          dpkg-dev xz-utils python3 perl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sourcesFile=/etc/apt/sources.list.d/debian.sources
needUpdate=0
if [ -f "$sourcesFile" ] && grep -q '^Types: deb$' "$sourcesFile"; then
  log "adding deb-src to $sourcesFile"
  asRoot sed -i 's/^Types: deb$/Types: deb deb-src/' "$sourcesFile"
  needUpdate=1
fi
if [ ${#missing[@]} -gt 0 ] || [ $needUpdate = 1 ]; then
  stageStart "apt-get install ${missing[*]:-}"
  asRoot apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive asRoot apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  stageEnd
fi
# std::thread needs the posix thread model of the cross compiler.
for tool in gcc g++; do
  if [ "$(readlink -f /usr/bin/$host-$tool)" != "/usr/bin/$host-$tool-posix" ]; then
    asRoot update-alternatives --set $host-$tool /usr/bin/$host-$tool-posix >&2
  fi
done

# --- the cache key: the Debian versions of every source package and of the compiler and zlib -------------------------
sourceVersion() { # package -> upstream dir name and Debian version as apt-get source would fetch them
  apt-get source --print-uris "$1" 2>/dev/null | grep -o "[^/']*\.dsc'" | head -1 | sed "s/\.dsc'$//; s/%2b/+/g; s/%7e/~/g"
}
declare -A dsc
for p in libdeflate imath openexr qtbase-opensource-src; do
  dsc[$p]=$(sourceVersion $p)
  [ -n "${dsc[$p]}" ] || { log "no source package for $p (deb-src missing?)"; exit 1; }
done
gccVersion=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
key="${dsc[libdeflate]}-${dsc[imath]}-${dsc[openexr]}-${dsc[qtbase-opensource-src]#qtbase-opensource-src_}-gcc${gccVersion}"
key=$(echo "$key" | tr '~:' '__')
prefix=$cacheRoot/windows-deps-$key
srcDir() { find "$1" -maxdepth 1 -mindepth 1 -type d -name "$2-[0-9]*" | head -1; } # not the "-build" folders

# The licence texts the Windows package ships, from the sources in folder $1 and the MinGW-w64 packages.
copyLicenses() {
  local from=$1 to=$prefix/licenses
  mkdir -p "$to"
  cp "$(srcDir "$from" libdeflate)/COPYING" "$to/libdeflate.txt"
  cp "$(srcDir "$from" imath)/LICENSE.md" "$to/Imath.txt"
  cp "$(srcDir "$from" openexr)/LICENSE.md" "$to/OpenEXR.txt"
  cp "$(srcDir "$from" qtbase-opensource-src)/LICENSE.LGPL3" "$to/Qt-LGPL3.txt"
  cp "$(srcDir "$from" qtbase-opensource-src)/LICENSE.GPL3" "$to/Qt-GPL3.txt"
  echo "Qt Core in this program: Debian source package ${dsc[qtbase-opensource-src]}, unchanged, configured with:" >"$to/Qt-SOURCE.txt"
  echo "configure ${qtConfigure[*]}" >>"$to/Qt-SOURCE.txt"
  cp /usr/share/doc/libz-mingw-w64/copyright "$to/zlib.txt"
  cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$to/MinGW-w64-runtime.txt"
  cp /usr/share/doc/gcc-mingw-w64-base/copyright "$to/GCC-runtime.txt"
  for file in "$to"/*.txt; do sed -i 's/\r\?$/\r/' "$file"; done
}
qtConfigure=(-xplatform win32-g++ -device-option CROSS_COMPILE=$host- -static -release -opensource -confirm-license
  -nomake examples -nomake tests -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl -qt-zlib -qt-pcre
  -qt-doubleconversion -no-feature-network -no-feature-sql -no-feature-xml -no-feature-testlib -no-feature-concurrent)

if [ -f "$prefix/.complete" ]; then
  if [ ! -d "$prefix/licenses" ]; then
    licenseWork=$(mktemp -d)
    (cd "$licenseWork" && apt-get source -qq libdeflate imath openexr qtbase-opensource-src >/dev/null 2>&1)
    copyLicenses "$licenseWork"
    rm -rf "$licenseWork"
  fi
  log "cached: $prefix"
  echo "$prefix"
  exit 0
fi

allT0=$(date +%s)
work=$cacheRoot/work-$key
asRoot mkdir -p "$cacheRoot"
asRoot chown "$(id -u):$(id -g)" "$cacheRoot"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
buildLog=$cacheRoot/deps-build-$key.log
: >"$buildLog"
log "build log: $buildLog"
cd "$work"
stageStart "apt-get source"
apt-get source -qq libdeflate imath openexr qtbase-opensource-src >>"$buildLog" 2>&1
stageEnd

export CC=$host-gcc-posix CXX=$host-g++-posix
toolchain=$scriptDir/mingw-toolchain.cmake
zlibLib=$mingwRoot/lib/libz.a

stageStart "libdeflate"
make -C "$(srcDir "$work" libdeflate)" -j"$jobs" CC=$CC AR=$host-ar libdeflatestatic.lib >>"$buildLog" 2>&1
mkdir -p "$prefix/lib" "$prefix/include" "$prefix/lib/pkgconfig"
cp "$(srcDir "$work" libdeflate)/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
cp "$(srcDir "$work" libdeflate)/libdeflate.h" "$prefix/include/"
cat > "$prefix/lib/pkgconfig/libdeflate.pc" <<EOF
prefix=$prefix
Name: libdeflate
Description: Fast implementation of DEFLATE, zlib, and gzip (static, Windows)
Version: ${dsc[libdeflate]#libdeflate_}
Libs: -L\${prefix}/lib -ldeflate
Cflags: -I\${prefix}/include
EOF
stageEnd

cmakeCommon=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
             -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
             -DZLIB_LIBRARY="$zlibLib" -DZLIB_INCLUDE_DIR="$mingwRoot/include")
stageStart "Imath"
cmake -S "$(srcDir "$work" imath)" -B "$work/imath-build" "${cmakeCommon[@]}" -DPYTHON=OFF >>"$buildLog" 2>&1
cmake --build "$work/imath-build" -j"$jobs" >>"$buildLog" 2>&1
cmake --install "$work/imath-build" >>"$buildLog" 2>&1
stageEnd

stageStart "OpenEXR"
cmake -S "$(srcDir "$work" openexr)" -B "$work/openexr-build" "${cmakeCommon[@]}" \
  -DOPENEXR_BUILD_TOOLS=OFF -DOPENEXR_INSTALL_TOOLS=OFF -DOPENEXR_INSTALL_EXAMPLES=OFF -DOPENEXR_BUILD_EXAMPLES=OFF \
  -DOPENEXR_INSTALL_PKG_CONFIG=ON -DOPENEXR_FORCE_INTERNAL_IMATH=OFF -DOPENEXR_FORCE_INTERNAL_ZLIB=OFF \
  -DOPENEXR_ENABLE_THREADING=ON >>"$buildLog" 2>&1
cmake --build "$work/openexr-build" -j"$jobs" >>"$buildLog" 2>&1
cmake --install "$work/openexr-build" >>"$buildLog" 2>&1
stageEnd

stageStart "Qt Core"
qtSrc=$(srcDir "$work" qtbase-opensource-src)
mkdir -p "$work/qt-build"
cd "$work/qt-build"
"$qtSrc/configure" -prefix "$prefix" "${qtConfigure[@]}" >>"$buildLog" 2>&1
mkdir -p src
(cd src && ../bin/qmake -o Makefile "$qtSrc/src/src.pro") >>"$buildLog" 2>&1
make -C src -j"$jobs" sub-zlib sub-corelib sub-rcc sub-winmain >>"$buildLog" 2>&1
# Qt Core, the code generators its CMake files ask for, qmake, the mkspecs, and its bundled PCRE2 (a static helper
# library that Qt Core's link line names; it is built beside Qt Core).
for d in corelib tools/rcc tools/moc winmain; do
  make -C "src/$d" install >>"$buildLog" 2>&1
done
pcre2=$(find "$work/qt-build" -name libqtpcre2.a | head -1)
[ -n "$pcre2" ] || { log "Qt's PCRE2 library was not built"; exit 1; }
cp "$pcre2" "$prefix/lib/"
cp -a bin/qmake "$prefix/bin/" 2>/dev/null || true
mkdir -p "$prefix/mkspecs"
cp -a "$qtSrc/mkspecs/win32-g++" "$qtSrc/mkspecs/common" "$qtSrc/mkspecs/features" "$prefix/mkspecs/" 2>/dev/null || true
cp -a mkspecs/qconfig.pri mkspecs/qmodule.pri "$prefix/mkspecs/" 2>/dev/null || true
stageEnd

copyLicenses "$work"
cd /
rm -rf "$work"
touch "$prefix/.complete"
log "all dependencies took $(( $(date +%s) - allT0 )) s"
echo "$prefix"
