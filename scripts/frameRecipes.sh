#!/usr/bin/env bash
# Recipes of the demo, benchmark and mutation-sweep frames for zqMakeFrame; source it, then: benchRecipe VARIANT W H
#
#   crop       content (smooth noise, never 0) in a box of 55 % x 55 % of the frame, about 30 % of its area
#   full       content over the whole frame (no crop gain)
#   farz       as crop, with a constant far-plane Z of 1e10 everywhere else
#   multipart  as crop, one named part per layer
#   empty      every sample 0 (the crop search's worst case)
#   piz, dwaa  as crop, in PIZ or DWAA compression (PIZ decoded by the tool's own step, DWAA by the library)
#   float16    as crop, with 16 FLOAT channels: R G B A and diffuse.* specular.* emission.* with their A (the memory
#              budget's large frame: 16384 x 8192 of them are 8 GiB of samples)
# Channels (all but float16): R G B A diffuse.* specular.* emission.* (HALF), Z N.* P.* (FLOAT); ZIP compression.

benchChannels='R,G,B,A,{diffuse,specular,emission}.{R,G,B},Z:f,{N,P}.{X,Y,Z}:f'

# The content box "x0,y0,x1,y1" of a W x H frame, centred.
benchBox() {
  local x0=$(($1 * 225 / 1000)) y0=$(($2 * 225 / 1000))
  echo "$x0,$y0,$((x0 + $1 * 55 / 100 - 1)),$((y0 + $2 * 55 / 100 - 1))"
}

# One recipe line; each part of the multipart variant gets its own noise seed.
benchRecipe() {
  local variant="$1" size="$2x$3" box
  box="$(benchBox "$2" "$3")"
  case "$variant" in
    crop) echo "size=$size channels=$benchChannels rect=$box:noise" ;;
    piz | dwaa) echo "size=$size channels=$benchChannels rect=$box:noise compression=$variant" ;;
    full) echo "size=$size channels=$benchChannels fill=noise" ;;
    farz) echo "size=$size channels=$benchChannels fill=1e10@Z rect=$box:noise" ;;
    empty) echo "size=$size channels=$benchChannels" ;;
    float16) echo "size=$size channels={R,G,B,A}:f,{diffuse,specular,emission}.{R,G,B,A}:f rect=$box:noise" ;;
    multipart)
      local line="" seed=0 name channels
      for part in 'N N.{X,Y,Z}:f' 'P P.{X,Y,Z}:f' 'diffuse diffuse.{R,G,B}' 'emission emission.{R,G,B}' \
        'rgba R,G,B,A,Z:f' 'specular specular.{R,G,B}'; do
        read -r name channels <<<"$part"
        line+="${line:+ | }size=$size name=$name channels=$channels rect=$box:noise:$seed"
        seed=$((seed + 100))
      done
      echo "$line" ;;
    *) echo "benchRecipe: unknown variant '$variant'" >&2; return 2 ;;
  esac
}
