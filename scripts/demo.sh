#!/usr/bin/env bash
# Installs what is missing, builds, generates a small demo sequence and runs the tool on it with NoOverwrite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
source "$root/scripts/frameRecipes.sh"
demo="$root/build/demo"
rm -rf "$demo" && mkdir -p "$demo"
# Four 320 x 180 frames, 20 channels in 5 layers, content in about a third of each frame.
"$root/build/tools/zqMakeFrame" -n 1-4 "$demo/shot.####.exr" "$(benchRecipe crop 320 180)"
"$root/build/zqExrCropRegion" "$demo/shot." .exr 1 4 1 0 true true false false demoScene 4711
echo "Demo frames and their cropped copies (shot_crop.*.exr) are in $demo"
