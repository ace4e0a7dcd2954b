#!/usr/bin/env bash
# Installs the build into a temporary prefix, runs the installed tool and renders its man page, then builds the
# Debian package and runs lintian on it.
#   tests/install/install_test.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: install_test.sh BUILD_DIR}" && pwd)"
type -P lintian man cpack dpkg-shlibdeps >/dev/null || "$root/scripts/install-deps.sh"
work="$(mktemp -d /tmp/zqinstall.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
expectEqual() { # WHAT GOT EXPECTED
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got '$2', expected '$3'"; failures=$((failures + 1)); fi
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
expectEqual "installed files" "$(cd "$prefix" && find . -type f | sort | xargs)" "./bin/zqExrCropRegion \
./share/doc/zqexrcropregion/changelog.Debian.gz ./share/doc/zqexrcropregion/copyright \
./share/man/man1/zqExrCropRegion.1.gz"

mkdir "$work/frames"
"$build/tools/zqMakeFrame" -n 1-3 "$work/frames/shot.####.exr" size=64x36 rect=10,8,40,25:noise
"$prefix/bin/zqExrCropRegion" "$work/frames/shot." .exr 1 3 1 0 false true >"$work/run.out" || true
expectEqual "installed tool crops with NoOverwrite" "$(grep -c '^    done$' "$work/run.out") $(tail -n1 "$work/run.out") \
$(cd "$work/frames" && ls shot_crop.* | xargs)" "3 All Done shot_crop.0001.exr shot_crop.0002.exr shot_crop.0003.exr"

manPage="$prefix/share/man/man1/zqExrCropRegion.1.gz"
expectEqual "man page renders without warnings" "$(MANWIDTH=80 man --warnings -l "$manPage" 2>&1 >/dev/null)" ""
# The installed tool's --help and the man page's OPTIONS section name the same options in the same words.
rendered="$(LANG=C MANWIDTH=1000 man --nj --nh -l "$manPage")"
"$prefix/bin/zqExrCropRegion" --help | grep '^  --' >"$work/help.txt"
manOptions="$(sed -n '/^\.SH OPTIONS/,/^\.SH /{/^\.TP/{n;p}}' "$root/doc/zqExrCropRegion.1.in" | wc -l)"
expectEqual "options in the man page and in --help" "$manOptions" "$(wc -l <"$work/help.txt")"
while read -r name text; do
  grep -qF -- "$name" <<<"$rendered" && grep -qF -- "$text" <<<"$rendered" ||
    expectEqual "man page text of $name" "missing" "$text"
done <"$work/help.txt"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb="$(ls "$work"/deb/*.deb)"
expectEqual "package fields" "$(dpkg-deb -f "$deb" Package Section | xargs)" "Package: zqexrcropregion Section: graphics"
dpkg-deb -f "$deb" Depends | grep -q libopenexr || expectEqual "computed dependencies" "$(dpkg-deb -f "$deb" Depends)" "libopenexr..."
code=0
TMPDIR="$work" lintian "$deb" >"$work/lintian.out" 2>/dev/null || code=$? # its scratch files go with $work
cat "$work/lintian.out"
expectEqual "lintian exit code and errors" "$code $(grep -c '^E:' "$work/lintian.out" || true)" "0 0"
[ "$failures" = 0 ]
